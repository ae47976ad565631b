// Under Wine a Windows program cannot start the Linux server, so the host's
// broker (tests/wine/host_broker.py, started by scripts/windows-test.sh) runs
// it: one TCP connection per server, which lives as long as the server does.
#include "support/ftp_server_process.h"

#include <winsock2.h>
#include <windows.h>

#include <cstdio>
#include <cstdlib>

namespace testsupport {

namespace {

constexpr const char* kBrokerVariable = "MORVEX_HOST_BROKER";

std::string JsonString(const std::string& text)
{
    std::string json = "\"";
    for (const char c : text) {
        const auto byte = static_cast<unsigned char>(c);
        if (c == '"' || c == '\\') {
            json += '\\';
            json += c;
        } else if (byte < 0x20) {
            char escaped[8];
            std::snprintf(escaped, sizeof escaped, "\\u%04x", byte);
            json += escaped;
        } else {
            json += c;
        }
    }
    return json + "\"";
}

bool SendAll(SOCKET socket, const std::string& bytes)
{
    std::size_t sent = 0;
    while (sent < bytes.size()) {
        const int n = ::send(socket, bytes.data() + sent, static_cast<int>(bytes.size() - sent), 0);
        if (n <= 0) {
            return false;
        }
        sent += static_cast<std::size_t>(n);
    }
    return true;
}

}  // namespace

struct FtpServerProcess::State {
    SOCKET socket = INVALID_SOCKET;
    std::string failure;
    std::string received;

    // One line from the broker without its "\n"; false at the end of the
    // connection.
    bool ReadLine(std::string& line)
    {
        for (;;) {
            const std::size_t end = received.find('\n');
            if (end != std::string::npos) {
                line = received.substr(0, end);
                received.erase(0, end + 1);
                return true;
            }
            char buffer[4096];
            const int n = ::recv(socket, buffer, sizeof buffer, 0);
            if (n <= 0) {
                return false;
            }
            received.append(buffer, static_cast<std::size_t>(n));
        }
    }
};

FtpServerProcess::FtpServerProcess(std::vector<std::string> argv, const std::filesystem::path&)
    : m_state(std::make_unique<State>())
{
    const char* broker = std::getenv(kBrokerVariable);
    const int port = broker != nullptr ? std::atoi(broker) : 0;
    if (port <= 0 || port > 65535) {
        m_state->failure = std::string(kBrokerVariable) +
                           " does not name the host's broker port: a Windows test starts its FTP server "
                           "through tests/wine/host_broker.py, which scripts/windows-test.sh runs";
        return;
    }
    static const bool started = [] {
        WSADATA data{};
        return ::WSAStartup(MAKEWORD(2, 2), &data) == 0;
    }();
    m_state->socket = started ? ::socket(AF_INET, SOCK_STREAM, IPPROTO_TCP) : INVALID_SOCKET;
    if (m_state->socket == INVALID_SOCKET) {
        m_state->failure = "no socket for the broker";
        return;
    }
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = ::htonl(INADDR_LOOPBACK);
    address.sin_port = ::htons(static_cast<u_short>(port));
    std::string request = "[";
    for (std::size_t i = 0; i < argv.size(); ++i) {
        request += (i == 0 ? "" : ",") + JsonString(argv[i]);
    }
    request += "]\n";
    if (::connect(m_state->socket, reinterpret_cast<const sockaddr*>(&address), sizeof address) != 0 ||
        !SendAll(m_state->socket, request)) {
        m_state->failure = "the broker on port " + std::to_string(port) + " cannot be reached";
    }
}

FtpServerProcess::~FtpServerProcess() { Stop(); }

bool FtpServerProcess::FirstLine(std::string& line, std::string& failure)
{
    if (!m_state->failure.empty()) {
        failure = m_state->failure;
        return false;
    }
    std::string reply;
    if (m_state->socket == INVALID_SOCKET || !m_state->ReadLine(reply)) {
        failure = "the broker closed the connection";
        return false;
    }
    if (reply.starts_with("out:")) {
        line = reply.substr(4);
        return true;
    }
    failure = reply.starts_with("exit:") ? "it ended (status " + reply.substr(5) + ") before it said anything"
                                         : "the broker said " + reply;
    return false;
}

void FtpServerProcess::Stop()
{
    if (m_state->socket == INVALID_SOCKET) {
        return;
    }
    // The broker stops the server when this side ends, and closes its own
    // side only once the server has ended.
    ::shutdown(m_state->socket, SD_SEND);
    for (std::string line; m_state->ReadLine(line);) {
    }
    ::closesocket(m_state->socket);
    m_state->socket = INVALID_SOCKET;
}

std::string ServerPath(const std::filesystem::path& path)
{
    // Wine's own export; a real Windows has none, and no Linux side either.
    using UnixName = char*(__cdecl*)(const wchar_t*);
    static const auto unixName = reinterpret_cast<UnixName>(
        reinterpret_cast<void*>(::GetProcAddress(::GetModuleHandleW(L"kernel32.dll"), "wine_get_unix_file_name")));
    if (unixName == nullptr) {
        return {};
    }
    const std::wstring absolute = std::filesystem::absolute(path).wstring();
    char* name = unixName(absolute.c_str());
    if (name == nullptr) {
        return {};
    }
    std::string result = name;
    ::HeapFree(::GetProcessHeap(), 0, name);
    return result;
}

}  // namespace testsupport
