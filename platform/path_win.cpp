#include "platform/path.h"

#include "platform/codepage.h"
#include "platform/wide_win.h"

namespace platform {

// On Windows the native form is UTF-16 with "\" between components, which is
// how the programs write paths already; only "/" needs turning.
Path ToPath(const CString& text)
{
    // Through UTF-8 and back: unpaired surrogates become U+FFFD, as on POSIX,
    // so a path names the same file on both systems.
    return Path(win::NativeWide(Utf8ToUtf16(Utf16ToUtf8(text))));
}

Path Utf8ToPath(std::string_view text)
{
    // Windows file names are UTF-16; bytes that are no UTF-8 have no file
    // name to keep, so they become U+FFFD.
    return Path(win::NativeWide(Utf8ToUtf16(std::string(text))));
}

CString PathText(const Path& path) { return win::FromWide(path.native()); }

std::string PathUtf8(const Path& path)
{
    return Utf16ToUtf8(win::FromWide(path.native()));
}

}  // namespace platform
