// docvert-service: keeps one office loaded and converts Word documents to
// HTML for the library's clients of the same user, one at a time.
//
//   docvert-service [--ready-fd N]
//
// It listens on the user's socket (see ServiceSocketPath), writes one byte to
// descriptor N once it does, and ends after DOCVERT_SERVICE_IDLE_SECONDS
// (default 600) without a request, on SIGHUP or SIGTERM, and when its socket
// or the folder holding it goes away (the user's session has ended).
#include <LibreOfficeKit/LibreOfficeKitInit.h>
#include <LibreOfficeKit/LibreOfficeKit.h>
#include <dirent.h>
#include <fcntl.h>
#include <poll.h>
#include <spawn.h>
#include <signal.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <string>

#include "tools/docvert/service_link.h"

namespace {

namespace fs = std::filesystem;
using docvert::ServiceRequest;

constexpr const char* kOfficeProgramFolder = "/usr/lib/libreoffice/program";
constexpr std::size_t kLongestPath = 4096;
constexpr int kSessionCheckMs = 5000;  // how often we look whether our socket still exists

const std::string kMacrosOff =
    "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n"
    "<oor:items xmlns:oor=\"http://openoffice.org/2001/registry\" xmlns:xs=\"http://www.w3.org/2001/XMLSchema\" "
    "xmlns:xsi=\"http://www.w3.org/2001/XMLSchema-instance\">\n"
    "<item oor:path=\"/org.openoffice.Office.Common/Security/Scripting\"><prop oor:name=\"MacroSecurityLevel\" "
    "oor:op=\"fuse\"><value>3</value></prop></item>\n"
    "<item oor:path=\"/org.openoffice.Office.Common/Security/Scripting\"><prop oor:name=\"DisableMacrosExecution\" "
    "oor:op=\"fuse\"><value>true</value></prop></item>\n"
    "</oor:items>\n";

volatile sig_atomic_t g_stop = 0;
void OnStop(int) { g_stop = 1; }

std::string FileUrl(const std::string& path)
{
    std::string url = "file://";
    for (const char ch : path) {
        const auto c = static_cast<unsigned char>(ch);
        if (std::isalnum(c) || std::strchr("/-._~", c) != nullptr) {
            url += ch;
        } else {
            char hex[4];
            std::snprintf(hex, sizeof hex, "%%%02X", c);
            url += hex;
        }
    }
    return url;
}

bool ReadFd(int fd, std::string& bytes)
{
    char buffer[65536];
    for (;;) {
        const ssize_t n = read(fd, buffer, sizeof buffer);
        if (n < 0 && errno == EINTR) {
            continue;
        }
        if (n < 0) {
            return false;
        }
        if (n == 0) {
            return true;
        }
        bytes.append(buffer, static_cast<std::size_t>(n));
    }
}

bool WriteFd(int fd, const std::string& bytes)
{
    std::size_t done = 0;
    while (done < bytes.size()) {
        const ssize_t n = write(fd, bytes.data() + done, bytes.size() - done);
        if (n < 0 && errno == EINTR) {
            continue;
        }
        if (n <= 0) {
            return false;
        }
        done += static_cast<std::size_t>(n);
    }
    return true;
}

// The client's request names two files in one folder of its own. That folder
// must be a real folder of the peer's, closed to others; the input a regular
// file there, opened without following links; the output a new file there.
// The office itself only ever sees our own copy, in our own folder.
struct Job {
    int folder = -1;
    std::string inputName;
    std::string outputName;
    ~Job()
    {
        if (folder >= 0) {
            close(folder);
        }
    }
};

bool PlainName(const std::string& name)
{
    return !name.empty() && name != "." && name != ".." && name.find('/') == std::string::npos &&
           name.find('\0') == std::string::npos;
}

bool OpenJob(const std::string& input, const std::string& output, uid_t peer, Job& job)
{
    const fs::path in(input);
    const fs::path out(output);
    if (!in.is_absolute() || !out.is_absolute() || in.parent_path() != out.parent_path()) {
        return false;
    }
    job.inputName = in.filename().string();
    job.outputName = out.filename().string();
    if (!PlainName(job.inputName) || !PlainName(job.outputName) || job.inputName == job.outputName) {
        return false;
    }
    job.folder = open(in.parent_path().c_str(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
    struct stat st {};
    return job.folder >= 0 && fstat(job.folder, &st) == 0 && st.st_uid == peer && (st.st_mode & 077) == 0;
}

class Office {
public:
    bool Load(const std::string& profileUrl)
    {
        m_kit = lok_init_2(kOfficeProgramFolder, profileUrl.c_str());
        return m_kit != nullptr;
    }

    // The document at `url` to HTML with its pictures embedded, the filter
    // and options the one-shot path gives the office on its command line.
    bool Convert(const std::string& url, const std::string& outputUrl)
    {
        // Macros never run: documentLoad's default execution mode is "never"
        // unless the options ask otherwise, and ours do not.
        LibreOfficeKitDocument* document = m_kit->pClass->documentLoadWithOptions(m_kit, url.c_str(), "");
        if (document == nullptr) {
            return false;
        }
        const int saved = document->pClass->saveAs(document, outputUrl.c_str(), "html", "EmbedImages");
        document->pClass->destroy(document);
        return saved != 0;
    }

private:
    LibreOfficeKit* m_kit = nullptr;
};

bool Serve(Office& office, const fs::path& work, int client, uid_t peer)
{
    std::uint8_t kind = 0;
    if (!docvert::ReceiveAll(client, &kind, 1)) {
        return false;
    }
    if (kind == static_cast<std::uint8_t>(ServiceRequest::Ping)) {
        const std::uint8_t yes = 1;
        return docvert::SendAll(client, &yes, 1);
    }
    std::string input;
    std::string output;
    if (kind != static_cast<std::uint8_t>(ServiceRequest::Convert) ||
        !docvert::ReceiveText(client, input, kLongestPath) || !docvert::ReceiveText(client, output, kLongestPath)) {
        return false;
    }
    std::uint8_t converted = 0;
    Job job;
    std::error_code ec;
    const fs::path jobFolder = work / "job";
    fs::remove_all(jobFolder, ec);
    if (OpenJob(input, output, peer, job) && fs::create_directory(jobFolder, ec)) {
        std::string bytes;
        const int in = openat(job.folder, job.inputName.c_str(), O_RDONLY | O_NOFOLLOW | O_CLOEXEC | O_NONBLOCK);
        struct stat st {};
        // The copy keeps the document's own name: it shows where the document has a FILENAME field.
        const fs::path copy = jobFolder / job.inputName;
        const fs::path page = jobFolder / "page.html";
        if (in >= 0 && fstat(in, &st) == 0 && S_ISREG(st.st_mode) && st.st_uid == peer && ReadFd(in, bytes)) {
            const int copyFd = open(copy.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0600);
            const bool copied = copyFd >= 0 && WriteFd(copyFd, bytes);
            if (copyFd >= 0) {
                close(copyFd);
            }
            std::string html;
            const int pageFd = copied && office.Convert(FileUrl(copy), FileUrl(page))
                                   ? open(page.c_str(), O_RDONLY | O_NOFOLLOW | O_CLOEXEC)
                                   : -1;
            if (pageFd >= 0 && ReadFd(pageFd, html) && !html.empty()) {
                const int target = openat(job.folder, job.outputName.c_str(),
                                          O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0600);
                converted = target >= 0 && WriteFd(target, html) ? 1 : 0;
                if (target >= 0) {
                    close(target);
                }
            }
            if (pageFd >= 0) {
                close(pageFd);
            }
        }
        if (in >= 0) {
            close(in);
        }
    }
    fs::remove_all(jobFolder, ec);
    return docvert::SendAll(client, &converted, 1);
}

// Folders of services that were killed: only one service per user runs (we
// hold the lock), so every other one of ours is left over.
void RemoveLeftovers(const fs::path& parent, const fs::path& ours)
{
    std::error_code ec;
    for (const fs::directory_entry& entry : fs::directory_iterator(parent, ec)) {
        struct stat st {};
        const std::string name = entry.path().filename().string();
        if (name.rfind("docvertsvc-", 0) == 0 && entry.path() != ours && lstat(entry.path().c_str(), &st) == 0 &&
            S_ISDIR(st.st_mode) && st.st_uid == geteuid()) {
            fs::remove_all(entry.path(), ec);
        }
    }
}

// The office's threads still run while we end and may write into the folder
// (its profile, its temporary files). Moved aside first, the folder takes no
// new entries by name; what a thread still writes through an open file goes
// with the next attempt.
void RemoveWorkFolder(const fs::path& work)
{
    std::error_code ec;
    fs::path doomed = work;
    doomed += ".gone";
    fs::rename(work, doomed, ec);
    const fs::path target = ec ? work : doomed;
    for (int attempt = 0; attempt < 20 && fs::exists(target, ec); ++attempt) {
        fs::remove_all(target, ec);
    }
}

// The office writes its settings back by path, creating the folders it
// misses, from threads that run until the process ends: a folder removed
// before then may come back. A shell started here waits for our end (the
// pipe's writing end goes with us) and removes what is there by then.
void RemoveWorkFolderAfterExit(const fs::path& work)
{
    int ends[2];
    if (pipe2(ends, O_CLOEXEC) != 0) {
        return;
    }
    fs::path doomed = work;
    doomed += ".gone";
    const std::string script = "read -r _; exec rm -rf -- \"$1\" \"$2\"";
    std::string name = "sh";
    std::string first = work.string();
    std::string second = doomed.string();
    char* args[] = {name.data(), const_cast<char*>("-c"), const_cast<char*>(script.c_str()), name.data(),
                    first.data(), second.data(), nullptr};
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_adddup2(&actions, ends[0], STDIN_FILENO);
    pid_t pid = 0;
    posix_spawn(&pid, "/bin/sh", &actions, nullptr, args, environ);
    posix_spawn_file_actions_destroy(&actions);
    close(ends[0]);
    // ends[1] stays open until _exit.
}

int IdleSeconds()
{
    const char* text = std::getenv("DOCVERT_SERVICE_IDLE_SECONDS");
    const int value = text != nullptr ? std::atoi(text) : 0;
    return value > 0 ? value : 600;
}

}  // namespace

int main(int argc, char** argv)
{
    int readyFd = -1;
    for (int i = 1; i + 1 < argc; ++i) {
        if (std::strcmp(argv[i], "--ready-fd") == 0) {
            readyFd = std::atoi(argv[i + 1]);
        }
    }
    umask(077);
    // A client that asked for a start and stopped listening must not end us.
    signal(SIGPIPE, SIG_IGN);
    const std::string socketPath = docvert::ServiceSocketPath();
    // One service per user: the lock is held as long as we live.
    bool anotherRuns = false;
    const int listener = docvert::ListenAsService(socketPath, anotherRuns);
    if (listener < 0) {
        return anotherRuns ? 0 : 1;
    }
    struct stat socketStat {};
    lstat(socketPath.c_str(), &socketStat);

    const char* tmp = std::getenv("TMPDIR");
    const fs::path tmpFolder = tmp != nullptr && *tmp == '/' ? fs::path(tmp) : fs::path("/tmp");
    std::string pattern = (tmpFolder / "docvertsvc-XXXXXX").string();
    if (mkdtemp(pattern.data()) == nullptr) {
        unlink(socketPath.c_str());
        return 1;
    }
    const fs::path work(pattern);
    RemoveLeftovers(tmpFolder, work);
    const fs::path profile = work / "profile";
    const fs::path scratch = work / "tmp";
    std::error_code ec;
    fs::create_directory(profile, ec);
    fs::create_directory(scratch, ec);
    setenv("TMPDIR", scratch.c_str(), 1);

    // Macros are off in the profile as well, whatever the load defaults are.
    fs::create_directory(profile / "user", ec);
    const int settings = open((profile / "user" / "registrymodifications.xcu").c_str(),
                              O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0600);
    if (settings >= 0) {
        WriteFd(settings, kMacrosOff);
        close(settings);
    }
    Office office;
    if (!office.Load(FileUrl(profile.string()))) {
        unlink(socketPath.c_str());
        fs::remove_all(work, ec);
        return 1;
    }
    // After loading: the office installs handlers of its own for these, and
    // one that ends us while it loads leaves our folder to the next service.
    struct sigaction stop {};
    stop.sa_handler = OnStop;
    sigaction(SIGHUP, &stop, nullptr);
    sigaction(SIGTERM, &stop, nullptr);
    sigaction(SIGINT, &stop, nullptr);
    signal(SIGPIPE, SIG_IGN);
    docvert::ReportReady(readyFd);

    const auto idle = std::chrono::seconds(IdleSeconds());
    auto lastRequest = std::chrono::steady_clock::now();
    while (g_stop == 0) {
        const auto quietFor = std::chrono::steady_clock::now() - lastRequest;
        if (quietFor >= idle) {
            break;
        }
        const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(idle - quietFor).count();
        pollfd p{listener, POLLIN, 0};
        const int ready = poll(&p, 1, static_cast<int>(std::min<long long>(left, kSessionCheckMs)));
        // The session's runtime folder is removed when the user logs out;
        // a socket that is gone or replaced means nobody can reach us.
        struct stat now {};
        if (lstat(socketPath.c_str(), &now) != 0 || now.st_ino != socketStat.st_ino) {
            break;
        }
        if (ready <= 0) {
            continue;
        }
        const int client = accept4(listener, nullptr, nullptr, SOCK_CLOEXEC);
        if (client < 0) {
            continue;
        }
        const std::optional<docvert::PeerIds> peer = docvert::PeerOf(client);
        // Only our own user's programs: someone else's would read our documents.
        if (peer && peer->uid == geteuid()) {
            Serve(office, work, client, peer->uid);
        }
        close(client);
        lastRequest = std::chrono::steady_clock::now();
    }
    // The office's own shutdown is slow and may hang; nothing of it needs saving.
    struct stat now {};
    if (lstat(socketPath.c_str(), &now) == 0 && now.st_ino == socketStat.st_ino) {
        unlink(socketPath.c_str());
    }
    RemoveWorkFolder(work);
    RemoveWorkFolderAfterExit(work);
    _exit(0);
}
