#include "html_ctrl.h"

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
  var fields = 'input, textarea, select, button, [contenteditable]';
  css += ' input, textarea, select, button { pointer-events: none !important; }';
  function addStyle() {
    var root = document.head || document.documentElement;
    if (!root) { return false; }
    var style = document.createElement('style');
    style.textContent = css;
    root.appendChild(style);
    return true;
  }
  if (!addStyle()) { document.addEventListener('DOMContentLoaded', addStyle, true); }
  // Editable fields select text whatever the style says, and a selection
  // there reaches the primary selection; no field may take the mouse, the
  // focus or the keyboard.
  function freeze() {
    document.querySelectorAll(fields).forEach(function (e) {
      e.disabled = true; e.readOnly = true; e.tabIndex = -1;
      if (e.hasAttribute('contenteditable')) { e.contentEditable = 'false'; }
    });
    document.designMode = 'off';
  }
  document.addEventListener('DOMContentLoaded', freeze, true);
  window.addEventListener('focusin', function (e) {
    if (e.target && e.target !== document.body && e.target.blur) { e.target.blur(); }
  }, true);
  ['mousedown', 'dblclick', 'select'].forEach(function (type) {
    window.addEventListener(type, function (e) {
      if (e.target && e.target.closest && e.target.closest(fields)) { return cancel(e); }
    }, true);
  });
})();)JS";

namespace {

// The native path of a file: URL; empty for any other URL.
std::string NativePathOfUrl(const wxString& url)
{
    return url.StartsWith("file:") ? wxFileSystem::URLToFileName(url).GetFullPath().utf8_string()
                                   : std::string();
}

}  // namespace

bool CHtmlCtrl::Create(wxWindow* parent, const wxRect& rect, int id, Events events,
                       const std::vector<std::string>& folders)
{
    m_events = std::move(events);
    wxWebView* view = wxWebView::New(parent, id, wxWebViewDefaultURLStr, rect.GetPosition(),
                                     rect.GetSize());
    if (view == nullptr) {
        return false;
    }
    // A view that could fetch from the network is no view for documents.
    if (!ConfineToFolders(view, folders)) {
        view->Destroy();
        return false;
    }
    m_view = view;
    m_view->EnableContextMenu(false);
    m_view->AddUserScript(HTML_CTRL_GUARD_SCRIPT, wxWEBVIEW_INJECT_AT_DOCUMENT_START);
    DisablePageScripts(m_view);
    GuardKeys(m_view);
    m_view->Bind(wxEVT_WEBVIEW_LOADED, &CHtmlCtrl::OnLoaded, this);
    m_view->Bind(wxEVT_WEBVIEW_ERROR, &CHtmlCtrl::OnError, this);
    m_view->Bind(wxEVT_WEBVIEW_NAVIGATING, &CHtmlCtrl::OnNavigating, this);
    // The shown document may ask for new windows; it gets none.
    m_view->Bind(wxEVT_WEBVIEW_NEWWINDOW, [](wxWebViewEvent&) {});
    return true;
}

void CHtmlCtrl::Navigate(const CString& path)
{
    if (m_view == nullptr) {
        return;
    }
    const std::string native = platform::NativePath(path);
    const std::string url = LocalFileUrl(native);
    if (url.empty()) {
        return;
    }
    m_requested.insert(wxFileSystem::URLToFileName(wxString::FromUTF8(url)).GetFullPath().utf8_string());
    m_view->LoadURL(wxString::FromUTF8(url));
}

void CHtmlCtrl::OnLoaded(wxWebViewEvent& event)
{
    // The loading page cut short by the document's own load "finishes" under
    // the document's address: the document is not loaded yet (its own files
    // may not even be in place), and its real end comes later.
    if (StillLoading(m_view)) {
        return;
    }
    const std::string native = NativePathOfUrl(event.GetURL());
    if (m_events.loaded && !native.empty()) {
        m_events.loaded(native);
    }
}

void CHtmlCtrl::OnError(wxWebViewEvent& event)
{
    const std::string native = NativePathOfUrl(event.GetURL());
    if (m_events.failed && !native.empty()) {
        m_events.failed(native);
    }
}

void CHtmlCtrl::OnNavigating(wxWebViewEvent& event)
{
    // The view goes where the viewer sends it (a link within the page
    // included) and nowhere else: no link, form or refresh leads away.
    const wxString url = event.GetURL().BeforeFirst('#');
    if (url == wxWebViewDefaultURLStr || m_requested.count(NativePathOfUrl(url)) != 0) {
        return;
    }
    event.Veto();
}
