#include "tools/docvert/child_process.h"

#include <fcntl.h>
#include <signal.h>
#include <spawn.h>
#include <sys/types.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <thread>

extern char** environ;

namespace docvert {
namespace {

// Everything posix_spawn needs, prepared up front and released on every path.
class SpawnSetup {
public:
    SpawnSetup()
    {
        m_actionsReady = posix_spawn_file_actions_init(&m_actions) == 0;
        m_attrReady = posix_spawnattr_init(&m_attr) == 0;
    }
    ~SpawnSetup()
    {
        if (m_actionsReady) {
            posix_spawn_file_actions_destroy(&m_actions);
        }
        if (m_attrReady) {
            posix_spawnattr_destroy(&m_attr);
        }
    }
    SpawnSetup(const SpawnSetup&) = delete;
    SpawnSetup& operator=(const SpawnSetup&) = delete;

    // Standard input is `stdinFd` when one is given, else /dev/null. A child
    // in a session of its own is out of reach of the signals the host's
    // terminal sends to the host's group.
    bool Prepare(const std::filesystem::path& stdoutPath, int stdinFd = -1, bool ownSession = false)
    {
        if (!m_actionsReady || !m_attrReady) {
            return false;
        }
        const char* out = stdoutPath.empty() ? "/dev/null" : stdoutPath.c_str();
        sigset_t none;
        sigset_t defaults;
        sigemptyset(&none);
        sigemptyset(&defaults);
        sigaddset(&defaults, SIGPIPE);
        sigaddset(&defaults, SIGCHLD);
        // A new process group lets the time limit reach the child's own
        // children (LibreOffice runs as a script, a launcher and the office).
        // The host's signal mask and the descriptors it left inheritable are
        // none of the child's business.
        const short group = ownSession ? POSIX_SPAWN_SETSID : POSIX_SPAWN_SETPGROUP;
        const int in = stdinFd >= 0 ? posix_spawn_file_actions_adddup2(&m_actions, stdinFd, STDIN_FILENO)
                                    : posix_spawn_file_actions_addopen(&m_actions, STDIN_FILENO, "/dev/null",
                                                                       O_RDONLY, 0);
        return in == 0 &&
               posix_spawnattr_setflags(&m_attr, group | POSIX_SPAWN_SETSIGMASK | POSIX_SPAWN_SETSIGDEF) == 0 &&
               posix_spawnattr_setpgroup(&m_attr, 0) == 0 &&
               posix_spawnattr_setsigmask(&m_attr, &none) == 0 &&
               posix_spawnattr_setsigdefault(&m_attr, &defaults) == 0 &&
               posix_spawn_file_actions_addopen(&m_actions, STDOUT_FILENO, out,
                                                O_WRONLY | O_CREAT | O_TRUNC, 0600) == 0 &&
               posix_spawn_file_actions_addopen(&m_actions, STDERR_FILENO, "/dev/null", O_WRONLY, 0) == 0 &&
               posix_spawn_file_actions_addclosefrom_np(&m_actions, STDERR_FILENO + 1) == 0;
    }

