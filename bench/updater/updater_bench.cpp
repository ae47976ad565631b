// The updater's two costs that matter.
//
//   bench_updater [--runs N] [--files N] [--megabytes M] [--workdir DIR]
//
// 1. The "no update" run, which nearly every start of a product pays: the built
//    MorvexUpdate (process start to exit) in a prepared installation against
//    the local FTP server, next to the curl tool fetching the same server
//    manifest into a file; alternating, N runs each (10), medians and ratio.
// 2. The peak resident memory of an update: the whole update sequence (stop
//    request, download, unpacking, database patch, restart request) of an
//    archive of M megabytes in N files (500 MB, 2000 files, built by the
//    extraction benchmark's builder), next to the same sequence for a
//    one-file archive. It runs in a child process with a window that answers
//    its messages at once, so that the figure is the sequence's own.
// 3. The cost of signed updates: the large update again with a pinned key and
//    signed files (the archive is hashed as it arrives), next to the unsigned
//    large run above, and what hashing the archive afterwards from disk would
//    have cost instead.
#include <fcntl.h>
#include <spawn.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <csignal>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <string>
#include <thread>
#include <vector>

#include "platform/codepage.h"
#include "transfer/ftp_transfer_curl.h"
#include "updater/install/minisign.h"
#include "updater/workflow/update_dlg.h"

namespace fs = std::filesystem;

namespace {

struct RunResult {
    bool ok = false;
    double seconds = 0;
    long peakKilobytes = 0;
};

// Runs a program to its end with its output discarded.
RunResult RunTimed(const std::vector<std::string>& argv, const fs::path& cwd = {})
{
    std::vector<char*> args;
    for (const auto& arg : argv) {
        args.push_back(const_cast<char*>(arg.c_str()));
    }
    args.push_back(nullptr);
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, STDOUT_FILENO, "/dev/null", O_WRONLY, 0);
    posix_spawn_file_actions_addopen(&actions, STDERR_FILENO, "/dev/null", O_WRONLY, 0);
    if (!cwd.empty()) {
        posix_spawn_file_actions_addchdir_np(&actions, cwd.c_str());
    }
    RunResult result;
    pid_t pid = 0;
    const auto start = std::chrono::steady_clock::now();
    if (posix_spawnp(&pid, args[0], &actions, nullptr, args.data(), environ) == 0) {
        int status = 0;
        rusage usage{};
        wait4(pid, &status, 0, &usage);
        result.seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
        result.peakKilobytes = usage.ru_maxrss;
        result.ok = WIFEXITED(status) && WEXITSTATUS(status) == 0;
    }
    posix_spawn_file_actions_destroy(&actions);
    return result;
}

double Median(std::vector<double> values)
{
    std::sort(values.begin(), values.end());
    const std::size_t n = values.size();
    return n % 2 == 1 ? values[n / 2] : (values[n / 2 - 1] + values[n / 2]) / 2;
}

void WriteText(const fs::path& path, const std::string& text)
{
    fs::create_directories(path.parent_path());
    std::ofstream(path, std::ios::binary) << text;
}

// A window for the update sequence without a display: every message box is
// answered at once; the result tells whether the success message came.
class CAnsweringWindow final : public CUpdateWindow {
public:
    void ShowControl(int, bool) override {}
    void SetControlText(int, const CString&) override {}
    void SetProgressPos(int) override {}
    void MessageBox(const CString&, const CString& caption) override { m_succeeded = caption == u"升级成功"; }
    void EndDialog(int) override {}
    HWINDOW GetSafeHwnd() override { return nullptr; }
    bool Succeeded() const { return m_succeeded; }

private:
    bool m_succeeded = false;
};

int UpdateChild(const std::string& installDir)
{
    CMyUpdateDlg dlg(g_FtpTransfer, platform::Utf8ToUtf16(installDir + "/MorvexUpdate"));
    CAnsweringWindow window;
    dlg.AttachWindow(&window);
    dlg.OnInitDialog();
    if (dlg.HasEnded() || !dlg.WaitForWorker(std::chrono::hours(1))) {
        return 1;
    }
    return window.Succeeded() ? 0 : 1;
}

// The local FTP server of the tests, serving `root`.
class Server {
public:
    Server(const fs::path& root, const fs::path& portFile)
    {
        const std::string command = "exec /usr/bin/python3 '" MORVEX_SOURCE_DIR "/tests/ftp/ftpserver.py' --root '" +
                                    root.string() + "' --user bench --password bench-pw --quiet > '" +
                                    portFile.string() + "' 2>/dev/null";
        const char* argv[] = {"/bin/sh", "-c", command.c_str(), nullptr};
        posix_spawn(&m_pid, "/bin/sh", nullptr, nullptr, const_cast<char**>(argv), environ);
        for (int i = 0; i < 200 && m_port.empty(); ++i) {
            std::this_thread::sleep_for(std::chrono::milliseconds(50));
            std::ifstream in(portFile);
            std::getline(in, m_port);
        }
    }
    ~Server()
    {
        kill(m_pid, SIGTERM);
        waitpid(m_pid, nullptr, 0);
    }
    const std::string& port() const { return m_port; }

private:
    pid_t m_pid = -1;
    std::string m_port;
};

