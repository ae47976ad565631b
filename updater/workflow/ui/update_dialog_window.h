// The update dialog's window: dialog template 102 built with wxWidgets, the
// window operations the logic uses, and the close rules.
#pragma once

#include <wx/dialog.h>

#include "ui/ui_requests.h"
#include "updater/workflow/update_window.h"

class CMyUpdateDlg;
class wxThreadEvent;

class CUpdateDialogWindow final : public wxDialog, public CUpdateWindow {
public:
    explicit CUpdateDialogWindow(CMyUpdateDlg& logic);
    ~CUpdateDialogWindow() override;

    void ShowControl(int id, bool show) override;
    void SetControlText(int id, const CString& text) override;
    void SetProgressPos(int pos) override;
    void MessageBox(const CString& text, const CString& caption) override;
    void EndDialog(int result) override;
    HWINDOW GetSafeHwnd() override;

private:
    void CreateControls();
    void SetLabelOf(int id, const wxString& text);
    void OnClose(wxCloseEvent& event);
    void OnCancelCommand(wxCommandEvent& event);
    void OnCharHook(wxKeyEvent& event);
    void OnStartCommand(wxCommandEvent& event);
    void OnPostedMessage(wxThreadEvent& event);

    CMyUpdateDlg& m_logic;
    CUiRequests m_requests;
};

// Breaks `text` into lines no wider than `width` pixels in `window`'s font.
// Chinese text breaks between any two characters; a run of Latin letters and
// digits moves to the next line whole when it fits there.
wxString WrapToWidth(const wxWindow& window, const wxString& text, int width);
