// Kills the real update sequence at every step it takes, then starts the
// updater again: the installation is always exactly the old or exactly the new
// one, and the next run always ends at the new version.
#include <algorithm>
#include <iostream>

#include <gtest/gtest.h>

#include "updater/workflow/update_session.h"
#include "support/temp_dir.h"
#include "updater/workflow/journal/journal_scene.h"

namespace {

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

struct CrashTally {
    int points = 0;
    int mixed = 0;
};

// Runs the scene's update killed at step 1, 2, ... until a run is no longer
// killed. After every kill the installation is recovered, either in place or
// by the next start of the updater, and must be `expectedAfterRetry` after a
// full second run.
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
            const JournalRecovery recovery = CUpdateJournal::Recover(scene.Install(), InstallationJournalActions());
            EXPECT_TRUE(recovery.clean) << "step " << step;
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

}  // namespace

TEST(JournalCrash, AKillAtAnyStepLeavesTheOldOrTheNewInstallationAndTheNextRunEndsAtTheNew)
{
    JournalScene scene;
    const ChildRun full = scene.RunUpdater();
    ASSERT_TRUE(full.finished);
    const InstallationState newState = scene.Snapshot();
    ASSERT_EQ(scene.InstalledVersion(), "2.0.0.0") << "the uncut update must install the new version";
    ASSERT_NE(newState, scene.OldState());
    ASSERT_EQ(newState.entries.count("F app/keep.txt"), 1u);
    ASSERT_EQ(newState.entries.count("F ini/update.sql"), 0u) << "the script goes after the patch";

    const CrashTally tally = CrashEverywhere(scene, newState, newState);
    std::cout << "[ journal  ] successful update: " << tally.points << " crash points, " << tally.mixed
              << " ended in a mix\n";
    EXPECT_GE(tally.points, 20) << "every entry of the archive must be a crash point";
    EXPECT_EQ(tally.mixed, 0);
}

TEST(JournalCrash, AKillWhileAFailedPatchIsRolledBackStillLeavesTheOldInstallation)
{
    JournalSceneOptions options;
    options.script = "INSERT INTO people VALUES('half');\nINSERT INTO missing_table VALUES(1);";
    JournalScene scene(options);
    // The update can never succeed, so every run must end where it began.
    const CrashTally tally = CrashEverywhere(scene, scene.OldState(), scene.OldState());
    std::cout << "[ journal  ] failing patch: " << tally.points << " crash points, " << tally.mixed
              << " ended in a mix\n";
    EXPECT_GE(tally.points, 20);
    EXPECT_EQ(tally.mixed, 0);
    EXPECT_EQ(scene.InstalledVersion(), "1.0.0.0");
}

TEST(JournalCrash, RecoveryAfterAKillRestartsTheProduct)
{
    JournalScene scene;
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
