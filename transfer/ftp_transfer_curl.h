// The transfer class of the updater: libcurl transfers over FTP URLs, and one
// held FTP control connection for remote folder and file commands.
#pragma once

#include <cstdint>
#include <ctime>
#include <memory>
#include <string>

#include "transfer/ftp_connection.h"
#include "transfer/curl_download.h"
#include "transfer/ftp_transfer.h"

// Seconds an upload waits for each server reply.
constexpr long UPLOAD_RESPONSE_TIMEOUT = 5;
// Attempts per upload; the later ones resume from the remote file's size.
constexpr int UPLOAD_ATTEMPTS = 3;

class CFtpTransfer_Curl : public CFtpTransfer {
public:
    // Takes copies of g_strFtpServer, g_strFtpUser and g_strFtpPassword for
    // Connect; the transfers read the settings afresh each time instead.
    CFtpTransfer_Curl();
    // Releases the texts; an open connection is closed as well.
    ~CFtpTransfer_Curl() override;

    // Opens the control connection to m_strServer on the port in g_strFtpPort
    // (0 or unreadable: 21) and logs in with the copied credentials. Unless
    // bNoDatedDir is nonzero it then names a dated folder after the local time
    // and creates it below g_strUploadRoot (creating "/" + g_strUploadRoot
    // first, once per run). TRUE once logged in, whatever the folder steps
    // gave; FALSE when the server cannot be reached or refuses the login. A
    // connection still open from an earlier Connect is closed first.
    BOOL Connect(std::int32_t& bNoDatedDir) override;
    // Closes the connection (QUIT) when one is open; otherwise nothing.
    void Disconnect() override;

    // MKD of g_strUploadRoot + path (joined with no separator). FALSE when not
    // connected or the server refuses.
    BOOL CreateRemoteDir(CString path) override;
    // RMD of path as given. FALSE when not connected or the server refuses.
    BOOL RemoveRemoteDir(CString path) override;
    // DELE of path as given. FALSE when not connected or the server refuses.
    BOOL DeleteRemoteFile(CString path) override;

    // Upload to "ftp://" + server + "/" + g_strUploadRoot + "/" + m_strDatedDir
    // + "/" + remoteName, creating missing folders. FALSE when the local file
    // cannot be opened (perror, nothing sent) or all attempts fail.
    BOOL UploadToDatedDir(CString localPath, CString remoteName) override;
    // The same into "ftp://" + server + "/" + g_strCategoryRoot + "/" + folder
    // + "/" + remoteName.
    BOOL UploadToFolder(CString localPath, CString remoteName, CString folder) override;

    // Downloads url (backslashes become slashes) into localPath, appending to
    // and resuming after what the file holds, with WM_TRANSFER_PROGRESS posted
    // to g_hProgressWnd. FALSE on any failure, also when the server sends more
    // than m_nMaxDownloadBytes or the download outlasts its deadline (announced
    // size at g_nDownloadFloorRate, at least m_nDeadlineMinSeconds); received
    // bytes (up to that bound) stay on disk.
    BOOL DownloadFile(CString url, CString localPath) override;
    // The same without progress messages, bounded by maxBytes as well.
    BOOL DownloadSmallFile(CString url, CString localPath, std::int64_t maxBytes) override;

    // "/" + g_strUploadRoot + "/" + m_strDatedDir + "/"
    CString GetDatedDir() override;
    // "/" + g_strCategoryRoot + "/map/", "/logo/" or "/lic/" for kinds 0, 1, 2;
    // empty text for any other kind.
    CString GetCategoryDir(std::int32_t kind) override;

    CString m_strDatedDir;
    std::int32_t m_nPort = 0;
    std::int32_t m_bNoDatedDir = 0;
    CString m_strServer;
    CString m_strUser;
    CString m_strPassword;
    // Library state held while connected, and the control connection; null
    // when none.
    std::unique_ptr<transfer::FtpLibrarySession> m_hInternet;
    std::unique_ptr<transfer::FtpConnection> m_hConnect;
    // Stall limit of every transfer and the longest wait for a reply on the
    // control connection, in seconds; tests shorten it.
    long m_nStallSeconds = TRANSFER_STALL_SECONDS;
    // The shortest deadline of a download (see g_nDownloadFloorRate); tests
    // shorten it.
    long m_nDeadlineMinSeconds = DOWNLOAD_DEADLINE_MIN_SECONDS;
    // The most one download may bring (see DOWNLOAD_MAX_BYTES); tests lower it.
    curl_off_t m_nMaxDownloadBytes = DOWNLOAD_MAX_BYTES;

private:
    bool IsConnected() const;
    void PrepareDatedDir();
    BOOL UploadTo(const CString& remotePath, const CString& localPath);
    CurlTransferOptions TransferOptions() const;
};

// Uploads the file at localPath (a native path) to url in up to `tries`
// attempts: the first stores the whole file, each later one asks the server
// for the remote file's size and appends the rest from there. When the size
// is not reported (or is not a plausible part of the local file) the whole
// file is stored again instead, so a partial remote file is never appended to
// blindly. Returns 1 when an attempt succeeded, else 0 (also for tries 0,
// which contacts nobody). A file that cannot be opened: perror, 0, no traffic.
int CurlUpload(CURL* handle, const std::string& url, const std::string& localPath, long responseTimeout,
               int tries, const CurlTransferOptions& options);

// The dated folder's name, "%4d-%02d-%02d(%02d-%02d-%02d-%03d)" of the local
// time, for example "2021-03-05(14-07-09-042)".
CString FormatDatedDir(const std::tm& localTime, int milliseconds);

// The process's one transfer object, built while the settings are still empty.
extern CFtpTransfer_Curl g_FtpTransfer;
