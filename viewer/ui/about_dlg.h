// The About box: icon, program name and version, an OK button.
#pragma once

#include <wx/dialog.h>
#include <wx/icon.h>

class CAboutDlg final : public wxDialog {
public:
    CAboutDlg(wxWindow* parent, const wxIcon& icon);
};
