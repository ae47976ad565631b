#include "haltwick_kill.h"

#include <dirent.h>
#include <signal.h>
#include <sys/stat.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <string>
#include <thread>
#include <vector>

namespace {

constexpr auto GRACE = std::chrono::seconds(5);
constexpr auto POLL = std::chrono::milliseconds(20);
// The kernel keeps at most this many characters of a process's name.
constexpr std::size_t COMM_CHARS = 15;

std::string BaseName(const std::string& path)
{
    const std::size_t slash = path.rfind('/');
    return slash == std::string::npos ? path : path.substr(slash + 1);
}

// A program is matched by its executable's file name; a script run through its
// "#!" line is known only by the kernel's (15-character) name for it.
bool IsNamed(pid_t pid, const std::vector<std::string>& names)
{
    const std::string dir = "/proc/" + std::to_string(pid);
    char target[4096];
    const ssize_t length = readlink((dir + "/exe").c_str(), target, sizeof target - 1);
    std::string exe = length > 0 ? BaseName(std::string(target, static_cast<std::size_t>(length))) : "";
    const std::string deleted = " (deleted)";
    if (exe.size() > deleted.size() && exe.ends_with(deleted)) {
        exe.resize(exe.size() - deleted.size());
    }
    std::string comm;
    std::getline(std::ifstream(dir + "/comm"), comm);
    for (const std::string& name : names) {
        if (exe == name || (name.size() <= COMM_CHARS && comm == name)) {
            return true;
        }
    }
    return false;
}

std::vector<pid_t> FindOwnProcesses(const std::vector<std::string>& names)
{
    std::vector<pid_t> found;
    DIR* proc = opendir("/proc");
    if (proc == nullptr) {
        std::perror("Haltwick: /proc");
        return found;
    }
    const uid_t me = geteuid();
    while (const dirent* entry = readdir(proc)) {
        char* end = nullptr;
        const long value = std::strtol(entry->d_name, &end, 10);
        if (*end != '\0' || value <= 0) {
            continue;
        }
        const auto pid = static_cast<pid_t>(value);
        struct stat info{};
        if (pid == getpid() || stat(("/proc/" + std::string(entry->d_name)).c_str(), &info) != 0 ||
            info.st_uid != me) {
            continue;
        }
        if (IsNamed(pid, names)) {
            found.push_back(pid);
        }
    }
    closedir(proc);
    return found;
}

// Gone, or a zombie waiting for its parent: either way it runs no more.
bool HasEnded(pid_t pid)
{
    std::ifstream stat("/proc/" + std::to_string(pid) + "/stat");
    std::string line;
    if (!std::getline(stat, line)) {
        return true;
    }
    const std::size_t close = line.rfind(')');
    return close == std::string::npos || close + 2 >= line.size() || line[close + 2] == 'Z' ||
           line[close + 2] == 'X';
}

bool AllEnded(const std::vector<pid_t>& pids)
{
    for (pid_t pid : pids) {
        if (!HasEnded(pid)) {
            return false;
        }
    }
    return true;
}

}  // namespace

int KillByName(const std::string& name)
{
    const std::vector<pid_t> pids = FindOwnProcesses(CandidateNames(name));
    for (pid_t pid : pids) {
        kill(pid, SIGTERM);
    }
    const auto deadline = std::chrono::steady_clock::now() + GRACE;
    while (!AllEnded(pids) && std::chrono::steady_clock::now() < deadline) {
        std::this_thread::sleep_for(POLL);
    }
    for (pid_t pid : pids) {
        if (!HasEnded(pid)) {
            kill(pid, SIGKILL);
        }
    }
    const auto killDeadline = std::chrono::steady_clock::now() + std::chrono::seconds(1);
    while (!AllEnded(pids) && std::chrono::steady_clock::now() < killDeadline) {
        std::this_thread::sleep_for(POLL);
    }
    if (!AllEnded(pids)) {
        std::fprintf(stderr, "Haltwick: some process named %s did not end\n", name.c_str());
        return 1;
    }
    return 0;
}

