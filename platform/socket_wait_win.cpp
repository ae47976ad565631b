#include "platform/socket_wait.h"

#include <winsock2.h>

#include <algorithm>

namespace platform {

bool WaitForSocket(std::intptr_t socket, SocketReady what, std::chrono::steady_clock::time_point deadline)
{
    using Clock = std::chrono::steady_clock;
    const short events = what == SocketReady::Readable ? POLLRDNORM : POLLWRNORM;
    int timeoutMs = -1;
    if (deadline != Clock::time_point::max()) {
        const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now());
        if (left.count() <= 0) {
            return false;
        }
        timeoutMs = static_cast<int>(std::min<std::chrono::milliseconds::rep>(left.count(), 60 * 60 * 1000));
    }
    WSAPOLLFD pfd{static_cast<SOCKET>(socket), events, 0};
    // WSAPoll is not interrupted by signals; one wait covers the whole time.
    return ::WSAPoll(&pfd, 1, timeoutMs) > 0;
}

}  // namespace platform
