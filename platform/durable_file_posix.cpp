#include "platform/durable_file.h"

#include <dirent.h>
#include <fcntl.h>
#include <signal.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <vector>

#include "platform/file_output.h"
#include "platform/files.h"

namespace platform {

namespace {

std::string DirectoryOf(const std::string& path)
{
    const auto slash = path.rfind('/');
    if (slash == std::string::npos) {
        return ".";
    }
    return slash == 0 ? "/" : path.substr(0, slash);
}

// Flushes a file's content, or a directory's entries, to the disk.
bool SyncNative(const std::string& path)
{
    const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0) {
        return false;
    }
    const bool synced = ::fsync(fd) == 0;
    ::close(fd);
    return synced;
}

}  // namespace

bool WriteFileDurably(const Path& path, const std::string& bytes)
{
    const std::string& target = path.native();
    const std::string temp = target + ".tmp";
    const int fd = ::open(temp.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
    if (fd < 0) {
        return false;
    }
    bool written = WriteAll(fd, bytes.data(), bytes.size()) && ::fsync(fd) == 0;
    written = ::close(fd) == 0 && written;
    if (!written || ::rename(temp.c_str(), target.c_str()) != 0) {
        ::unlink(temp.c_str());
        return false;
    }
    return SyncNative(DirectoryOf(target));
}

bool OverwriteFileDurably(const Path& path, const std::string& bytes) { return WriteFileDurably(path, bytes); }

bool SyncDirectory(const Path& path) { return SyncNative(path.native()); }

DurableLog::~DurableLog() { Close(); }

bool DurableLog::Open(const Path& path)
{
    Close();
    m_fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_APPEND | O_CLOEXEC, 0644);
    return m_fd >= 0;
}

bool DurableLog::Append(const std::string& line)
{
    return AppendAll({line});
}

bool DurableLog::AppendAll(const std::vector<std::string>& lines)
{
    if (m_fd < 0) {
        return false;
    }
    if (lines.empty()) {
        return true;
    }
    std::string records;
    for (const std::string& line : lines) {
        records += line;
        records += '\n';
    }
    return WriteAll(m_fd, records.data(), records.size()) && ::fdatasync(m_fd) == 0;
}

void DurableLog::Close()
{
    if (m_fd >= 0) {
        ::close(m_fd);
        m_fd = -1;
    }
}

bool KeepFileAside(const Path& from, const Path& to, bool* linked)
{
    const std::string& source = from.native();
    const std::string& target = to.native();
    if (linked != nullptr) {
        *linked = false;
    }
    struct stat st {};
    if (::lstat(source.c_str(), &st) != 0) {
        return false;
    }
    // A hard link shares the old inode; the archive replaces a file by renaming
    // a new one over it, so the linked inode keeps the old content. linkat
    // without AT_SYMLINK_FOLLOW links a symbolic link itself.
    if (::linkat(AT_FDCWD, source.c_str(), AT_FDCWD, target.c_str(), 0) == 0) {
        if (linked != nullptr) {
            *linked = true;
        }
        return true;
    }
    if (S_ISLNK(st.st_mode)) {
        std::vector<char> buffer(static_cast<std::size_t>(st.st_size) + 1);
        const ssize_t length = ::readlink(source.c_str(), buffer.data(), buffer.size());
        if (length < 0 || static_cast<std::size_t>(length) >= buffer.size()) {
            return false;
        }
        return ::symlink(std::string(buffer.data(), static_cast<std::size_t>(length)).c_str(), target.c_str()) == 0;
    }
    if (!S_ISREG(st.st_mode)) {
        return false;
    }
    if (!CopyFileNoReplace(from, to)) {
        return false;  // an existing target is left alone
    }
    if (!SyncNative(target)) {
        ::unlink(target.c_str());
        return false;
    }
    return true;
}

unsigned long CurrentProcessId() { return static_cast<unsigned long>(::getpid()); }

void RemoveStaleReplacementFiles(const Path& directory, unsigned long pid)
{
    // The names ReplacementFile gives its temporary files.
    const std::string prefix = ".~arc" + std::to_string(pid) + ".";
    const std::string native = directory.empty() ? std::string(".") : directory.native();
    DIR* dir = ::opendir(native.c_str());
    if (dir == nullptr) {
        return;
    }
    std::vector<std::string> stale;
    while (const dirent* entry = ::readdir(dir)) {
        const std::string name = entry->d_name;
        if (name.compare(0, prefix.size(), prefix) == 0) {
            stale.push_back(name);
        }
    }
    ::closedir(dir);
    for (const std::string& name : stale) {
        ::unlink((native + "/" + name).c_str());
    }
}

void EndProcessAbruptly()
{
    ::kill(::getpid(), SIGKILL);
    std::_Exit(137);
}

}  // namespace platform
