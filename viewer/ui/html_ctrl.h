// The viewer's HTML view: the toolkit's web view used as a plain child control,
// with copying, printing, reloading and page scripts taken away from the shown
// document, and confined to local files: it shows the pages it is told to
// show, loads nothing from the network and follows no link or redirection.
#pragma once

#include <functional>
#include <set>
#include <string>
#include <vector>

#include <wx/gdicmn.h>

#include "platform/types.h"

class wxWebView;
class wxWebViewEvent;
class wxWindow;

class CHtmlCtrl {
public:
    using PageEvent = std::function<void(const std::string& nativePath)>;

    struct Events {
        PageEvent loaded;   // a page finished loading
        PageEvent failed;   // a page could not be shown (a type the view cannot show)
    };

    // Creates the view as a child of parent, at rect, with the given id; it
    // may load files under `folders` (native paths) and nothing else. False
    // (and no view; later navigations do nothing) when the toolkit cannot make
    // a web view or the view cannot be confined.
    bool Create(wxWindow* parent, const wxRect& rect, int id, Events events,
                const std::vector<std::string>& folders);

    // Shows the local file at path (a program path). Does nothing without a view.
    void Navigate(const CString& path);

    // The view, or null when Create failed.
    wxWebView* GetView() const { return m_view; }

private:
    void OnLoaded(wxWebViewEvent& event);
    void OnError(wxWebViewEvent& event);
    void OnNavigating(wxWebViewEvent& event);

    wxWebView* m_view = nullptr;  // owned by its parent window
    Events m_events;
    std::set<std::string> m_requested;  // native paths of the pages asked for
};

// The script added to every page before the page's own content: cancels Ctrl
// and F5 keys, the context menu, selection and dragging, shows the arrow
// cursor over text, and makes form fields inert (disabled, out of reach of the
// mouse and of the keyboard) so that no text of them can be selected.
extern const char* const HTML_CTRL_GUARD_SCRIPT;
