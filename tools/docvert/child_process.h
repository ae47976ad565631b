// Running a converter program as a child with a time limit.
#pragma once

#include <sys/types.h>

#include <chrono>
#include <filesystem>
#include <string>
#include <vector>

namespace docvert {

struct ChildOptions {
    // Standard output goes to this file (created or truncated); empty means
    // /dev/null. Standard input is always /dev/null, standard error too.
    std::filesystem::path stdoutPath;
    // Extra or replaced environment entries ("NAME=value").
    std::vector<std::string> environment;
    std::chrono::milliseconds timeLimit{std::chrono::seconds(60)};
    // Files and folders removed, once the child's group is gone, when the
    // host ends while the child runs (nobody else would remove them then).
    std::vector<std::filesystem::path> removeIfHostEnds;
};

enum class ChildOutcome {
    Exited,       // ended by itself; exitCode holds its status
    Signalled,    // ended by a signal it did not ask for (a crash)
    TimedOut,     // still running at the time limit; its process group was killed
    NotStarted,   // the program could not be started (not installed, not executable)
};

struct ChildResult {
    ChildOutcome outcome = ChildOutcome::NotStarted;
    int exitCode = -1;
    bool Succeeded() const { return outcome == ChildOutcome::Exited && exitCode == 0; }
};

// Ends a process group, and removes files and folders, should the host end
// while the guard lives, however it ends: by returning from main, _exit, a
// crash or SIGKILL. A shell in a session of its own reads a pipe whose writing
// end only the host holds; the kernel closes that end when the host ends, and
// the shell's read returns. Destroying the guard stops it before it has done
// anything. When the shell cannot be started there is no guard.
class HostEndGuard {
public:
    // `group` <= 0: no process group, only the removals.
    HostEndGuard(pid_t group, const std::vector<std::filesystem::path>& leftovers);
    ~HostEndGuard();
    HostEndGuard(const HostEndGuard&) = delete;
    HostEndGuard& operator=(const HostEndGuard&) = delete;

private:
    pid_t m_pid = -1;
    int m_lifeline = -1;
};

// Runs argv[0] (looked up on PATH when it has no "/") with the arguments in
// its own process group, and waits for it at most options.timeLimit. Whatever
// the outcome, every process left in that group is sent SIGKILL before this
// returns, so no helper of the child outlives the conversion (the kernel ends
// them a moment later). Should the host process end while a child runs, by
// any means including SIGKILL, a HostEndGuard kills that child's group and
// removes options.removeIfHostEnds.
ChildResult RunChild(const std::vector<std::string>& argv, const ChildOptions& options);

}  // namespace docvert
