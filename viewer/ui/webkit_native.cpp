#include "webkit_native.h"

#include <wx/webview.h>

#if wxUSE_WEBVIEW_WEBKIT2
#include <filesystem>
#include <string_view>

#include <gdk/gdkkeysyms.h>
#include <webkit2/webkit2.h>
#endif

#if wxUSE_WEBVIEW_WEBKIT2
namespace {

WebKitWebView* NativeView(wxWebView* view)
{
    void* native = view != nullptr ? view->GetNativeBackend() : nullptr;
    return native != nullptr ? WEBKIT_WEB_VIEW(native) : nullptr;
}

// A URL prefix as a rule's pattern: the few characters a URL may hold that
// the pattern language treats specially are escaped (twice: once for the
// pattern, once for the JSON text around it).
std::string PatternOf(const std::string& urlPrefix)
{
    std::string pattern = "^";
    for (const char c : urlPrefix) {
        if (std::string_view(".*+?()[]{}|^$\\").find(c) != std::string_view::npos) {
            pattern += "\\\\";
        }
        pattern += c;
    }
    return pattern;
}

// Block everything, then let through what lies under the folders.
std::string RulesFor(const std::vector<std::string>& folders)
{
    std::string rules = R"([{"trigger":{"url-filter":".*"},"action":{"type":"block"}})";
    const auto allow = [&rules](const std::string& pattern) {
        rules += R"(,{"trigger":{"url-filter":")" + pattern +
                 R"(","url-filter-is-case-sensitive":true},"action":{"type":"ignore-previous-rules"}})";
    };
    for (const std::string& folder : folders) {
        std::string prefix = LocalFileUrl(folder);
        if (prefix.empty()) {
            continue;
        }
        if (prefix.back() != '/') {
            prefix += '/';
        }
        allow(PatternOf(prefix));
    }
    allow("^data:");
    allow("^about:blank$");
    return rules + "]";
}

struct FilterSaving {
    WebKitUserContentFilter* filter = nullptr;
    bool done = false;
};

void OnFilterSaved(GObject* store, GAsyncResult* result, gpointer data)
{
    auto* saving = static_cast<FilterSaving*>(data);
    saving->filter = webkit_user_content_filter_store_save_finish(
        WEBKIT_USER_CONTENT_FILTER_STORE(store), result, nullptr);
    saving->done = true;
}

gboolean OnNativeKeyPress(GtkWidget* /*widget*/, GdkEventKey* event, gpointer /*data*/)
{
    // TRUE ends the signal here, before the web view's own key handling runs.
    return (event->state & GDK_CONTROL_MASK) != 0 || event->keyval == GDK_KEY_F5 ||
                   event->keyval == GDK_KEY_F7
               ? TRUE
               : FALSE;
}

}  // namespace

bool DisablePageScripts(wxWebView* view)
{
    WebKitWebView* native = NativeView(view);
    WebKitSettings* settings = native != nullptr ? webkit_web_view_get_settings(native) : nullptr;
    if (settings == nullptr) {
        return false;
    }
    webkit_settings_set_enable_javascript_markup(settings, FALSE);
    webkit_settings_set_enable_caret_browsing(settings, FALSE);
    return true;
}

std::string LocalFileUrl(const std::string& nativePath)
{
    // The view writes a URL without "." and ".." steps.
    std::error_code error;
    const std::filesystem::path absolute = std::filesystem::absolute(nativePath, error);
    if (error) {
        return {};
    }
    gchar* uri = g_filename_to_uri(absolute.lexically_normal().c_str(), nullptr, nullptr);
    if (uri == nullptr) {
        return {};
    }
    std::string url = uri;
    g_free(uri);
    return url;
}

bool ConfineToFolders(wxWebView* view, const std::vector<std::string>& folders)
{
    WebKitWebView* native = NativeView(view);
    if (native == nullptr) {
        return false;
    }
    // The rules are compiled into a store of files; the compiled rules stay
    // mapped in memory once made, so the store is this process's alone and
    // goes away at once.
    gchar* storePath = g_dir_make_tmp("cvglance-rules-XXXXXX", nullptr);
    if (storePath == nullptr) {
        return false;
    }
    WebKitUserContentFilterStore* store = webkit_user_content_filter_store_new(storePath);
    const std::string rules = RulesFor(folders);
    GBytes* source = g_bytes_new(rules.data(), rules.size());
    FilterSaving saving;
    webkit_user_content_filter_store_save(store, "local-only", source, nullptr, OnFilterSaved, &saving);
    while (!saving.done) {
        g_main_context_iteration(nullptr, TRUE);
    }
    g_bytes_unref(source);
    g_object_unref(store);
    std::error_code ignored;
    std::filesystem::remove_all(storePath, ignored);
    g_free(storePath);
    if (saving.filter == nullptr) {
        return false;
    }
    webkit_user_content_manager_add_filter(webkit_web_view_get_user_content_manager(native),
                                           saving.filter);
    webkit_user_content_filter_unref(saving.filter);
    return true;
}

bool GuardKeys(wxWebView* view)
{
    WebKitWebView* native = NativeView(view);
    if (native == nullptr) {
        return false;
    }
    return g_signal_connect_data(native, "key-press-event", G_CALLBACK(&OnNativeKeyPress), nullptr, nullptr,
                                 GConnectFlags{}) != 0;
}

bool StillLoading(wxWebView* view)
{
    WebKitWebView* native = NativeView(view);
    return native != nullptr && webkit_web_view_is_loading(native) != FALSE;
}

#else

bool DisablePageScripts(wxWebView* /*view*/) { return false; }
bool ConfineToFolders(wxWebView* /*view*/, const std::vector<std::string>& /*folders*/) { return false; }
std::string LocalFileUrl(const std::string& /*nativePath*/) { return {}; }
bool GuardKeys(wxWebView* /*view*/) { return false; }
bool StillLoading(wxWebView* /*view*/) { return false; }

#endif
