// The crash checks with the updater run in a child forked from the test.
#include "updater/workflow/journal/journal_crash_test.h"

INSTANTIATE_TEST_SUITE_P(Here, JournalCrash, testing::Values(UpdaterLauncher{"InAForkedChild", {}, {}}),
                         LauncherName);
