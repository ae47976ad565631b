// An FTP control connection held open between operations, for remote folder
// and file commands.
#pragma once

#include <cstdint>
#include <string>

namespace transfer {

// Keeps the FTP library's process-wide state alive while it exists. Transfers
// may set the library up and shut it down around themselves; an open session
// keeps that from tearing down state under a held connection.
class FtpLibrarySession {
public:
    FtpLibrarySession();
    ~FtpLibrarySession();
    FtpLibrarySession(const FtpLibrarySession&) = delete;
    FtpLibrarySession& operator=(const FtpLibrarySession&) = delete;

    // False when the library could not be set up; nothing is held then.
    bool ok() const { return m_ok; }

private:
    bool m_ok;
};

// One logged-in control connection. Commands run on it one at a time and wait
// for the server's reply; the data channel is never used.
class FtpConnection {
public:
    FtpConnection();
    ~FtpConnection();  // closes the connection (QUIT) when open
    FtpConnection(const FtpConnection&) = delete;
    FtpConnection& operator=(const FtpConnection&) = delete;

    // Connects to host (a name or address, no scheme) on port (0: the FTP
    // port 21) and logs in. Connecting and logging in must finish within
    // connectSeconds; each later reply must arrive within replySeconds (0 or
    // less: no limit). False when the server cannot be reached, does not
    // greet in time or refuses the login; nothing stays open then.
    bool Open(const std::string& host, std::uint16_t port, const std::string& user,
              const std::string& password, long connectSeconds, long replySeconds);

    bool IsOpen() const { return m_handle != nullptr; }

    // Says goodbye (QUIT) and closes; does nothing when not open.
    void Close();

    // MKD, RMD and DELE. True when the server answers 2xx. False when not open,
    // when the path holds a line break (it would smuggle a second command onto
    // the connection), or when the server refuses or does not answer; a
    // connection that stopped answering is closed.
    bool MakeDirectory(const std::string& path);
    bool RemoveRemoteDirectory(const std::string& path);
    bool DeleteRemoteFile(const std::string& path);

    // Sends one command line (without CR LF) and returns the reply code; 0 when
    // there was no complete reply.
    int Command(const std::string& line);

private:
    bool SendAll(const std::string& bytes);
    int ReadReply();
    bool PathCommand(const char* verb, const std::string& path);

    void* m_handle;
    long m_replySeconds;
    std::string m_pending;  // received bytes not yet consumed as reply lines
};

}  // namespace transfer
