#include "platform/socket_wait.h"

#include <poll.h>

#include <algorithm>

namespace platform {

bool WaitForSocket(std::intptr_t socket, SocketReady what, std::chrono::steady_clock::time_point deadline)
{
    using Clock = std::chrono::steady_clock;
    const short events = what == SocketReady::Readable ? POLLIN : POLLOUT;
    for (;;) {
        int timeoutMs = -1;
        if (deadline != Clock::time_point::max()) {
            const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now());
            if (left.count() <= 0) {
                return false;
            }
            timeoutMs = static_cast<int>(std::min<std::chrono::milliseconds::rep>(left.count(), 60 * 60 * 1000));
        }
        pollfd pfd{static_cast<int>(socket), events, 0};
        const int ready = ::poll(&pfd, 1, timeoutMs);
        if (ready > 0) {
            return true;
        }
        if (ready == 0) {
            return false;
        }
        // EINTR: wait again for what is left
    }
}

}  // namespace platform
