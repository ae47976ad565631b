#include "platform/module_path.h"

#include "platform/wide_win.h"

namespace platform {

Path ModulePath()
{
    // Paths may be longer than 260 units; the buffer grows until the whole
    // path fits (the system cuts it and reports a full buffer otherwise).
    std::wstring buffer(MAX_PATH, L'\0');
    for (;;) {
        const DWORD size = static_cast<DWORD>(buffer.size());
        const DWORD length = ::GetModuleFileNameW(nullptr, buffer.data(), size);
        if (length == 0) {
            return {};
        }
        if (length < size) {
            buffer.resize(length);
            return Path(buffer);
        }
        if (buffer.size() >= 32768) {
            return {};
        }
        buffer.resize(buffer.size() * 2);
    }
}

CString GetModulePath()
{
    // The same 260-unit buffer the callers size their paths by; a longer path
    // is cut and reported as an error by the system.
    wchar_t buffer[MAX_PATH] = {};
    const DWORD length = ::GetModuleFileNameW(nullptr, buffer, MAX_PATH);
    if (length == 0 || (length == MAX_PATH && ::GetLastError() == ERROR_INSUFFICIENT_BUFFER)) {
        return u"Error";
    }
    return win::FromWide(buffer, length);
}

}  // namespace platform
