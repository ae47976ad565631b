#include "updater/workflow/journal/journal_scene.h"

#include <fcntl.h>
#include <sqlite3.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <csignal>
#include <cstdlib>
#include <random>

#include <gtest/gtest.h>

#include "support/script_tools.h"
#include "updater/workflow/journal/updater_run.h"
#include "updater/workflow/manifest.h"
#include "updater/workflow/update_journal.h"
#include "updater/workflow/update_session.h"

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


std::string Differences(const InstallationState& a, const InstallationState& b)
{
    std::string out;
    for (const auto& [key, content] : a.entries) {
        const auto other = b.entries.find(key);
        if (other == b.entries.end() || other->second != content) {
            out += " " + key;
        }
    }
    for (const auto& [key, content] : b.entries) {
        if (a.entries.count(key) == 0) {
            out += " +" + key;
        }
    }
    if (a.database != b.database) {
        out += " (database)";
    }
    return out;
}

}  // namespace

JournalScene::JournalScene(const JournalSceneOptions& options) : m_launcher(options.launcher)
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
    std::filesystem::remove(CallsFile());
    if (m_launcher.run) {
        EXPECT_EQ(fileSizeLimit, 0) << "a file-size limit needs a forked child";
        return m_launcher.run(*this, crashStep);
    }
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
        RunUpdaterHere(U16((Install() / "MorvexUpdate").string()), CallsFile());
        _exit(0);
    }
    ChildRun run;
    int status = 0;
    EXPECT_EQ(waitpid(pid, &status, 0), pid);
    run.killed = WIFSIGNALED(status) && WTERMSIG(status) == SIGKILL;
    run.finished = WIFEXITED(status) && WEXITSTATUS(status) == 0;
    run.windowCalls = ReadLines(CallsFile());
    return run;
}

bool JournalScene::Recover()
{
    if (m_launcher.recover) {
        return m_launcher.recover(*this);
    }
    return CUpdateJournal::Recover(Install(), InstallationJournalActions()).clean;
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

CrashTally CrashEverywhere(JournalScene& scene, const InstallationState& newState,
                           const InstallationState& expectedAfterRetry)
{
    CrashTally tally;
    for (long step = 1; step < 200; ++step) {
        scene.ResetInstallation();
        const ChildRun crashed = scene.RunUpdater(step);
        if (!crashed.killed) {
            EXPECT_TRUE(crashed.finished) << "the uncut run at step " << step << " must end normally";
            break;
        }
        ++tally.points;
        if (step % 2 == 0) {
            // The recovery alone, as the next start runs it before its check.
            EXPECT_TRUE(scene.Recover()) << "step " << step;
            const InstallationState recovered = scene.Snapshot();
            const std::string kind = Classify(recovered, scene.OldState(), newState);
            tally.mixed += kind == "MIXED" ? 1 : 0;
            EXPECT_NE(kind, "MIXED") << "after a kill at step " << step << " and recovery, differs from the old by"
                                     << Differences(recovered, scene.OldState()) << " and from the new by"
                                     << Differences(recovered, newState);
        }
        const ChildRun again = scene.RunUpdater();
        EXPECT_TRUE(again.finished) << "the run after a kill at step " << step << " must end normally";
        const InstallationState after = scene.Snapshot();
        if (after != expectedAfterRetry) {
            ++tally.mixed;
            ADD_FAILURE() << "after a kill at step " << step << " and another run, expected "
                          << Classify(expectedAfterRetry, scene.OldState(), newState)
                          << " installation; differs by" << Differences(after, expectedAfterRetry);
        }
    }
    return tally;
}
