// The updater's application object: runs the update dialog modally.
#pragma once

#include <wx/app.h>

class CMyUpdateDlg;

class CMyUpdateApp final : public wxApp {
public:
    explicit CMyUpdateApp(CMyUpdateDlg& dlg) : m_dlg(dlg) {}

    // Creates the dialog window, hands it to the logic (which starts the update
    // before the window first shows) and runs it modally. Returns false so that
    // no main loop follows: the process ends with the dialog.
    bool OnInit() override;

private:
    CMyUpdateDlg& m_dlg;
};
