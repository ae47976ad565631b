#include "webkit_native.h"

#include <wx/webview.h>

#if wxUSE_WEBVIEW_WEBKIT2
#include <dlfcn.h>
#include <glib-object.h>
#endif

#if wxUSE_WEBVIEW_WEBKIT2
namespace {

// The toolkit's web view library is already loaded with the program; its
// development headers are not needed for the few calls made here, which are
// looked up by name in the running process instead.
template <typename Function>
Function LookUp(const char* name)
{
    return reinterpret_cast<Function>(dlsym(RTLD_DEFAULT, name));
}

using GetSettingsFn = void* (*)(void* webView);
using SetBooleanFn = void (*)(void* settings, gboolean value);
using GetEventUintFn = gboolean (*)(const void* event, guint* value);

// Key values and modifier bits of the toolkit's key events.
constexpr guint kControlMask = 1u << 2;
constexpr guint kKeyF5 = 0xffc2;

GetEventUintFn g_getEventState = nullptr;
GetEventUintFn g_getEventKeyval = nullptr;

gboolean OnNativeKeyPress(void* /*widget*/, void* event, gpointer /*data*/)
{
    guint state = 0;
    guint keyval = 0;
    g_getEventState(event, &state);
    g_getEventKeyval(event, &keyval);
    // TRUE ends the signal here, before the web view's own key handling runs.
    return (state & kControlMask) != 0 || keyval == kKeyF5 ? TRUE : FALSE;
}

}  // namespace

bool DisablePageScripts(wxWebView* view)
{
    auto getSettings = LookUp<GetSettingsFn>("webkit_web_view_get_settings");
    auto setMarkup = LookUp<SetBooleanFn>("webkit_settings_set_enable_javascript_markup");
    void* native = view != nullptr ? view->GetNativeBackend() : nullptr;
    if (getSettings == nullptr || setMarkup == nullptr || native == nullptr) {
        return false;
    }
    void* settings = getSettings(native);
    if (settings == nullptr) {
        return false;
    }
    setMarkup(settings, FALSE);
    return true;
}

bool SwallowCtrlAndF5Keys(wxWebView* view)
{
    g_getEventState = LookUp<GetEventUintFn>("gdk_event_get_state");
    g_getEventKeyval = LookUp<GetEventUintFn>("gdk_event_get_keyval");
    void* native = view != nullptr ? view->GetNativeBackend() : nullptr;
    if (g_getEventState == nullptr || g_getEventKeyval == nullptr || native == nullptr) {
        return false;
    }
    const auto handler = reinterpret_cast<GCallback>(&OnNativeKeyPress);
    return g_signal_connect_data(native, "key-press-event", handler, nullptr, nullptr,
                                 GConnectFlags{}) != 0;
}

#else

bool DisablePageScripts(wxWebView* /*view*/) { return false; }
bool SwallowCtrlAndF5Keys(wxWebView* /*view*/) { return false; }

#endif
