// Download throughput over loopback: DownloadFile against the curl tool.
//
//   bench_ftp_download [--size-mib N] [--runs N] [--dir DIR] [--server vsftpd|pyftpdlib]
//
// Serves one file (512 MiB unless told otherwise) from a local FTP server and
// downloads it alternately with DownloadFile (in a child process of its own)
// and with "curl -o FILE", both writing into the same folder. Prints the median
// throughput of each, their ratio and the peak resident memory of each
// downloading process, then the peak memory of DownloadFile for a file an
// eighth of the size, to show that memory does not grow with the file.
//
// The server is vsftpd, run as root in the foreground with a configuration of
// our own and an anonymous login mapped to a system user made for it, inside a
// PID namespace so that stopping it ends every session it forked. Where that
// cannot run, the benchmark says so and falls back to the test server.
#include <fcntl.h>
#include <netinet/in.h>
#include <poll.h>
#include <spawn.h>
#include <sys/resource.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include "platform/codepage.h"
#include "transfer/ftp_transfer_curl.h"

extern char** environ;

namespace fs = std::filesystem;

namespace {

constexpr const char* kBenchUser = "morvexbench";

struct RunResult {
    bool ok = false;
    double seconds = 0;
    long peakRssKiB = 0;
    double cpuSeconds = 0;
};

struct Server {
    pid_t pid = -1;
    int port = 0;
    std::string credentials;  // user:password
    std::string name;
    int stopSignal = SIGTERM;
};

// Runs a program with output discarded; wall time and the child's peak RSS.
RunResult RunTimed(const std::vector<std::string>& args)
{
    std::vector<char*> argv;
    std::vector<std::string> copy = args;
    for (std::string& arg : copy) {
        argv.push_back(arg.data());
    }
    argv.push_back(nullptr);
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, 1, "/dev/null", O_WRONLY, 0);
    posix_spawn_file_actions_addopen(&actions, 2, "/dev/null", O_WRONLY, 0);
    RunResult result;
    const auto start = std::chrono::steady_clock::now();
    pid_t pid = -1;
    const int spawned = posix_spawn(&pid, argv[0], &actions, nullptr, argv.data(), environ);
    posix_spawn_file_actions_destroy(&actions);
    if (spawned != 0) {
        std::fprintf(stderr, "cannot start %s: %s\n", argv[0], std::strerror(spawned));
        return result;
    }
    int status = 0;
    rusage usage{};
    wait4(pid, &status, 0, &usage);
    result.seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    result.ok = WIFEXITED(status) && WEXITSTATUS(status) == 0;
    result.peakRssKiB = usage.ru_maxrss;
    result.cpuSeconds = static_cast<double>(usage.ru_utime.tv_sec + usage.ru_stime.tv_sec) +
                        static_cast<double>(usage.ru_utime.tv_usec + usage.ru_stime.tv_usec) / 1e6;
    return result;
}

int FreePort()
{
    const int s = socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t length = sizeof address;
    int port = 0;
    if (bind(s, reinterpret_cast<sockaddr*>(&address), sizeof address) == 0 &&
        getsockname(s, reinterpret_cast<sockaddr*>(&address), &length) == 0) {
        port = ntohs(address.sin_port);
    }
    close(s);
    return port;
}

// True once the server on the port sends its greeting.
bool Greets(int port, std::chrono::seconds within)
{
    const auto deadline = std::chrono::steady_clock::now() + within;
    while (std::chrono::steady_clock::now() < deadline) {
        const int s = socket(AF_INET, SOCK_STREAM, 0);
        sockaddr_in address{};
        address.sin_family = AF_INET;
        address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        address.sin_port = htons(static_cast<std::uint16_t>(port));
        if (connect(s, reinterpret_cast<sockaddr*>(&address), sizeof address) == 0) {
            pollfd pfd{s, POLLIN, 0};
            char reply[4] = {};
            const bool greeted = poll(&pfd, 1, 2000) > 0 && read(s, reply, 3) == 3 && std::strcmp(reply, "220") == 0;
            close(s);
            if (greeted) {
                return true;
            }
        } else {
            close(s);
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(50));
    }
    return false;
}

