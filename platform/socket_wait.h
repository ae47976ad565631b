// Waiting on a socket that a library opened and hands out as a descriptor.
#pragma once

#include <chrono>
#include <cstdint>

namespace platform {

enum class SocketReady { Readable, Writable };

// Waits until the socket is ready as asked or the deadline passes
// (time_point::max(): no deadline). False on time-out or error; an
// interrupted wait goes on for the time that is left.
bool WaitForSocket(std::intptr_t socket, SocketReady what, std::chrono::steady_clock::time_point deadline);

}  // namespace platform
