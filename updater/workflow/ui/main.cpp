// MorvexUpdate: checks the installation against the server and, when an update
// is due, runs the update dialog. Takes no command line.
#include <cstdio>
#include <cstdlib>
#include <memory>

#include "dialog_module.h"
#include "platform/codepage.h"
#include "platform/dynlib.h"
#include "platform/process.h"
#include "transfer/ftp_transfer_curl.h"
#include "updater/workflow/update_dlg.h"

namespace {

int GiveUp(CMyUpdateDlg& dlg, const char* why)
{
    dlg.AbandonUpdate();
    std::fprintf(stderr, "MorvexUpdate: an update is due, but %s; nothing was changed.\n", why);
    return 1;
}

}  // namespace

int main(int, char** argv)
{
    // A write past the process's file-size limit then fails like a full disk
    // does, and the update rolls back and says so, instead of the signal
    // ending the process halfway through the installation.
    platform::IgnoreFileSizeLimitSignal();
    auto dlg = std::make_unique<CMyUpdateDlg>(g_FtpTransfer);
    // The check runs before any window exists, so that the run that finds no
    // update (nearly every run) needs no display and loads no toolkit.
    dlg->OnInitDialog();
    if (dlg->HasEnded()) {
        return 0;
    }

    platform::HMODULE module = platform::LoadLibraryW(platform::Utf8ToUtf16(kDialogModuleFile));
    auto run = reinterpret_cast<RunUpdateDialogFn>(platform::GetProcAddress(module, kDialogModuleEntry));
    if (run == nullptr) {
        return GiveUp(*dlg, "the window module cannot be loaded");
    }
    if (run(dlg.get(), argv[0]) != 0) {
        return GiveUp(*dlg, "no display can be opened");
    }
    // The dialog has ended. The worker thread may still be finishing and uses
    // the dialog and the process-wide objects, so nothing is destroyed: the
    // process ends here and takes the worker with it.
    dlg.release();
    std::fflush(nullptr);
    std::_Exit(0);
}
