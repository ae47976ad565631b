#include "tools/docvert/service_link.h"

#include <dlfcn.h>
#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <algorithm>
#include <string_view>

namespace docvert {
namespace {

using Clock = std::chrono::steady_clock;

// A folder of ours only: a real folder (no link), owned by us, open to nobody else.
bool PrivateFolder(const std::string& path)
{
    struct stat st {};
    return lstat(path.c_str(), &st) == 0 && S_ISDIR(st.st_mode) && st.st_uid == geteuid() &&
           (st.st_mode & (S_IWGRP | S_IWOTH)) == 0;
}

int Remaining(Clock::time_point deadline)
{
    const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now()).count();
    return left <= 0 ? 0 : static_cast<int>(std::min<long long>(left, 1 << 30));
}

// Waits for `fd` to become readable before the deadline; false on timeout.
bool WaitReadable(int fd, Clock::time_point deadline)
{
    for (;;) {
        pollfd p{fd, POLLIN, 0};
        const int ready = poll(&p, 1, Remaining(deadline));
        if (ready > 0) {
            return true;
        }
        if (ready == 0 || errno != EINTR) {
            return false;
        }
    }
}

// Kills the service (a session leader, so its group is its own). It is not
// our child; the next request finds its socket dead and starts another.
void KillService(pid_t pid)
{
    if (pid <= 0) {
        return;
    }
    kill(-pid, SIGKILL);
    kill(pid, SIGKILL);
}

// Starts the program detached: a child starts a grandchild in a new session
// and ends at once, so the service is nobody's child here and never our
// zombie. The grandchild gets the writing end of `ready` as its descriptor 3
// and nothing else of ours. Only async-signal-safe calls after fork.
bool StartDetached(const std::string& program, int readyWriter)
{
    const char* argv[] = {program.c_str(), "--ready-fd", "3", nullptr};
    const pid_t child = fork();
    if (child < 0) {
        return false;
    }
    if (child == 0) {
        setsid();
        const pid_t grandchild = fork();
        if (grandchild != 0) {
            _exit(grandchild < 0 ? 1 : 0);
        }
        const int null = open("/dev/null", O_RDWR);
        if (null < 0 || dup2(readyWriter, 3) < 0 || dup2(null, 0) < 0 || dup2(null, 1) < 0 || dup2(null, 2) < 0) {
            _exit(127);
        }
        close_range(4, ~0U, 0);
        sigset_t none;
        sigemptyset(&none);
        sigprocmask(SIG_SETMASK, &none, nullptr);
        execv(argv[0], const_cast<char* const*>(argv));
        _exit(127);
    }
    int status = 0;
    while (waitpid(child, &status, 0) < 0 && errno == EINTR) {
    }
    return WIFEXITED(status) && WEXITSTATUS(status) == 0;
}

// The process holding the user's lock (a service running, or loading the
// office and about to listen), else 0. Asks without taking the lock, which
// would make a starting service think another one runs.
pid_t ServiceLockHolder(const std::string& socketPath)
{
    const int fd = open((socketPath + ".lock").c_str(), O_RDONLY | O_NOFOLLOW | O_CLOEXEC);
    if (fd < 0) {
        return 0;
    }
    struct flock probe {};
    probe.l_type = F_WRLCK;
    probe.l_whence = SEEK_SET;
    const bool held = fcntl(fd, F_GETLK, &probe) == 0 && probe.l_type != F_UNLCK;
    close(fd);
    return held ? probe.l_pid : 0;
}

bool ServiceLockHeld(const std::string& socketPath) { return ServiceLockHolder(socketPath) != 0; }

// Moves `size` bytes through `step` (one send or recv), retrying when a signal
// interrupts it; false on a closed or failed socket.
template <typename Byte, typename Step>
bool Transfer(Byte* p, std::size_t size, Step step)
{
    while (size > 0) {
        const ssize_t n = step(p, size);
        if (n < 0 && errno == EINTR) {
            continue;
        }
        if (n <= 0) {
            return false;
        }
        p += n;
        size -= static_cast<std::size_t>(n);
    }
    return true;
}

// The socket's address; false when the path does not fit.
bool SocketAddress(const std::string& socketPath, sockaddr_un& address)
{
    if (socketPath.empty() || socketPath.size() >= sizeof address.sun_path) {
        return false;
    }
    address = {};
    address.sun_family = AF_UNIX;
    std::memcpy(address.sun_path, socketPath.c_str(), socketPath.size() + 1);
    return true;
}

}  // namespace

