// The viewer's HTML view: the toolkit's web view used as a plain child control,
// with copying, printing, reloading and page scripts taken away from the shown
// document.
#pragma once

#include <functional>
#include <string>

#include <wx/gdicmn.h>

#include "platform/types.h"

class wxWebView;
class wxWebViewEvent;
class wxWindow;

class CHtmlCtrl {
public:
    using PageLoaded = std::function<void(const std::string& nativePath)>;

    // Creates the view as a child of parent, at rect, with the given id. False
    // (and no view; later navigations do nothing) when the toolkit cannot make
    // a web view.
    bool Create(wxWindow* parent, const wxRect& rect, int id, PageLoaded onPageLoaded);

    // Shows the local file at path (a program path). Does nothing without a view.
    void Navigate(const CString& path);

    // The view, or null when Create failed.
    wxWebView* GetView() const { return m_view; }

private:
    void OnLoaded(wxWebViewEvent& event);

    wxWebView* m_view = nullptr;  // owned by its parent window
    PageLoaded m_onPageLoaded;
};

// The script added to every page before the page's own content: cancels Ctrl
// and F5 keys, the context menu, selection and dragging, and shows the arrow
// cursor over text.
extern const char* const HTML_CTRL_GUARD_SCRIPT;
