#include "support/ftp_server_process.h"

#include <unistd.h>

#include <chrono>
#include <fstream>

#include "support/child_process.h"
#include "support/wait.h"

namespace testsupport {

namespace {
constexpr auto kStopGrace = std::chrono::seconds(5);
}

struct FtpServerProcess::State {
    std::filesystem::path output;
    std::unique_ptr<ChildProcess> child;
};

FtpServerProcess::FtpServerProcess(std::vector<std::string> argv, const std::filesystem::path& work)
    : m_state(std::make_unique<State>())
{
    // The server ends with this process, even when the test dies without
    // stopping it.
    argv.insert(argv.end(), {"--parent", std::to_string(getpid())});
    m_state->output = work / "port";
    m_state->child = std::make_unique<ChildProcess>(argv, ChildOptions{.stdoutFile = m_state->output});
}

FtpServerProcess::~FtpServerProcess() { Stop(); }

bool FtpServerProcess::FirstLine(std::string& line, std::string& failure)
{
    ChildProcess& child = *m_state->child;
    bool complete = false;
    WaitUntil([&] {
        std::ifstream in(m_state->output);
        complete = std::getline(in, line) && !in.eof();
        return complete || !child.Running();
    });
    if (!complete) {
        failure = child.Started() ? "it ended before it said anything" : "it could not be started";
    }
    return complete;
}

void FtpServerProcess::Stop()
{
    if (m_state->child) {
        m_state->child->Stop(kStopGrace);
        m_state->child.reset();
    }
}

std::string ServerPath(const std::filesystem::path& path) { return path.string(); }

}  // namespace testsupport
