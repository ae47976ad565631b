#include "my_update_app.h"

#include <wx/image.h>
#include <wx/init.h>

#include "dialog_module.h"
#include "update_dialog_window.h"
#include "updater/workflow/update_dlg.h"

bool CMyUpdateApp::OnInit()
{
    wxImage::AddHandler(new wxPNGHandler);
    // Never destroyed: the worker may still be using the window's handles when
    // the dialog ends, and the process ends right after that anyway.
    auto* window = new CUpdateDialogWindow(m_dlg);
    m_dlg.AttachWindow(window);
    window->ShowModal();
    return false;
}

extern "C" __attribute__((visibility("default"))) int MorvexRunUpdateDialog(CMyUpdateDlg* dlg,
                                                                             const char* programName)
{
    // The updater takes no command line: the toolkit sees none either.
    char name[] = "MorvexUpdate";
    char* argv[] = {programName != nullptr ? const_cast<char*>(programName) : name, nullptr};
    int argc = 1;
    wxApp::SetInstance(new CMyUpdateApp(*dlg));
    if (!wxEntryStart(argc, argv)) {
        return 1;
    }
    wxTheApp->CallOnInit();
    return 0;
}

// The program resolves the entry by name; a changed signature must not compile.
[[maybe_unused]] static constexpr RunUpdateDialogFn kEntryMatchesContract = &MorvexRunUpdateDialog;
