#include "support/ftp_server.h"

#include <gtest/gtest.h>

#include <fstream>

#include "support/ftp_server_process.h"

namespace testsupport {
namespace {

// The server's command line, its paths as the server names them; empty when
// one of them has no such name.
std::vector<std::string> ServerArguments(const std::filesystem::path& root,
                                         const FtpServerOptions& options,
                                         const std::filesystem::path& commandLog)
{
    bool named = true;
    const auto serverPath = [&named](const std::filesystem::path& path) {
        std::string name = ServerPath(path);
        named = named && !name.empty();
        return name;
    };
    std::vector<std::string> args = {MORVEX_PYTHON,
                                     MORVEX_SOURCE_DIR "/tests/ftp/ftpserver.py",
                                     "--root", serverPath(root),
                                     "--user", options.user,
                                     "--password", options.password,
                                     "--command-log", serverPath(commandLog),
                                     "--quiet"};
    if (!options.tlsCertificate.empty() && !options.tlsKey.empty()) {
        args.insert(args.end(),
                    {"--tls", serverPath(options.tlsCertificate), serverPath(options.tlsKey)});
    }
    if (options.dropAfterBytes >= 0) {
        args.insert(args.end(), {"--drop-after", std::to_string(options.dropAfterBytes)});
    }
    if (options.stallAfterBytes >= 0) {
        args.insert(args.end(), {"--stall-after", std::to_string(options.stallAfterBytes),
                                 "--stall-seconds", std::to_string(options.stallSeconds)});
        if (!options.stallUntilFile.empty()) {
            args.insert(args.end(), {"--stall-until", serverPath(options.stallUntilFile)});
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
    if (!named) {
        args.clear();
    }
    return args;
}

}  // namespace

FtpServer::FtpServer(const std::filesystem::path& root, FtpServerOptions options)
    : m_root(root), m_options(std::move(options))
{
    const std::filesystem::path commandLog = m_work / "commands.log";
    std::ofstream(commandLog).flush();  // exists even before the first session

    const std::vector<std::string> args = ServerArguments(m_root, m_options, commandLog);
    if (args.empty()) {
        ADD_FAILURE() << "the FTP server cannot be given the paths of this test (" << m_root.string() << ")";
        return;
    }
    // The server's first line is its port.
    m_process = std::make_unique<FtpServerProcess>(args, m_work.path());
    std::string portLine;
    std::string failure;
    if (!m_process->FirstLine(portLine, failure)) {
        ADD_FAILURE() << "the FTP server did not report a port: " << failure;
        stop();
        return;
    }
    try {
        m_port = std::stoi(portLine);
    } catch (const std::exception&) {
        m_port = 0;
    }
    if (m_port <= 0) {
        ADD_FAILURE() << "the FTP server did not report a port (first line: \"" << portLine << "\")";
        stop();
    }
}

FtpServer::~FtpServer() { stop(); }

void FtpServer::stop()
{
    if (m_process) {
        m_process->Stop();
        m_process.reset();
    }
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
