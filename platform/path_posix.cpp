#include "platform/path.h"

#include <algorithm>

#include "platform/codepage.h"

namespace platform {

// On POSIX the native form is UTF-8 with "/" between components; the programs'
// "\" separators are turned into "/" here, once.
Path ToPath(const CString& text) { return Utf8ToPath(Utf16ToUtf8(text)); }

Path Utf8ToPath(std::string_view text)
{
    std::string native(text);
    std::replace(native.begin(), native.end(), '\\', '/');
    return Path(std::move(native));
}

CString PathText(const Path& path)
{
    return Utf8ToUtf16(path.native());
}

std::string PathUtf8(const Path& path)
{
    return path.native();
}

}  // namespace platform
