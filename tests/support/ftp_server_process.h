// The FTP server's process, each system's own: on Linux a child of the test
// (ftp_server_process.cpp); on Windows, under Wine, a Linux process that the
// host's broker (tests/wine/host_broker.py) runs for the test
// (ftp_server_process_win.cpp). FtpServer holds the part both share.
#pragma once

#include <filesystem>
#include <memory>
#include <string>
#include <vector>

namespace testsupport {

class FtpServerProcess {
public:
    // Starts `argv`, a Linux command line, with `work` for its own files.
    FtpServerProcess(std::vector<std::string> argv, const std::filesystem::path& work);
    ~FtpServerProcess();
    FtpServerProcess(const FtpServerProcess&) = delete;
    FtpServerProcess& operator=(const FtpServerProcess&) = delete;

    // Waits for the first line of the program's output; false when it ended,
    // or could not be started, before one (`failure` then says why).
    bool FirstLine(std::string& line, std::string& failure);
    // Ends the program and waits until it has ended.
    void Stop();

private:
    struct State;
    std::unique_ptr<State> m_state;
};

// How the server, a Linux program, names `path`; empty when it cannot.
std::string ServerPath(const std::filesystem::path& path);

}  // namespace testsupport
