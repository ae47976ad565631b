// A port on 127.0.0.1 that should hear nothing: it counts the connections
// made to it, so a test can tell that a program reached out to the network.
#pragma once

#include <string>

namespace testsupport {

class HttpListener {
public:
    HttpListener();  // listens on an ephemeral port; ok() tells whether it does
    ~HttpListener();
    HttpListener(const HttpListener&) = delete;
    HttpListener& operator=(const HttpListener&) = delete;

    bool ok() const { return m_socket >= 0; }
    // "http://127.0.0.1:PORT/" + path
    std::string url(const std::string& path) const;
    // Connections made so far (each is accepted and closed unanswered).
    int connections();

private:
    int m_socket = -1;
    int m_port = 0;
    int m_connections = 0;
};

}  // namespace testsupport
