#include "cvglance_wnd.h"

#include <cstdlib>
#include <cstdio>
#include <thread>

#include <wx/dcclient.h>
#include <wx/display.h>
#include <wx/menu.h>
#include <wx/msgdlg.h>
#include <wx/webview.h>

#include "about_dlg.h"
#include "platform/files.h"
#include "platform/module_path.h"
#include "ui/artwork.h"
#include "ui/chinese_font.h"
#include "ui/posted_message.h"
#include "ui/wx_text.h"
#include "viewer/document_rules.h"
#include "viewer/document_worker.h"
#include "viewer/ftp_curl.h"

#include "close_130_bmp.h"
#include "icon_128_png.h"
#include "max_131_bmp.h"
#include "min_132_bmp.h"
#include "restore_133_bmp.h"

namespace {

constexpr int IDC_HTML = 1001;
constexpr int IDM_ABOUTBOX = 0x0010;
constexpr int kInitialWidth = 800;
constexpr int kInitialHeight = 600;

const wxColour kBandColour(BAND_RED, BAND_GREEN, BAND_BLUE);

// The images of a strip, each with its pure black pixels transparent. The
// strip is cut up once here rather than at every paint.
template <std::size_t N>
CImageList ImageListFrom(const unsigned char (&bytes)[N], int imageWidth)
{
    CImageList images;
    wxImage strip = ArtworkImage(bytes, wxBITMAP_TYPE_BMP);
    if (!strip.IsOk()) {
        return images;
    }
    if (strip.HasAlpha()) {
        strip.ClearAlpha();
    }
    for (int x = 0; x + imageWidth <= strip.GetWidth(); x += imageWidth) {
        wxImage image = strip.GetSubImage(wxRect(x, 0, imageWidth, strip.GetHeight()));
        image.SetMaskColour(0, 0, 0);
        images.emplace_back(image);
    }
    return images;
}

bool TraceRequested() { return std::getenv("CVGLANCE_TRACE") != nullptr; }

}  // namespace

CWxViewerWindow::CWxViewerWindow(CCvGlanceWnd* wnd) : m_wnd(wnd), m_requests(wnd) {}

void CWxViewerWindow::Navigate(const CString& path)
{
    CCvGlanceWnd* wnd = m_wnd;
    m_requests.RunLater([wnd, path] { wnd->NavigateView(path); });
}

void CWxViewerWindow::MessageBox(const CString& text, const CString& caption)
{
    CCvGlanceWnd* wnd = m_wnd;
    m_requests.RunAndWait([wnd, text, caption] { wnd->ShowMessageBox(text, caption); });
}

void CWxViewerWindow::EndDialog()
{
    CCvGlanceWnd* wnd = m_wnd;
    m_requests.RunLater([wnd] { wnd->Close(); });
}

void CWxViewerWindow::SetWindowText(const CString& text)
{
    CCvGlanceWnd* wnd = m_wnd;
    m_requests.RunLater([wnd, text] { wnd->SetTitle(ToWx(text)); });
}