    const posix_spawn_file_actions_t* actions() const { return &m_actions; }
    const posix_spawnattr_t* attr() const { return &m_attr; }

private:
    posix_spawn_file_actions_t m_actions{};
    posix_spawnattr_t m_attr{};
    bool m_actionsReady = false;
    bool m_attrReady = false;
};

std::vector<std::string> MergeEnvironment(const std::vector<std::string>& overrides)
{
    std::vector<std::string> merged;
    for (char** entry = environ; entry != nullptr && *entry != nullptr; ++entry) {
        std::string current(*entry);
        const std::string name = current.substr(0, current.find('=') + 1);
        bool replaced = false;
        for (const std::string& wanted : overrides) {
            replaced = replaced || wanted.compare(0, name.size(), name) == 0;
        }
        if (!replaced) {
            merged.push_back(std::move(current));
        }
    }
    merged.insert(merged.end(), overrides.begin(), overrides.end());
    return merged;
}

std::vector<char*> PointersTo(std::vector<std::string>& texts)
{
    std::vector<char*> pointers;
    pointers.reserve(texts.size() + 1);
    for (std::string& text : texts) {
        pointers.push_back(text.data());
    }
    pointers.push_back(nullptr);
    return pointers;
}

// Waits until the child has ended without reaping it, so that its process
// group stays reserved while the rest of the group is killed.
bool WaitForEnd(pid_t pid, std::chrono::milliseconds limit, siginfo_t& info)
{
    const auto deadline = std::chrono::steady_clock::now() + limit;
    auto pause = std::chrono::milliseconds(2);
    for (;;) {
        std::memset(&info, 0, sizeof info);
        const int rc = waitid(P_PID, static_cast<id_t>(pid), &info, WEXITED | WNOHANG | WNOWAIT);
        if (rc == 0 && info.si_pid == pid) {
            return true;
        }
        if (rc != 0 && errno != EINTR) {
            // Nothing left to wait for (the host reaps children itself).
            info.si_code = 0;
            return true;
        }
        if (std::chrono::steady_clock::now() >= deadline) {
            return false;
        }
        std::this_thread::sleep_for(pause);
        pause = std::min(pause * 2, std::chrono::milliseconds(20));
    }
}

void Reap(pid_t pid)
{
    while (waitpid(pid, nullptr, 0) < 0 && errno == EINTR) {
    }
}

}  // namespace

HostEndGuard::HostEndGuard(pid_t group, const std::vector<std::filesystem::path>& leftovers)
{
    // The group is killed until it is empty: a member may start another
    // process between two signals. Zombies keep a group alive until they are
    // reaped, which an orphan's new parent may not do, so the wait has an end.
    static constexpr const char* kScript =
        "read -r _\n"
        "i=0\n"
        "while [ \"$1\" -gt 0 ] && kill -s KILL -- \"-$1\" 2>/dev/null && [ \"$i\" -lt 200 ]; do\n"
        "    i=$((i + 1)); sleep 0.05\n"
        "done\n"
        "shift\n"
        "chmod -R u+rwx -- \"$@\" 2>/dev/null\n"
        "rm -rf -- \"$@\"\n";
    int lifeline[2];
    if (pipe2(lifeline, O_CLOEXEC) != 0) {
        return;
    }
    std::vector<std::string> arguments = {"/bin/sh", "-c", kScript, "docvert-guard", std::to_string(group)};
    for (const std::filesystem::path& leftover : leftovers) {
        arguments.push_back(leftover.native());
    }
    std::vector<std::string> environment = {"PATH=/usr/bin:/bin"};
    std::vector<char*> argp = PointersTo(arguments);
    std::vector<char*> envp = PointersTo(environment);
    SpawnSetup setup;
    if (setup.Prepare({}, lifeline[0], true) &&
        posix_spawn(&m_pid, argp.front(), setup.actions(), setup.attr(), argp.data(), envp.data()) == 0) {
        m_lifeline = lifeline[1];
    } else {
        m_pid = -1;
        close(lifeline[1]);
    }
    close(lifeline[0]);
}

HostEndGuard::~HostEndGuard()
{
    if (m_pid > 0) {
        kill(m_pid, SIGKILL);
        close(m_lifeline);
        Reap(m_pid);
    }
}

ChildResult RunChild(const std::vector<std::string>& argv, const ChildOptions& options)
{
    ChildResult result;
    if (argv.empty() || argv.front().empty()) {
        return result;
    }
    SpawnSetup setup;
    if (!setup.Prepare(options.stdoutPath)) {
        return result;
    }
    std::vector<std::string> arguments = argv;
    std::vector<std::string> environment = MergeEnvironment(options.environment);
    std::vector<char*> argp = PointersTo(arguments);
    std::vector<char*> envp = PointersTo(environment);

    pid_t pid = -1;
    if (posix_spawnp(&pid, argp.front(), setup.actions(), setup.attr(), argp.data(), envp.data()) != 0) {
        return result;
    }

    siginfo_t info;
    {
        // Stopped before the child is reaped: until then the group's number
        // cannot be given to anyone else.
        const HostEndGuard guard(pid, options.removeIfHostEnds);
        if (!WaitForEnd(pid, options.timeLimit, info)) {
            result.outcome = ChildOutcome::TimedOut;
        } else if (info.si_code == CLD_EXITED) {
            result.outcome = ChildOutcome::Exited;
            result.exitCode = info.si_status;
        } else {
            result.outcome = ChildOutcome::Signalled;
        }
        kill(-pid, SIGKILL);
    }
    Reap(pid);
    return result;
}

}  // namespace docvert
