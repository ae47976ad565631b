#include "platform/files.h"

#include <filesystem>
#include <system_error>

#include "platform/codepage.h"
#include "platform/wide_win.h"

namespace platform {

std::string NativePath(const CString& path)
{
    // UTF-8 with native separators: the form SQLite takes for its file names.
    return Utf16ToUtf8(win::FromWide(win::NativeWide(path)));
}

bool DeleteFileW(const CString& path) { return ::DeleteFileW(win::NativeWide(path).c_str()) != 0; }

bool CopyFileNoReplace(const CString& from, const CString& to)
{
    return ::CopyFileW(win::NativeWide(from).c_str(), win::NativeWide(to).c_str(), TRUE) != 0;
}

bool MoveFileReplace(const CString& from, const CString& to)
{
    const std::wstring source = win::NativeWide(from);
    const DWORD attributes = ::GetFileAttributesW(source.c_str());
    if (attributes == INVALID_FILE_ATTRIBUTES || (attributes & FILE_ATTRIBUTE_DIRECTORY) != 0) {
        return false;
    }
    // Without MOVEFILE_COPY_ALLOWED the move stays on one volume and is one
    // step; write-through returns only once it is on the disk.
    return ::MoveFileExW(source.c_str(), win::NativeWide(to).c_str(),
                         MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH) != 0;
}

bool PathExists(const CString& path)
{
    return ::GetFileAttributesW(win::NativeWide(path).c_str()) != INVALID_FILE_ATTRIBUTES;
}

bool IsDirectory(const CString& path)
{
    const DWORD attributes = ::GetFileAttributesW(win::NativeWide(path).c_str());
    return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY) != 0;
}

bool CreateDirectoryW(const CString& path) { return ::CreateDirectoryW(win::NativeWide(path).c_str(), nullptr) != 0; }

bool RemoveDirectoryW(const CString& path) { return ::RemoveDirectoryW(win::NativeWide(path).c_str()) != 0; }

bool RemoveTree(const CString& path)
{
    std::error_code ec;
    std::filesystem::remove_all(std::filesystem::path(win::NativeWide(path)), ec);
    return !ec;
}

CString GetCurrentDirectoryW()
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
    return win::FromWide(buffer);
}

}  // namespace platform
