// A conversion library that knows web archives only: it has "MhtToHtml" and
// no "DocToHtml", as a library of an older product generation would.
#include <glib.h>

#include <string>

#include "tools/docvert/mht_converter.h"
#include "tools/docvert/temp_folder.h"

extern "C" __attribute__((visibility("default"))) bool MhtToHtml(const char16_t* source, const char16_t* target)
{
    if (source == nullptr || target == nullptr) {
        return false;
    }
    gchar* from = g_utf16_to_utf8(reinterpret_cast<const gunichar2*>(source), -1, nullptr, nullptr, nullptr);
    gchar* to = g_utf16_to_utf8(reinterpret_cast<const gunichar2*>(target), -1, nullptr, nullptr, nullptr);
    bool converted = false;
    std::string bytes;
    if (from != nullptr && to != nullptr && docvert::ReadWholeFile(from, bytes)) {
        const std::optional<std::string> html = docvert::ConvertMhtToHtml(bytes);
        converted = html && docvert::WriteWholeFile(to, *html);
    }
    g_free(from);
    g_free(to);
    return converted;
}