std::string ServiceSocketPath()
{
    const std::string name = "docvert-" + std::to_string(geteuid()) + ".socket";
    const char* runtime = std::getenv("XDG_RUNTIME_DIR");
    if (runtime != nullptr && *runtime == '/' && PrivateFolder(runtime)) {
        return std::string(runtime) + "/" + name;
    }
    const std::string folder = "/tmp/docvert-service-" + std::to_string(geteuid());
    if (mkdir(folder.c_str(), 0700) != 0 && errno != EEXIST) {
        return {};
    }
    struct stat st {};
    // Someone else's folder under our name, or one others may enter: not ours to use.
    if (lstat(folder.c_str(), &st) != 0 || !S_ISDIR(st.st_mode) || st.st_uid != geteuid() ||
        (st.st_mode & 077) != 0) {
        return {};
    }
    return folder + "/" + name;
}

bool SendAll(int fd, const void* data, std::size_t size)
{
    return Transfer(static_cast<const char*>(data), size,
                    [fd](const char* p, std::size_t n) { return send(fd, p, n, MSG_NOSIGNAL); });
}

bool ReceiveAll(int fd, void* data, std::size_t size)
{
    return Transfer(static_cast<char*>(data), size, [fd](char* p, std::size_t n) { return recv(fd, p, n, 0); });
}

bool SendText(int fd, const std::string& text)
{
    const auto size = static_cast<std::uint32_t>(text.size());
    return SendAll(fd, &size, sizeof size) && SendAll(fd, text.data(), text.size());
}

bool ReceiveText(int fd, std::string& text, std::size_t longest)
{
    std::uint32_t size = 0;
    if (!ReceiveAll(fd, &size, sizeof size) || size > longest) {
        return false;
    }
    text.assign(size, '\0');
    return ReceiveAll(fd, text.data(), size);
}

std::optional<PeerIds> PeerOf(int fd)
{
    ucred cred{};
    socklen_t length = sizeof cred;
    if (getsockopt(fd, SOL_SOCKET, SO_PEERCRED, &cred, &length) != 0 || length != sizeof cred) {
        return std::nullopt;
    }
    return PeerIds{cred.uid, cred.pid};
}

int ListenAsService(const std::string& socketPath, bool& anotherRuns)
{
    anotherRuns = false;
    sockaddr_un address{};
    if (!SocketAddress(socketPath, address)) {
        return -1;
    }
    const int lock = open((socketPath + ".lock").c_str(), O_RDWR | O_CREAT | O_NOFOLLOW | O_CLOEXEC, 0600);
    struct flock whole {};
    whole.l_type = F_WRLCK;
    whole.l_whence = SEEK_SET;
    if (lock < 0 || fcntl(lock, F_SETLK, &whole) != 0) {
        anotherRuns = true;
        if (lock >= 0) {
            close(lock);
        }
        return -1;
    }
    unlink(socketPath.c_str());
    const int listener = socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (listener < 0 || bind(listener, reinterpret_cast<const sockaddr*>(&address), sizeof address) != 0 ||
        listen(listener, 16) != 0) {
        return -1;
    }
    return listener;
}

void ReportReady(int readyFd)
{
    if (readyFd >= 0) {
        const char ready = 1;
        (void)!write(readyFd, &ready, 1);
        close(readyFd);
    }
}

int ConnectToService(const std::string& socketPath)
{
    sockaddr_un address{};
    if (!SocketAddress(socketPath, address)) {
        return -1;
    }
    const int fd = socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (fd < 0) {
        return -1;
    }
    if (connect(fd, reinterpret_cast<const sockaddr*>(&address), sizeof address) != 0) {
        close(fd);
        return -1;
    }
    // Whoever listens there must be us: another user's program would get our documents.
    const std::optional<PeerIds> peer = PeerOf(fd);
    if (!peer || peer->uid != geteuid()) {
        close(fd);
        return -1;
    }
    return fd;
}

