#include "platform/file_input.h"

#include <fcntl.h>
#include <io.h>

#include "platform/wide_win.h"

namespace platform {
namespace {

HANDLE SystemHandle(FileHandle file)
{
    return file < 0 ? INVALID_HANDLE_VALUE : reinterpret_cast<HANDLE>(::_get_osfhandle(file));
}

}  // namespace

// Handles are C runtime descriptors here too, so that callers holding one from
// _open or _open_osfhandle pass it as they would on any system.
FileHandle OpenFileForReading(const Path& path)
{
    HANDLE file = ::CreateFileW(path.c_str(), GENERIC_READ,
                                FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr, OPEN_EXISTING,
                                FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE) {
        return kInvalidFileHandle;  // a folder cannot be opened without backup semantics
    }
    const int fd = ::_open_osfhandle(reinterpret_cast<intptr_t>(file), _O_RDONLY | _O_BINARY);
    if (fd < 0) {
        ::CloseHandle(file);
        return kInvalidFileHandle;
    }
    return fd;
}

void CloseFileHandle(FileHandle file)
{
    if (file >= 0) {
        ::_close(file);
    }
}

bool GetFilePosition(FileHandle file, std::int64_t& position)
{
    HANDLE handle = SystemHandle(file);
    if (handle == INVALID_HANDLE_VALUE || ::GetFileType(handle) != FILE_TYPE_DISK) {
        return false;
    }
    LARGE_INTEGER zero{};
    LARGE_INTEGER at{};
    if (!::SetFilePointerEx(handle, zero, &at, FILE_CURRENT)) {
        return false;
    }
    position = at.QuadPart;
    return true;
}

bool GetFileSize(FileHandle file, std::int64_t& size)
{
    HANDLE handle = SystemHandle(file);
    LARGE_INTEGER length{};
    if (handle == INVALID_HANDLE_VALUE || !::GetFileSizeEx(handle, &length)) {
        return false;
    }
    size = length.QuadPart;
    return true;
}

std::int64_t ReadFileAt(FileHandle file, void* buffer, std::size_t size, std::int64_t offset)
{
    HANDLE handle = SystemHandle(file);
    if (offset < 0 || handle == INVALID_HANDLE_VALUE) {
        return -1;
    }
    // A read with an explicit offset moves the file pointer on Windows; it is
    // put back so that the position stays where the caller left it.
    LARGE_INTEGER zero{};
    LARGE_INTEGER saved{};
    const bool seekable = ::SetFilePointerEx(handle, zero, &saved, FILE_CURRENT) != 0;
    auto* out = static_cast<unsigned char*>(buffer);
    std::size_t done = 0;
    bool failed = false;
    while (done < size) {
        const std::uint64_t at = static_cast<std::uint64_t>(offset) + done;
        OVERLAPPED where{};
        where.Offset = static_cast<DWORD>(at & 0xFFFFFFFFu);
        where.OffsetHigh = static_cast<DWORD>(at >> 32);
        const DWORD chunk = size - done > 0x40000000u ? 0x40000000u : static_cast<DWORD>(size - done);
        DWORD got = 0;
        if (!::ReadFile(handle, out + done, chunk, &got, &where)) {
            failed = ::GetLastError() != ERROR_HANDLE_EOF;
            break;
        }
        if (got == 0) {
            break;
        }
        done += got;
    }
    if (seekable) {
        ::SetFilePointerEx(handle, saved, nullptr, FILE_BEGIN);
    }
    return failed ? -1 : static_cast<std::int64_t>(done);
}

}  // namespace platform