struct Installation {
    fs::path dir;
    fs::path serverRoot;
};

// An installation of product zt_e at 1.0.0.1 and a server offering `offered`
// with the archive made from `content` (or replaced by `archive` when given).
bool Prepare(const fs::path& root, const std::string& name, const std::string& port, const std::string& offered,
             const fs::path& content, const fs::path& archive, const fs::path& binDir, Installation& out)
{
    out.dir = root / name / "install";
    out.serverRoot = root / "server-root";
    fs::create_directories(out.dir);
    const std::string publish = (binDir / "morvex-publish").string();
    const std::vector<std::string> login = {"--host", "127.0.0.1:" + port, "--user", "bench", "--password", "bench-pw"};
    std::vector<std::string> server = {publish, "server", "--code", "zt_e", "--version", offered, "--update-dir",
                                       content.string(), "--out", out.serverRoot.string()};
    server.insert(server.end(), login.begin(), login.end());
    std::vector<std::string> installed = {publish, "installed", "--code", "zt_e", "--version", "1.0.0.1",
                                          "--out", out.dir.string()};
    installed.insert(installed.end(), login.begin(), login.end());
    if (!RunTimed(server).ok || !RunTimed(installed).ok) {
        return false;
    }
    if (!archive.empty()) {
        fs::copy_file(archive, out.serverRoot / "update" / "zt_e" / "update.zip", fs::copy_options::overwrite_existing);
    }
    for (const char* file : {"MorvexUpdate", "libMorvexUpdateUi.so"}) {
        fs::copy_file(binDir / file, out.dir / file, fs::copy_options::overwrite_existing);
    }
    return RunTimed({"sqlite3", (out.dir / "jo_db_local.db").string(),
                     "CREATE TABLE IF NOT EXISTS t(x); INSERT INTO t VALUES(1);"})
        .ok;
}

// Pins a new key in the installation and signs the server's two files with it.
bool SignInstallation(const Installation& installation, const std::string& version)
{
    std::string error;
    const auto files = minisign::GenerateKeyPair(false, "", &error);
    const auto key = files ? minisign::ParseSecretKey(files->secretKeyFile, "", &error) : std::nullopt;
    if (!key) {
        std::fprintf(stderr, "signing: %s\n", error.c_str());
        return false;
    }
    WriteText(installation.dir / "MorvexUpdate.pub", files->publicKeyFile);
    for (const char* name : {"version.ini", "update.zip"}) {
        const fs::path file = installation.serverRoot / "update" / "zt_e" / name;
        minisign::Digest digest{};
        if (!minisign::DigestOfFile(file.string(), &digest, &error)) {
            std::fprintf(stderr, "signing: %s\n", error.c_str());
            return false;
        }
        WriteText(file.string() + ".minisig",
                  minisign::SignDigest(*key, digest,
                                       "morvex code=zt_e version=" + version + " file=" + std::string(name)));
    }
    return true;
}

}  // namespace

