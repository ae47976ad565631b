// How long CvGlance takes from process start to the document shown (the page
// reported loaded), for an HTML and a Word resume served over loopback FTP, and
// how much memory all of its processes (web content processes included) hold
// with the document on screen.
//
//   xvfb-run -a build/bin/bench_viewer_start [runs]
//
// Prints, per document: each run's time, the median, and the resident (RSS)
// and proportional (PSS) memory summed over the viewer's process tree. The
// first Word run starts the resident converter (cold); the others find it
// loaded (warm), and their median is printed on its own. The converter has a
// runtime folder of the benchmark's own and is ended at the end.
#include <dirent.h>
#include <fcntl.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <map>
#include <optional>
#include <sstream>
#include <string>
#include <vector>

#include "tools/docvert/service_link.h"

namespace fs = std::filesystem;
using Clock = std::chrono::steady_clock;

namespace {

// Ends the resident converter of this user (its runtime folder is the
// benchmark's own), found by its socket's peer.
void EndConverter()
{
    const int fd = docvert::ConnectToService(docvert::ServiceSocketPath());
    if (fd < 0) {
        return;
    }
    const std::optional<docvert::PeerIds> peer = docvert::PeerOf(fd);
    close(fd);
    if (peer && peer->pid > 0) {
        std::printf("resident converter: pid %d ended\n", static_cast<int>(peer->pid));
        kill(peer->pid, SIGTERM);  // it removes its profile folder as it ends
    }
}

struct Child {
    pid_t pid = -1;
    FILE* out = nullptr;  // the child's standard output, or its standard error
};

// Starts argv in its own process group with one of its streams on a pipe.
Child Spawn(const std::vector<std::string>& argv, bool captureStderr)
{
    int fds[2];
    if (pipe(fds) != 0) {
        return {};
    }
    const pid_t pid = fork();
    if (pid == 0) {
        setpgid(0, 0);
        dup2(fds[1], captureStderr ? STDERR_FILENO : STDOUT_FILENO);
        const int null = open("/dev/null", O_WRONLY);
        dup2(null, captureStderr ? STDOUT_FILENO : STDERR_FILENO);
        close(fds[0]);
        close(fds[1]);
        std::vector<char*> args;
        for (const std::string& arg : argv) {
            args.push_back(const_cast<char*>(arg.c_str()));
        }
        args.push_back(nullptr);
        execv(args[0], args.data());
        _exit(127);
    }
    close(fds[1]);
    return {pid, fdopen(fds[0], "r")};
}

void Stop(Child& child)
{
    if (child.pid > 0) {
        kill(-child.pid, SIGTERM);
        waitpid(child.pid, nullptr, 0);
        kill(-child.pid, SIGKILL);
    }
    if (child.out != nullptr) {
        fclose(child.out);
    }
    child = {};
}

// Reads lines until one contains `text`; false at the end of the stream.
bool ReadUntil(FILE* in, const std::string& text)
{
    char line[8192];
    while (fgets(line, sizeof line, in) != nullptr) {
        if (std::string(line).find(text) != std::string::npos) {
            return true;
        }
    }
    return false;
}

// The process and all its descendants.
std::vector<pid_t> ProcessTree(pid_t root)
{
    std::multimap<pid_t, pid_t> children;
    if (DIR* proc = opendir("/proc")) {
        while (dirent* entry = readdir(proc)) {
            const pid_t pid = static_cast<pid_t>(std::atoi(entry->d_name));
            if (pid <= 0) {
                continue;
            }
            std::ifstream stat("/proc/" + std::string(entry->d_name) + "/stat");
            std::string text;
            std::getline(stat, text);
            const std::size_t close = text.rfind(')');
            if (close == std::string::npos) {
                continue;
            }
            std::istringstream fields(text.substr(close + 2));
            std::string state;
            pid_t parent = 0;
            fields >> state >> parent;
            children.emplace(parent, pid);
        }
        closedir(proc);
    }
    std::vector<pid_t> tree{root};
    for (std::size_t i = 0; i < tree.size(); ++i) {
        const auto range = children.equal_range(tree[i]);
        for (auto it = range.first; it != range.second; ++it) {
            tree.push_back(it->second);
        }
    }
    return tree;
}

// A "Name:   N kB" field of a /proc file, in kB; 0 when missing.
long Field(const std::string& path, const std::string& name)
{
    std::ifstream in(path);
    std::string line;
    while (std::getline(in, line)) {
        if (line.rfind(name + ":", 0) == 0) {
            return std::atol(line.c_str() + name.size() + 1);
        }
    }
    return 0;
}

struct Memory {
    long rssKb = 0;
    long pssKb = 0;
    int processes = 0;
};

Memory TreeMemory(pid_t root)
{
    Memory memory;
    for (pid_t pid : ProcessTree(root)) {
        const std::string base = "/proc/" + std::to_string(pid);
        memory.rssKb += Field(base + "/status", "VmRSS");
        memory.pssKb += Field(base + "/smaps_rollup", "Pss");
        ++memory.processes;
    }
    return memory;
}

// The machine's load, printed beside the figures: they mean little on a busy machine.
std::string LoadAverage()
{
    std::ifstream in("/proc/loadavg");
    std::string one, five;
    in >> one >> five;
    return one + " " + five;
}

double MiB(long kb) { return static_cast<double>(kb) / 1024.0; }

double Median(std::vector<double> values)
{
    std::sort(values.begin(), values.end());
    const std::size_t n = values.size();
    return n % 2 == 1 ? values[n / 2] : (values[n / 2 - 1] + values[n / 2]) / 2;
}

}  // namespace

