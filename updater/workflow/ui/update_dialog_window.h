// The update dialog's window: dialog template 102 built with wxWidgets, the
// window operations the logic uses, and the close rules.
#pragma once

#include <mutex>

#include <wx/dialog.h>
#include <wx/font.h>

#include "ui_requests.h"
#include "updater/workflow/update_window.h"

class CMyUpdateDlg;
class wxGauge;
class wxThreadEvent;

// The dialog's handle for posted messages. The transfer layer keeps the handle
// for the rest of the process, so it outlives the window: once the window is
// gone, posting is refused instead of reaching a destroyed object.
class CPostedMessageQueue final : public CWindowHandle {
public:
    explicit CPostedMessageQueue(wxEvtHandler* target) : m_target(target) {}
    bool PostMessage(UINT message, WPARAM wParam, LPARAM lParam) override;
    void Detach();

private:
    std::mutex m_mutex;
    wxEvtHandler* m_target;
};

class CUpdateDialogWindow final : public wxDialog, public CUpdateWindow {
public:
    explicit CUpdateDialogWindow(CMyUpdateDlg& logic);
    ~CUpdateDialogWindow() override;

    void ShowControl(int id, bool show) override;
    void SetControlText(int id, const CString& text) override;
    void SetProgressPos(int pos) override;
    void MessageBox(const CString& text, const CString& caption) override;
    void EndDialog(int result) override;
    HWINDOW GetSafeHwnd() override { return m_pQueue; }

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
    CPostedMessageQueue* m_pQueue;  // deliberately never freed: see the class
};

// "宋体" 9 point where installed, else the first installed CJK face.
wxFont ChooseDialogFont();

// Breaks `text` into lines no wider than `width` pixels in `window`'s font.
// Chinese text breaks between any two characters; a run of Latin letters and
// digits moves to the next line whole when it fits there.
wxString WrapToWidth(const wxWindow& window, const wxString& text, int width);
