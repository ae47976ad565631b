#include "platform/dynlib.h"

#include <dlfcn.h>
#include <unistd.h>

#include <string>

#include "platform/codepage.h"
#include "platform/files.h"
#include "platform/module_path.h"

namespace platform {
namespace {

std::string ProgramFolder()
{
    const CString module = GetModulePath();
    if (module == u"Error") {
        return {};
    }
    const std::string path = Utf16ToUtf8(module);
    const std::size_t slash = path.rfind('/');
    return slash == std::string::npos ? std::string() : path.substr(0, slash);
}

}  // namespace

CString LibraryFileName(const CString& baseName) { return u"lib" + baseName + u".so"; }

HMODULE LoadLibraryW(const CString& fileName)
{
    if (fileName.empty()) {
        return nullptr;
    }
    constexpr int kFlags = RTLD_NOW | RTLD_LOCAL;
    if (fileName.find_first_of(u"/\\") != CString::npos) {
        return dlopen(NativePath(fileName).c_str(), kFlags);
    }
    const std::string name = Utf16ToUtf8(fileName);
    if (const std::string folder = ProgramFolder(); !folder.empty()) {
        const std::string beside = folder + "/" + name;
        if (access(beside.c_str(), F_OK) == 0) {
            return dlopen(beside.c_str(), kFlags);
        }
    }
    // Without a slash, dlopen searches the way the system loader does.
    return dlopen(name.c_str(), kFlags);
}

void* GetProcAddress(HMODULE module, const char* name)
{
    if (module == nullptr || name == nullptr) {
        return nullptr;
    }
    return dlsym(module, name);
}

bool FreeLibrary(HMODULE module) { return module != nullptr && dlclose(module) == 0; }

}  // namespace platform
