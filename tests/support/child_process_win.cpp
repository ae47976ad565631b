#include "support/child_process.h"

#include <windows.h>

#include "platform/codepage.h"

namespace testsupport {
namespace {

// One argument as the C runtime's command-line parser reads it back.
void AppendArgument(std::wstring& line, const std::string& utf8)
{
    const std::u16string text = platform::Utf8ToUtf16(utf8);
    const std::wstring arg(text.begin(), text.end());
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
        line.append(c == L'"' ? backslashes * 2 + 1 : backslashes, L'\\');
        backslashes = 0;
        line += c;
    }
    line.append(backslashes * 2, L'\\');
    line += L'"';
}

}  // namespace

int RunAndWait(const std::vector<std::string>& argv)
{
    if (argv.empty()) {
        return -1;
    }
    std::wstring line;
    for (const std::string& arg : argv) {
        AppendArgument(line, arg);
    }
    const std::u16string program = platform::Utf8ToUtf16(argv[0]);
    const std::wstring programWide(program.begin(), program.end());
    STARTUPINFOW startup{};
    startup.cb = sizeof startup;
    PROCESS_INFORMATION info{};
    if (!::CreateProcessW(programWide.c_str(), line.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr, &startup,
                          &info)) {
        return -1;
    }
    ::CloseHandle(info.hThread);
    ::WaitForSingleObject(info.hProcess, INFINITE);
    DWORD code = 0;
    const bool known = ::GetExitCodeProcess(info.hProcess, &code) != 0;
    ::CloseHandle(info.hProcess);
    return known ? static_cast<int>(code) : -1;
}

}  // namespace testsupport
