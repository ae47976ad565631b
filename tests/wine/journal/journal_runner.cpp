// The journal suite's updater run as a Windows program, for the crash checks
// under Wine (wine_journal_test.cpp starts it):
//   journal_runner run INSTALL_FOLDER CALLS_FILE   the updater's run, as the
//       suite's forked child makes it, with MorvexUpdate.exe in INSTALL_FOLDER
//   journal_runner recover INSTALL_FOLDER          the recovery alone
// Exit status: 0 done (recover: nothing left that could not be undone);
// 1 recover left something; 2 wrong use. The crash hook ends a run with
// platform::kAbruptEndExitCode.
#include <cstdio>
#include <string>

#include "platform/path.h"
#include "updater/workflow/journal/updater_run.h"
#include "updater/workflow/update_journal.h"
#include "updater/workflow/update_session.h"

int main(int argc, char** argv)
{
    const std::string verb = argc > 1 ? argv[1] : "";
    if (verb == "run" && argc == 4) {
        const platform::Path install = platform::Utf8ToPath(argv[2]);
        RunUpdaterHere(platform::PathText(install / L"MorvexUpdate.exe"), platform::Utf8ToPath(argv[3]));
        return 0;
    }
    if (verb == "recover" && argc == 3) {
        return CUpdateJournal::Recover(platform::Utf8ToPath(argv[2]), InstallationJournalActions()).clean ? 0 : 1;
    }
    std::fprintf(stderr, "usage: journal_runner run INSTALL_FOLDER CALLS_FILE | recover INSTALL_FOLDER\n");
    return 2;
}
