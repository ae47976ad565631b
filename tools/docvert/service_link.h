// The resident converter: a program beside the library that keeps one office
// loaded between conversions, one per user, reached over a Unix socket.
// This half is shared by the program and by its clients; it uses POSIX only.
#pragma once

#include <sys/types.h>

#include <chrono>
#include <cstdint>
#include <optional>
#include <string>

namespace docvert {

// Requests: one byte of kind; a conversion then carries two strings (a 32-bit
// length in host order and the bytes): the input file and the output file,
// both in one folder of the client's. The answer is one byte: 1 converted, 0 not.
enum class ServiceRequest : std::uint8_t { Ping = 'P', Convert = 'C' };

// Where the user's service listens: "$XDG_RUNTIME_DIR/docvert-<uid>.socket",
// or, without a runtime folder, the same name in "/tmp/docvert-service-<uid>"
// (created readable by the owner only). Empty when no safe folder exists.
std::string ServiceSocketPath();

// Reading and writing whole messages; false on a closed or failed socket.
bool SendAll(int fd, const void* data, std::size_t size);
bool ReceiveAll(int fd, void* data, std::size_t size);
bool SendText(int fd, const std::string& text);
bool ReceiveText(int fd, std::string& text, std::size_t longest);

// The peer's user and process ids (SO_PEERCRED); nullopt when unknown.
struct PeerIds {
    uid_t uid;
    pid_t pid;
};
std::optional<PeerIds> PeerOf(int fd);

// For a service program: takes the user's lock (held for the rest of the
// process; the kernel lets go of it however the process ends, so a socket left
// by a killed service can be replaced safely) and listens on `socketPath`.
// The listening socket, or -1 with `anotherRuns` set when the lock could not be
// taken (another service runs: nothing to do) rather than something failing.
int ListenAsService(const std::string& socketPath, bool& anotherRuns);

// Tells the client that started us (descriptor `readyFd`, -1 for none) that we listen.
void ReportReady(int readyFd);

// A connected socket to a service of this user, or -1 when none answers or
// the one that answers runs as someone else.
int ConnectToService(const std::string& socketPath);

enum class ServiceOutcome {
    Converted,
    Refused,      // the service answered: the office could not convert it
    TimedOut,     // no answer within the limit; the service was killed
    Unavailable,  // no service, and none could be started, or it ended mid-request
};

struct ServiceSettings {
    std::string program;  // the service program; empty: no service
    std::string socketPath = ServiceSocketPath();
    // For one conversion, from its start (the service's start included).
    std::chrono::milliseconds timeLimit{std::chrono::seconds(60)};
    // How long a starting service may take to load the office.
    std::chrono::milliseconds startLimit{std::chrono::seconds(60)};
};

// Starts the service when none answers (detached, in a session of its own).
// With `wait`, returns once it listens (true) or has ended (false); without,
// at once, so that a host may start it early without waiting for the office.
bool StartService(const ServiceSettings& settings, bool wait);

// Starts the service when needed and asks it whether it answers: the pid of
// the service that does, or nullopt.
std::optional<pid_t> EnsureService(const ServiceSettings& settings);

// Converts `input` (a regular file in `folder`) into `output` (a new file in
// the same folder) through the service, starting it when needed.
ServiceOutcome ConvertWithService(const ServiceSettings& settings, const std::string& input, const std::string& output);

// The service program beside the library that holds this code, else empty.
std::string ServiceProgramBesideLibrary();

}  // namespace docvert
