#include "support/system.h"

#include <winsock2.h>
#include <windows.h>

#include <fcntl.h>
#include <io.h>
#include <sys/stat.h>

#include <cstdlib>
#include <random>
#include <utility>

namespace testsupport::system {

bool MakeUniqueDirectory(std::string& pattern)
{
    if (pattern.size() < 6) {
        return false;
    }
    static const char kLetters[] = "abcdefghijklmnopqrstuvwxyz0123456789";
    std::random_device seed;
    std::mt19937 random(seed() ^ ::GetCurrentProcessId());
    for (int attempt = 0; attempt < 100; ++attempt) {
        for (std::size_t i = pattern.size() - 6; i < pattern.size(); ++i) {
            pattern[i] = kLetters[random() % (sizeof kLetters - 1)];
        }
        if (::CreateDirectoryA(pattern.c_str(), nullptr)) {
            return true;
        }
        if (::GetLastError() != ERROR_ALREADY_EXISTS) {
            return false;
        }
    }
    return false;
}

void SetEnvironment(const std::string& name, const std::string& value) { _putenv_s(name.c_str(), value.c_str()); }

// An empty value removes the variable on Windows.
void RemoveFromEnvironment(const std::string& name) { _putenv_s(name.c_str(), ""); }

std::string NativeSeparators(std::string path)
{
    for (char& c : path) {
        if (c == '/') {
            c = '\\';
        }
    }
    return path;
}

const char* const kProgramSuffix = ".exe";

// The C runtime's descriptors, as on POSIX; its _dup2 onto 2 also makes the
// file the process's standard error handle.
int RedirectStandardError(const std::string& file)
{
    const int target =
        ::_open(file.c_str(), _O_WRONLY | _O_CREAT | _O_TRUNC | _O_BINARY | _O_NOINHERIT, _S_IREAD | _S_IWRITE);
    if (target < 0) {
        return -1;
    }
    const int saved = ::_dup(2);
    ::_dup2(target, 2);
    ::_close(target);
    return saved;
}

void RestoreStandardError(int saved)
{
    ::_dup2(saved, 2);
    ::_close(saved);
}

namespace {

bool RunsUnderWine()
{
    const HMODULE ntdll = ::GetModuleHandleW(L"ntdll.dll");
    return ntdll != nullptr && ::GetProcAddress(ntdll, "wine_get_version") != nullptr;
}

// Where Wine's answers are not Windows's. Each was seen when the same tests
// ran under Wine 8; a real Windows run is what decides them.
const std::pair<std::string_view, const char*> kWineQuirks[] = {
    {"a line without = does not hide a later key",
     "Wine keeps a line without = as a key without a value, and that first key of the name hides a later one"},
    {"UTF-16LE with an odd last byte",
     "Wine reads the odd last byte of a UTF-16 file together with a byte beyond the file's end"},
    {"an encoded surrogate",
     "Wine's UTF-8 decoder replaces an encoded surrogate by two U+FFFD, not one per byte"},
    {"beyond U+10FFFF", "Wine's UTF-8 decoder replaces a sequence beyond U+10FFFF by three U+FFFD, not one per byte"},
    {"summer time taken from TZ",
     "Wine's C runtime applies no summer time to a zone set in TZ (seen with and without explicit rules)"},
};

}  // namespace

const char* KnownQuirk(std::string_view what)
{
    static const bool underWine = RunsUnderWine();
    if (!underWine) {
        return nullptr;
    }
    for (const auto& [check, reason] : kWineQuirks) {
        if (check == what) {
            return reason;
        }
    }
    return nullptr;
}

SocketPair ConnectedSockets()
{
    // Windows has no socket pair: a listener on 127.0.0.1 with a port the
    // system picks, one connection to it, and the listener closed again.
    static const bool started = [] {
        WSADATA data{};
        return ::WSAStartup(MAKEWORD(2, 2), &data) == 0;
    }();
    if (!started) {
        return {};
    }
    SOCKET listener = ::socket(AF_INET, SOCK_STREAM, IPPROTO_TCP);
    if (listener == INVALID_SOCKET) {
        return {};
    }
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = ::htonl(INADDR_LOOPBACK);
    address.sin_port = 0;
    int length = sizeof address;
    auto* any = reinterpret_cast<sockaddr*>(&address);
    SOCKET client = INVALID_SOCKET;
    SOCKET server = INVALID_SOCKET;
    if (::bind(listener, any, sizeof address) == 0 && ::listen(listener, 1) == 0 &&
        ::getsockname(listener, any, &length) == 0) {
        client = ::socket(AF_INET, SOCK_STREAM, IPPROTO_TCP);
        if (client != INVALID_SOCKET && ::connect(client, any, sizeof address) == 0) {
            server = ::accept(listener, nullptr, nullptr);
        }
    }
    ::closesocket(listener);
    if (server == INVALID_SOCKET) {
        if (client != INVALID_SOCKET) {
            ::closesocket(client);
        }
        return {};
    }
    return {static_cast<std::intptr_t>(client), static_cast<std::intptr_t>(server)};
}

void CloseSocket(std::intptr_t socket)
{
    if (socket != -1) {
        ::closesocket(static_cast<SOCKET>(socket));
    }
}

bool SendByte(std::intptr_t socket)
{
    const char byte = 'x';
    return ::send(static_cast<SOCKET>(socket), &byte, 1, 0) == 1;
}

}  // namespace testsupport::system
