#include "support/child_process.h"

#include <fcntl.h>
#include <signal.h>
#include <sys/prctl.h>
#include <sys/wait.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <optional>

#include "support/temp_dir.h"
#include "support/wait.h"

extern char** environ;

namespace testsupport {
namespace {

std::vector<std::string> ChildEnvironment(const ChildOptions& options)
{
    std::vector<std::string> env;
    for (char** entry = environ; *entry != nullptr; ++entry) {
        const std::string item = *entry;
        const std::string name = item.substr(0, item.find('='));
        const auto named = [&](const std::string& other) { return other == name; };
        const bool replaced = std::any_of(options.env.begin(), options.env.end(),
                                          [&](const auto& pair) { return named(pair.first); });
        if (!replaced && std::none_of(options.unsetEnv.begin(), options.unsetEnv.end(), named)) {
            env.push_back(item);
        }
    }
    for (const auto& [name, value] : options.env) {
        env.push_back(name + "=" + value);
    }
    return env;
}

// The program as execve wants it: a bare name is looked up in the child's
// PATH here, because the child may only make async-signal-safe calls.
std::string ResolveProgram(const std::string& program, const std::vector<std::string>& env)
{
    if (program.find('/') != std::string::npos) {
        return program;
    }
    std::string path = "/usr/bin:/bin";
    for (const std::string& item : env) {
        if (item.starts_with("PATH=")) {
            path = item.substr(5);
        }
    }
    for (std::size_t start = 0; start <= path.size();) {
        const std::size_t end = std::min(path.find(':', start), path.size());
        const std::filesystem::path candidate = std::filesystem::path(path.substr(start, end - start)) / program;
        if (access(candidate.c_str(), X_OK) == 0) {
            return candidate.string();
        }
        start = end + 1;
    }
    return program;
}

std::vector<char*> Pointers(std::vector<std::string>& strings)
{
    std::vector<char*> pointers;
    for (std::string& item : strings) {
        pointers.push_back(item.data());
    }
    pointers.push_back(nullptr);
    return pointers;
}

}  // namespace

ChildProcess::ChildProcess(const std::vector<std::string>& argv, const ChildOptions& options)
{
    if (argv.empty()) {
        ADD_FAILURE() << "nothing to run";
        return;
    }
    std::vector<std::string> args = argv;
    std::vector<std::string> env = ChildEnvironment(options);
    const std::string program = ResolveProgram(argv[0], env);
    const std::vector<char*> argp = Pointers(args);
    const std::vector<char*> envp = Pointers(env);
    const std::string out = options.stdoutFile.string();
    const std::string err = options.stderrFile.string();
    const std::string workDir = options.workDir.string();

    const bool ownSession = options.ownSession;
    const pid_t parent = getpid();
    m_pid = fork();
    if (m_pid == 0) {
        if (ownSession) {
            setsid();
        }
        prctl(PR_SET_PDEATHSIG, SIGKILL);
        if (getppid() != parent) {
            _exit(127);
        }
        const int in = open("/dev/null", O_RDONLY);
        if (in < 0 || dup2(in, STDIN_FILENO) < 0) {
            _exit(126);
        }
        const int flags = O_WRONLY | O_CREAT | O_TRUNC;
        const int outFd = out.empty() ? -1 : open(out.c_str(), flags, 0644);
        if (!out.empty() && (outFd < 0 || dup2(outFd, STDOUT_FILENO) < 0)) {
            _exit(126);
        }
        if (!err.empty()) {
            const int errFd = err == out ? outFd : open(err.c_str(), flags, 0644);
            if (errFd < 0 || dup2(errFd, STDERR_FILENO) < 0) {
                _exit(126);
            }
        }
        if (!workDir.empty() && chdir(workDir.c_str()) != 0) {
            _exit(126);
        }
        execve(program.c_str(), argp.data(), envp.data());
        _exit(127);
    }
    m_group = ownSession ? m_pid : 0;
    if (m_pid < 0) {
        ADD_FAILURE() << "cannot start " << program << ": " << std::strerror(errno);
    }
}

ChildProcess::~ChildProcess()
{
    if (m_pid > 0) {
        Stop();
    }
}

bool ChildProcess::Running()
{
    if (m_pid <= 0 || m_ended) {
        return false;
    }
    if (waitpid(m_pid, &m_status, WNOHANG) == m_pid) {
        m_ended = true;
    }
    return !m_ended;
}

bool ChildProcess::WaitForExit(std::chrono::milliseconds bound)
{
    return WaitUntil([this] { return !Running(); }, bound);
}

int ChildProcess::ExitCode() const { return m_ended && WIFEXITED(m_status) ? WEXITSTATUS(m_status) : -1; }

int ChildProcess::EndSignal() const { return m_ended && WIFSIGNALED(m_status) ? WTERMSIG(m_status) : 0; }

void ChildProcess::Signal(int signal)
{
    if (m_group > 0) {
        kill(-m_group, signal);
    } else if (Running()) {
        kill(m_pid, signal);
    }
}

void ChildProcess::Stop(std::chrono::milliseconds grace)
{
    if (Running()) {
        Signal(SIGTERM);
        if (!WaitForExit(grace)) {
            Signal(SIGKILL);
            while (waitpid(m_pid, &m_status, 0) < 0 && errno == EINTR) {
            }
            m_ended = true;
        }
    }
    // Whatever the child started in its session goes too.
    Signal(SIGKILL);
}

ProgramRun RunProgram(const std::vector<std::string>& argv, ChildOptions options)
{
    TempDir capture;
    options.stdoutFile = capture.path() / "out";
    options.stderrFile = capture.path() / "err";
    ProgramRun run;
    ChildProcess child(argv, options);
    if (!child.Started()) {
        return run;
    }
    if (!child.WaitForExit()) {
        ADD_FAILURE() << argv[0] << " did not end within " << kChildBound.count() << " ms";
        child.Stop(std::chrono::milliseconds(0));
    }
    run.exitCode = child.ExitCode();
    run.out = ReadFileBytes(options.stdoutFile);
    run.err = ReadFileBytes(options.stderrFile);
    return run;
}

ProgramRun RunProgram(const std::string& program, const std::vector<std::string>& args,
                      const std::filesystem::path& workDir,
                      const std::vector<std::pair<std::string, std::string>>& env)
{
    std::vector<std::string> argv{program};
    argv.insert(argv.end(), args.begin(), args.end());
    return RunProgram(argv, ChildOptions{.workDir = workDir, .env = env});
}

int RunAndWait(const std::vector<std::string>& argv, const ChildOptions& options)
{
    ChildProcess child(argv, options);
    if (!child.Started()) {
        return -1;
    }
    if (!child.WaitForExit()) {
        ADD_FAILURE() << argv[0] << " did not end within " << kChildBound.count() << " ms";
        child.Stop(std::chrono::milliseconds(0));
    }
    return child.ExitCode();
}

std::string BuiltProgram(const std::string& name) { return std::string(MORVEX_BINARY_DIR) + "/bin/" + name; }

}  // namespace testsupport
