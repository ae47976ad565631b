#include "platform/module_path.h"

#include "platform/wide_win.h"

namespace platform {

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
