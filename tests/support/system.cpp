#include "support/system.h"

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
