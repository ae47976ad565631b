#include "platform/path.h"

#include "platform/codepage.h"
#include "platform/wide_win.h"

namespace platform {

// On Windows the native form is UTF-16 with "\" between components, which is
// how the programs write paths already; only "/" needs turning.
Path ToPath(const CString& text)
{
    // Unpaired surrogates are passed through to the wide form unchanged on
    // Windows; the file system accepts them, so no replacement is needed.
    return Path(win::NativeWide(text));
}

CString PathText(const Path& path) { return win::FromWide(path.native()); }

std::string PathUtf8(const Path& path)
{
    return Utf16ToUtf8(win::FromWide(path.native()));
}

}  // namespace platform
