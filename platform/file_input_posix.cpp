#include "platform/file_input.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>


namespace platform {

FileHandle OpenFileForReading(const Path& path)
{
    int fd;
    do {
        fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
    } while (fd < 0 && errno == EINTR);
    if (fd < 0) {
        return kInvalidFileHandle;
    }
    struct stat st {};
    if (::fstat(fd, &st) != 0 || S_ISDIR(st.st_mode)) {
        ::close(fd);
        return kInvalidFileHandle;
    }
    return fd;
}

void CloseFileHandle(FileHandle file)
{
    if (file >= 0) {
        ::close(file);
    }
}

bool GetFilePosition(FileHandle file, std::int64_t& position)
{
    const off_t at = ::lseek(file, 0, SEEK_CUR);
    if (at < 0) {
        return false;
    }
    position = at;
    return true;
}

bool GetFileSize(FileHandle file, std::int64_t& size)
{
    struct stat st {};
    if (::fstat(file, &st) != 0) {
        return false;
    }
    if (S_ISREG(st.st_mode)) {
        size = st.st_size;
        return true;
    }
    // Block devices and the like report no size in stat; their end is where
    // seeking to the end lands (the position is restored afterwards).
    const off_t here = ::lseek(file, 0, SEEK_CUR);
    const off_t end = ::lseek(file, 0, SEEK_END);
    if (here < 0 || end < 0) {
        return false;
    }
    ::lseek(file, here, SEEK_SET);
    size = end;
    return true;
}

std::int64_t ReadFileAt(FileHandle file, void* buffer, std::size_t size, std::int64_t offset)
{
    if (offset < 0) {
        return -1;
    }
    auto* out = static_cast<unsigned char*>(buffer);
    std::size_t done = 0;
    while (done < size) {
        const ssize_t got = ::pread(file, out + done, size - done, static_cast<off_t>(offset) + static_cast<off_t>(done));
        if (got < 0) {
            if (errno == EINTR) {
                continue;
            }
            return -1;
        }
        if (got == 0) {
            break;
        }
        done += static_cast<std::size_t>(got);
    }
    return static_cast<std::int64_t>(done);
}

}  // namespace platform
