#include "html_ctrl.h"

#include <wx/filename.h>
#include <wx/filesys.h>
#include <wx/webview.h>

#include "platform/files.h"
#include "webkit_native.h"

const char* const HTML_CTRL_GUARD_SCRIPT = R"JS((function () {
  function cancel(e) { e.preventDefault(); e.stopImmediatePropagation(); return false; }
  window.addEventListener('keydown', function (e) {
    if (e.ctrlKey || e.key === 'F5' || e.keyCode === 116) { return cancel(e); }
  }, true);
  ['contextmenu', 'selectstart', 'dragstart'].forEach(function (type) {
    window.addEventListener(type, cancel, true);
  });
  var css = '*, *::before, *::after { -webkit-user-select: none !important;' +
            ' user-select: none !important; cursor: default !important; }' +
            ' a[href], a[href] * { cursor: pointer !important; }';
  function addStyle() {
    var root = document.head || document.documentElement;
    if (!root) { return false; }
    var style = document.createElement('style');
    style.textContent = css;
    root.appendChild(style);
    return true;
  }
  if (!addStyle()) { document.addEventListener('DOMContentLoaded', addStyle, true); }
})();)JS";

bool CHtmlCtrl::Create(wxWindow* parent, const wxRect& rect, int id, PageLoaded onPageLoaded)
{
    m_onPageLoaded = std::move(onPageLoaded);
    wxWebView* view = wxWebView::New(parent, id, wxWebViewDefaultURLStr, rect.GetPosition(),
                                     rect.GetSize());
    if (view == nullptr) {
        return false;
    }
    m_view = view;
    m_view->EnableContextMenu(false);
    m_view->AddUserScript(HTML_CTRL_GUARD_SCRIPT, wxWEBVIEW_INJECT_AT_DOCUMENT_START);
    DisablePageScripts(m_view);
    SwallowCtrlAndF5Keys(m_view);
    m_view->Bind(wxEVT_WEBVIEW_LOADED, &CHtmlCtrl::OnLoaded, this);
    // The shown document may ask for new windows; it gets none.
    m_view->Bind(wxEVT_WEBVIEW_NEWWINDOW, [](wxWebViewEvent&) {});
    return true;
}

void CHtmlCtrl::Navigate(const CString& path)
{
    if (m_view == nullptr) {
        return;
    }
    const wxFileName file(wxString::FromUTF8(platform::NativePath(path)));
    m_view->LoadURL(wxFileSystem::FileNameToURL(file));
}

void CHtmlCtrl::OnLoaded(wxWebViewEvent& event)
{
    const wxString url = event.GetURL();
    if (m_onPageLoaded && url.StartsWith("file:")) {
        m_onPageLoaded(wxFileSystem::URLToFileName(url).GetFullPath().utf8_string());
    }
}
