// The window operations the update dialog's logic needs, and the identifiers
// of the dialog template and its controls.
//
// The logic (CMyUpdateDlg) never sees a toolkit: the program's dialog
// implements this interface, and anything else that can show texts and answer
// message boxes (a headless window in tests) can stand in for it.
#pragma once

#include "platform/types.h"
#include "platform/window.h"

constexpr int IDD_MORVEXUPDATE_DIALOG = 102;
constexpr int IDR_MAINFRAME = 128;       // application icon
constexpr int IDB_SIDE_PICTURE = 130;    // side picture, 163 x 278

constexpr int IDC_START_UPDATE = 1001;   // "开始更新", hidden before the first show
constexpr int IDC_EXIT = 1002;           // "退出", never shown
constexpr int IDC_PROGRESS = 1003;
constexpr int IDC_STATIC_STATUS = 1004;
constexpr int IDC_STATIC_WELCOME = 1006;

// The modal dialog ends with IDOK or IDCANCEL (platform/window.h).

class CUpdateWindow {
public:
    virtual ~CUpdateWindow() = default;

    // Shows or hides a control; called on the window's own thread before the
    // window first shows.
    virtual void ShowControl(int id, bool show) = 0;

    // Sets a control's text. Callable from any thread; returns once the text is
    // set, or at once when the window has already ended.
    virtual void SetControlText(int id, const CString& text) = 0;

    // Moves the progress bar (range 0-100); called on the window's own thread.
    virtual void SetProgressPos(int pos) = 0;

    // A message box owned by the dialog, with an OK button only and no icon.
    // Callable from any thread; returns when the user has dismissed it, or at
    // once when the window has already ended.
    virtual void MessageBox(const CString& text, const CString& caption) = 0;

    // Ends the modal dialog with `result` (IDOK, IDCANCEL). Callable from any
    // thread; does not wait for the dialog to close.
    virtual void EndDialog(int result) = 0;

    // The handle that posted messages (download progress) are sent to; it stays
    // valid, and posting to it harmless, for the rest of the process.
    virtual HWINDOW GetSafeHwnd() = 0;
};
