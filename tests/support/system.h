// The few things the shared test helpers need from the system that each
// system does its own way (system_posix.cpp, system_win.cpp).
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

namespace testsupport::system {

// Creates a new folder named `pattern` with its last six "X" replaced so that
// the name is new; false when none could be made.
bool MakeUniqueDirectory(std::string& pattern);

// Sets or removes a variable of this process's environment.
void SetEnvironment(const std::string& name, const std::string& value);
void RemoveFromEnvironment(const std::string& name);

// `path` with each "/" written as this system's separator.
std::string NativeSeparators(std::string path);

// What this system's program files end in ("" or ".exe").
extern const char* const kProgramSuffix;

// Two connected stream sockets, as the system hands sockets to a library
// (a descriptor, or a SOCKET on Windows); -1 each when they could not be made.
// Closed with CloseSocket.
struct SocketPair {
    std::intptr_t first = -1;
    std::intptr_t second = -1;
};
SocketPair ConnectedSockets();
void CloseSocket(std::intptr_t socket);
// Sends one byte; false when it could not be sent.
bool SendByte(std::intptr_t socket);

// Sends what this process writes to standard error (descriptor 2) to `file`
// (created or emptied); the old target, for RestoreStandardError, or -1 when
// it could not be redirected.
int RedirectStandardError(const std::string& file);
void RestoreStandardError(int saved);

// Why the system the tests run on is known to answer the check described by
// `what` (a test row's description) otherwise than the system the code is made
// for; null when it is not. Only Wine has such entries, each with its reason.
const char* KnownQuirk(std::string_view what);

}  // namespace testsupport::system
