#include "platform/file_output.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <cstdio>

#include "platform/files.h"

namespace platform {

namespace {

constexpr std::uint64_t kUnixEpochInFileTime = 116444736000000000ULL;
constexpr std::uint64_t kFileTimeUnitsPerSecond = 10000000ULL;
constexpr mode_t kAnyWrite = S_IWUSR | S_IWGRP | S_IWOTH;

timespec ToTimespec(std::uint64_t fileTime)
{
    timespec ts {};
    if (fileTime == 0) {
        ts.tv_nsec = UTIME_OMIT;
        return ts;
    }
    // File times before 1970 give negative seconds; the remainder is kept
    // non-negative as timespec requires.
    const auto units = static_cast<std::int64_t>(fileTime) - static_cast<std::int64_t>(kUnixEpochInFileTime);
    const auto perSecond = static_cast<std::int64_t>(kFileTimeUnitsPerSecond);
    std::int64_t seconds = units / perSecond;
    std::int64_t rest = units % perSecond;
    if (rest < 0) {
        rest += perSecond;
        --seconds;
    }
    ts.tv_sec = static_cast<time_t>(seconds);
    ts.tv_nsec = static_cast<long>(rest * 100);
    return ts;
}

std::string DirectoryOf(const std::string& path)
{
    const auto slash = path.rfind('/');
    return slash == std::string::npos ? std::string() : path.substr(0, slash + 1);
}

// Opens a new, empty file with a name of its own in `directory`.
FileHandle CreateUniqueFile(const std::string& directory, std::string& createdPath)
{
    static std::atomic<unsigned> counter {0};
    for (int attempt = 0; attempt < 100; ++attempt) {
        char name[48];
        std::snprintf(name, sizeof name, ".~arc%ld.%u", static_cast<long>(::getpid()), counter.fetch_add(1));
        std::string candidate = directory + name;
        const int fd = ::open(candidate.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
        if (fd >= 0) {
            createdPath = std::move(candidate);
            return fd;
        }
        if (errno != EEXIST && errno != EINTR) {
            break;
        }
    }
    return kInvalidFileHandle;
}

bool IsReplaceableNative(const std::string& native, struct stat& st, bool& exists)
{
    exists = false;
    if (::lstat(native.c_str(), &st) != 0) {
        return errno == ENOENT;
    }
    exists = true;
    if (S_ISDIR(st.st_mode)) {
        return false;
    }
    // A symbolic link is replaced itself, never written through.
    if (S_ISLNK(st.st_mode)) {
        return true;
    }
    if ((st.st_mode & kAnyWrite) == 0) {
        return false;
    }
    return ::faccessat(AT_FDCWD, native.c_str(), W_OK, AT_EACCESS) == 0;
}

}  // namespace

bool WriteAll(FileHandle file, const void* data, std::size_t size)
{
    const auto* in = static_cast<const unsigned char*>(data);
    while (size > 0) {
        const ssize_t put = ::write(file, in, size);
        if (put < 0) {
            if (errno == EINTR) {
                continue;
            }
            return false;
        }
        if (put == 0) {
            return false;
        }
        in += put;
        size -= static_cast<std::size_t>(put);
    }
    return true;
}

bool SetFileTimes(FileHandle file, const FileTimes& times)
{
    // The creation time has no counterpart that can be set on Linux: the birth
    // time is kept by the file system and no system call changes it.
    const timespec both[2] = {ToTimespec(times.lastAccess), ToTimespec(times.lastWrite)};
    return ::futimens(file, both) == 0;
}

bool IsReplaceable(const Path& path)
{
    struct stat st {};
    bool exists = false;
    return IsReplaceableNative(path.native(), st, exists);
}

ReplacementFile::~ReplacementFile()
{
    Discard();
}

bool ReplacementFile::Create(const Path& target, unsigned newFilePermissions)
{
    Discard();
    const std::string& native = target.native();
    struct stat st {};
    bool exists = false;
    if (native.empty() || native.back() == '/' || !IsReplaceableNative(native, st, exists)) {
        return false;
    }
    std::string tempPath;
    const FileHandle fd = CreateUniqueFile(DirectoryOf(native), tempPath);
    if (fd == kInvalidFileHandle) {
        return false;
    }
    if (exists && S_ISREG(st.st_mode)) {
        // Replacing a file on Windows keeps its security settings; the closest
        // thing here is its owner and permission bits. Set-id bits are never
        // carried over to new content.
        if (::fchown(fd, st.st_uid, st.st_gid) != 0) {
            // Only the superuser may give a file away; the new file stays ours.
        }
        ::fchmod(fd, st.st_mode & 0777);
    } else if (!exists && newFilePermissions != 0) {
        ::fchmod(fd, static_cast<mode_t>(newFilePermissions & 0777));
    }
    m_file = fd;
    m_tempPath = std::move(tempPath);
    m_targetPath = std::move(native);
    return true;
}

bool ReplacementFile::Write(const void* data, std::size_t size)
{
    return m_file != kInvalidFileHandle && WriteAll(m_file, data, size);
}

CommitResult ReplacementFile::Commit(const FileTimes& times, bool readOnly)
{
    if (m_file == kInvalidFileHandle) {
        return CommitResult::CantReplace;
    }
    if (readOnly) {
        struct stat st {};
        if (::fstat(m_file, &st) == 0) {
            ::fchmod(m_file, st.st_mode & 0777 & ~kAnyWrite);
        }
    }
    SetFileTimes(m_file, times);
    const int closed = ::close(m_file);
    m_file = kInvalidFileHandle;
    if (closed != 0) {
        Discard();
        return CommitResult::WriteFailed;
    }
    if (::rename(m_tempPath.c_str(), m_targetPath.c_str()) != 0) {
        Discard();
        return CommitResult::CantReplace;
    }
    m_tempPath.clear();
    m_targetPath.clear();
    return CommitResult::Replaced;
}

void ReplacementFile::Discard()
{
    if (m_file != kInvalidFileHandle) {
        ::close(m_file);
        m_file = kInvalidFileHandle;
    }
    if (!m_tempPath.empty()) {
        ::unlink(m_tempPath.c_str());
        m_tempPath.clear();
    }
    m_targetPath.clear();
}

}  // namespace platform
