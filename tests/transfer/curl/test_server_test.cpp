// The local test server must never outlive the test process that started it:
// a server left behind keeps the test runner's output open, and the runner then
// waits for it until its time limit.
#include <gtest/gtest.h>

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <thread>

#include "support/ftp_server.h"
#include "support/temp_dir.h"

namespace {

bool Accepts(int port)
{
    const int fd = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_port = htons(static_cast<std::uint16_t>(port));
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    const bool connected = connect(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) == 0;
    close(fd);
    return connected;
}

TEST(TestServer, EndsWhenTheProcessThatStartedItDiesWithoutStoppingIt)
{
    testsupport::TempDir root;
    int portPipe[2];
    ASSERT_EQ(pipe(portPipe), 0);
    const pid_t child = fork();
    ASSERT_GE(child, 0);
    if (child == 0) {
        close(portPipe[0]);
        // Deliberately never destroyed: _exit() stands for a test that crashed.
        auto* server = new testsupport::FtpServer(root.path());
        const int port = server->ok() ? server->port() : 0;
        (void)!write(portPipe[1], &port, sizeof port);
        _exit(0);
    }
    close(portPipe[1]);
    int port = 0;
    ASSERT_EQ(read(portPipe[0], &port, sizeof port), static_cast<ssize_t>(sizeof port));
    close(portPipe[0]);
    waitpid(child, nullptr, 0);
    ASSERT_GT(port, 0) << "the server did not start";

    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(60);
    bool accepts = Accepts(port);
    while (accepts && std::chrono::steady_clock::now() < deadline) {
        std::this_thread::sleep_for(std::chrono::milliseconds(50));
        accepts = Accepts(port);
    }
    EXPECT_FALSE(accepts) << "the server on port " << port << " outlived the process that started it";
}

}  // namespace
