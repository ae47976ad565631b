#include "transfer/ftp_connection.h"

#include <algorithm>
#include <cctype>
#include <chrono>

#include <curl/curl.h>

#include "platform/socket_wait.h"
#include "transfer/curl_verbose.h"

namespace transfer {
namespace {

using Clock = std::chrono::steady_clock;

// A reply line longer than this is no FTP reply; stop reading rather than grow.
constexpr std::size_t kLongestReplyLine = 64 * 1024;
// Saying goodbye should not hold the caller up for a full reply time-out.
constexpr long kQuitReplySeconds = 5;

// When a wait that began now must end; no end for a limit of 0 or less.
Clock::time_point DeadlineAfter(long seconds)
{
    return seconds > 0 ? Clock::now() + std::chrono::seconds(seconds) : Clock::time_point::max();
}

bool HasLineBreak(const std::string& text)
{
    return text.find_first_of("\r\n") != std::string::npos;
}

bool StartsWithCode(const std::string& line)
{
    return line.size() >= 3 && std::isdigit(static_cast<unsigned char>(line[0])) &&
           std::isdigit(static_cast<unsigned char>(line[1])) && std::isdigit(static_cast<unsigned char>(line[2]));
}

std::string HostForUrl(const std::string& host)
{
    // An IPv6 address needs brackets to be told from the port.
    if (host.find(':') != std::string::npos && host.front() != '[') {
        return "[" + host + "]";
    }
    return host;
}

}  // namespace

FtpLibrarySession::FtpLibrarySession() : m_ok(curl_global_init(CURL_GLOBAL_ALL) == CURLE_OK) {}

FtpLibrarySession::~FtpLibrarySession()
{
    if (m_ok) {
        curl_global_cleanup();
    }
}

FtpConnection::FtpConnection() : m_handle(nullptr), m_replySeconds(0) {}

FtpConnection::~FtpConnection() { Close(); }

bool FtpConnection::Open(const std::string& host, std::uint16_t port, const std::string& user,
                         const std::string& password, long connectSeconds, long replySeconds)
{
    Close();
    if (host.empty() || HasLineBreak(host) || HasLineBreak(user) || HasLineBreak(password)) {
        return false;
    }
    CURL* handle = curl_easy_init();
    if (handle == nullptr) {
        return false;
    }
    const std::string url = "ftp://" + HostForUrl(host) + ":" + std::to_string(port == 0 ? 21 : port) + "/";
    curl_easy_setopt(handle, CURLOPT_URL, url.c_str());
    curl_easy_setopt(handle, CURLOPT_USERNAME, user.c_str());
    curl_easy_setopt(handle, CURLOPT_PASSWORD, password.c_str());
    curl_easy_setopt(handle, CURLOPT_CONNECTTIMEOUT, connectSeconds);
    if (replySeconds > 0) {
        curl_easy_setopt(handle, CURLOPT_FTP_RESPONSE_TIMEOUT, replySeconds);
    }
    // Log in and stop: the connection is then ours to send commands on.
    curl_easy_setopt(handle, CURLOPT_CONNECT_ONLY, 1L);
    SetVerboseWithoutPassword(handle);
    if (curl_easy_perform(handle) != CURLE_OK) {
        curl_easy_cleanup(handle);
        return false;
    }
    m_handle = handle;
    m_replySeconds = replySeconds;
    m_pending.clear();
    return true;
}

void FtpConnection::Close()
{
    if (m_handle == nullptr) {
        return;
    }
    m_replySeconds = m_replySeconds > 0 ? std::min(m_replySeconds, kQuitReplySeconds) : kQuitReplySeconds;
    Command("QUIT");
    if (m_handle != nullptr) {
        curl_easy_cleanup(m_handle);
        m_handle = nullptr;
    }
    m_pending.clear();
}

bool FtpConnection::MakeDirectory(const std::string& path) { return PathCommand("MKD", path); }
bool FtpConnection::RemoveRemoteDirectory(const std::string& path) { return PathCommand("RMD", path); }
bool FtpConnection::DeleteRemoteFile(const std::string& path) { return PathCommand("DELE", path); }

bool FtpConnection::PathCommand(const char* verb, const std::string& path)
{
    if (HasLineBreak(path)) {
        return false;
    }
    const int code = Command(std::string(verb) + " " + path);
    return code >= 200 && code < 300;
}

int FtpConnection::Command(const std::string& line)
{
    if (m_handle == nullptr || HasLineBreak(line)) {
        return 0;
    }
    const int code = SendAll(line + "\r\n") ? ReadReply() : 0;
    if (code == 0) {
        // The control connection is out of step or gone; nothing more can be
        // said on it, so let go of it rather than misread later replies.
        curl_easy_cleanup(m_handle);
        m_handle = nullptr;
        m_pending.clear();
    }
    return code;
}

bool FtpConnection::SendAll(const std::string& bytes)
{
    curl_socket_t socket = CURL_SOCKET_BAD;
    if (curl_easy_getinfo(m_handle, CURLINFO_ACTIVESOCKET, &socket) != CURLE_OK || socket == CURL_SOCKET_BAD) {
        return false;
    }
    const auto deadline = DeadlineAfter(m_replySeconds);
    std::size_t done = 0;
    while (done < bytes.size()) {
        std::size_t sent = 0;
        const CURLcode result = curl_easy_send(m_handle, bytes.data() + done, bytes.size() - done, &sent);
        if (result == CURLE_AGAIN) {
            if (!platform::WaitForSocket(static_cast<std::intptr_t>(socket), platform::SocketReady::Writable,
                                         deadline)) {
                return false;
            }
            continue;
        }
        if (result != CURLE_OK) {
            return false;
        }
        done += sent;
    }
    return true;
}

// Reads one reply, single or multi-line ("123-..." up to "123 ..."), and
// returns its code; 0 when none arrived in time or it was malformed.
int FtpConnection::ReadReply()
{
    curl_socket_t socket = CURL_SOCKET_BAD;
    if (curl_easy_getinfo(m_handle, CURLINFO_ACTIVESOCKET, &socket) != CURLE_OK || socket == CURL_SOCKET_BAD) {
        return 0;
    }
    const auto deadline = DeadlineAfter(m_replySeconds);
    std::string code;
    for (;;) {
        const std::size_t end = m_pending.find("\r\n");
        if (end != std::string::npos) {
            const std::string lineText = m_pending.substr(0, end);
            m_pending.erase(0, end + 2);
            if (code.empty()) {
                if (!StartsWithCode(lineText)) {
                    return 0;
                }
                code = lineText.substr(0, 3);
                if (lineText.size() == 3 || lineText[3] != '-') {
                    return std::stoi(code);
                }
            } else if (lineText.size() >= 4 && lineText.compare(0, 3, code) == 0 && lineText[3] == ' ') {
                return std::stoi(code);
            }
            continue;
        }
        if (m_pending.size() > kLongestReplyLine) {
            return 0;
        }
        char buffer[1024];
        std::size_t got = 0;
        const CURLcode result = curl_easy_recv(m_handle, buffer, sizeof buffer, &got);
        if (result == CURLE_AGAIN) {
            if (!platform::WaitForSocket(static_cast<std::intptr_t>(socket), platform::SocketReady::Readable,
                                         deadline)) {
                return 0;
            }
            continue;
        }
        if (result != CURLE_OK || got == 0) {
            return 0;
        }
        m_pending.append(buffer, got);
    }
}

}  // namespace transfer
