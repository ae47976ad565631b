#include "platform/files.h"

#include <filesystem>
#include <system_error>

#include "platform/codepage.h"
#include "platform/wide_win.h"

namespace platform {

std::string NativePath(const CString& path)
{
    // UTF-8 with native separators: the form SQLite takes for its file names.
    return PathUtf8(ToPath(path));
}

bool DeleteFileW(const Path& path) { return ::DeleteFileW(path.c_str()) != 0; }

bool CopyFileNoReplace(const Path& from, const Path& to)
{
    return ::CopyFileW(from.c_str(), to.c_str(), TRUE) != 0;
}

bool MoveFileReplace(const Path& from, const Path& to)
{
    const DWORD attributes = ::GetFileAttributesW(from.c_str());
    if (attributes == INVALID_FILE_ATTRIBUTES || (attributes & FILE_ATTRIBUTE_DIRECTORY) != 0) {
        return false;
    }
    // Without MOVEFILE_COPY_ALLOWED the move stays on one volume and is one
    // step; write-through returns only once it is on the disk.
    return ::MoveFileExW(from.c_str(), to.c_str(),
                         MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH) != 0;
}

bool PathExists(const Path& path)
{
    return ::GetFileAttributesW(path.c_str()) != INVALID_FILE_ATTRIBUTES;
}

bool IsDirectory(const Path& path)
{
    const DWORD attributes = ::GetFileAttributesW(path.c_str());
    return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY) != 0;
}

bool CreateDirectoryW(const Path& path) { return ::CreateDirectoryW(path.c_str(), nullptr) != 0; }

bool RemoveDirectoryW(const Path& path) { return ::RemoveDirectoryW(path.c_str()) != 0; }

bool RemoveTree(const Path& path)
{
    std::error_code ec;
    std::filesystem::remove_all(path, ec);
    return !ec;
}

std::FILE* OpenFileStream(const Path& path, const char* mode)
{
    // The modes are ASCII.
    const std::string narrow(mode);
    const std::wstring wide(narrow.begin(), narrow.end());
    return ::_wfopen(path.c_str(), wide.c_str());
}

Path CurrentDirectory()
{
    const DWORD needed = ::GetCurrentDirectoryW(0, nullptr);
    if (needed == 0) {
        return {};
    }
    std::wstring buffer(needed, L'\0');
    const DWORD length = ::GetCurrentDirectoryW(needed, buffer.data());
    if (length == 0 || length >= needed) {
        return {};
    }
    buffer.resize(length);
    // A drive's root keeps its separator ("C:\"); other folders have none.
    if (buffer.size() > 3 && buffer.back() == L'\\') {
        buffer.pop_back();
    }
    return Path(buffer);
}

CString GetCurrentDirectoryW() { return PathText(CurrentDirectory()); }

}  // namespace platform