CCvGlanceWnd::CCvGlanceWnd(std::vector<CString> args)
    // No caption and no border; the resize border and the boxes make window
    // managers treat it as a normal, minimisable application window.
    : wxFrame(nullptr, wxID_ANY, wxEmptyString, wxDefaultPosition,
              wxSize(kInitialWidth, kInitialHeight),
              wxBORDER_NONE | wxRESIZE_BORDER | wxMINIMIZE_BOX | wxMAXIMIZE_BOX | wxCLOSE_BOX |
                  wxSYSTEM_MENU | wxCLIP_CHILDREN),
      m_session(std::make_shared<CViewerSession>(this))
{
    CCvGlanceDlg& dlg = m_session->dlg;
    dlg.m_Args = std::move(args);
    SetBackgroundStyle(wxBG_STYLE_PAINT);

    wxIcon icon;
    icon.CopyFromBitmap(wxBitmap(ArtworkImage(k_icon_128_png, wxBITMAP_TYPE_PNG)));
    SetIcon(icon);

    dlg.AppendProgramFolder(platform::GetModulePath());
    const CRect view = HtmlViewRect(kInitialWidth, kInitialHeight);
    CHtmlCtrl::Events events;
    events.loaded = [this](const std::string& path) { OnPageLoaded(path); };
    events.failed = [this](const std::string& path) { OnPageFailed(path); };
    // The view may load the loading page's folder and the temporary folder,
    // where the documents and their supporting files lie.
    const std::vector<std::string> folders{
        platform::NativePath(ProgramFolderOf(dlg.LoadingPagePath())),
        platform::NativePath(TempFolderOf(dlg.Arg(ARG_WORK_FOLDER)))};
    m_html.Create(this, wxRect(view.left, view.top, view.Width(), view.Height()), IDC_HTML,
                  std::move(events), folders);
    m_html.Navigate(dlg.LoadingPagePath());
    SetTitle(ToWx(dlg.Title()));
    SetSize(0, 0, kInitialWidth, kInitialHeight);
    Centre(wxBOTH);

    LoadArtwork();
    Caption().LayoutCaptionButtons(GetSize().GetWidth());
    CreateTitleFont();

    Bind(wxEVT_PAINT, &CCvGlanceWnd::OnPaint, this);
    Bind(wxEVT_SIZE, &CCvGlanceWnd::OnSize, this);
    Bind(wxEVT_MOTION, &CCvGlanceWnd::OnMouseMove, this);
    Bind(wxEVT_ENTER_WINDOW, &CCvGlanceWnd::OnMouseMove, this);
    Bind(wxEVT_LEAVE_WINDOW, &CCvGlanceWnd::OnMouseLeave, this);
    Bind(wxEVT_LEFT_DOWN, &CCvGlanceWnd::OnLeftDown, this);
    Bind(wxEVT_LEFT_UP, &CCvGlanceWnd::OnLeftUp, this);
    Bind(wxEVT_RIGHT_UP, &CCvGlanceWnd::OnRightUp, this);
    Bind(wxEVT_MOUSE_CAPTURE_LOST, &CCvGlanceWnd::OnCaptureLost, this);
    Bind(EVT_POSTED_MESSAGE, &CCvGlanceWnd::OnPostedMessage, this);
    Bind(wxEVT_CLOSE_WINDOW, &CCvGlanceWnd::OnCloseWindow, this);
    Bind(wxEVT_CHAR_HOOK, &CCvGlanceWnd::OnCharHook, this);

    StartWorker();
    Show();
}

CCvGlanceWnd::~CCvGlanceWnd()
{
    CPostedMessageHandle::Instance().Detach();
    m_session->window.Close();
}

void CCvGlanceWnd::LoadArtwork()
{
    m_imgMax = ImageListFrom(k_max_131_bmp, MAX_IMAGE_WIDTH);
    m_imgMin = ImageListFrom(k_min_132_bmp, MIN_IMAGE_WIDTH);
    m_imgClose = ImageListFrom(k_close_130_bmp, CLOSE_IMAGE_WIDTH);
    m_imgRestore = ImageListFrom(k_restore_133_bmp, RESTORE_IMAGE_WIDTH);
}

void CCvGlanceWnd::CreateTitleFont()
{
    wxFontInfo info(wxSize(0, TITLE_FONT_HEIGHT));
    info.Light();
    m_fontTitle = ChineseFont(info, {"新宋体", "NSimSun"});
}

void CCvGlanceWnd::StartWorker()
{
    CPostedMessageHandle& handle = CPostedMessageHandle::Instance();
    handle.Attach(this);
    g_hDownloadProgressWnd = &handle;
    // The process ends without waiting for the worker; the session it shares
    // lives as long as either of them needs it.
    std::thread([session = m_session] { DocumentWorker(&session->dlg); }).detach();
}

void CCvGlanceWnd::NavigateView(const CString& path) { m_html.Navigate(path); }

void CCvGlanceWnd::ShowMessageBox(const CString& text, const CString& caption)
{
    wxMessageDialog box(this, ToWx(text), ToWx(caption), wxOK | wxICON_NONE);
    box.ShowModal();
}

