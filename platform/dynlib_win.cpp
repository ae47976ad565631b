#include "platform/dynlib.h"

#include "platform/wide_win.h"

namespace platform {

CString LibraryFileName(const CString& baseName) { return baseName + u".dll"; }

HMODULE LoadLibraryW(const CString& fileName)
{
    if (fileName.empty()) {
        return nullptr;
    }
    // The system's own search starts in the program's folder, as wanted; a
    // path is loaded as it stands.
    const std::wstring name = win::NativeWide(fileName);
    return reinterpret_cast<HMODULE>(::LoadLibraryW(name.c_str()));
}

void* GetProcAddress(HMODULE module, const char* name)
{
    if (module == nullptr || name == nullptr) {
        return nullptr;
    }
    return reinterpret_cast<void*>(::GetProcAddress(static_cast<::HMODULE>(module), name));
}

bool FreeLibrary(HMODULE module)
{
    return module != nullptr && ::FreeLibrary(static_cast<::HMODULE>(module)) != 0;
}

}  // namespace platform