bool StartService(const ServiceSettings& settings, bool wait)
{
    if (settings.program.empty() || settings.socketPath.empty()) {
        return false;
    }
    const int existing = ConnectToService(settings.socketPath);
    if (existing >= 0) {
        close(existing);
        return true;
    }
    const auto deadline = Clock::now() + settings.startLimit;
    if (!ServiceLockHeld(settings.socketPath)) {
        int ready[2];
        if (pipe2(ready, O_CLOEXEC) != 0) {
            return false;
        }
        const bool started = StartDetached(settings.program, ready[1]);
        close(ready[1]);
        // One byte once it listens; the end of the pipe when it ended first
        // (no office, or another service took the lock).
        char byte = 0;
        if (started && wait && WaitReadable(ready[0], deadline)) {
            (void)!read(ready[0], &byte, 1);
        }
        close(ready[0]);
        if (!started) {
            return false;
        }
    }
    if (!wait) {
        return true;
    }
    // Another client's service may still be loading the office.
    for (;;) {
        const int fd = ConnectToService(settings.socketPath);
        if (fd >= 0) {
            close(fd);
            return true;
        }
        if (!ServiceLockHeld(settings.socketPath)) {
            return false;
        }
        if (Clock::now() >= deadline) {
            // Stuck loading the office: it would hold up every later request too.
            KillService(ServiceLockHolder(settings.socketPath));
            return false;
        }
        usleep(20000);
    }
}

std::optional<pid_t> EnsureService(const ServiceSettings& settings)
{
    if (!StartService(settings, true)) {
        return std::nullopt;
    }
    const int fd = ConnectToService(settings.socketPath);
    if (fd < 0) {
        return std::nullopt;
    }
    const std::optional<PeerIds> peer = PeerOf(fd);
    const auto kind = static_cast<std::uint8_t>(ServiceRequest::Ping);
    std::uint8_t answer = 0;
    // A ping waits behind a conversion in progress: up to that one's limit.
    const bool alive = SendAll(fd, &kind, 1) && WaitReadable(fd, Clock::now() + settings.timeLimit) &&
                       ReceiveAll(fd, &answer, 1) && answer == 1;
    close(fd);
    return alive && peer ? std::optional<pid_t>(peer->pid) : std::nullopt;
}

ServiceOutcome ConvertWithService(const ServiceSettings& settings, const std::string& input, const std::string& output)
{
    // One limit for the document, the service's start included.
    const auto deadline = Clock::now() + settings.timeLimit;
    ServiceSettings start = settings;
    start.startLimit = std::min(settings.startLimit, settings.timeLimit);
    if (!StartService(start, true)) {
        return ServiceOutcome::Unavailable;
    }
    const int fd = ConnectToService(settings.socketPath);
    if (fd < 0) {
        return ServiceOutcome::Unavailable;
    }
    const std::optional<PeerIds> peer = PeerOf(fd);
    const auto kind = static_cast<std::uint8_t>(ServiceRequest::Convert);
    if (!peer || !SendAll(fd, &kind, 1) || !SendText(fd, input) || !SendText(fd, output)) {
        close(fd);
        return ServiceOutcome::Unavailable;
    }
    // A document that keeps the office busy beyond the limit costs the
    // service, which the next request starts again.
    if (!WaitReadable(fd, deadline)) {
        close(fd);
        KillService(peer->pid);
        return ServiceOutcome::TimedOut;
    }
    std::uint8_t answer = 0;
    const bool answered = ReceiveAll(fd, &answer, 1);
    close(fd);
    if (!answered) {
        return ServiceOutcome::Unavailable;  // it crashed on the document, or was ended
    }
    return answer == 1 ? ServiceOutcome::Converted : ServiceOutcome::Refused;
}

std::string ServiceProgramBesideLibrary()
{
    Dl_info info{};
    if (dladdr(reinterpret_cast<void*>(&ServiceProgramBesideLibrary), &info) == 0 || info.dli_fname == nullptr) {
        return {};
    }
    std::string_view library(info.dli_fname);
    const std::size_t slash = library.rfind('/');
    if (slash == std::string_view::npos) {
        return {};
    }
    std::string program = std::string(library.substr(0, slash + 1)) + "docvert-service";
    return access(program.c_str(), X_OK) == 0 ? program : std::string();
}

}  // namespace docvert
