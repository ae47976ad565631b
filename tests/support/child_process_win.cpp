#include "support/child_process.h"

#include <gtest/gtest.h>
#include <windows.h>

#include "platform/codepage.h"
#include "platform/wide_win.h"

namespace testsupport {

// Only the working folder of the options is honoured here: a caller that
// needs more fails its test rather than running with it silently ignored.
int RunAndWait(const std::vector<std::string>& argv, const ChildOptions& options)
{
    if (argv.empty()) {
        return -1;
    }
    if (!options.env.empty() || !options.unsetEnv.empty() || !options.stdoutFile.empty() ||
        !options.stderrFile.empty()) {
        ADD_FAILURE() << "RunAndWait on Windows takes no environment changes or output files";
        return -1;
    }
    std::wstring line;
    for (const std::string& arg : argv) {
        platform::win::AppendCommandLineArgument(line, platform::win::WideOf(arg));
    }
    const std::u16string program = platform::Utf8ToUtf16(argv[0]);
    const std::wstring programWide(program.begin(), program.end());
    STARTUPINFOW startup{};
    startup.cb = sizeof startup;
    PROCESS_INFORMATION info{};
    const std::wstring workDir = options.workDir.wstring();
    if (!::CreateProcessW(programWide.c_str(), line.data(), nullptr, nullptr, FALSE, 0, nullptr,
                          workDir.empty() ? nullptr : workDir.c_str(), &startup, &info)) {
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
