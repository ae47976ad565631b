// The one way tests run other programs: to their end with the output kept,
// or in the background behind a handle that waits for or ends them. Each
// child gets a session (and so a process group) of its own, so that ending
// it also ends whatever it started; and it dies with the test program.
#pragma once

#include <sys/types.h>

#include <chrono>
#include <filesystem>
#include <string>
#include <utility>
#include <vector>

namespace testsupport {

// Only guards against a child that hangs: long enough for a loaded machine
// to start an office, a web view or a key generator.
inline constexpr std::chrono::milliseconds kChildBound = std::chrono::minutes(10);

struct ChildOptions {
    std::filesystem::path workDir{};                         // empty: the test's own
    std::vector<std::pair<std::string, std::string>> env{};  // set or replaced
    std::vector<std::string> unsetEnv{};                     // removed
    // Where standard output and error go (the same file for both is fine);
    // empty: the test's own. Standard input is always /dev/null.
    std::filesystem::path stdoutFile{};
    std::filesystem::path stderrFile{};
    // False keeps the child in the test's session and process group, for a
    // test of how a program leaves the session it was started in.
    bool ownSession = true;
};

class ChildProcess {
public:
    // Starts argv[0] (a path, or a name looked up in the child's PATH).
    explicit ChildProcess(const std::vector<std::string>& argv, const ChildOptions& options = {});
    // Ends the child (its whole process group when it has one of its own)
    // if it still runs.
    ~ChildProcess();
    ChildProcess(const ChildProcess&) = delete;
    ChildProcess& operator=(const ChildProcess&) = delete;

    bool Started() const { return m_pid > 0; }
    pid_t pid() const { return m_pid; }
    bool Running();
    // Waits for the child to end; false when `bound` passed first.
    bool WaitForExit(std::chrono::milliseconds bound = kChildBound);
    // Once it ended: its exit status, or -1 when a signal ended it.
    int ExitCode() const;
    // Once it ended: the signal that ended it, or 0.
    int EndSignal() const;
    // Sends `signal` to the child's process group (to the child alone when it
    // has none of its own).
    void Signal(int signal);
    // Asks the group to end (SIGTERM), kills it after `grace`, and reaps the
    // child; leftovers of the group are killed too.
    void Stop(std::chrono::milliseconds grace = std::chrono::seconds(5));

private:
    pid_t m_pid = -1;
    pid_t m_group = 0;  // 0: none of its own
    bool m_ended = false;
    int m_status = 0;
};

struct ProgramRun {
    int exitCode = -1;  // -1 when it did not exit normally
    std::string out;
    std::string err;
};

// Runs argv to its end with standard output and error captured; fails the
// test when it could not start or hung.
ProgramRun RunProgram(const std::vector<std::string>& argv, ChildOptions options = {});
ProgramRun RunProgram(const std::string& program, const std::vector<std::string>& args,
                      const std::filesystem::path& workDir = {},
                      const std::vector<std::pair<std::string, std::string>>& env = {});

// Runs argv to its end (with the test's own output unless `options` says
// otherwise); its exit status, or -1 when it could not be run or did not exit
// normally.
int RunAndWait(const std::vector<std::string>& argv, const ChildOptions& options = {});

// A program binary of this build.
std::string BuiltProgram(const std::string& name);

}  // namespace testsupport
