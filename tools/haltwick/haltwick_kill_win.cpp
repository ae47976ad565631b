#include "haltwick_kill.h"

#include <windows.h>

#include <tlhelp32.h>

#include <cstdio>
#include <cwctype>
#include <string>
#include <vector>

namespace {

constexpr DWORD kGraceMs = 5000;
constexpr DWORD kForcedMs = 1000;

bool SameNameIgnoringCase(const std::wstring& a, const std::string& b)
{
    if (a.size() != b.size()) {
        return false;
    }
    for (std::size_t i = 0; i < a.size(); ++i) {
        if (std::towlower(a[i]) != std::towlower(static_cast<unsigned char>(b[i]))) {
            return false;
        }
    }
    return true;
}

std::vector<HANDLE> OpenProcessesNamed(const std::vector<std::string>& names)
{
    std::vector<HANDLE> processes;
    HANDLE snapshot = ::CreateToolhelp32Snapshot(TH32CS_SNAPPROCESS, 0);
    if (snapshot == INVALID_HANDLE_VALUE) {
        return processes;
    }
    PROCESSENTRY32W entry{};
    entry.dwSize = sizeof entry;
    const DWORD self = ::GetCurrentProcessId();
    for (BOOL more = ::Process32FirstW(snapshot, &entry); more; more = ::Process32NextW(snapshot, &entry)) {
        if (entry.th32ProcessID == self) {
            continue;
        }
        const std::wstring exe = entry.szExeFile;
        for (const std::string& name : names) {
            if (SameNameIgnoringCase(exe, name) || SameNameIgnoringCase(exe, name + ".exe")) {
                // Processes of other users cannot be opened for ending: they stay out.
                if (HANDLE process = ::OpenProcess(SYNCHRONIZE | PROCESS_TERMINATE, FALSE, entry.th32ProcessID)) {
                    processes.push_back(process);
                }
                break;
            }
        }
    }
    ::CloseHandle(snapshot);
    return processes;
}

BOOL CALLBACK AskToClose(HWND window, LPARAM pid)
{
    DWORD owner = 0;
    ::GetWindowThreadProcessId(window, &owner);
    if (owner == static_cast<DWORD>(pid)) {
        ::PostMessageW(window, WM_CLOSE, 0, 0);
    }
    return TRUE;
}

bool HasEnded(HANDLE process, DWORD waitMs) { return ::WaitForSingleObject(process, waitMs) == WAIT_OBJECT_0; }

}  // namespace

int KillByName(const std::string& name)
{
    const std::vector<HANDLE> processes = OpenProcessesNamed(CandidateNames(name));
    for (HANDLE process : processes) {
        ::EnumWindows(AskToClose, static_cast<LPARAM>(::GetProcessId(process)));
    }
    const DWORD graceEnd = ::GetTickCount() + kGraceMs;
    bool allEnded = true;
    for (HANDLE process : processes) {
        const DWORD now = ::GetTickCount();
        const DWORD left = static_cast<LONG>(graceEnd - now) > 0 ? graceEnd - now : 0;
        if (!HasEnded(process, left)) {
            ::TerminateProcess(process, 1);
            allEnded = HasEnded(process, kForcedMs) && allEnded;
        }
        ::CloseHandle(process);
    }
    if (!allEnded) {
        std::fprintf(stderr, "Haltwick: some process named %s did not end\n", name.c_str());
        return 1;
    }
    return 0;
}
