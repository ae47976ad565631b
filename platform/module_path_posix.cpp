#include "platform/module_path.h"

#include <unistd.h>

#include <array>

#include "platform/codepage.h"

namespace platform {

CString GetModulePath()
{
    // The program's own path as the kernel records it; symbolic links used to
    // start the program are already resolved.
    std::array<char, 4096> buffer{};
    const ssize_t n = ::readlink("/proc/self/exe", buffer.data(), buffer.size());
    if (n <= 0 || static_cast<std::size_t>(n) >= buffer.size()) {
        return u"Error";
    }
    CString path = Utf8ToUtf16(std::string_view(buffer.data(), static_cast<std::size_t>(n)));
    // Callers size their path buffers at 260 units, terminator included.
    constexpr std::size_t kMaxUnits = 259;
    if (path.size() > kMaxUnits) {
        path.resize(kMaxUnits);
    }
    return path;
}

}  // namespace platform
