// The viewer's window: a frameless top-level window with its own outline,
// title band and caption buttons, the HTML view below the band, and the
// toolkit side of the window operations the viewer's logic calls.
#pragma once

#include <memory>
#include <vector>

#include <wx/bitmap.h>
#include <wx/font.h>
#include <wx/frame.h>

#include "html_ctrl.h"
#include "platform/types.h"
#include "ui/ui_requests.h"
#include "viewer/cvglance_dlg.h"

class wxDC;
class CCvGlanceWnd;

// The images of one caption button, in strip order (0 pressed, 1 lit, 2 normal).
using CImageList = std::vector<wxBitmap>;

// The window operations, carried out on the window's thread while it is open.
// Shared with the worker, so it may outlive the window; after the window has
// gone every operation does nothing.
class CWxViewerWindow final : public CViewerWindow {
public:
    explicit CWxViewerWindow(CCvGlanceWnd* wnd);

    void Navigate(const CString& path) override;
    void MessageBox(const CString& text, const CString& caption) override;
    void EndDialog() override;
    void SetWindowText(const CString& text) override;

    // The window is going away.
    void Close() { m_requests.Close(); }

private:
    CCvGlanceWnd* m_wnd;
    CUiRequests m_requests;
};

// What the window shares with its worker thread.
struct CViewerSession {
    explicit CViewerSession(CCvGlanceWnd* wnd) : window(wnd), dlg(window) {}
    CWxViewerWindow window;
    CCvGlanceDlg dlg;
};

class CCvGlanceWnd final : public wxFrame {
public:
    // Builds the window for the command-line arguments (at least six) and runs
    // the opening sequence: loading page, band, buttons, worker thread, shown.
    explicit CCvGlanceWnd(std::vector<CString> args);
    ~CCvGlanceWnd() override;

    // The window-thread halves of the window operations.
    void NavigateView(const CString& path);
    void ShowMessageBox(const CString& text, const CString& caption);

private:
    void LoadArtwork();
    void CreateTitleFont();
    void StartWorker();

    void OnPaint(wxPaintEvent& event);
    void DrawCaptionButtons(wxDC& dc);
    void OnSize(wxSizeEvent& event);
    void OnMouseMove(wxMouseEvent& event);
    void OnMouseLeave(wxMouseEvent& event);
    void OnLeftDown(wxMouseEvent& event);
    void OnLeftUp(wxMouseEvent& event);
    void OnRightUp(wxMouseEvent& event);
    void OnCaptureLost(wxMouseCaptureLostEvent& event);
    void OnPostedMessage(wxThreadEvent& event);
    void OnCloseWindow(wxCloseEvent& event);
    void OnPageLoaded(const std::string& nativePath);
    void OnPageFailed(const std::string& nativePath);
    void OnCharHook(wxKeyEvent& event);
    void ApplyCaptionAction(CaptionAction action);
    void RefreshButtons();
    CCaptionButtons& Caption() { return m_session->dlg.m_caption; }

    std::shared_ptr<CViewerSession> m_session;
    CHtmlCtrl m_html;
    CImageList m_imgMax;
    CImageList m_imgMin;
    CImageList m_imgClose;
    CImageList m_imgRestore;
    wxFont m_fontTitle;
    wxRect m_rcRestored;        // where a maximised window returns to
    bool m_bDragging = false;
    bool m_bClosing = false;    // a second Close (a held Esc) before the window is gone
    wxPoint m_ptDragOffset;     // pointer position relative to the window while dragging
};
