#include "about_dlg.h"

#include <wx/button.h>
#include <wx/sizer.h>
#include <wx/statbmp.h>
#include <wx/stattext.h>

#include "ui/wx_text.h"
#include "viewer/cvglance_dlg.h"

CAboutDlg::CAboutDlg(wxWindow* parent, const wxIcon& icon)
    : wxDialog(parent, wxID_ANY, ToWx(VIEWER_ABOUT_TITLE))
{
    auto* row = new wxBoxSizer(wxHORIZONTAL);
    if (icon.IsOk()) {
        row->Add(new wxStaticBitmap(this, wxID_ANY, icon), wxSizerFlags().Border(wxALL, 10));
    }
    row->Add(new wxStaticText(this, wxID_ANY, ToWx(VIEWER_ABOUT_LINE)),
             wxSizerFlags(1).Align(wxALIGN_CENTER_VERTICAL).Border(wxALL, 10));

    auto* column = new wxBoxSizer(wxVERTICAL);
    column->Add(row, wxSizerFlags(1).Expand());
    auto* ok = new wxButton(this, wxID_OK, wxString::FromUTF8("确定"));
    ok->SetDefault();
    column->Add(ok, wxSizerFlags().Align(wxALIGN_RIGHT).Border(wxALL, 10));
    SetSizerAndFit(column);
    CentreOnParent();
}
