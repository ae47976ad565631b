// The process-control program's stand-in for the updater's runs under Wine
// (installed as Haltwick.exe where the updater finds it first): appends its
// arguments, one line per call, to the file named by MORVEX_TEST_CALL_LOG, as
// the Linux suites' shell stand-in does. Two of them may run at once: the
// file is opened for appending only, so that each line lands whole at the end.
#include <windows.h>

#include <cstdlib>
#include <string>

int main(int argc, char** argv)
{
    const char* log = std::getenv("MORVEX_TEST_CALL_LOG");
    if (log == nullptr) {
        return 2;
    }
    std::string line;
    for (int i = 1; i < argc; ++i) {
        line += (i > 1 ? " " : "") + std::string(argv[i]);
    }
    line += '\n';
    const HANDLE file = ::CreateFileA(log, FILE_APPEND_DATA, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                                      OPEN_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE) {
        return 1;
    }
    DWORD written = 0;
    const bool whole = ::WriteFile(file, line.data(), static_cast<DWORD>(line.size()), &written, nullptr) &&
                       written == line.size();
    ::CloseHandle(file);
    return whole ? 0 : 1;
}
