// A resident converter whose conversions never finish, as the real one's would
// on a document that keeps the office busy past any limit. It listens where the
// real one does, holds the same lock, answers pings, and on a conversion
// request reads it and then never answers.
//
//   stalling_service [--ready-fd N]
#include <fcntl.h>
#include <signal.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <string>

#include "tools/docvert/service_link.h"

int main(int argc, char** argv)
{
    int readyFd = -1;
    for (int i = 1; i + 1 < argc; ++i) {
        if (std::strcmp(argv[i], "--ready-fd") == 0) {
            readyFd = std::atoi(argv[i + 1]);
        }
    }
    signal(SIGPIPE, SIG_IGN);
    const std::string socketPath = docvert::ServiceSocketPath();
    sockaddr_un address{};
    if (socketPath.empty() || socketPath.size() >= sizeof address.sun_path) {
        return 1;
    }
    // The lock is how clients and tests tell that a service runs.
    const int lock = open((socketPath + ".lock").c_str(), O_RDWR | O_CREAT | O_NOFOLLOW | O_CLOEXEC, 0600);
    struct flock whole {};
    whole.l_type = F_WRLCK;
    whole.l_whence = SEEK_SET;
    if (lock < 0 || fcntl(lock, F_SETLK, &whole) != 0) {
        return 0;
    }
    unlink(socketPath.c_str());
    const int listener = socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
    address.sun_family = AF_UNIX;
    std::memcpy(address.sun_path, socketPath.c_str(), socketPath.size() + 1);
    if (listener < 0 || bind(listener, reinterpret_cast<const sockaddr*>(&address), sizeof address) != 0 ||
        listen(listener, 16) != 0) {
        return 1;
    }
    if (readyFd >= 0) {
        const char ready = 1;
        (void)!write(readyFd, &ready, 1);
        close(readyFd);
    }
    for (;;) {
        const int client = accept4(listener, nullptr, nullptr, SOCK_CLOEXEC);
        if (client < 0) {
            continue;
        }
        std::uint8_t kind = 0;
        std::string input;
        std::string output;
        if (docvert::ReceiveAll(client, &kind, 1) && kind == static_cast<std::uint8_t>(docvert::ServiceRequest::Ping)) {
            const std::uint8_t yes = 1;
            docvert::SendAll(client, &yes, 1);
        } else if (kind == static_cast<std::uint8_t>(docvert::ServiceRequest::Convert) &&
                   docvert::ReceiveText(client, input, 4096) && docvert::ReceiveText(client, output, 4096)) {
            // Busy for good: the connection stays open, unanswered.
            for (;;) {
                pause();
            }
        }
        close(client);
    }
}
