#include "platform/files.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <filesystem>
#include <system_error>

#include "platform/file_output.h"
#include "platform/path.h"

namespace platform {
namespace {

// Closes a descriptor when it leaves scope.
class Fd {
public:
    explicit Fd(int fd) : m_fd(fd) {}
    ~Fd()
    {
        if (m_fd >= 0) {
            ::close(m_fd);
        }
    }
    Fd(const Fd&) = delete;
    Fd& operator=(const Fd&) = delete;
    int get() const { return m_fd; }
    // Closes now and reports whether the close (the last chance for a delayed
    // write error) succeeded.
    bool Close()
    {
        const int fd = m_fd;
        m_fd = -1;
        return ::close(fd) == 0;
    }

private:
    int m_fd;
};

bool CopyContents(int from, int to)
{
    char buffer[64 * 1024];
    for (;;) {
        const ssize_t n = ::read(from, buffer, sizeof buffer);
        if (n == 0) {
            return true;
        }
        if (n < 0) {
            if (errno == EINTR) {
                continue;
            }
            return false;
        }
        if (!WriteAll(to, buffer, static_cast<std::size_t>(n))) {
            return false;
        }
    }
}

}  // namespace

std::string NativePath(const CString& path)
{
    return ToPath(path).native();
}

bool DeleteFileW(const Path& path)
{
    const char* native = path.c_str();
    struct stat st {};
    // Only files: unlink() would also remove a symbolic link to a directory,
    // which is fine, but never a directory itself.
    if (::lstat(native, &st) != 0 || S_ISDIR(st.st_mode)) {
        return false;
    }
    return ::unlink(native) == 0;
}

bool CopyFileNoReplace(const Path& from, const Path& to)
{
    const char* target = to.c_str();
    Fd in(::open(from.c_str(), O_RDONLY | O_CLOEXEC));
    struct stat st {};
    if (in.get() < 0 || ::fstat(in.get(), &st) != 0 || S_ISDIR(st.st_mode)) {
        return false;
    }
    // O_EXCL makes "target exists" and the creation one step, so a file that
    // appears in between is never overwritten.
    Fd out(::open(target, O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, st.st_mode & 0777));
    if (out.get() < 0) {
        return false;
    }
    if (!CopyContents(in.get(), out.get()) || !out.Close()) {
        ::unlink(target);
        return false;
    }
    return true;
}

bool MoveFileReplace(const Path& from, const Path& to)
{
    struct stat st {};
    // rename() would also move a directory; only files are meant here.
    if (::lstat(from.c_str(), &st) != 0 || S_ISDIR(st.st_mode)) {
        return false;
    }
    return ::rename(from.c_str(), to.c_str()) == 0;
}

bool PathExists(const Path& path)
{
    struct stat st {};
    return ::lstat(path.c_str(), &st) == 0;
}

bool IsDirectory(const Path& path)
{
    struct stat st {};
    return ::stat(path.c_str(), &st) == 0 && S_ISDIR(st.st_mode);
}

bool CreateDirectoryW(const Path& path)
{
    return ::mkdir(path.c_str(), 0777) == 0;
}

bool RemoveDirectoryW(const Path& path)
{
    return ::rmdir(path.c_str()) == 0;
}

bool RemoveTree(const Path& path)
{
    std::error_code ec;
    std::filesystem::remove_all(path, ec);
    return !ec;
}

std::FILE* OpenFileStream(const Path& path, const char* mode) { return std::fopen(path.c_str(), mode); }

Path CurrentDirectory()
{
    std::error_code ec;
    const Path cwd = std::filesystem::current_path(ec);
    if (ec) {
        return {};
    }
    std::string text = cwd.native();
    if (text.size() > 1 && text.back() == '/') {
        text.pop_back();
    }
    return text;
}

CString GetCurrentDirectoryW() { return PathText(CurrentDirectory()); }

}  // namespace platform
