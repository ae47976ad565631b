// A web server on 127.0.0.1 that should hear nothing: it answers every
// request with a small page and counts the connections, so a test can tell
// that a program reached out to the network.
#pragma once

#include <atomic>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

namespace testsupport {

class HttpListener {
public:
    HttpListener();  // listens on an ephemeral port; ok() tells whether it does
    ~HttpListener();
    HttpListener(const HttpListener&) = delete;
    HttpListener& operator=(const HttpListener&) = delete;

    bool ok() const { return m_socket >= 0; }
    int port() const { return m_port; }
    // "http://127.0.0.1:PORT/" + path
    std::string url(const std::string& path) const;

    int connections() const { return m_connections.load(); }
    // The first line of every request received so far.
    std::vector<std::string> requests() const;

private:
    void Serve();

    int m_socket = -1;
    int m_port = 0;
    std::atomic<bool> m_stop{false};
    std::atomic<int> m_connections{0};
    mutable std::mutex m_lock;
    std::vector<std::string> m_requests;
    std::thread m_thread;
};

}  // namespace testsupport
