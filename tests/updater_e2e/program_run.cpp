#include "updater_e2e/program_run.h"

#include <fcntl.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstring>
#include <thread>

ProgramRun::ProgramRun(const std::filesystem::path& program, const std::vector<std::string>& args,
                       bool withDisplay, const std::filesystem::path& stderrFile)
{
    std::vector<std::string> argv = {program.string()};
    argv.insert(argv.end(), args.begin(), args.end());
    std::vector<char*> argvPointers;
    for (auto& arg : argv) {
        argvPointers.push_back(arg.data());
    }
    argvPointers.push_back(nullptr);

    std::vector<char*> envPointers;
    for (char** entry = environ; *entry != nullptr; ++entry) {
        const bool isDisplay = std::strncmp(*entry, "DISPLAY=", 8) == 0 ||
                               std::strncmp(*entry, "WAYLAND_DISPLAY=", 16) == 0;
        if (withDisplay || !isDisplay) {
            envPointers.push_back(*entry);
        }
    }
    envPointers.push_back(nullptr);

    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, STDERR_FILENO, stderrFile.c_str(), O_WRONLY | O_CREAT | O_TRUNC,
                                     0644);
    // Standard output goes to the same file: nothing the program or its children
    // leave running may hold the test runner's output open.
    posix_spawn_file_actions_adddup2(&actions, STDERR_FILENO, STDOUT_FILENO);
    if (posix_spawn(&m_pid, argvPointers[0], &actions, nullptr, argvPointers.data(), envPointers.data()) != 0) {
        m_pid = -1;
    }
    posix_spawn_file_actions_destroy(&actions);
}

ProgramRun::~ProgramRun()
{
    if (Running()) {
        kill(m_pid, SIGKILL);
        WaitForExit(10);
    }
}

bool ProgramRun::Running()
{
    if (m_pid <= 0 || m_exited) {
        return false;
    }
    int status = 0;
    if (waitpid(m_pid, &status, WNOHANG) == m_pid) {
        m_exited = true;
        m_status = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
        return false;
    }
    return true;
}

int ProgramRun::WaitForExit(double seconds)
{
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::duration<double>(seconds);
    while (Running()) {
        if (std::chrono::steady_clock::now() > deadline) {
            return -1;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
    return m_exited ? m_status : -1;
}

int ProgramRun::CloseWhenAllowed(const std::function<void()>& close, double seconds)
{
    int status = -1;
    for (double waited = 0; waited < seconds && status < 0; waited += 0.1) {
        close();
        status = WaitForExit(0.1);
    }
    return status;
}
