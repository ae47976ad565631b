#include "tools/docvert/child_process.h"

#include <fcntl.h>
#include <signal.h>
#include <spawn.h>
#include <sys/types.h>
#include <sys/wait.h>
#include <unistd.h>

#include <array>
#include <atomic>
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

    bool Prepare(const std::string& stdoutPath)
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
        return posix_spawnattr_setflags(&m_attr, POSIX_SPAWN_SETPGROUP | POSIX_SPAWN_SETSIGMASK |
                                                     POSIX_SPAWN_SETSIGDEF) == 0 &&
               posix_spawnattr_setpgroup(&m_attr, 0) == 0 &&
               posix_spawnattr_setsigmask(&m_attr, &none) == 0 &&
               posix_spawnattr_setsigdefault(&m_attr, &defaults) == 0 &&
               posix_spawn_file_actions_addopen(&m_actions, STDIN_FILENO, "/dev/null", O_RDONLY, 0) == 0 &&
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

// The process groups of the converters running now. A host that ends while a
// conversion runs (the viewer closed in the middle of one) leaves the waiting
// thread behind; the converters are ended with the host instead of running on
// to their own end, which a document that hangs them would never reach.
std::array<std::atomic<pid_t>, 32> g_runningGroups{};

struct EndRunningGroupsAtExit {
    ~EndRunningGroupsAtExit()
    {
        for (std::atomic<pid_t>& group : g_runningGroups) {
            const pid_t pid = group.exchange(0);
            if (pid > 0) {
                kill(-pid, SIGKILL);
            }
        }
    }
} g_endRunningGroupsAtExit;

// The slot `pid` was noted in; null when all are taken (that child is then
// only ended by its time limit, as before the host ends).
std::atomic<pid_t>* NoteRunning(pid_t pid)
{
    for (std::atomic<pid_t>& group : g_runningGroups) {
        pid_t expected = 0;
        if (group.compare_exchange_strong(expected, pid)) {
            return &group;
        }
    }
    return nullptr;
}

void Reap(pid_t pid)
{
    while (waitpid(pid, nullptr, 0) < 0 && errno == EINTR) {
    }
}

}  // namespace

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

    std::atomic<pid_t>* const noted = NoteRunning(pid);
    siginfo_t info;
    if (!WaitForEnd(pid, options.timeLimit, info)) {
        result.outcome = ChildOutcome::TimedOut;
    } else if (info.si_code == CLD_EXITED) {
        result.outcome = ChildOutcome::Exited;
        result.exitCode = info.si_status;
    } else {
        result.outcome = ChildOutcome::Signalled;
    }
    kill(-pid, SIGKILL);
    if (noted != nullptr) {
        noted->store(0);
    }
    Reap(pid);
    return result;
}

}  // namespace docvert
