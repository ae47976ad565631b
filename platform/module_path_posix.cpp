#include "platform/module_path.h"

#include <unistd.h>

#include <array>
#include <string>

namespace platform {

Path ModulePath()
{
    // The program's own path as the kernel records it; symbolic links used to
    // start the program are already resolved.
    std::array<char, 4096> buffer{};
    const ssize_t n = ::readlink("/proc/self/exe", buffer.data(), buffer.size());
    if (n <= 0 || static_cast<std::size_t>(n) >= buffer.size()) {
        return {};
    }
    return std::string(buffer.data(), static_cast<std::size_t>(n));
}

CString GetModulePath()
{
    const Path path = ModulePath();
    if (path.empty()) {
        return u"Error";
    }
    CString text = PathText(path);
    // Callers size their path buffers at 260 units, terminator included.
    constexpr std::size_t kMaxUnits = 259;
    if (text.size() > kMaxUnits) {
        text.resize(kMaxUnits);
    }
    return text;
}

}  // namespace platform
