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
#include "updater/workflow/update/script_tools.h"
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

void ExecSql(const std::filesystem::path& db, const std::string& sql)
{
    sqlite3* connection = nullptr;
    ASSERT_EQ(sqlite3_open(db.c_str(), &connection), SQLITE_OK);
    EXPECT_EQ(sqlite3_exec(connection, sql.c_str(), nullptr, nullptr, nullptr), SQLITE_OK);
    sqlite3_close(connection);
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
    const auto root = m_root.path();
    for (const char* folder : {"install/app", "install/ini", "cwd", "bin", "server", "content/app", "content/ini",
                               "content/newdir/sub", "content/docs"}) {
        std::filesystem::create_directories(root / folder);
    }
    m_server = std::make_unique<testsupport::FtpServer>(root / "server");

    // Twelve files the update replaces, half of them large enough to be
    // written in several pieces; one it leaves alone; seven it adds, five of
    // them in folders that do not exist yet.
    for (int i = 0; i < 12; ++i) {
        const std::string name = (i < 10 ? "f0" : "f") + std::to_string(i);
        const std::string bulk = i % 2 == 0 ? RandomBytes(32 * 1024, static_cast<unsigned>(i)) : "";
        testsupport::WriteFileBytes(root / "install" / "app" / name, "old " + name + bulk);
        testsupport::WriteFileBytes(root / "content" / "app" / name, "new " + name + bulk + bulk);
    }
    testsupport::WriteFileBytes(root / "install" / "app" / "keep.txt", "untouched");
    testsupport::WriteFileBytes(root / "install" / "ini" / "setup.ini", "[old]");
    for (int i = 0; i < 5; ++i) {
        testsupport::WriteFileBytes(root / "content" / "newdir" / "sub" / ("g" + std::to_string(i)),
                                    "added " + std::to_string(i));
    }
    testsupport::WriteFileBytes(root / "content" / "docs" / "readme.txt", "release notes");
    testsupport::WriteFileBytes(root / "content" / "ini" / "update.sql", options.script);
    if (options.zeroFileSize > 0) {
        testsupport::WriteFileBytes(root / "content" / "app" / "zeros.bin", std::string(options.zeroFileSize, '\0'));
    }

    const std::vector<std::string> login = {"--host", m_server->hostPort(), "--user", m_server->user(),
                                            "--password", m_server->password()};
    std::vector<std::string> server = {PublishTool(), "server", "--code", "zt_e", "--version", "2.0.0.0",
                                       "--update-dir", (root / "content").string(), "--out",
                                       (root / "server").string()};
    server.insert(server.end(), login.begin(), login.end());
    EXPECT_EQ(RunAndWait(server), 0) << "publishing the update failed";
    std::vector<std::string> installed = {PublishTool(), "installed", "--code", "zt_e", "--version", "1.0.0.0",
                                          "--out", (root / "install").string()};
    installed.insert(installed.end(), login.begin(), login.end());
    EXPECT_EQ(RunAndWait(installed), 0) << "writing the installed manifest failed";
    if (options.spoil) {
        options.spoil(root / "server" / "update" / "zt_e");
    }
    ExecSql(Install() / "jo_db_local.db", "CREATE TABLE people(name TEXT); INSERT INTO people VALUES('old hand');");

    WriteScript(root / "bin" / "Haltwick", "echo \"$*\" >> '" + (root / "haltwick.log").string() + "'\n");
    WriteScript(root / "bin" / "xdg-open", "exit 0\n");
    std::filesystem::copy(Install(), root / "pristine", std::filesystem::copy_options::recursive);
    m_old = Snapshot();

    m_oldCwd = std::filesystem::current_path();
    std::filesystem::current_path(root / "cwd");
    m_oldPath = std::getenv("PATH") != nullptr ? std::getenv("PATH") : "";
    setenv("PATH", ((root / "bin").string() + ":" + m_oldPath).c_str(), 1);
}

JournalScene::~JournalScene()
{
    setenv("PATH", m_oldPath.c_str(), 1);
    std::filesystem::current_path(m_oldCwd);
}

void JournalScene::ResetInstallation()
{
    WaitUntilNotRunning(m_root.path() / "bin" / "Haltwick");
    std::filesystem::remove_all(Install());
    std::filesystem::copy(m_root.path() / "pristine", Install(), std::filesystem::copy_options::recursive);
    std::filesystem::remove(m_root.path() / "haltwick.log");
}

ChildRun JournalScene::RunUpdater(long crashStep, long long fileSizeLimit)
{
    const auto callsFile = m_root.path() / "calls.txt";
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

std::vector<std::string> JournalScene::ProcessControlCalls() const
{
    WaitUntilNotRunning(m_root.path() / "bin" / "Haltwick");
    return ReadLines(m_root.path() / "haltwick.log");
}

std::string Classify(const InstallationState& state, const InstallationState& oldState,
                     const InstallationState& newState)
{
    if (state == oldState) {
        return "old";
    }
    return state == newState ? "new" : "MIXED";
}
