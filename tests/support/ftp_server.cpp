#include "support/ftp_server.h"

#include <gtest/gtest.h>

#include <cerrno>
#include <chrono>
#include <csignal>
#include <cstring>
#include <fcntl.h>
#include <fstream>
#include <poll.h>
#include <spawn.h>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>

extern char** environ;

namespace testsupport {
namespace {

constexpr int kStartTimeoutMs = 60000;
constexpr auto kStopGrace = std::chrono::seconds(5);

std::vector<std::string> ServerArguments(const std::filesystem::path& root,
                                         const FtpServerOptions& options,
                                         const std::string& commandLog)
{
    std::vector<std::string> args = {MORVEX_PYTHON,
                                     MORVEX_SOURCE_DIR "/tests/ftp/ftpserver.py",
                                     "--root", root.string(),
                                     "--user", options.user,
                                     "--password", options.password,
                                     "--command-log", commandLog,
                                     "--quiet",
                                     "--parent", std::to_string(getpid())};
    if (!options.tlsCertificate.empty() && !options.tlsKey.empty()) {
        args.insert(args.end(), {"--tls", options.tlsCertificate, options.tlsKey});
    }
    if (options.dropAfterBytes >= 0) {
        args.insert(args.end(), {"--drop-after", std::to_string(options.dropAfterBytes)});
    }
    if (options.stallAfterBytes >= 0) {
        args.insert(args.end(), {"--stall-after", std::to_string(options.stallAfterBytes),
                                 "--stall-seconds", std::to_string(options.stallSeconds)});
        if (!options.stallUntilFile.empty()) {
            args.insert(args.end(), {"--stall-until", options.stallUntilFile});
        }
    }
    if (options.trickleBytesPerSecond > 0) {
        args.insert(args.end(), {"--trickle-rate", std::to_string(options.trickleBytesPerSecond)});
    }
    if (options.faultyTransfers >= 0) {
        args.insert(args.end(), {"--faulty-transfers", std::to_string(options.faultyTransfers)});
    }
    if (options.noSize) {
        args.emplace_back("--no-size");
    }
    if (options.refuseLogin) {
        args.emplace_back("--refuse-login");
    }
    if (options.noGreeting) {
        args.emplace_back("--no-greeting");
    }
    if (options.extraBytes > 0) {
        args.insert(args.end(), {"--extra-bytes", std::to_string(options.extraBytes)});
    }
    if (options.endless) {
        args.emplace_back("--endless");
    }
    return args;
}

// Reads the first line the server prints (its port); empty on time-out or end.
std::string ReadFirstLine(int fd)
{
    std::string line;
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(kStartTimeoutMs);
    while (line.find('\n') == std::string::npos) {
        const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
            deadline - std::chrono::steady_clock::now());
        if (left.count() <= 0) {
            return {};
        }
        pollfd pfd{fd, POLLIN, 0};
        const int ready = poll(&pfd, 1, static_cast<int>(left.count()));
        if (ready < 0 && errno == EINTR) {
            continue;
        }
        if (ready <= 0) {
            return {};
        }
        char buffer[64];
        const ssize_t got = read(fd, buffer, sizeof buffer);
        if (got <= 0) {
            return {};
        }
        line.append(buffer, static_cast<std::size_t>(got));
    }
    return line.substr(0, line.find('\n'));
}

}  // namespace

FtpServer::FtpServer(const std::filesystem::path& root, FtpServerOptions options)
    : m_root(root), m_options(std::move(options))
{
    const std::string commandLog = m_work / "commands.log";
    std::ofstream(commandLog).flush();  // exists even before the first session

    std::vector<std::string> args = ServerArguments(m_root, m_options, commandLog);
    std::vector<char*> argv;
    for (std::string& arg : args) {
        argv.push_back(arg.data());
    }
    argv.push_back(nullptr);

    int pipeFds[2];
    if (pipe2(pipeFds, O_CLOEXEC) != 0) {
        ADD_FAILURE() << "cannot create a pipe for the FTP server";
        return;
    }
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, 0, "/dev/null", O_RDONLY, 0);
    posix_spawn_file_actions_adddup2(&actions, pipeFds[1], 1);
    const int spawned = posix_spawn(&m_pid, argv[0], &actions, nullptr, argv.data(), environ);
    posix_spawn_file_actions_destroy(&actions);
    close(pipeFds[1]);
    if (spawned != 0) {
        m_pid = -1;
        close(pipeFds[0]);
        ADD_FAILURE() << "cannot start " << args[0] << " " << args[1] << ": " << std::strerror(spawned);
        return;
    }

    const std::string portLine = ReadFirstLine(pipeFds[0]);
    close(pipeFds[0]);
    try {
        m_port = std::stoi(portLine);
    } catch (const std::exception&) {
        m_port = 0;
    }
    if (m_port <= 0) {
        ADD_FAILURE() << "the FTP server did not report a port within " << kStartTimeoutMs
                      << " ms (first line: \"" << portLine << "\")";
        stop();
    }
}

FtpServer::~FtpServer() { stop(); }

void FtpServer::stop()
{
    if (m_pid <= 0) {
        return;
    }
    kill(m_pid, SIGTERM);
    const auto deadline = std::chrono::steady_clock::now() + kStopGrace;
    int status = 0;
    while (waitpid(m_pid, &status, WNOHANG) == 0) {
        if (std::chrono::steady_clock::now() >= deadline) {
            kill(m_pid, SIGKILL);
            waitpid(m_pid, &status, 0);
            break;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    m_pid = -1;
}

std::string FtpServer::hostPort() const { return "127.0.0.1:" + std::to_string(m_port); }

std::string FtpServer::url(std::string_view path) const
{
    if (!path.empty() && path.front() == '/') {
        path.remove_prefix(1);
    }
    return "ftp://" + hostPort() + "/" + std::string(path);
}

std::vector<std::string> FtpServer::commands() const
{
    std::vector<std::string> lines;
    std::ifstream in(m_work / "commands.log");
    for (std::string line; std::getline(in, line);) {
        lines.push_back(line);
    }
    return lines;
}

std::size_t FtpServer::countCommands(std::string_view prefix) const
{
    std::size_t count = 0;
    for (const std::string& line : commands()) {
        if (line.starts_with(prefix)) {
            ++count;
        }
    }
    return count;
}

}  // namespace testsupport
