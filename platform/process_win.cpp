#include "platform/process.h"

#include <cstdlib>

#include "platform/codepage.h"
#include "platform/files.h"
#include "platform/wide_win.h"

#include <shellapi.h>

namespace platform {
namespace {

bool IsRegularFile(const Path& path)
{
    const DWORD attributes = ::GetFileAttributesW(path.c_str());
    return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY) == 0;
}

// A program named without extension is its ".exe", as the shell finds it.
std::string WithExtension(const std::string& name)
{
    const std::size_t base = name.find_last_of("\\/");
    const std::size_t dot = name.rfind('.');
    if (dot != std::string::npos && (base == std::string::npos || dot > base)) {
        return name;
    }
    return name + ".exe";
}

Path JoinPath(const Path& folder, const Path& name)
{
    // An empty folder is the current one, named so that the system does not
    // search its own folders for the file.
    return folder.empty() ? Path(L".") / name : folder / name;
}


}  // namespace

namespace win {

// One argument as the C runtime's command-line parser reads it back: quoted
// when it holds blanks or quotes, with backslashes before a quote doubled.
void AppendCommandLineArgument(std::wstring& line, const std::wstring& arg)
{
    if (!line.empty()) {
        line += L' ';
    }
    if (!arg.empty() && arg.find_first_of(L" \t\"") == std::wstring::npos) {
        line += arg;
        return;
    }
    line += L'"';
    std::size_t backslashes = 0;
    for (const wchar_t c : arg) {
        if (c == L'\\') {
            ++backslashes;
            continue;
        }
        if (c == L'"') {
            line.append(backslashes * 2 + 1, L'\\');
        } else {
            line.append(backslashes, L'\\');
        }
        backslashes = 0;
        line += c;
    }
    line.append(backslashes * 2, L'\\');
    line += L'"';
}

}  // namespace win

Path FindProgram(const std::string& name, const std::vector<Path>& folders)
{
    if (name.empty()) {
        return {};
    }
    const Path file = Utf8ToPath(WithExtension(name));
    if (name.find_first_of("\\/") != std::string::npos) {
        return IsRegularFile(file) ? file : Path();
    }
    for (const auto& folder : folders) {
        Path candidate = JoinPath(folder, file);
        if (IsRegularFile(candidate)) {
            return candidate;
        }
    }
    const wchar_t* pathVariable = ::_wgetenv(L"PATH");
    const std::wstring searchPath = pathVariable != nullptr ? std::wstring(pathVariable) : std::wstring();
    std::size_t start = 0;
    while (start < searchPath.size()) {
        std::size_t end = searchPath.find(L';', start);
        if (end == std::wstring::npos) {
            end = searchPath.size();
        }
        if (end > start) {
            Path candidate = Path(searchPath.substr(start, end - start)) / file;
            if (IsRegularFile(candidate)) {
                return candidate;
            }
        }
        start = end + 1;
    }
    return {};
}

bool StartDetached(const Path& path, const std::vector<std::string>& args)
{
    const std::wstring& program = path.native();
    std::wstring line;
    win::AppendCommandLineArgument(line, program);
    for (const std::string& arg : args) {
        win::AppendCommandLineArgument(line, win::WideOf(arg));
    }
    STARTUPINFOW startup{};
    startup.cb = sizeof startup;
    PROCESS_INFORMATION info{};
    // No handle of ours is inherited (the installation lock above all), and
    // the program gets no console of ours: it outlives us on its own.
    if (!::CreateProcessW(program.c_str(), line.data(), nullptr, nullptr, FALSE,
                          DETACHED_PROCESS | CREATE_NEW_PROCESS_GROUP | CREATE_UNICODE_ENVIRONMENT, nullptr,
                          nullptr, &startup, &info)) {
        return false;
    }
    ::CloseHandle(info.hThread);
    ::CloseHandle(info.hProcess);
    return true;
}

bool ShellExecuteOpen(const CString& file, const CString& parameters, const Path& programDir)
{
    // Found first, so that a missing program is a false result rather than
    // the shell's own error box.
    const Path path = FindProgram(Utf16ToUtf8(file), {Path(), programDir.empty() ? Path(L".") : programDir});
    if (path.empty()) {
        return false;
    }
    const HINSTANCE result = ::ShellExecuteW(nullptr, L"open", path.c_str(), win::Wide(parameters),
                                             nullptr, SW_HIDE);
    return reinterpret_cast<INT_PTR>(result) > 32;
}

void IgnoreFileSizeLimitSignal() {}

bool OpenDocument(const Path& path)
{
    // Release notes are shown by Notepad, with the name as given: a relative
    // name is found in the current directory.
    const std::wstring& document = path.native();
    std::wstring argument;
    win::AppendCommandLineArgument(argument, document);
    const HINSTANCE result = ::ShellExecuteW(nullptr, L"open", L"notepad.exe", argument.c_str(), nullptr, SW_SHOW);
    return reinterpret_cast<INT_PTR>(result) > 32;
}

}  // namespace platform