int main(int argc, char** argv)
{
    if (argc == 3 && std::strcmp(argv[1], "--update-child") == 0) {
        return UpdateChild(argv[2]);
    }
    int runs = 10;
    int files = 2000;
    int megabytes = 500;
    std::string workdir = fs::temp_directory_path().string();
    for (int i = 1; i + 1 < argc; i += 2) {
        const std::string option = argv[i];
        if (option == "--runs") {
            runs = std::atoi(argv[i + 1]);
        } else if (option == "--files") {
            files = std::atoi(argv[i + 1]);
        } else if (option == "--megabytes") {
            megabytes = std::atoi(argv[i + 1]);
        } else if (option == "--workdir") {
            workdir = argv[i + 1];
        } else {
            std::fprintf(stderr, "unknown option %s\n", option.c_str());
            return 2;
        }
    }
    std::string pattern = workdir + "/bench-updater-XXXXXX";
    if (mkdtemp(pattern.data()) == nullptr) {
        std::perror("mkdtemp");
        return 1;
    }
    const fs::path root = pattern;
    const fs::path self = fs::read_symlink("/proc/self/exe");
    const fs::path binDir = self.parent_path();

    // Stand-ins on PATH, so that no product or document viewer is started.
    for (const char* name : {"Haltwick", "xdg-open"}) {
        WriteText(root / "bin" / name, "#!/bin/sh\nexit 0\n");
        fs::permissions(root / "bin" / name, fs::perms::owner_all);
    }
    setenv("PATH", ((root / "bin").string() + ":" + std::getenv("PATH")).c_str(), 1);
    unsetenv("DISPLAY");

    fs::create_directories(root / "server-root");
    Server server(root / "server-root", root / "port");
    if (server.port().empty()) {
        std::fprintf(stderr, "the local FTP server did not start\n");
        return 1;
    }
    const fs::path small = root / "content-small";
    WriteText(small / "readme.txt", "bench\n");
    WriteText(small / "ini" / "update.sql", "INSERT INTO t VALUES(2);\n");

    // 1. No update due.
    Installation current;
    if (!Prepare(root, "current", server.port(), "1.0.0.1", small, {}, binDir, current)) {
        std::fprintf(stderr, "preparing the installation failed\n");
        return 1;
    }
    const std::string manifestUrl = "ftp://127.0.0.1:" + server.port() + "/update/zt_e/version.ini";
    std::vector<double> updaterTimes;
    std::vector<double> curlTimes;
    long updaterPeak = 0;
    bool allOk = true;
    for (int run = 0; run < runs; ++run) {
        const auto runUpdater = [&] {
            const RunResult r = RunTimed({(current.dir / "MorvexUpdate").string()}, current.dir);
            allOk = allOk && r.ok;
            updaterTimes.push_back(r.seconds);
            updaterPeak = std::max(updaterPeak, r.peakKilobytes);
        };
        const auto runCurl = [&] {
            const RunResult r = RunTimed({"curl", "-s", "-u", "bench:bench-pw", "-o",
                                          (root / "curl-version.ini").string(), manifestUrl});
            allOk = allOk && r.ok;
            curlTimes.push_back(r.seconds);
        };
        // Alternate which goes first, so neither always meets a warmer server.
        if (run % 2 == 0) {
            runUpdater();
            runCurl();
        } else {
            runCurl();
            runUpdater();
        }
    }
    const double updaterMedian = Median(updaterTimes);
    const double curlMedian = Median(curlTimes);
    std::printf("no update, %d runs each (median, process start to exit):\n", runs);
    std::printf("  MorvexUpdate  %7.2f ms   (peak RSS %ld KiB)\n", updaterMedian * 1000, updaterPeak);
    std::printf("  curl          %7.2f ms\n", curlMedian * 1000);
    std::printf("  ratio         %7.2f   (goal <= 2.0)\n", updaterMedian / curlMedian);

    // 2. Peak memory of an update, small and large.
    std::printf("building the large archive: %d files, %d MB ...\n", files, megabytes);
    std::fflush(stdout);
    const fs::path bigArchive = root / "big.zip";
    if (!RunTimed({MORVEX_PYTHON, MORVEX_SOURCE_DIR "/bench/extract/make_archive.py", bigArchive.string(), "--files",
                   std::to_string(files), "--megabytes", std::to_string(megabytes)})
             .ok) {
        std::fprintf(stderr, "building the archive failed\n");
        return 1;
    }
    struct Case {
        const char* label;
        fs::path archive;
        bool signedUpdate;
    };
    double unsignedSeconds = 0;
    double signedSeconds = 0;
    for (const Case& c : {Case{"one small file", {}, false}, Case{"large archive", bigArchive, false},
                          Case{"large, signed", bigArchive, true}}) {
        Installation due;
        const std::string name = c.archive.empty() ? "small" : c.signedUpdate ? "signed" : "large";
        // Each case gets its own server folder content: prepare, then run.
        if (!Prepare(root, name, server.port(), "1.0.0.2", small, c.archive, binDir, due) ||
            (c.signedUpdate && !SignInstallation(due, "1.0.0.2"))) {
            std::fprintf(stderr, "preparing the installation failed\n");
            return 1;
        }
        const fs::path packedFile = due.serverRoot / "update" / "zt_e" / "update.zip";
        const auto packed = fs::file_size(packedFile);
        const RunResult r = RunTimed({self.string(), "--update-child", due.dir.string()}, due.dir);
        allOk = allOk && r.ok;
        std::printf("update of %-15s (%8.1f MB packed): %6.1f s, peak RSS %ld KiB%s\n", c.label,
                    static_cast<double>(packed) / 1048576.0, r.seconds, r.peakKilobytes, r.ok ? "" : "  FAILED");
        if (c.signedUpdate) {
            signedSeconds = r.seconds;
            minisign::Digest digest{};
            std::string error;
            const auto start = std::chrono::steady_clock::now();
            minisign::DigestOfFile(packedFile.string(), &digest, &error);
            const double pass = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
            std::printf("signed updates: %+.1f %% on the large update (goal <= 2 %%); a second pass over the\n"
                        "  archive to hash it would have taken %.2f s (%.1f %%)\n",
                        (signedSeconds / unsignedSeconds - 1.0) * 100.0, pass, pass / unsignedSeconds * 100.0);
        } else if (!c.archive.empty()) {
            unsignedSeconds = r.seconds;
        }
        fs::remove_all(root / name);
    }
    fs::remove_all(root);
    if (!allOk) {
        std::printf("some runs failed\n");
        return 1;
    }
    return 0;
}