void CCvGlanceWnd::OnPaint(wxPaintEvent& /*event*/)
{
    wxPaintDC dc(this);
    const wxSize size = GetClientSize();

    dc.SetPen(*wxBLACK_PEN);
    dc.SetBrush(*wxWHITE_BRUSH);
    dc.DrawRectangle(0, 0, size.x, size.y);

    dc.SetPen(*wxTRANSPARENT_PEN);
    dc.SetBrush(wxBrush(kBandColour));
    dc.DrawRectangle(1, 1, size.x - 2, BAND_BOTTOM - 1);

    if (m_fontTitle.IsOk()) {
        dc.SetFont(m_fontTitle);
    }
    dc.SetTextForeground(*wxWHITE);
    dc.SetTextBackground(kBandColour);
    dc.SetBackgroundMode(wxBRUSHSTYLE_SOLID);
    // A long title stops before the buttons instead of running under them.
    const CString title = FitTitle(m_session->dlg.Title(), Caption().TitleMaxWidth(),
                                   [&dc](const CString& text) { return dc.GetTextExtent(ToWx(text)).GetWidth(); });
    dc.DrawText(ToWx(title), TITLE_X, TITLE_Y);

    DrawCaptionButtons(dc);
}

void CCvGlanceWnd::DrawCaptionButtons(wxDC& dc)
{
    const CCaptionButtons& caption = Caption();
    const auto draw = [&dc](const CImageList& images, const CRect& at, int index) {
        const auto i = static_cast<std::size_t>(index);
        if (i < images.size()) {
            dc.DrawBitmap(images[i], at.left, at.top, true);
        }
    };
    draw(m_imgClose, caption.m_rcClose, caption.ImageIndex(BTN_CLOSE));
    draw(caption.m_bMaximized ? m_imgRestore : m_imgMax, caption.m_rcMax,
         caption.ImageIndex(BTN_MAXRESTORE));
    draw(m_imgMin, caption.m_rcMin, caption.ImageIndex(BTN_MIN));
}

void CCvGlanceWnd::OnSize(wxSizeEvent& /*event*/)
{
    // Not skipped: the frame's default handling would stretch the view over
    // the band.
    const wxSize size = GetSize();
    if (wxWebView* view = m_html.GetView()) {
        const CRect rect = HtmlViewRect(size.x, size.y);
        view->SetSize(rect.left, rect.top, rect.Width(), rect.Height());
    }
    // The buttons follow the right edge whatever changed the size: the
    // maximise button, or a window manager.
    Caption().LayoutCaptionButtons(size.x);
    Refresh();
}

void CCvGlanceWnd::RefreshButtons()
{
    const CRect strip = Caption().ButtonStrip();
    RefreshRect(wxRect(strip.left, strip.top, strip.Width(), strip.Height()));
}

void CCvGlanceWnd::OnMouseMove(wxMouseEvent& event)
{
    if (m_bDragging) {
        Move(wxGetMousePosition() - m_ptDragOffset);
        return;
    }
    CCaptionButtons& caption = Caption();
    const int before = caption.m_nHotButton;
    const wxSize size = GetClientSize();
    // Crossing events may carry where the pointer was before it jumped in;
    // ask where it is now.
    const wxPoint at = event.GetEventType() == wxEVT_ENTER_WINDOW
                           ? ScreenToClient(wxGetMousePosition())
                           : event.GetPosition();
    const CPoint p{at.x, at.y};
    if (caption.HitTest(p, size.x, size.y) == CaptionHit::Client) {
        caption.OnMouseMove(p);
    }
    if (caption.m_nHotButton != before) {
        RefreshButtons();
    }
    SetCursor(caption.m_nHotButton != BTN_NONE ? wxCursor(wxCURSOR_HAND) : wxNullCursor);
}

void CCvGlanceWnd::OnMouseLeave(wxMouseEvent& /*event*/)
{
    if (!m_bDragging && Caption().OnMouseLeave()) {
        RefreshButtons();
        SetCursor(wxNullCursor);
    }
}

void CCvGlanceWnd::OnLeftDown(wxMouseEvent& event)
{
    const wxSize size = GetClientSize();
    const CPoint p{event.GetX(), event.GetY()};
    const bool onBand = Caption().HitTest(p, size.x, size.y) == CaptionHit::Caption;
    // A maximised window stays where it is, as maximised windows do.
    if (onBand && !Caption().m_bMaximized) {
        m_bDragging = true;
        m_ptDragOffset = wxGetMousePosition() - GetPosition();
        CaptureMouse();
        RefreshButtons();
        return;
    }
    event.Skip();
}

