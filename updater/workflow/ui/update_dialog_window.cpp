#include "update_dialog_window.h"

#include <algorithm>

#include <wx/bitmap.h>
#include <wx/button.h>
#include <wx/gauge.h>
#include <wx/iconbndl.h>
#include <wx/msgdlg.h>
#include <wx/statbmp.h>
#include <wx/statline.h>
#include <wx/stattext.h>

#include "icon16_png.h"
#include "icon32_png.h"
#include "side_picture_png.h"
#include "ui/artwork.h"
#include "ui/chinese_font.h"
#include "ui/posted_message.h"
#include "ui/wx_text.h"
#include "updater/workflow/update_dlg.h"

namespace {

// Texts of dialog template 102.
const char* const kCaption = "自动升级程序";
const char* const kWelcome =
    "  欢迎使用Morvex自动升级程序，该程序将使用互联网升级您的程序，请确认系统已经联接上互联网。";
const char* const kInitialStatus = "正在更新......";
const char* const kStartButton = "开始更新";
const char* const kExitButton = "退出";

template <std::size_t N>
wxBitmap LoadPng(const unsigned char (&bytes)[N])
{
    return wxBitmap(ArtworkImage(bytes, wxBITMAP_TYPE_PNG));
}

bool IsWordCharacter(wxUniChar c)
{
    return c.IsAscii() && (wxIsalnum(static_cast<int>(c.GetValue())) != 0);
}

}  // namespace

wxString WrapToWidth(const wxWindow& window, const wxString& text, int width)
{
    wxString result;
    wxString line;
    for (wxUniChar c : text) {
        if (c == '\n') {
            result += line + '\n';
            line.clear();
            continue;
        }
        if (!line.empty() && window.GetTextExtent(line + c).GetWidth() > width) {
            // Keep a Latin word together when it can start the next line.
            std::size_t cut = line.length();
            if (IsWordCharacter(c)) {
                while (cut > 0 && IsWordCharacter(line[cut - 1])) {
                    --cut;
                }
                if (cut == 0) {
                    cut = line.length();
                }
            }
            result += line.Left(cut) + '\n';
            line = line.Mid(cut);
        }
        line += c;
    }
    return result + line;
}

CUpdateDialogWindow::CUpdateDialogWindow(CMyUpdateDlg& logic)
    : wxDialog(nullptr, wxID_ANY, wxString::FromUTF8(kCaption), wxDefaultPosition, wxDefaultSize,
               wxCAPTION | wxSYSTEM_MENU | wxCLOSE_BOX | wxMINIMIZE_BOX),
      m_logic(logic),
      m_requests(this)
{
    // The font decides the dialog units, so it comes before any size.
    SetFont(ChineseFont(wxFontInfo(9), {"宋体", "SimSun", "NSimSun"}));
    SetClientSize(ConvertDialogToPixels(wxSize(320, 185)));
    CreateControls();

    wxIconBundle icons;
    for (const wxBitmap& art : {LoadPng(k_icon32_png), LoadPng(k_icon16_png)}) {
        wxIcon icon;
        icon.CopyFromBitmap(art);
        icons.AddIcon(icon);
    }
    SetIcons(icons);

    // Esc, the close box and the window manager's close all come to the cancel
    // action, which the logic refuses while an update may be running. Enter has
    // no default button to press, so it cannot end the dialog mid-update. The
    // toolkit's own Esc handling looks for a visible cancel button, which this
    // dialog does not have, so Esc is caught before it.
    SetEscapeId(wxID_CANCEL);
    // Once the start button is hidden no control can hold the keyboard focus,
    // and keys would reach no handler at all; the dialog's own area takes it.
    SetCanFocus(true);
    Bind(wxEVT_CHAR_HOOK, &CUpdateDialogWindow::OnCharHook, this);
    Bind(wxEVT_CLOSE_WINDOW, &CUpdateDialogWindow::OnClose, this);
    Bind(wxEVT_BUTTON, &CUpdateDialogWindow::OnCancelCommand, this, wxID_CANCEL);
    Bind(wxEVT_BUTTON, &CUpdateDialogWindow::OnCancelCommand, this, IDC_EXIT);
    Bind(wxEVT_BUTTON, &CUpdateDialogWindow::OnStartCommand, this, IDC_START_UPDATE);
    Bind(EVT_POSTED_MESSAGE, &CUpdateDialogWindow::OnPostedMessage, this);
    CPostedMessageHandle::Instance().Attach(this);
    Centre();
}

CUpdateDialogWindow::~CUpdateDialogWindow()
{
    CPostedMessageHandle::Instance().Detach();
    m_requests.Close();
}

// The transfer layer keeps the handle for the rest of the process; it refuses
// posts once the window is gone instead of reaching a destroyed object.
HWINDOW CUpdateDialogWindow::GetSafeHwnd() { return &CPostedMessageHandle::Instance(); }

