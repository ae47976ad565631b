#include "platform/install_lock.h"

#include <fcntl.h>
#include <sys/file.h>
#include <unistd.h>

#include <cerrno>


namespace platform {

InstallLock::~InstallLock() { Release(); }

bool InstallLock::Acquire(const Path& folder) { return Lock(folder, true); }

bool InstallLock::TryAcquire(const Path& folder) { return Lock(folder, false); }

bool InstallLock::Lock(const Path& folder, bool wait)
{
    Release();
    // Close-on-exec: a program we start (the product, above all) must not
    // inherit the descriptor and keep the installation locked after we end.
    const int fd = open(folder.empty() ? "." : folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (fd < 0) {
        return false;
    }
    int result;
    while ((result = flock(fd, wait ? LOCK_EX : LOCK_EX | LOCK_NB)) != 0 && errno == EINTR) {
    }
    if (result != 0) {
        close(fd);
        return false;
    }
    m_fd = fd;
    return true;
}

void InstallLock::Release()
{
    if (m_fd >= 0) {
        flock(m_fd, LOCK_UN);
        close(m_fd);
        m_fd = -1;
    }
}

}  // namespace platform