void CCvGlanceWnd::OnLeftUp(wxMouseEvent& event)
{
    if (m_bDragging) {
        m_bDragging = false;
        if (HasCapture()) {
            ReleaseMouse();
        }
        return;
    }
    ApplyCaptionAction(Caption().OnLButtonUp(CPoint{event.GetX(), event.GetY()}));
    event.Skip();
}

void CCvGlanceWnd::OnCaptureLost(wxMouseCaptureLostEvent& /*event*/) { m_bDragging = false; }

void CCvGlanceWnd::OnRightUp(wxMouseEvent& event)
{
    // The band's menu stands in for the window menu that carries the About
    // item where the system offers one.
    const wxSize size = GetClientSize();
    if (Caption().HitTest(CPoint{event.GetX(), event.GetY()}, size.x, size.y) !=
        CaptionHit::Caption) {
        event.Skip();
        return;
    }
    RefreshButtons();
    wxMenu menu;
    menu.Append(IDM_ABOUTBOX, ToWx(VIEWER_ABOUT_ITEM));
    if (GetPopupMenuSelectionFromUser(menu, event.GetPosition()) == IDM_ABOUTBOX) {
        CAboutDlg about(this, GetIcon());
        about.ShowModal();
    }
}

void CCvGlanceWnd::ApplyCaptionAction(CaptionAction action)
{
    switch (action) {
    case CaptionAction::Close:
        Close();
        return;
    case CaptionAction::Maximize: {
        // The window sizes itself to the work area: with no frame of its own
        // there may be no window manager willing to maximise it.
        m_rcRestored = GetRect();
        const int index = wxDisplay::GetFromWindow(this);
        const wxDisplay display(index == wxNOT_FOUND ? 0u : static_cast<unsigned>(index));
        SetSize(display.GetClientArea());
        break;
    }
    case CaptionAction::Restore:
        SetSize(m_rcRestored);
        break;
    case CaptionAction::Minimize:
        Iconize(true);
        return;
    case CaptionAction::None:
        return;
    }
    Caption().LayoutCaptionButtons(GetSize().x);
    Refresh();
}

void CCvGlanceWnd::OnPostedMessage(wxThreadEvent& event)
{
    const auto posted = event.GetPayload<PostedMessage>();
    if (posted.message == WM_DOWNLOAD_PROGRESS) {
        m_session->dlg.OnDownloadProgress(posted.wParam);
    }
}

void CCvGlanceWnd::OnPageLoaded(const std::string& nativePath)
{
    if (TraceRequested()) {
        std::fprintf(stderr, "cvglance: page loaded %s\n", nativePath.c_str());
        std::fflush(stderr);
    }
    m_session->dlg.OnPageLoaded(nativePath);
}

void CCvGlanceWnd::OnPageFailed(const std::string& nativePath)
{
    if (TraceRequested()) {
        std::fprintf(stderr, "cvglance: page failed %s\n", nativePath.c_str());
        std::fflush(stderr);
    }
    // A document the view cannot show would leave the loading page up for
    // good: it is a document that could not be converted for the view.
    if (m_session->dlg.IsShownDocument(nativePath)) {
        ShowMessageBox(VIEWER_CONVERT_ERROR, VIEWER_NOTICE_CAPTION);
        Close();
    }
}

void CCvGlanceWnd::OnCharHook(wxKeyEvent& event)
{
    // Esc ends the viewer as a dialog's Cancel does, wherever the focus is: the
    // hook sees a key before the page in the view does.
    if (event.GetKeyCode() == WXK_ESCAPE) {
        Close();
        return;
    }
    event.Skip();
}

void CCvGlanceWnd::OnCloseWindow(wxCloseEvent& /*event*/)
{
    if (m_bClosing) {
        return;
    }
    m_bClosing = true;
    m_session->dlg.OnClose();
    m_session->window.Close();
    CPostedMessageHandle::Instance().Detach();
    Destroy();
}
