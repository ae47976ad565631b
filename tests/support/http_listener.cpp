#include "support/http_listener.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

namespace testsupport {

HttpListener::HttpListener()
{
    m_socket = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t length = sizeof address;
    if (m_socket < 0 || bind(m_socket, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0 ||
        listen(m_socket, 16) != 0 ||
        getsockname(m_socket, reinterpret_cast<sockaddr*>(&address), &length) != 0) {
        if (m_socket >= 0) {
            close(m_socket);
        }
        m_socket = -1;
        return;
    }
    m_port = ntohs(address.sin_port);
    m_thread = std::thread([this] { Serve(); });
}

HttpListener::~HttpListener()
{
    m_stop = true;
    if (m_thread.joinable()) {
        m_thread.join();
    }
    if (m_socket >= 0) {
        close(m_socket);
    }
}

std::string HttpListener::url(const std::string& path) const
{
    return "http://127.0.0.1:" + std::to_string(m_port) + "/" + path;
}

std::vector<std::string> HttpListener::requests() const
{
    std::lock_guard<std::mutex> lock(m_lock);
    return m_requests;
}

void HttpListener::Serve()
{
    while (!m_stop) {
        pollfd waiting{m_socket, POLLIN, 0};
        if (poll(&waiting, 1, 100) <= 0) {
            continue;
        }
        const int client = accept4(m_socket, nullptr, nullptr, SOCK_CLOEXEC);
        if (client < 0) {
            continue;
        }
        ++m_connections;
        std::string request;
        char buffer[4096];
        pollfd reading{client, POLLIN, 0};
        while (request.find("\r\n\r\n") == std::string::npos && poll(&reading, 1, 2000) > 0) {
            const ssize_t got = read(client, buffer, sizeof buffer);
            if (got <= 0) {
                break;
            }
            request.append(buffer, static_cast<std::size_t>(got));
        }
        {
            std::lock_guard<std::mutex> lock(m_lock);
            m_requests.push_back(request.substr(0, request.find("\r\n")));
        }
        static const char reply[] =
            "HTTP/1.0 200 OK\r\nContent-Type: text/html\r\nContent-Length: 13\r\n\r\n<p>remote</p>";
        (void)!write(client, reply, sizeof reply - 1);
        close(client);
    }
}

}  // namespace testsupport
