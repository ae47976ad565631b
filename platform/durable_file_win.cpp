#include "platform/durable_file.h"

#include <fcntl.h>
#include <io.h>

#include <cstdlib>

#include "platform/file_output.h"
#include "platform/files.h"
#include "platform/wide_win.h"

namespace platform {
namespace {

HANDLE SystemHandle(int fd) { return fd < 0 ? INVALID_HANDLE_VALUE : reinterpret_cast<HANDLE>(::_get_osfhandle(fd)); }

bool FlushFile(const std::wstring& path)
{
    HANDLE file = ::CreateFileW(path.c_str(), GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                                nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE) {
        return false;
    }
    const bool flushed = ::FlushFileBuffers(file) != 0;
    ::CloseHandle(file);
    return flushed;
}

}  // namespace

bool WriteFileDurably(const Path& path, const std::string& bytes)
{
    const std::wstring target = path.native();
    const std::wstring temp = target + L".tmp";
    HANDLE file = ::CreateFileW(temp.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE) {
        return false;
    }
    const int fd = ::_open_osfhandle(reinterpret_cast<intptr_t>(file), _O_WRONLY | _O_BINARY);
    if (fd < 0) {
        ::CloseHandle(file);
        ::DeleteFileW(temp.c_str());
        return false;
    }
    bool written = WriteAll(fd, bytes.data(), bytes.size()) && ::FlushFileBuffers(file) != 0;
    written = ::_close(fd) == 0 && written;
    // Write-through: the rename itself is on the disk when the call returns,
    // which is what flushing the folder achieves elsewhere.
    if (!written ||
        !::MoveFileExW(temp.c_str(), target.c_str(), MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH)) {
        ::DeleteFileW(temp.c_str());
        return false;
    }
    return true;
}

bool OverwriteFileDurably(const Path& path, const std::string& bytes)
{
    // Shared like the database's own handle, so that it opens beside it.
    HANDLE file = ::CreateFileW(path.c_str(), GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                                nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE) {
        // Nothing there to hold open: the atomic replacement.
        return ::GetLastError() == ERROR_FILE_NOT_FOUND && WriteFileDurably(path, bytes);
    }
    const int fd = ::_open_osfhandle(reinterpret_cast<intptr_t>(file), _O_WRONLY | _O_BINARY);
    if (fd < 0) {
        ::CloseHandle(file);
        return false;
    }
    bool written = WriteAll(fd, bytes.data(), bytes.size()) &&
                   ::_chsize_s(fd, static_cast<__int64>(bytes.size())) == 0 && ::FlushFileBuffers(file) != 0;
    return ::_close(fd) == 0 && written;
}

bool SyncDirectory(const Path& path)
{
    // Windows offers no flush of a folder's entries; NTFS journals them, and
    // the renames here are written through. The folder must exist, though.
    return IsDirectory(path);
}

DurableLog::~DurableLog() { Close(); }

bool DurableLog::Open(const Path& path)
{
    Close();
    HANDLE file = ::CreateFileW(path.c_str(), FILE_APPEND_DATA | SYNCHRONIZE,
                                FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr, OPEN_ALWAYS,
                                FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE) {
        return false;
    }
    m_fd = ::_open_osfhandle(reinterpret_cast<intptr_t>(file), _O_WRONLY | _O_APPEND | _O_BINARY);
    if (m_fd < 0) {
        ::CloseHandle(file);
        return false;
    }
    return true;
}

bool DurableLog::Append(const std::string& line) { return AppendAll({line}); }

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
    return WriteAll(m_fd, records.data(), records.size()) && ::FlushFileBuffers(SystemHandle(m_fd)) != 0;
}

void DurableLog::Close()
{
    if (m_fd >= 0) {
        ::_close(m_fd);
        m_fd = -1;
    }
}

bool KeepFileAside(const Path& from, const Path& to, bool* linked)
{
    const std::wstring& source = from.native();
    const std::wstring& target = to.native();
    if (linked != nullptr) {
        *linked = false;
    }
    const DWORD attributes = ::GetFileAttributesW(source.c_str());
    if (attributes == INVALID_FILE_ATTRIBUTES || (attributes & FILE_ATTRIBUTE_DIRECTORY) != 0) {
        return false;
    }
    // A hard link keeps the old content: replacing a file moves a new one over
    // the name and leaves the linked file as it was.
    if (::CreateHardLinkW(target.c_str(), source.c_str(), nullptr)) {
        if (linked != nullptr) {
            *linked = true;
        }
        return true;
    }
    if (!::CopyFileW(source.c_str(), target.c_str(), TRUE)) {
        return false;  // an existing target is left alone
    }
    if (!FlushFile(target)) {
        ::DeleteFileW(target.c_str());
        return false;
    }
    return true;
}

unsigned long CurrentProcessId() { return ::GetCurrentProcessId(); }

void RemoveStaleReplacementFiles(const Path& directory, unsigned long pid)
{
    // The names ReplacementFile gives its temporary files.
    std::wstring folder = directory.empty() ? std::wstring(L".") : directory.native();
    if (folder.back() != L'\\') {
        folder += L'\\';
    }
    const std::wstring pattern = folder + L".~arc" + std::to_wstring(pid) + L".*";
    WIN32_FIND_DATAW found{};
    HANDLE search = ::FindFirstFileW(pattern.c_str(), &found);
    if (search == INVALID_HANDLE_VALUE) {
        return;
    }
    std::vector<std::wstring> stale;
    do {
        stale.push_back(folder + found.cFileName);
    } while (::FindNextFileW(search, &found));
    ::FindClose(search);
    for (const std::wstring& path : stale) {
        ::SetFileAttributesW(path.c_str(), FILE_ATTRIBUTE_NORMAL);
        ::DeleteFileW(path.c_str());
    }
}

void EndProcessAbruptly()
{
    ::TerminateProcess(::GetCurrentProcess(), kAbruptEndExitCode);
    std::_Exit(static_cast<int>(kAbruptEndExitCode));
}

}  // namespace platform
