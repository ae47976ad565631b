#include "viewer_process.h"

#include <fcntl.h>
#include <signal.h>
#include <sys/prctl.h>
#include <sys/wait.h>
#include <unistd.h>

#include <fstream>
#include <sstream>

extern char** environ;

namespace e2e {

ViewerProcess::ViewerProcess(const std::string& program, const std::vector<std::string>& args,
                             const std::string& logPath)
    : m_logPath(logPath)
{
    std::vector<char*> argv;
    argv.push_back(const_cast<char*>(program.c_str()));
    for (const std::string& arg : args) {
        argv.push_back(const_cast<char*>(arg.c_str()));
    }
    argv.push_back(nullptr);

    const pid_t parent = getpid();
    m_pid = fork();
    if (m_pid == 0) {
        setpgid(0, 0);
        // If the test process dies in the middle, the viewer goes with it.
        prctl(PR_SET_PDEATHSIG, SIGKILL);
        if (getppid() != parent) {
            _exit(127);
        }
        const int log = open(logPath.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
        if (log >= 0) {
            dup2(log, STDOUT_FILENO);
            dup2(log, STDERR_FILENO);
            close(log);
        }
        setenv("CVGLANCE_TRACE", "1", 1);
        execv(program.c_str(), argv.data());
        _exit(127);
    }
    if (m_pid > 0) {
        setpgid(m_pid, m_pid);
    }
}

ViewerProcess::~ViewerProcess()
{
    if (m_pid <= 0) {
        return;
    }
    if (!m_exited) {
        kill(-m_pid, SIGTERM);
        if (!WaitForExit(std::chrono::seconds(5))) {
            kill(-m_pid, SIGKILL);
            waitpid(m_pid, nullptr, 0);
        }
    }
    // Whatever the program started (web content processes, converters) goes too.
    kill(-m_pid, SIGKILL);
}

std::string ViewerProcess::Log() const
{
    std::ifstream in(m_logPath, std::ios::binary);
    std::ostringstream text;
    text << in.rdbuf();
    return text.str();
}

bool ViewerProcess::WaitForLog(const std::string& text, std::chrono::milliseconds timeout) const
{
    return WaitUntil([&] { return Log().find(text) != std::string::npos; }, timeout);
}

bool ViewerProcess::Running()
{
    if (m_exited || m_pid <= 0) {
        return false;
    }
    if (waitpid(m_pid, &m_status, WNOHANG) == m_pid) {
        m_exited = true;
    }
    return !m_exited;
}

bool ViewerProcess::ExitedNormally() const { return m_exited && WIFEXITED(m_status); }

bool ViewerProcess::WaitForExit(std::chrono::milliseconds timeout)
{
    return WaitUntil([this] { return !Running(); }, timeout);
}

}  // namespace e2e
