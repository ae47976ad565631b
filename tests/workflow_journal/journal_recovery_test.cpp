// Recoveries that must not do what the journal's log or a busy database would
// lead them to: act outside the installation, or call an unfinished job done.
#include <algorithm>
#include <filesystem>
#include <string>

#include <gtest/gtest.h>

#include "platform/process.h"
#include "support/temp_dir.h"
#include "updater/workflow/update_journal.h"
#include "workflow_journal/journal_scene.h"
#include "workflow_update/script_tools.h"

namespace fs = std::filesystem;
using testsupport::ReadFileBytes;
using testsupport::U16;
using testsupport::WriteFileBytes;

namespace {

// A journal left by a run cut short in `phase`, with the given log.
void PlantJournal(const fs::path& install, const std::string& phase, const std::string& log)
{
    const fs::path journal = install / "MorvexUpdate.journal";
    fs::create_directories(journal / "kept");
    WriteFileBytes(journal / "phase", "phase=" + phase + "\nproduct=2\npid=0\n");
    WriteFileBytes(journal / "journal.log", log);
    WriteFileBytes(journal / "kept" / "1", "planted content");
}

}  // namespace

TEST(JournalRecovery, ARollBackNeverActsOutsideTheInstallationWhateverItsLogSays)
{
    testsupport::TempDir dir;
    const fs::path install = dir.path() / "install";
    const fs::path outside = dir.path() / "outside";
    fs::create_directories(install);
    fs::create_directories(outside / "empty");
    WriteFileBytes(outside / "created", "precious");
    WriteFileBytes(outside / "replaced", "precious too");
    WriteFileBytes(install / "app.bin", "installed");
    const std::string in = install.string() + "/";
    PlantJournal(install, "unpacking",
                 "C " + (outside / "created").string() + "\n" +                 // elsewhere
                 "K 1 " + (outside / "replaced").string() + "\n" +              //
                 "D " + (outside / "empty").string() + "\n" +                   //
                 "C " + in + "../outside/created\n" +                          // climbing out
                 "K 1 " + in + "sub/../../outside/replaced\n" +                 //
                 "C " + in + "MorvexUpdate.journal/phase\n" +                   // the journal itself
                 "K 1/../../../app.bin " + in + "app.bin\n");                   // a kept name that climbs
    const JournalRecovery recovery = CUpdateJournal::Recover(U16(in));
    EXPECT_TRUE(recovery.found);
    EXPECT_EQ(ReadFileBytes(outside / "created"), "precious");
    EXPECT_EQ(ReadFileBytes(outside / "replaced"), "precious too");
    EXPECT_TRUE(fs::is_directory(outside / "empty"));
    EXPECT_EQ(ReadFileBytes(install / "app.bin"), "installed");
}

TEST(JournalRecovery, ACommittedUpdateKeepsItsJournalUntilTheNewManifestIsInPlace)
{
    testsupport::TempDir dir;
    const fs::path install = dir.path() / "install";
    // Something the new manifest cannot be renamed over.
    fs::create_directories(install / "version.ini" / "in the way");
    WriteFileBytes(install / "newversion.ini", "[version]\nver=2.0.0.0\n");
    PlantJournal(install, "committed", "");
    const JournalRecovery recovery = CUpdateJournal::Recover(U16(install.string() + "/"));
    EXPECT_TRUE(recovery.committed);
    EXPECT_FALSE(recovery.clean) << "no check may offer the update again over the patched database";
    EXPECT_TRUE(fs::exists(install / "MorvexUpdate.journal"));

    fs::remove_all(install / "version.ini");
    EXPECT_TRUE(CUpdateJournal::Recover(U16(install.string() + "/")).clean);
    EXPECT_EQ(ReadFileBytes(install / "version.ini"), "[version]\nver=2.0.0.0\n");
    EXPECT_FALSE(fs::exists(install / "MorvexUpdate.journal"));
}

TEST(JournalRecovery, ADatabaseThatStaysInUseKeepsTheJournalAndTheNextStartFinishes)
{
    JournalSceneOptions options;
    options.script = "INSERT INTO people VALUES('half');\nINSERT INTO missing_table VALUES(1);";
    JournalScene scene(options);
    const fs::path db = scene.Install() / "jo_db_local.db";
    // With a write-ahead log another connection may read while the patch
    // writes, but nothing may replace the file under it.
    ASSERT_EQ(RunAndWait({"/usr/bin/python3", "-c",
                          "import sqlite3, sys; sqlite3.connect(sys.argv[1]).execute('PRAGMA journal_mode=WAL').fetchall()",
                          db.string()}),
              0);
    const InstallationState before = scene.Snapshot();
    const fs::path holding = scene.Root() / "holding";
    const fs::path release = scene.Root() / "release";
    const fs::path released = scene.Root() / "released";
    ASSERT_TRUE(platform::StartDetached(
        "/usr/bin/python3",
        {"-c",
         "import os, sqlite3, sys, time\n"
         "c = sqlite3.connect(sys.argv[1], isolation_level=None)\n"
         "c.execute('BEGIN'); c.execute('SELECT count(*) FROM people').fetchall()\n"
         "open(sys.argv[2], 'w').close()\n"
         "end = time.time() + 300\n"
         "while not os.path.exists(sys.argv[3]) and time.time() < end: time.sleep(0.05)\n"
         "c.close(); open(sys.argv[4], 'w').close()\n",
         db.string(), holding.string(), release.string(), released.string()}));
    ASSERT_TRUE(WaitForFile(holding));

    const ChildRun held = scene.RunUpdater();
    WriteFileBytes(release, "");
    ASSERT_TRUE(WaitForFile(released));
    ASSERT_TRUE(held.finished);
    EXPECT_NE(std::find(held.windowCalls.begin(), held.windowCalls.end(),
                        "box 升级失败|升级失败，安装未能完全恢复，下次启动时将继续恢复。"),
              held.windowCalls.end())
        << "the box says the installation is not yet restored";
    EXPECT_TRUE(fs::exists(scene.Install() / "MorvexUpdate.journal")) << "the journal stays for the next start";

    // The next start finishes the roll back before its check; the update it
    // then offers fails again and is rolled back in full.
    const ChildRun next = scene.RunUpdater();
    ASSERT_TRUE(next.finished);

    EXPECT_EQ(scene.Snapshot(), before);
    EXPECT_FALSE(fs::exists(scene.Install() / "MorvexUpdate.journal"));
}
