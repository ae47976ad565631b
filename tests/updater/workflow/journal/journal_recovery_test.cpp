// Recoveries that must not do what a planted log or a busy database would
// lead them to: act outside the installation, or call an unfinished job done.
#include <algorithm>
#include <filesystem>

#include <gtest/gtest.h>

#include "platform/process.h"
#include "updater/install/database_files.h"
#include "updater/workflow/update_session.h"
#include "updater/workflow/journal/journal_scene.h"
#include "support/script_tools.h"

namespace fs = std::filesystem;
using testsupport::ReadFileBytes;
using testsupport::WriteFileBytes;

namespace {

// A journal left by a run cut short in `phase`; recovers it.
JournalRecovery RecoverPlanted(const fs::path& install, const std::string& phase, const std::string& log)
{
    const fs::path journal = install / "MorvexUpdate.journal";
    fs::create_directories(journal / "kept");
    WriteFileBytes(journal / "phase", "phase=" + phase + "\nproduct=2\npid=0\n");
    WriteFileBytes(journal / "journal.log", log);
    WriteFileBytes(journal / "kept" / "1", "planted");
    return CUpdateJournal::Recover(install, InstallationJournalActions());
}

}  // namespace

TEST(JournalRecovery, ARollBackNeverActsOutsideTheInstallationWhateverItsLogSays)
{
    testsupport::TempDir dir;
    const fs::path outside = dir.path() / "outside";
    fs::create_directories(outside / "empty");
    fs::create_directories(dir.path() / "in");
    WriteFileBytes(outside / "file", "precious");
    WriteFileBytes(dir.path() / "in" / "app.bin", "installed");
    const std::string in = (dir.path() / "in").string() + "/";
    RecoverPlanted(dir.path() / "in", "unpacking",
                   "C " + (outside / "file").string() + "\nK 1 " + (outside / "file").string() + "\nD " +
                       (outside / "empty").string() + "\nC " + in + "../outside/file\nK 1 " + in +
                       "a/../../outside/file\nC " + in + "MorvexUpdate.journal/phase\nK 1/../../../app.bin " + in +
                       "app.bin\n");
    EXPECT_EQ(ReadFileBytes(outside / "file"), "precious");
    EXPECT_TRUE(fs::is_directory(outside / "empty"));
    EXPECT_EQ(ReadFileBytes(dir.path() / "in" / "app.bin"), "installed");
}

TEST(JournalRecovery, ACommittedUpdateKeepsItsJournalUntilTheNewManifestIsInPlace)
{
    testsupport::TempDir dir;
    fs::create_directories(dir.path() / "version.ini" / "in the way");
    WriteFileBytes(dir.path() / "newversion.ini", "[version]\nver=2.0.0.0\n");
    EXPECT_FALSE(RecoverPlanted(dir.path(), "committed", "").clean) << "no check may offer the update again";
    fs::remove_all(dir.path() / "version.ini");
    EXPECT_TRUE(RecoverPlanted(dir.path(), "committed", "").clean);
    EXPECT_EQ(ReadFileBytes(dir.path() / "version.ini"), "[version]\nver=2.0.0.0\n");
}

TEST(JournalRecovery, ADatabaseThatStaysInUseKeepsTheJournalAndTheNextStartFinishes)
{
    JournalSceneOptions options;
    options.script = "INSERT INTO people VALUES('half');\nINSERT INTO missing_table VALUES(1);";
    JournalScene scene(options);
    // With a write-ahead log another connection may read while the patch
    // writes, but nothing may replace the file under it.
    const std::string db = (scene.Install() / "jo_db_local.db").string();
    const std::string flag = (scene.Root() / "flag").string();
    ASSERT_EQ(RunAndWait({"/usr/bin/python3", "-c",
                          "import sqlite3, sys; sqlite3.connect(sys.argv[1]).execute('PRAGMA journal_mode=WAL')", db}),
              0);
    const InstallationState before = scene.Snapshot();
    ASSERT_TRUE(platform::StartDetached(
        "/usr/bin/python3", {"-c",
                             "import os, sqlite3, sys, time\n"
                             "c = sqlite3.connect(sys.argv[1], isolation_level=None)\n"
                             "c.execute('BEGIN'); c.execute('SELECT * FROM people').fetchall()\n"
                             "open(sys.argv[2] + '.held', 'w').close(); end = time.time() + 300\n"
                             "while not os.path.exists(sys.argv[2] + '.release') and time.time() < end: time.sleep(0.05)\n"
                             "c.close(); open(sys.argv[2] + '.released', 'w').close()\n",
                             db, flag}));
    ASSERT_TRUE(WaitForFile(flag + ".held"));
    const ChildRun held = scene.RunUpdater();
    WriteFileBytes(flag + ".release", "");
    ASSERT_TRUE(WaitForFile(flag + ".released"));
    EXPECT_EQ(std::count(held.windowCalls.begin(), held.windowCalls.end(),
                         "box 升级失败|升级失败，安装未能完全恢复，下次启动时将继续恢复。"),
              1);
    EXPECT_TRUE(fs::exists(scene.Install() / "MorvexUpdate.journal"));

    // The next start finishes the roll back before its check; the update it
    // then offers fails again and is rolled back in full.
    ASSERT_TRUE(scene.RunUpdater().finished);
    EXPECT_EQ(scene.Snapshot(), before);
}

// The updater replaces itself through its own updates, so a run cut short
// after the new binary was in place leaves the previous release's journal to
// the new one: the database kept as "database" (B without a number), the
// phase file with the product.
TEST(JournalRecovery, AJournalOfThePreviousReleaseIsRolledBack)
{
    JournalScene scene;
    const fs::path install = scene.Install();
    const fs::path journal = install / "MorvexUpdate.journal";
    const std::string dir = install.string() + "/";
    fs::create_directories(journal / "kept");
    WriteFileBytes(journal / "phase", "phase=downloading\nproduct=2\npid=0\n");
    WriteFileBytes(journal / "journal.log", "");
    WriteFileBytes(install / "newversion.ini", "[version]\nver=9.0.0.0\n");

    fs::copy_file(install / "app" / "f00", journal / "kept" / "1");
    fs::create_directories(install / "newdir");
    WriteFileBytes(journal / "journal.log",
                   "K 1 " + dir + "app/f00\nD " + dir + "newdir\nC " + dir + "newdir/added\n");
    WriteFileBytes(install / "app" / "f00", "replaced");
    WriteFileBytes(install / "newdir" / "added", "added");

    std::string error;
    ASSERT_TRUE(KeepDatabaseFiles(install / "jo_db_local.db", journal / "database", &error)) << error;
    WriteFileBytes(journal / "journal.log", ReadFileBytes(journal / "journal.log") + "B " + dir + "jo_db_local.db\n");
    WriteFileBytes(journal / "phase", "phase=patching\nproduct=2\npid=0\n");
    ASSERT_EQ(RunAndWait({"/usr/bin/python3", "-c",
                          "import sqlite3, sys; c = sqlite3.connect(sys.argv[1]); "
                          "c.executescript(\"INSERT INTO people VALUES('new colleague'); CREATE TABLE extra(x);\")",
                          (install / "jo_db_local.db").string()}),
              0);
    ASSERT_NE(scene.Snapshot(), scene.OldState());

    const JournalRecovery recovery = CUpdateJournal::Recover(install, InstallationJournalActions());
    EXPECT_TRUE(recovery.found);
    EXPECT_TRUE(recovery.clean);
    EXPECT_EQ(scene.Snapshot(), scene.OldState());
    EXPECT_FALSE(fs::exists(journal));
}
