// A resident converter whose conversions never finish, as the real one's would
// on a document that keeps the office busy past any limit. It listens where the
// real one does, holds the same lock, answers pings, and on a conversion
// request reads it and then never answers.
//
//   stalling_service [--ready-fd N]
#include <signal.h>
#include <sys/socket.h>
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
    // The lock is how clients and tests tell that a service runs.
    bool anotherRuns = false;
    const int listener = docvert::ListenAsService(docvert::ServiceSocketPath(), anotherRuns);
    if (listener < 0) {
        return anotherRuns ? 0 : 1;
    }
    docvert::ReportReady(readyFd);
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
