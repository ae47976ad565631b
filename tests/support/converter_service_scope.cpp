#include "support/converter_service_scope.h"

#include <fcntl.h>
#include <signal.h>
#include <sys/socket.h>
#include <sys/time.h>
#include <sys/un.h>
#include <unistd.h>

#include <chrono>
#include <cstring>
#include <string>
#include <thread>

#include "support/scoped_env.h"
#include "support/temp_dir.h"

namespace testsupport {
namespace {

std::string SocketIn(const std::filesystem::path& runtime)
{
    return (runtime / ("docvert-" + std::to_string(geteuid()) + ".socket")).string();
}

bool LockHeld(const std::string& socket)
{
    const int fd = open((socket + ".lock").c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0) {
        return false;
    }
    struct flock probe {};
    probe.l_type = F_WRLCK;
    const bool held = fcntl(fd, F_GETLK, &probe) == 0 && probe.l_type != F_UNLCK;
    close(fd);
    return held;
}

}  // namespace

bool ConverterServiceRuns(const std::filesystem::path& runtime) { return LockHeld(SocketIn(runtime)); }

bool EndConverterService(const std::filesystem::path& runtime)
{
    const std::string path = SocketIn(runtime);
    const int fd = socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_un address{};
    address.sun_family = AF_UNIX;
    std::strncpy(address.sun_path, path.c_str(), sizeof address.sun_path - 1);
    ucred peer{};
    socklen_t length = sizeof peer;
    if (fd >= 0 && connect(fd, reinterpret_cast<const sockaddr*>(&address), sizeof address) == 0 &&
        getsockopt(fd, SOL_SOCKET, SO_PEERCRED, &peer, &length) == 0 && peer.pid > 0) {
        // Its answer to a ping means the office is loaded: ended while it
        // loads, the office's own handlers end it, without its cleaning up.
        const timeval patience{120, 0};
        setsockopt(fd, SOL_SOCKET, SO_RCVTIMEO, &patience, sizeof patience);
        char answer = 0;
        if (send(fd, "P", 1, MSG_NOSIGNAL) == 1) {
            (void)!recv(fd, &answer, 1, 0);
        }
        // Asked to end, it removes its profile folder; killed, it could not.
        kill(peer.pid, SIGTERM);
    }
    if (fd >= 0) {
        close(fd);
    }
    // The lock goes when the process does, however it ends.
    if (WaitUntil([&] { return !LockHeld(path); })) {
        return true;
    }
    if (peer.pid > 0) {
        kill(peer.pid, SIGKILL);
    }
    return WaitUntil([&] { return !LockHeld(path); });
}

ConverterServiceScope::ConverterServiceScope() = default;
ConverterServiceScope::~ConverterServiceScope() = default;

void ConverterServiceScope::SetUp()
{
    m_runtime = std::make_unique<TempDir>();
    std::filesystem::permissions(m_runtime->path(), std::filesystem::perms::owner_all,
                                 std::filesystem::perm_options::replace);
    m_env = std::make_unique<ScopedEnv>("XDG_RUNTIME_DIR", m_runtime->path().string());
}

void ConverterServiceScope::TearDown()
{
    if (m_runtime) {
        EXPECT_TRUE(EndConverterService(m_runtime->path())) << "the converter started by the tests should end";
    }
    m_env.reset();
    m_runtime.reset();
}

}  // namespace testsupport