void CUpdateDialogWindow::CreateControls()
{
    const auto at = [this](int x, int y) { return ConvertDialogToPixels(wxPoint(x, y)); };
    const auto size = [this](int w, int h) { return ConvertDialogToPixels(wxSize(w, h)); };

    // The picture was drawn for the template's font, where 109 x 185 dialog
    // units are its 163 x 278 pixels; with another font it is scaled to the
    // converted area so that it still fills the dialog's left side.
    const wxSize pictureArea = size(109, 185);
    wxBitmap side = LoadPng(k_side_picture_png);
    if (side.IsOk() && side.GetSize() != pictureArea) {
        side = wxBitmap(side.ConvertToImage().Scale(pictureArea.GetWidth(), pictureArea.GetHeight(),
                                                    wxIMAGE_QUALITY_HIGH));
    }
    new wxStaticBitmap(this, wxID_ANY, side, wxPoint(0, 0), pictureArea);

    auto* welcome = new wxStaticText(this, IDC_STATIC_WELCOME, wxEmptyString, at(117, 14),
                                     size(193, 24), wxALIGN_LEFT | wxST_NO_AUTORESIZE);
    welcome->SetLabelText(WrapToWidth(*welcome, wxString::FromUTF8(kWelcome), welcome->GetSize().GetWidth()));

    new wxStaticLine(this, wxID_ANY, at(120, 148), size(185, 1), wxLI_HORIZONTAL);
    new wxButton(this, IDC_START_UPDATE, wxString::FromUTF8(kStartButton), at(208, 160), size(45, 13));
    auto* exitButton = new wxButton(this, IDC_EXIT, wxString::FromUTF8(kExitButton), at(260, 160), size(44, 13));
    exitButton->Hide();
    new wxGauge(this, IDC_PROGRESS, 100, at(119, 91), size(185, 13), wxGA_HORIZONTAL | wxGA_SMOOTH);
    new wxStaticText(this, IDC_STATIC_STATUS, wxString::FromUTF8(kInitialStatus), at(118, 67), size(181, 8),
                     wxALIGN_LEFT | wxST_NO_AUTORESIZE);
}

void CUpdateDialogWindow::SetLabelOf(int id, const wxString& text)
{
    wxWindow* control = FindWindow(id);
    if (control == nullptr) {
        return;
    }
    if (auto* label = dynamic_cast<wxStaticText*>(control)) {
        label->SetLabelText(WrapToWidth(*label, text, label->GetSize().GetWidth()));
    } else {
        control->SetLabel(text);
    }
}

void CUpdateDialogWindow::ShowControl(int id, bool show)
{
    m_requests.RunAndWait([this, id, show] {
        if (wxWindow* control = FindWindow(id)) {
            control->Show(show);
        }
    });
}

void CUpdateDialogWindow::SetControlText(int id, const CString& text)
{
    m_requests.RunAndWait([this, id, label = ToWx(text)] { SetLabelOf(id, label); });
}

void CUpdateDialogWindow::SetProgressPos(int pos)
{
    if (auto* gauge = dynamic_cast<wxGauge*>(FindWindow(IDC_PROGRESS))) {
        gauge->SetValue(std::clamp(pos, 0, 100));
    }
}

void CUpdateDialogWindow::MessageBox(const CString& text, const CString& caption)
{
    m_requests.RunAndWait([this, message = ToWx(text), title = ToWx(caption)] {
        wxMessageDialog box(this, message, title, wxOK | wxICON_NONE);
        box.ShowModal();
    });
}

void CUpdateDialogWindow::EndDialog(int result)
{
    auto end = [this, result] {
        // Later requests of the worker return at once: the dialog is going.
        m_requests.Close();
        const int code = result == IDOK ? wxID_OK : wxID_CANCEL;
        if (IsModal()) {
            EndModal(code);
        } else {
            SetReturnCode(code);
            Hide();
        }
    };
    if (wxIsMainThread()) {
        end();
    } else {
        m_requests.RunLater(end);
    }
}

void CUpdateDialogWindow::OnClose(wxCloseEvent& event)
{
    m_logic.OnCancel();
    if (IsModal() && event.CanVeto()) {
        event.Veto();  // refused: the logic did not end the dialog
    }
}

void CUpdateDialogWindow::OnCancelCommand(wxCommandEvent&) { m_logic.OnCancel(); }

void CUpdateDialogWindow::OnCharHook(wxKeyEvent& event)
{
    if (event.GetKeyCode() == WXK_ESCAPE && event.GetModifiers() == wxMOD_NONE) {
        m_logic.OnCancel();
        return;
    }
    event.Skip();
}

void CUpdateDialogWindow::OnStartCommand(wxCommandEvent&) { m_logic.StartUpdate(); }

void CUpdateDialogWindow::OnPostedMessage(wxThreadEvent& event)
{
    const auto message = event.GetPayload<PostedMessage>();
    m_logic.OnPostedMessage(message.message, message.wParam, message.lParam);
}
