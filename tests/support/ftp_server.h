// A real FTP server on 127.0.0.1 for one test: tests/ftp/ftpserver.py run with
// the system Python, serving one folder to one user.
//
//   testsupport::TempDir dir;
//   testsupport::FtpServer server(dir.path());             // well-behaved
//   ASSERT_TRUE(server.ok());
//   DownloadSomething(server.url("update/version.ini"));   // ftp://127.0.0.1:PORT/update/version.ini
//
//   testsupport::FtpServerOptions faults;
//   faults.dropAfterBytes = 500;                           // cut every file transfer at 500 bytes
//   faults.faultyTransfers = 1;                            // ... the first one only
//   testsupport::FtpServer flaky(dir.path(), faults);
//
// The server starts in the constructor (which waits until it listens) and is
// stopped in the destructor: SIGTERM, then SIGKILL when it has not ended after
// a grace period. A Windows test under Wine has the host's broker run it
// (tests/wine/host_broker.py, its port in MORVEX_HOST_BROKER); paths are
// handed over as the Linux side names them. Every command line it receives is recorded; commands() reads
// the record, so a test can check what reached the server.
#pragma once

#include <filesystem>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "support/temp_dir.h"

namespace testsupport {

struct FtpServerOptions {
    std::string user = "tester";
    std::string password = "secret";
    // A file transfer's data connection is closed after this many bytes and
    // the transfer answered with 426; negative: never.
    long long dropAfterBytes = -1;
    // After this many bytes a file transfer moves nothing for stallSeconds,
    // then goes on; negative: never.
    long long stallAfterBytes = -1;
    double stallSeconds = 0;
    // A file transfer moves at most this many bytes per second; 0 or
    // negative: as fast as it can.
    long long trickleBytesPerSecond = -1;
    // When set, the stall ends as soon as this file exists; stallSeconds then
    // only bounds it.
    std::string stallUntilFile;
    // The three faults above hit only the first K file transfers (RETR, STOR,
    // APPE) of the server's life; negative: all of them.
    int faultyTransfers = -1;
    bool noSize = false;       // SIZE is answered with 502
    bool refuseLogin = false;  // every login is refused with 530
    bool noGreeting = false;   // connections are accepted but never greeted
    // Every download sends this many bytes more than the file holds, while SIZE
    // tells the file's own size.
    long long extraBytes = 0;
    // Every download goes on without end after the file's own bytes.
    bool endless = false;
    // Both set: FTP over explicit TLS only, with this certificate and key (PEM
    // files; see MakeTestCertificate).
    std::string tlsCertificate;
    std::string tlsKey;
};

class FtpServerProcess;

class FtpServer {
public:
    // Serves `root` (which must exist). A server that cannot be started fails
    // the current test and leaves ok() false.
    explicit FtpServer(const std::filesystem::path& root, FtpServerOptions options = {});
    ~FtpServer();
    FtpServer(const FtpServer&) = delete;
    FtpServer& operator=(const FtpServer&) = delete;

    bool ok() const { return m_port > 0; }
    int port() const { return m_port; }
    const std::string& user() const { return m_options.user; }
    const std::string& password() const { return m_options.password; }
    const std::filesystem::path& root() const { return m_root; }

    // "127.0.0.1:PORT"
    std::string hostPort() const;
    // "ftp://127.0.0.1:PORT/" + path (a leading "/" of path is dropped)
    std::string url(std::string_view path) const;

    // The command lines received so far, in order, as sent (PASS included);
    // each session starts with "# connect" and ends with "# disconnect".
    std::vector<std::string> commands() const;
    // How many received command lines start with `prefix` (for example "MKD ").
    std::size_t countCommands(std::string_view prefix) const;

    // Stops the server now; the destructor does nothing more afterwards.
    void stop();

private:
    std::filesystem::path m_root;
    FtpServerOptions m_options;
    TempDir m_work;
    std::unique_ptr<FtpServerProcess> m_process;
    int m_port = 0;
};

}  // namespace testsupport