int main(int argc, char** argv)
{
    const int runs = argc > 1 ? std::max(1, std::atoi(argv[1])) : 5;
    if (std::getenv("DISPLAY") == nullptr) {
        std::fprintf(stderr, "no X display: run under xvfb-run -a\n");
        return 2;
    }
    char pattern[] = "/tmp/viewer-start-bench-XXXXXX";
    if (mkdtemp(pattern) == nullptr) {
        std::perror("mkdtemp");
        return 1;
    }
    const fs::path root(pattern);
    const fs::path served = root / "served";
    const fs::path work = root / "work";
    fs::create_directories(served);
    fs::create_directories(work / "tmp");
    const fs::path fixtures = fs::path(MORVEX_SOURCE_DIR) / "tests" / "viewer" / "e2e" / "fixtures";
    fs::copy_file(fixtures / "resume.htm", served / "resume.htm");
    fs::copy_file(fixtures / "resume.doc", served / "resume.doc");

    Child server = Spawn({"/usr/bin/python3", std::string(MORVEX_SOURCE_DIR) + "/tests/ftp/ftpserver.py",
                          "--root", served.string(), "--user", "bench", "--password", "bench",
                          "--port", "0", "--quiet"},
                         false);
    char portLine[64] = {};
    if (server.out == nullptr || fgets(portLine, sizeof portLine, server.out) == nullptr) {
        std::fprintf(stderr, "the FTP server did not start\n");
        return 1;
    }
    const std::string port = std::to_string(std::atoi(portLine));
    setenv("CVGLANCE_TRACE", "1", 1);
    const fs::path runtime = root / "runtime";
    fs::create_directories(runtime);
    fs::permissions(runtime, fs::perms::owner_all, fs::perm_options::replace);
    setenv("XDG_RUNTIME_DIR", runtime.c_str(), 1);

    std::printf("viewer start-up, %d runs per document, FTP on 127.0.0.1:%s, load average %s\n", runs,
                port.c_str(), LoadAverage().c_str());
    int failures = 0;
    for (const auto& [served_name, shown] : {std::pair<std::string, std::string>{"resume.htm", "bench.htm"},
                                             {"resume.doc", "bench.html"}}) {
        std::vector<double> seconds;
        Memory memory;
        for (int run = 0; run < runs; ++run) {
            const auto start = Clock::now();
            Child viewer = Spawn({CVGLANCE_PROGRAM, "简历", "bench", "ftp://127.0.0.1:" + port + "/" + served_name,
                                  "bench", "bench", port, work.string()},
                                 true);
            const bool shownOk = ReadUntil(viewer.out, "page loaded " + (work / "tmp" / shown).string());
            const double elapsed = std::chrono::duration<double>(Clock::now() - start).count();
            if (!shownOk) {
                std::printf("  %s run %d: the document was never shown\n", served_name.c_str(), run + 1);
                ++failures;
                Stop(viewer);
                continue;
            }
            seconds.push_back(elapsed);
            // Let the page settle (painting, late allocations) before measuring.
            usleep(1500 * 1000);
            memory = TreeMemory(viewer.pid);
            std::printf("  %s run %d: %.3f s, %d processes, RSS %.1f MiB, PSS %.1f MiB\n", served_name.c_str(),
                        run + 1, elapsed, memory.processes, MiB(memory.rssKb), MiB(memory.pssKb));
            Stop(viewer);
        }
        if (served_name == "resume.doc" && seconds.size() > 1) {
            const std::vector<double> warm(seconds.begin() + 1, seconds.end());
            std::printf("%s: first run (converter cold) %.3f s; warm median %.3f s\n", served_name.c_str(),
                        seconds.front(), Median(warm));
        }
        if (!seconds.empty()) {
            std::printf("%s: median %.3f s (min %.3f, max %.3f) to shown; last run RSS %.1f MiB, PSS %.1f MiB over %d processes\n",
                        served_name.c_str(), Median(seconds), *std::min_element(seconds.begin(), seconds.end()),
                        *std::max_element(seconds.begin(), seconds.end()), MiB(memory.rssKb),
                        MiB(memory.pssKb), memory.processes);
        }
    }
    std::printf("load average at the end %s\n", LoadAverage().c_str());
    EndConverter();
    Stop(server);
    fs::remove_all(root);
    return failures == 0 ? 0 : 1;
}
