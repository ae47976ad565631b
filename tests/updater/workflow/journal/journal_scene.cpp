#include "updater/workflow/journal/journal_scene.h"

#include <fcntl.h>
#include <sqlite3.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <csignal>
#include <cstdlib>
#include <fstream>
#include <random>

#include <gtest/gtest.h>

#include "transfer/ftp_transfer_curl.h"
#include "updater/workflow/manifest.h"
#include "updater/workflow/update_dlg.h"
#include "support/script_tools.h"
#include "updater/workflow/update/update_fixture.h"

using testsupport::U16;
using testsupport::U8;

namespace {

std::string RandomBytes(std::size_t size, unsigned seed)
{
    std::mt19937 generator(seed);
    std::string bytes(size, '\0');
    for (char& byte : bytes) {
        byte = static_cast<char>(generator() & 0xFF);
    }
    return bytes;
}

std::vector<std::string> DumpDatabase(const std::filesystem::path& db)
{
    std::vector<std::string> dump;
    if (!std::filesystem::exists(db)) {
        return {"(no database)"};
    }
    sqlite3* connection = nullptr;
    if (sqlite3_open_v2(db.c_str(), &connection, SQLITE_OPEN_READONLY, nullptr) != SQLITE_OK) {
        sqlite3_close(connection);
        return {"(unreadable database)"};
    }
    for (const char* query : {"SELECT type || ' ' || name || ' ' || ifnull(sql, '') FROM sqlite_master ORDER BY name",
                              "SELECT name FROM people ORDER BY rowid"}) {
        sqlite3_stmt* statement = nullptr;
        if (sqlite3_prepare_v2(connection, query, -1, &statement, nullptr) != SQLITE_OK) {
            dump.emplace_back(std::string("(failed: ") + sqlite3_errmsg(connection) + ")");
        }
        while (statement != nullptr && sqlite3_step(statement) == SQLITE_ROW) {
            dump.emplace_back(reinterpret_cast<const char*>(sqlite3_column_text(statement, 0)));
        }
        sqlite3_finalize(statement);
    }
    sqlite3_close(connection);
    return dump;
}

}  // namespace

JournalScene::JournalScene(const JournalSceneOptions& options)
{
    const auto install = Install();
    const auto content = m_scene.Content();
    for (const auto& folder : {install / "app", install / "ini", content / "app", content / "ini",
                               content / "newdir" / "sub", content / "docs"}) {
        std::filesystem::create_directories(folder);
    }
    // Twelve files the update replaces, half of them large enough to be
    // written in several pieces; one it leaves alone; seven it adds, five of
    // them in folders that do not exist yet.
    for (int i = 0; i < 12; ++i) {
        const std::string name = (i < 10 ? "f0" : "f") + std::to_string(i);
        const std::string bulk = i % 2 == 0 ? RandomBytes(32 * 1024, static_cast<unsigned>(i)) : "";
        testsupport::WriteFileBytes(install / "app" / name, "old " + name + bulk);
        testsupport::WriteFileBytes(content / "app" / name, "new " + name + bulk + bulk);
    }
    testsupport::WriteFileBytes(install / "app" / "keep.txt", "untouched");
    testsupport::WriteFileBytes(install / "ini" / "setup.ini", "[old]");
    for (int i = 0; i < 5; ++i) {
        testsupport::WriteFileBytes(content / "newdir" / "sub" / ("g" + std::to_string(i)),
                                    "added " + std::to_string(i));
    }
    testsupport::WriteFileBytes(content / "docs" / "readme.txt", "release notes");
    testsupport::WriteFileBytes(content / "ini" / "update.sql", options.script);
    if (options.zeroFileSize > 0) {
        testsupport::WriteFileBytes(content / "app" / "zeros.bin", std::string(options.zeroFileSize, '\0'));
    }
    m_scene.Publish("1.0.0.0", "2.0.0.0");
    if (options.spoil) {
        options.spoil(m_scene.ServerFolder());
    }
    m_scene.RunSql("CREATE TABLE people(name TEXT); INSERT INTO people VALUES('old hand');");
    std::filesystem::copy(install, Root() / "pristine", std::filesystem::copy_options::recursive);
    m_old = Snapshot();
}

JournalScene::~JournalScene() = default;

void JournalScene::ResetInstallation()
{
    m_scene.ForgetProcessControlCalls();
    std::filesystem::remove_all(Install());
    std::filesystem::copy(Root() / "pristine", Install(), std::filesystem::copy_options::recursive);
}

ChildRun JournalScene::RunUpdater(long crashStep, long long fileSizeLimit)
{
    const auto callsFile = Root() / "calls.txt";
    std::filesystem::remove(callsFile);
    const pid_t pid = fork();
    if (pid == 0) {
        const int devNull = open("/dev/null", O_WRONLY);
        dup2(devNull, STDOUT_FILENO);
        dup2(devNull, STDERR_FILENO);
        if (crashStep > 0) {
            setenv("MORVEX_TEST_CRASH_STEP", std::to_string(crashStep).c_str(), 1);
        }
        if (fileSizeLimit > 0) {
            // A write past the limit then fails with EFBIG instead of ending
            // the process, as a full disk would make it fail.
            std::signal(SIGXFSZ, SIG_IGN);
            const rlimit limit{static_cast<rlim_t>(fileSizeLimit), static_cast<rlim_t>(fileSizeLimit)};
            setrlimit(RLIMIT_FSIZE, &limit);
        }
        CFtpTransfer_Curl transfer;
        CRecordingWindow window;
        CMyUpdateDlg dlg(transfer, U16((Install() / "MorvexUpdate").string()));
        dlg.m_strEventName = U16("morvex-journal-" + std::to_string(getpid()));
        dlg.OnInitDialog();
        if (!dlg.HasEnded()) {
            dlg.AttachWindow(&window);
            dlg.WaitForWorker(std::chrono::minutes(2));
        }
        std::ofstream out(callsFile);
        for (const std::string& call : window.Calls()) {
            out << call << '\n';
        }
        out.close();
        _exit(0);
    }
    ChildRun run;
    int status = 0;
    EXPECT_EQ(waitpid(pid, &status, 0), pid);
    run.killed = WIFSIGNALED(status) && WTERMSIG(status) == SIGKILL;
    run.finished = WIFEXITED(status) && WEXITSTATUS(status) == 0;
    run.windowCalls = ReadLines(callsFile);
    return run;
}

InstallationState JournalScene::Snapshot() const
{
    InstallationState state;
    for (const auto& entry : std::filesystem::recursive_directory_iterator(Install())) {
        const std::string relative = std::filesystem::relative(entry.path(), Install()).string();
        // The lock and the restart record are the updater's, not the installation's.
        if (relative == "MorvexUpdate.lock" || relative == "MorvexUpdate.journal.restart" ||
            relative == "jo_db_local.db") {
            continue;
        }
        if (entry.is_directory()) {
            state.entries["D " + relative] = "";
        } else {
            state.entries["F " + relative] = testsupport::ReadFileBytes(entry.path());
        }
    }
    state.database = DumpDatabase(Install() / "jo_db_local.db");
    return state;
}

std::string JournalScene::InstalledVersion() const
{
    return U8(ReadManifestVersion(U16((Install() / "version.ini").string())));
}

std::string Classify(const InstallationState& state, const InstallationState& oldState,
                     const InstallationState& newState)
{
    if (state == oldState) {
        return "old";
    }
    return state == newState ? "new" : "MIXED";
}
