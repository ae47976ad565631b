#include "platform/install_lock.h"

#include <fcntl.h>
#include <io.h>

#include "platform/wide_win.h"

namespace platform {
namespace {

// Windows locks byte ranges of files, not folders. The lock lives on a file of
// its own in the folder, opened without delete sharing so that nothing can
// replace or remove it while it is held; no update carries a file of this name.
constexpr wchar_t kLockFileName[] = L"MorvexUpdate.lock";

}  // namespace

InstallLock::~InstallLock() { Release(); }

bool InstallLock::Acquire(const Path& folder) { return Lock(folder, true); }

bool InstallLock::TryAcquire(const Path& folder) { return Lock(folder, false); }

bool InstallLock::Lock(const Path& folder, bool wait)
{
    Release();
    std::wstring path = folder.empty() ? std::wstring(L".") : folder.native();
    if (path.back() != L'\\') {
        path += L'\\';
    }
    path += kLockFileName;
    // Not inherited: a program we start must not keep the installation locked.
    HANDLE file = ::CreateFileW(path.c_str(), GENERIC_READ | GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE,
                                nullptr, OPEN_ALWAYS, FILE_ATTRIBUTE_HIDDEN, nullptr);
    if (file == INVALID_HANDLE_VALUE) {
        return false;
    }
    OVERLAPPED at{};
    const DWORD flags = LOCKFILE_EXCLUSIVE_LOCK | (wait ? 0 : LOCKFILE_FAIL_IMMEDIATELY);
    if (!::LockFileEx(file, flags, 0, 1, 0, &at)) {
        ::CloseHandle(file);
        return false;
    }
    // Kept as a C runtime descriptor, the form the class holds on every system.
    const int fd = ::_open_osfhandle(reinterpret_cast<intptr_t>(file), _O_RDWR);
    if (fd < 0) {
        ::CloseHandle(file);
        return false;
    }
    m_fd = fd;
    return true;
}

void InstallLock::Release()
{
    if (m_fd >= 0) {
        OVERLAPPED at{};
        ::UnlockFileEx(reinterpret_cast<HANDLE>(::_get_osfhandle(m_fd)), 0, 1, 0, &at);
        ::_close(m_fd);
        m_fd = -1;
    }
}

}  // namespace platform
