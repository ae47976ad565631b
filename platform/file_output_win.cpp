#include "platform/file_output.h"

#include <fcntl.h>
#include <io.h>

#include <atomic>
#include <cstdio>

#include "platform/files.h"
#include "platform/wide_win.h"

namespace platform {
namespace {

HANDLE SystemHandle(FileHandle file)
{
    return file < 0 ? INVALID_HANDLE_VALUE : reinterpret_cast<HANDLE>(::_get_osfhandle(file));
}

FILETIME ToFileTime(std::uint64_t units)
{
    FILETIME time{};
    time.dwLowDateTime = static_cast<DWORD>(units & 0xFFFFFFFFu);
    time.dwHighDateTime = static_cast<DWORD>(units >> 32);
    return time;
}

std::wstring DirectoryOf(const std::wstring& path)
{
    const auto separator = path.rfind(L'\\');
    return separator == std::wstring::npos ? std::wstring() : path.substr(0, separator + 1);
}

// Opens a new, empty file with a name of its own in `directory`.
FileHandle CreateUniqueFile(const std::wstring& directory, std::wstring& createdPath)
{
    static std::atomic<unsigned> counter{0};
    for (int attempt = 0; attempt < 100; ++attempt) {
        wchar_t name[48];
        std::swprintf(name, 48, L".~arc%lu.%u", static_cast<unsigned long>(::GetCurrentProcessId()),
                      counter.fetch_add(1));
        std::wstring candidate = directory + name;
        HANDLE file = ::CreateFileW(candidate.c_str(), GENERIC_READ | GENERIC_WRITE, FILE_SHARE_READ, nullptr,
                                    CREATE_NEW, FILE_ATTRIBUTE_NORMAL, nullptr);
        if (file != INVALID_HANDLE_VALUE) {
            const int fd = ::_open_osfhandle(reinterpret_cast<intptr_t>(file), _O_RDWR | _O_BINARY);
            if (fd < 0) {
                ::CloseHandle(file);
                ::DeleteFileW(candidate.c_str());
                break;
            }
            createdPath = std::move(candidate);
            return fd;
        }
        if (::GetLastError() != ERROR_FILE_EXISTS && ::GetLastError() != ERROR_ALREADY_EXISTS) {
            break;
        }
    }
    return kInvalidFileHandle;
}

// Replaceable: missing, or a file (not a folder) without the read-only mark.
bool IsReplaceableNative(const std::wstring& native, bool& exists)
{
    exists = false;
    const DWORD attributes = ::GetFileAttributesW(native.c_str());
    if (attributes == INVALID_FILE_ATTRIBUTES) {
        const DWORD error = ::GetLastError();
        return error == ERROR_FILE_NOT_FOUND || error == ERROR_PATH_NOT_FOUND;
    }
    exists = true;
    return (attributes & (FILE_ATTRIBUTE_DIRECTORY | FILE_ATTRIBUTE_READONLY)) == 0;
}

}  // namespace

bool WriteAll(FileHandle file, const void* data, std::size_t size)
{
    HANDLE handle = SystemHandle(file);
    if (handle == INVALID_HANDLE_VALUE) {
        return false;
    }
    const auto* in = static_cast<const unsigned char*>(data);
    while (size > 0) {
        const DWORD chunk = size > 0x40000000u ? 0x40000000u : static_cast<DWORD>(size);
        DWORD put = 0;
        if (!::WriteFile(handle, in, chunk, &put, nullptr) || put == 0) {
            return false;
        }
        in += put;
        size -= put;
    }
    return true;
}

bool SetFileTimes(FileHandle file, const FileTimes& times)
{
    HANDLE handle = SystemHandle(file);
    if (handle == INVALID_HANDLE_VALUE) {
        return false;
    }
    // A null time leaves that time as it is.
    const FILETIME creation = ToFileTime(times.creation);
    const FILETIME access = ToFileTime(times.lastAccess);
    const FILETIME write = ToFileTime(times.lastWrite);
    return ::SetFileTime(handle, times.creation != 0 ? &creation : nullptr,
                         times.lastAccess != 0 ? &access : nullptr, times.lastWrite != 0 ? &write : nullptr) != 0;
}

bool IsReplaceable(const Path& path)
{
    bool exists = false;
    return IsReplaceableNative(path.native(), exists);
}

ReplacementFile::~ReplacementFile() { Discard(); }

bool ReplacementFile::Create(const Path& target, unsigned /*newFilePermissions*/)
{
    // Windows files carry no permission bits; a new file takes its folder's
    // security settings, as any file created there would.
    Discard();
    const std::wstring native = target.native();
    bool exists = false;
    if (native.empty() || native.back() == L'\\' || !IsReplaceableNative(native, exists)) {
        return false;
    }
    std::wstring tempPath;
    const FileHandle fd = CreateUniqueFile(DirectoryOf(native), tempPath);
    if (fd == kInvalidFileHandle) {
        return false;
    }
    m_file = fd;
    m_tempPath = win::Utf8Of(tempPath);
    m_targetPath = win::Utf8Of(native);
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
    HANDLE handle = SystemHandle(m_file);
    // The content reaches the disk before the name moves, so a crash leaves
    // the old file or the whole new one.
    const bool flushed = ::FlushFileBuffers(handle) != 0;
    SetFileTimes(m_file, times);
    const bool closed = ::_close(m_file) == 0;
    m_file = kInvalidFileHandle;
    if (!flushed || !closed) {
        Discard();
        return CommitResult::WriteFailed;
    }
    const std::wstring temp = win::WideOf(m_tempPath);
    if (readOnly) {
        ::SetFileAttributesW(temp.c_str(), FILE_ATTRIBUTE_READONLY);
    }
    if (!::MoveFileExW(temp.c_str(), win::WideOf(m_targetPath).c_str(),
                       MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH)) {
        ::SetFileAttributesW(temp.c_str(), FILE_ATTRIBUTE_NORMAL);
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
        ::_close(m_file);
        m_file = kInvalidFileHandle;
    }
    if (!m_tempPath.empty()) {
        ::DeleteFileW(win::WideOf(m_tempPath).c_str());
        m_tempPath.clear();
    }
    m_targetPath.clear();
}

}  // namespace platform
