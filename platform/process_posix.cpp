#include "platform/process.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <csignal>
#include <cstdlib>

#include "platform/codepage.h"
#include "platform/path.h"

namespace platform {

namespace {

bool IsExecutableFile(const Path& path)
{
    struct stat info {};
    return stat(path.c_str(), &info) == 0 && S_ISREG(info.st_mode) &&
           access(path.c_str(), X_OK) == 0;
}

// Keeps a descriptor clear of 0-2, which the child overwrites with /dev/null;
// a caller started with its standard streams closed gets low numbers here.
int MoveAboveStdio(int fd)
{
    if (fd < 0 || fd > STDERR_FILENO) {
        return fd;
    }
    const int moved = fcntl(fd, F_DUPFD_CLOEXEC, STDERR_FILENO + 1);
    close(fd);
    return moved;
}

Path JoinPath(const Path& folder, const std::string& name)
{
    return folder.empty() ? Path(".") / name : folder / name;
}

// Everything the child needs is built before fork: after it, in a process with
// other threads, only async-signal-safe calls are allowed.
[[noreturn]] void RunGrandchild(const char* path, char* const argv[], int devNull, int errorPipe)
{
    dup2(devNull, STDIN_FILENO);
    dup2(devNull, STDOUT_FILENO);
    dup2(devNull, STDERR_FILENO);
    // Keep only the pipe that reports a failed exec; everything else we hold
    // (the installation lock above all) must not live on in the started program.
    if (errorPipe > 3) {
        dup2(errorPipe, 3);
    }
    fcntl(3, F_SETFD, FD_CLOEXEC);
    close_range(4, ~0U, 0);
    execv(path, argv);
    const int error = errno;
    [[maybe_unused]] auto written = write(3, &error, sizeof error);
    _exit(127);
}

}  // namespace

Path FindProgram(const std::string& name, const std::vector<Path>& folders)
{
    if (name.empty()) {
        return {};
    }
    if (name.find('/') != std::string::npos) {
        return IsExecutableFile(name) ? Path(name) : Path();
    }
    for (const auto& folder : folders) {
        Path candidate = JoinPath(folder, name);
        if (IsExecutableFile(candidate)) {
            return candidate;
        }
    }
    const char* pathVariable = std::getenv("PATH");
    std::string searchPath = pathVariable != nullptr ? pathVariable : "/usr/local/bin:/usr/bin:/bin";
    std::size_t start = 0;
    while (start <= searchPath.size()) {
        std::size_t end = searchPath.find(':', start);
        if (end == std::string::npos) {
            end = searchPath.size();
        }
        Path candidate = JoinPath(searchPath.substr(start, end - start), name);
        if (IsExecutableFile(candidate)) {
            return candidate;
        }
        start = end + 1;
    }
    return {};
}

bool StartDetached(const Path& program, const std::vector<std::string>& args)
{
    const std::string& path = program.native();
    std::vector<std::string> storage;
    storage.reserve(args.size() + 1);
    storage.push_back(path);
    storage.insert(storage.end(), args.begin(), args.end());
    std::vector<char*> argv;
    argv.reserve(storage.size() + 1);
    for (auto& arg : storage) {
        argv.push_back(arg.data());
    }
    argv.push_back(nullptr);

    const int devNull = MoveAboveStdio(open("/dev/null", O_RDWR | O_CLOEXEC));
    if (devNull < 0) {
        return false;
    }
    int errorPipe[2];
    if (pipe2(errorPipe, O_CLOEXEC) != 0) {
        close(devNull);
        return false;
    }
    errorPipe[0] = MoveAboveStdio(errorPipe[0]);
    errorPipe[1] = MoveAboveStdio(errorPipe[1]);
    if (errorPipe[0] < 0 || errorPipe[1] < 0) {
        close(devNull);
        close(errorPipe[0]);
        close(errorPipe[1]);
        return false;
    }

    // Two forks: the middle process ends at once, so the program is adopted by
    // init and never becomes our zombie, and we wait only for the middle one.
    const pid_t middle = fork();
    if (middle == 0) {
        setsid();
        const pid_t grandchild = fork();
        if (grandchild == 0) {
            RunGrandchild(path.c_str(), argv.data(), devNull, errorPipe[1]);
        }
        _exit(grandchild < 0 ? 126 : 0);
    }
    close(errorPipe[1]);
    close(devNull);
    bool started = false;
    if (middle > 0) {
        int status = 0;
        while (waitpid(middle, &status, 0) < 0 && errno == EINTR) {
        }
        if (WIFEXITED(status) && WEXITSTATUS(status) == 0) {
            // The pipe closes on a successful exec; a failed one writes errno.
            int execError = 0;
            ssize_t got;
            while ((got = read(errorPipe[0], &execError, sizeof execError)) < 0 && errno == EINTR) {
            }
            started = got == 0;
        }
    }
    close(errorPipe[0]);
    return started;
}

bool ShellExecuteOpen(const CString& file, const CString& parameters, const Path& programDir)
{
    const Path path = FindProgram(Utf16ToUtf8(file), {Path(), programDir.empty() ? Path(".") : programDir});
    if (path.empty()) {
        return false;
    }
    return StartDetached(path, SplitCommandLine(parameters));
}

void IgnoreFileSizeLimitSignal() { std::signal(SIGXFSZ, SIG_IGN); }

bool OpenDocument(const Path& path)
{
    const Path opener = FindProgram("xdg-open", {});
    if (opener.empty()) {
        return false;
    }
    return StartDetached(opener, {path.native()});
}

}  // namespace platform
