// The built CvGlance program run as a child process, with its standard error
// (where it reports each page it has loaded) kept in a file.
#pragma once

#include <chrono>
#include <string>
#include <sys/types.h>
#include <vector>

namespace e2e {

class ViewerProcess {
public:
    // Starts the program with the arguments in its own process group, with
    // CVGLANCE_TRACE set so that it reports loaded pages.
    ViewerProcess(const std::string& program, const std::vector<std::string>& args,
                  const std::string& logPath);
    // Ends the program's whole process group when it is still running.
    ~ViewerProcess();
    ViewerProcess(const ViewerProcess&) = delete;
    ViewerProcess& operator=(const ViewerProcess&) = delete;

    pid_t pid() const { return m_pid; }
    std::string Log() const;

    // Waits until the log holds `text`; false when the time ran out.
    bool WaitForLog(const std::string& text, std::chrono::milliseconds timeout) const;
    // True while the program has not ended.
    bool Running();
    // Waits for the program to end; false when the time ran out.
    bool WaitForExit(std::chrono::milliseconds timeout);
    // After the program ended: true when it exited rather than died of a signal.
    bool ExitedNormally() const;

private:
    std::string m_logPath;
    pid_t m_pid = -1;
    bool m_exited = false;
    int m_status = 0;
};

// Polls `condition` every 100 ms until it holds or `timeout` has passed.
template <typename Condition>
bool WaitUntil(Condition condition, std::chrono::milliseconds timeout);

}  // namespace e2e

#include <thread>

template <typename Condition>
bool e2e::WaitUntil(Condition condition, std::chrono::milliseconds timeout)
{
    const auto deadline = std::chrono::steady_clock::now() + timeout;
    for (;;) {
        if (condition()) {
            return true;
        }
        if (std::chrono::steady_clock::now() >= deadline) {
            return false;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(100));
    }
}