pid_t Spawn(const std::vector<std::string>& args, const fs::path& log, int stdoutFd = -1)
{
    std::vector<std::string> copy = args;
    std::vector<char*> argv;
    for (std::string& arg : copy) {
        argv.push_back(arg.data());
    }
    argv.push_back(nullptr);
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, 0, "/dev/null", O_RDONLY, 0);
    if (stdoutFd >= 0) {
        posix_spawn_file_actions_adddup2(&actions, stdoutFd, 1);
    } else {
        posix_spawn_file_actions_addopen(&actions, 1, log.c_str(), O_WRONLY | O_CREAT | O_APPEND, 0600);
    }
    posix_spawn_file_actions_addopen(&actions, 2, log.c_str(), O_WRONLY | O_CREAT | O_APPEND, 0600);
    pid_t pid = -1;
    const int spawned = posix_spawnp(&pid, argv[0], &actions, nullptr, argv.data(), environ);
    posix_spawn_file_actions_destroy(&actions);
    return spawned == 0 ? pid : -1;
}

void Stop(pid_t pid, int signal = SIGTERM)
{
    if (pid <= 0) {
        return;
    }
    kill(pid, signal);
    for (int i = 0; i < 500; ++i) {
        if (waitpid(pid, nullptr, WNOHANG) == pid) {
            return;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    kill(pid, SIGKILL);
    waitpid(pid, nullptr, 0);
}

// vsftpd changes into the anonymous user's home before its own root, so the
// home must exist; the empty folder vsftpd keeps for itself will do.
bool EnsureBenchUser(const std::string& home)
{
    const std::string check = std::string("id -u ") + kBenchUser + " >/dev/null 2>&1";
    const std::string command = std::system(check.c_str()) == 0
                                    ? "usermod --home " + home + " " + kBenchUser
                                    : "useradd --system --no-create-home --home-dir " + home +
                                          " --shell /usr/sbin/nologin " + kBenchUser;
    return std::system((command + " >/dev/null 2>&1").c_str()) == 0;
}

std::optional<Server> StartVsftpd(const fs::path& root, const fs::path& work)
{
    if (geteuid() != 0) {
        std::printf("warning: vsftpd needs root here\n");
        return std::nullopt;
    }
    if (!fs::exists("/usr/sbin/vsftpd") || !fs::exists("/usr/bin/unshare")) {
        std::printf("warning: vsftpd or unshare is not installed\n");
        return std::nullopt;
    }
    const std::string empty = "/var/run/vsftpd/empty";
    fs::create_directories(empty);
    if (!EnsureBenchUser(empty)) {
        std::printf("warning: cannot create the system user %s\n", kBenchUser);
        return std::nullopt;
    }
    Server server;
    server.port = FreePort();
    server.credentials = "anonymous:bench";
    server.name = "vsftpd";
    const fs::path config = work / "vsftpd.conf";
    std::ofstream(config) << "listen=YES\nlisten_ipv6=NO\nlisten_address=127.0.0.1\n"
                          << "listen_port=" << server.port << "\n"
                          << "background=NO\nanonymous_enable=YES\nno_anon_password=YES\n"
                          << "anon_root=" << root.string() << "\n"
                          << "ftp_username=" << kBenchUser << "\nnopriv_user=" << kBenchUser << "\n"
                          << "local_enable=NO\nwrite_enable=NO\npasv_enable=YES\npasv_address=127.0.0.1\n"
                          << "seccomp_sandbox=NO\nxferlog_enable=NO\nsecure_chroot_dir=" << empty << "\n";
    // vsftpd does not survive being the namespace's first process, so a shell
    // takes that place. unshare ignores SIGTERM while it waits; SIGKILL ends
    // it, --kill-child passes that on, and the namespace ends with its first
    // process, taking every session vsftpd forked.
    server.stopSignal = SIGKILL;
    server.pid = Spawn({"/usr/bin/unshare", "--pid", "--fork", "--mount-proc", "--kill-child", "/bin/sh", "-c",
                        "/usr/sbin/vsftpd \"$0\" & wait", config.string()},
                       work / "server.log");
    if (server.pid <= 0 || !Greets(server.port, std::chrono::seconds(5))) {
        std::printf("warning: vsftpd did not start (see %s)\n", (work / "server.log").c_str());
        Stop(server.pid, server.stopSignal);
        return std::nullopt;
    }
    return server;
}

std::optional<Server> StartPyftpdlib(const fs::path& root, const fs::path& work)
{
    int pipeFds[2];
    if (pipe(pipeFds) != 0) {
        return std::nullopt;
    }
    Server server;
    server.credentials = "bench:bench";
    server.name = "pyftpdlib (the test server)";
    server.pid = Spawn({"/usr/bin/python3", MORVEX_SOURCE_DIR "/tests/ftp/ftpserver.py", "--root", root.string(),
                        "--user", "bench", "--password", "bench", "--quiet"},
                       work / "server.log", pipeFds[1]);
    close(pipeFds[1]);
    char line[32] = {};
    pollfd pfd{pipeFds[0], POLLIN, 0};
    if (server.pid > 0 && poll(&pfd, 1, 15000) > 0 && read(pipeFds[0], line, sizeof line - 1) > 0) {
        server.port = std::atoi(line);
    }
    close(pipeFds[0]);
    if (server.port <= 0) {
        Stop(server.pid);
        return std::nullopt;
    }
    return server;
}

void WritePatternFile(const fs::path& path, std::uintmax_t size)
{
    std::vector<char> chunk(1 << 20);
    for (std::size_t i = 0; i < chunk.size(); ++i) {
        chunk[i] = static_cast<char>((i * 2654435761u) >> 13);
    }
    std::ofstream out(path, std::ios::binary);
    for (std::uintmax_t written = 0; written < size; written += chunk.size()) {
        const auto n = static_cast<std::streamsize>(std::min<std::uintmax_t>(chunk.size(), size - written));
        out.write(chunk.data(), n);
    }
    fs::permissions(path, fs::perms::owner_read | fs::perms::owner_write | fs::perms::group_read |
                              fs::perms::others_read);
}

double Median(std::vector<double> values)
{
    std::sort(values.begin(), values.end());
    return values.empty() ? 0 : values[values.size() / 2];
}

// Child mode: one DownloadFile, exit status 0 on success.
int DownloadOnce(const std::string& url, const std::string& file, const std::string& credentials)
{
    const std::size_t colon = credentials.find(':');
    g_strFtpUser = platform::Utf8ToUtf16(credentials.substr(0, colon));
    g_strFtpPassword = platform::Utf8ToUtf16(credentials.substr(colon + 1));
    return g_FtpTransfer.DownloadFile(platform::Utf8ToUtf16(url), platform::Utf8ToUtf16(file)) ? 0 : 1;
}

struct Options {
    std::uintmax_t sizeMiB = 512;
    int runs = 3;
    fs::path dir = fs::temp_directory_path();
    std::string server = "vsftpd";
};

std::string ListSpeeds(const std::vector<double>& speeds)
{
    std::string text;
    for (double s : speeds) {
        char item[32];
        std::snprintf(item, sizeof item, "%s%.0f", text.empty() ? "" : " ", s);
        text += item;
    }
    return text;
}

}  // namespace

int main(int argc, char** argv)
{
    if (argc == 5 && std::strcmp(argv[1], "--download") == 0) {
        return DownloadOnce(argv[2], argv[3], argv[4]);
    }
    Options options;
    for (int i = 1; i + 1 < argc; i += 2) {
        const std::string key = argv[i];
        if (key == "--size-mib") {
            options.sizeMiB = std::strtoull(argv[i + 1], nullptr, 10);
        } else if (key == "--runs") {
            options.runs = std::max(1, std::atoi(argv[i + 1]));
        } else if (key == "--dir") {
            options.dir = argv[i + 1];
        } else if (key == "--server") {
            options.server = argv[i + 1];
        }
    }

    std::string pattern = (options.dir / "morvex-ftp-bench-XXXXXX").string();
    if (mkdtemp(pattern.data()) == nullptr) {
        std::fprintf(stderr, "cannot create a folder in %s\n", options.dir.c_str());
        return 1;
    }
    const fs::path work = pattern;
    const fs::path root = work / "served";
    fs::create_directories(root);
    // The server's unprivileged user must be able to reach the served folder.
    fs::permissions(work, fs::perms::owner_all | fs::perms::group_read | fs::perms::group_exec |
                              fs::perms::others_read | fs::perms::others_exec);
    fs::permissions(root, fs::perms::owner_all | fs::perms::group_read | fs::perms::group_exec |
                              fs::perms::others_read | fs::perms::others_exec);

    const std::uintmax_t size = options.sizeMiB << 20;
    const std::uintmax_t smallSize = std::max<std::uintmax_t>(size / 8, 1 << 20);
    WritePatternFile(root / "big.bin", size);
    WritePatternFile(root / "small.bin", smallSize);

    std::optional<Server> server;
    if (options.server == "vsftpd") {
        server = StartVsftpd(root, work);
        if (!server) {
            std::printf("warning: falling back to pyftpdlib, which may itself limit the figures\n");
        }
    }
    if (!server) {
        server = StartPyftpdlib(root, work);
    }
    if (!server) {
        std::fprintf(stderr, "no FTP server could be started\n");
        fs::remove_all(work);
        return 1;
    }

    const std::string base = "ftp://127.0.0.1:" + std::to_string(server->port) + "/";
    const fs::path target = work / "download.bin";
    std::vector<double> ours;
    std::vector<double> theirs;
    std::vector<double> oursCpu;
    std::vector<double> theirsCpu;
    long oursRss = 0;
    long theirsRss = 0;
    bool allOk = true;
    auto check = [&](const RunResult& run, std::uintmax_t expected) {
        std::error_code ec;
        const std::uintmax_t got = fs::file_size(target, ec);
        const bool ok = run.ok && !ec && got == expected;
        if (!ok) {
            std::printf("warning: a download failed (exit %s, %ju of %ju bytes)\n", run.ok ? "ok" : "failed",
                        ec ? std::uintmax_t{0} : got, expected);
        }
        fs::remove(target, ec);
        allOk = allOk && ok;
        return ok;
    };
    const double mib = static_cast<double>(size) / (1 << 20);
    for (int i = 0; i < options.runs; ++i) {
        const RunResult a = RunTimed({"/proc/self/exe", "--download", base + "big.bin", target.string(),
                                      server->credentials});
        if (check(a, size)) {
            ours.push_back(mib / a.seconds);
            oursCpu.push_back(a.cpuSeconds);
            oursRss = std::max(oursRss, a.peakRssKiB);
        }
        const RunResult b = RunTimed({"/usr/bin/curl", "-s", "-u", server->credentials, "-o", target.string(),
                                      base + "big.bin"});
        if (check(b, size)) {
            theirs.push_back(mib / b.seconds);
            theirsCpu.push_back(b.cpuSeconds);
            theirsRss = std::max(theirsRss, b.peakRssKiB);
        }
    }
    const RunResult small = RunTimed({"/proc/self/exe", "--download", base + "small.bin", target.string(),
                                      server->credentials});
    check(small, smallSize);

    Stop(server->pid, server->stopSignal);
    fs::remove_all(work);

    const double oursMedian = Median(ours);
    const double theirsMedian = Median(theirs);
    std::printf("server: %s on 127.0.0.1, file %.0f MiB, %d runs each, alternating\n", server->name.c_str(), mib,
                options.runs);
    std::printf("DownloadFile: median %.0f MiB/s (runs %s), peak RSS %.1f MiB, median CPU %.2f s\n",
                oursMedian, ListSpeeds(ours).c_str(), static_cast<double>(oursRss) / 1024, Median(oursCpu));
    std::printf("curl -o FILE: median %.0f MiB/s (runs %s), peak RSS %.1f MiB, median CPU %.2f s\n",
                theirsMedian, ListSpeeds(theirs).c_str(), static_cast<double>(theirsRss) / 1024, Median(theirsCpu));
    std::printf("ratio DownloadFile / curl: %.3f (goal >= 0.95)\n", theirsMedian > 0 ? oursMedian / theirsMedian : 0);
    std::printf("DownloadFile peak RSS for a %.0f MiB file: %.1f MiB\n", static_cast<double>(smallSize) / (1 << 20),
                static_cast<double>(small.peakRssKiB) / 1024);
    if (!allOk) {
        std::printf("warning: some downloads failed or came out the wrong size; their runs are left out\n");
        return 1;
    }
    return 0;
}
