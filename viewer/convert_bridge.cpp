#include "viewer/convert_bridge.h"

#include "platform/dynlib.h"
#include "platform/files.h"

namespace {

// The library's exports: two zero-terminated UTF-16 paths, a one-byte result.
using ConvertExport = bool (*)(const char16_t* source, const char16_t* target);

const char* ExportFor(int kind)
{
    switch (kind) {
    case CONVERT_DOC:
        return "DocToHtml";
    case CONVERT_MHT:
        return "MhtToHtml";
    default:
        return nullptr;  // PDF documents are never converted
    }
}

// The library is a plug-in of the platform and takes the platform's own paths,
// while the viewer builds its paths with "\" separators.
CString NativeForm(const char16_t* path) { return platform::PathText(platform::ToPath(path)); }

}  // namespace

bool ConvertToHtml(const char16_t* source, const char16_t* target, int kind)
{
    if (source == nullptr || target == nullptr) {
        return false;
    }
    platform::DeleteFileW(platform::ToPath(target));

    platform::HMODULE library = platform::LoadLibraryW(platform::LibraryFileName(u"Docvert_u"));
    if (library == nullptr) {
        return false;
    }
    const char* name = ExportFor(kind);
    auto convert = name != nullptr ? reinterpret_cast<ConvertExport>(platform::GetProcAddress(library, name)) : nullptr;
    bool converted = false;
    if (convert != nullptr) {
        const CString from = NativeForm(source);
        const CString to = NativeForm(target);
        // A library that reports success without writing the page would make
        // the viewer show nothing, or an old page; that is a failure too.
        converted = convert(from.c_str(), to.c_str()) && platform::PathExists(platform::ToPath(target));
    }
    platform::FreeLibrary(library);
    return converted;
}

bool WarmUpConverter(int kind)
{
    if (kind != CONVERT_DOC) {
        return false;
    }
    platform::HMODULE library = platform::LoadLibraryW(platform::LibraryFileName(u"Docvert_u"));
    if (library == nullptr) {
        return false;
    }
    // Optional: libraries before the resident converter do not export it.
    using WarmUpExport = bool (*)();
    auto warmUp = reinterpret_cast<WarmUpExport>(platform::GetProcAddress(library, "DocvertWarmUp"));
    const bool started = warmUp != nullptr && warmUp();
    platform::FreeLibrary(library);
    return started;
}
