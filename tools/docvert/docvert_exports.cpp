// The library's exports: two conversions and a warm-up. Both take zero-terminated UTF-16 paths in the
// platform's own form and return a one-byte boolean; no exception and no
// partial output ever leaves them.
#include <glib.h>

#include <filesystem>
#include <optional>
#include <string>

#include "tools/docvert/doc_converter.h"
#include "tools/docvert/mht_converter.h"
#include "tools/docvert/service_link.h"
#include "tools/docvert/temp_folder.h"

namespace {

std::optional<std::filesystem::path> NativePath(const char16_t* path)
{
    if (path == nullptr || *path == u'\0') {
        return std::nullopt;
    }
    gchar* utf8 = g_utf16_to_utf8(reinterpret_cast<const gunichar2*>(path), -1, nullptr, nullptr, nullptr);
    if (utf8 == nullptr) {
        return std::nullopt;
    }
    std::filesystem::path native(utf8);
    g_free(utf8);
    return native;
}

template <typename Convert>
bool Run(const char16_t* source, const char16_t* target, Convert convert)
{
    try {
        const std::optional<std::filesystem::path> from = NativePath(source);
        const std::optional<std::filesystem::path> to = NativePath(target);
        if (!from || !to) {
            return false;
        }
        const std::optional<std::string> html = convert(*from);
        return html && docvert::WriteWholeFile(*to, *html);
    } catch (...) {
        return false;  // out of memory, mostly; the host sees a failed conversion
    }
}

}  // namespace

extern "C" __attribute__((visibility("default"))) bool DocToHtml(const char16_t* source, const char16_t* target)
{
    return Run(source, target, [](const std::filesystem::path& from) -> std::optional<std::string> {
        docvert::DocConverterPrograms programs;
        programs.service = docvert::ServiceProgramBesideLibrary();
        std::optional<docvert::DocConversion> conversion = docvert::ConvertDocToHtml(from, programs);
        return conversion ? std::optional<std::string>(std::move(conversion->html)) : std::nullopt;
    });
}

extern "C" __attribute__((visibility("default"))) bool MhtToHtml(const char16_t* source, const char16_t* target)
{
    return Run(source, target, [](const std::filesystem::path& from) -> std::optional<std::string> {
        std::string bytes;
        if (!docvert::ReadWholeFile(from, bytes)) {
            return std::nullopt;
        }
        return docvert::ConvertMhtToHtml(bytes);
    });
}

// Starts the resident converter, when there is one and it does not run yet,
// without waiting for it: a host that knows a Word document is coming calls
// this early, so that the office is loaded by the time the document is there.
extern "C" __attribute__((visibility("default"))) bool DocvertWarmUp()
{
    try {
        docvert::ServiceSettings settings;
        settings.program = docvert::ServiceProgramBesideLibrary();
        return docvert::StartService(settings, false);
    } catch (...) {
        return false;
    }
}
