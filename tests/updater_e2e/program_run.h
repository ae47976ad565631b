// Running the built MorvexUpdate as a separate process.
#pragma once

#include <sys/types.h>

#include <filesystem>
#include <functional>
#include <string>
#include <vector>

class ProgramRun {
public:
    // Starts `program` with `args` in the current directory and environment,
    // without DISPLAY when `withDisplay` is false; standard error goes to
    // `stderrFile`.
    ProgramRun(const std::filesystem::path& program, const std::vector<std::string>& args, bool withDisplay,
               const std::filesystem::path& stderrFile);
    // Kills a program still running.
    ~ProgramRun();
    ProgramRun(const ProgramRun&) = delete;
    ProgramRun& operator=(const ProgramRun&) = delete;

    pid_t pid() const { return m_pid; }
    bool Running();
    // Waits up to `seconds` for the exit; its status, or -1 on timeout or
    // abnormal end.
    int WaitForExit(double seconds);
    // Repeats `close` (a close request, a key) until the program ends, for up
    // to `seconds`: the dialog refuses closing until the product's start
    // request is out. The exit status, or -1.
    int CloseWhenAllowed(const std::function<void()>& close, double seconds = 60);

private:
    pid_t m_pid = -1;
    bool m_exited = false;
    int m_status = -1;
};
