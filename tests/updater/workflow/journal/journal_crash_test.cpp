// Kills the real update sequence at every step it takes, then starts the
// updater again: the installation is always exactly the old or exactly the new
// one, and the next run always ends at the new version.
#include "updater/workflow/journal/journal_crash_test.h"

#include <algorithm>
#include <iostream>

TEST_P(JournalCrash, AKillAtAnyStepLeavesTheOldOrTheNewInstallationAndTheNextRunEndsAtTheNew)
{
    JournalScene scene(Options());
    const ChildRun full = scene.RunUpdater();
    ASSERT_TRUE(full.finished);
    const InstallationState newState = scene.Snapshot();
    ASSERT_EQ(scene.InstalledVersion(), "2.0.0.0") << "the uncut update must install the new version";
    ASSERT_NE(newState, scene.OldState());
    ASSERT_EQ(newState.entries.count("F app/keep.txt"), 1u);
    ASSERT_EQ(newState.entries.count("F ini/update.sql"), 0u) << "the script goes after the patch";

    const CrashTally tally = CrashEverywhere(scene, newState, newState);
    std::cout << "[ journal  ] " << GetParam().name << ", successful update: " << tally.points << " crash points, "
              << tally.mixed << " ended in a mix\n";
    EXPECT_GE(tally.points, 20) << "every entry of the archive must be a crash point";
    EXPECT_EQ(tally.mixed, 0);
}

TEST_P(JournalCrash, AKillWhileAFailedPatchIsRolledBackStillLeavesTheOldInstallation)
{
    JournalSceneOptions options;
    options.script = "INSERT INTO people VALUES('half');\nINSERT INTO missing_table VALUES(1);";
    JournalScene scene(Options(options));
    // The update can never succeed, so every run must end where it began.
    const CrashTally tally = CrashEverywhere(scene, scene.OldState(), scene.OldState());
    std::cout << "[ journal  ] " << GetParam().name << ", failing patch: " << tally.points << " crash points, "
              << tally.mixed << " ended in a mix\n";
    EXPECT_GE(tally.points, 20);
    EXPECT_EQ(tally.mixed, 0);
    EXPECT_EQ(scene.InstalledVersion(), "1.0.0.0");
}

TEST_P(JournalCrash, RecoveryAfterAKillRestartsTheProduct)
{
    JournalScene scene(Options());
    // Step 5 lies among the entries being written.
    ASSERT_TRUE(scene.RunUpdater(5).killed);
    EXPECT_EQ(scene.ProcessControlCalls(), std::vector<std::string>{"-k Zentora.exe"});
    const ChildRun again = scene.RunUpdater();
    ASSERT_TRUE(again.finished);
    // The stand-ins run detached, so their records may come in either order.
    std::vector<std::string> calls = scene.ProcessControlCalls();
    std::sort(calls.begin(), calls.end());
    const std::vector<std::string> expected = {"-k Zentora.exe", "-k Zentora.exe", "-s Zentora.exe -nonupdate",
                                               "-s Zentora.exe -nonupdate"};
    EXPECT_EQ(calls, expected)
        << "the recovered old product is started, then stopped and started again by the update";
    EXPECT_EQ(scene.InstalledVersion(), "2.0.0.0");
}
