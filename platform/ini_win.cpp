#include "platform/ini.h"

#include <vector>

#include "platform/wide_win.h"

namespace platform {

CString GetPrivateProfileStringW(const CString& section, const CString& key,
                                 const CString& defaultValue, std::size_t bufferUnits,
                                 const CString& path)
{
    if (bufferUnits == 0) {
        return {};
    }
    // A bare file name would be looked for in the Windows folder; the programs
    // mean the current directory, so such a name is made relative to it.
    std::wstring file = win::NativeWide(path);
    if (file.find(L'\\') == std::wstring::npos) {
        file.insert(0, L".\\");
    }
    std::vector<wchar_t> buffer(bufferUnits + 1, L'\0');
    const DWORD length = ::GetPrivateProfileStringW(
        win::Wide(section), win::Wide(key), win::Wide(defaultValue), buffer.data(),
        static_cast<DWORD>(bufferUnits), file.c_str());
    return win::FromWide(buffer.data(), length);
}

}  // namespace platform
