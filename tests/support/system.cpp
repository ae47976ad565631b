#include "support/system.h"

#include <fcntl.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cstdlib>

namespace testsupport::system {

bool MakeUniqueDirectory(std::string& pattern) { return mkdtemp(pattern.data()) != nullptr; }

void SetEnvironment(const std::string& name, const std::string& value) { setenv(name.c_str(), value.c_str(), 1); }

void RemoveFromEnvironment(const std::string& name) { unsetenv(name.c_str()); }

std::string NativeSeparators(std::string path)
{
    for (char& c : path) {
        if (c == '/') {
            c = '/';
        }
    }
    return path;
}

const char* const kProgramSuffix = "";

int RedirectStandardError(const std::string& file)
{
    const int target = ::open(file.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0600);
    if (target < 0) {
        return -1;
    }
    const int saved = ::dup(2);
    ::dup2(target, 2);
    ::close(target);
    return saved;
}

void RestoreStandardError(int saved)
{
    ::dup2(saved, 2);
    ::close(saved);
}

const char* KnownQuirk(std::string_view /*what*/) { return nullptr; }

SocketPair ConnectedSockets()
{
    int fds[2] = {-1, -1};
    if (::socketpair(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0, fds) != 0) {
        return {};
    }
    return {fds[0], fds[1]};
}

void CloseSocket(std::intptr_t socket)
{
    if (socket >= 0) {
        ::close(static_cast<int>(socket));
    }
}

bool SendByte(std::intptr_t socket)
{
    const char byte = 'x';
    return ::send(static_cast<int>(socket), &byte, 1, MSG_NOSIGNAL) == 1;
}

}  // namespace testsupport::system
