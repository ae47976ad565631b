#include "support/http_listener.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

namespace testsupport {

HttpListener::HttpListener()
{
    m_socket = socket(AF_INET, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t length = sizeof address;
    if (m_socket >= 0 && (bind(m_socket, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0 ||
                          listen(m_socket, 64) != 0 ||
                          getsockname(m_socket, reinterpret_cast<sockaddr*>(&address), &length) != 0)) {
        close(m_socket);
        m_socket = -1;
    }
    m_port = ntohs(address.sin_port);
}

HttpListener::~HttpListener()
{
    if (m_socket >= 0) {
        close(m_socket);
    }
}

std::string HttpListener::url(const std::string& path) const
{
    return "http://127.0.0.1:" + std::to_string(m_port) + "/" + path;
}

int HttpListener::connections()
{
    for (int client; m_socket >= 0 && (client = accept(m_socket, nullptr, nullptr)) >= 0;) {
        close(client);
        ++m_connections;
    }
    return m_connections;
}

}  // namespace testsupport
