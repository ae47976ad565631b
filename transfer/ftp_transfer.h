// The transfer interface, the process-wide transfer settings and the progress
// message that downloads post.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

#include "platform/types.h"
#include "platform/window.h"

// Download progress of the updater: wParam = whole percent, lParam = 0.
constexpr UINT WM_TRANSFER_PROGRESS = WM_APP + 1;  // 0x8001

// Process-wide transfer settings: one set per process, empty at start. The
// workflow writes them before the transfers that read them.
extern CString g_strFtpServer;
extern CString g_strFtpUser;
extern CString g_strFtpPassword;
extern CString g_strUploadRoot;
extern CString g_strCategoryRoot;
extern CString g_strFtpPort;
extern HWINDOW g_hProgressWnd;
// FTP over explicit TLS for every transfer (AUTH TLS, protected data
// connections, the server's certificate verified); never clear text then.
extern bool g_bFtpTls;
// With g_bFtpTls: the only certificates trusted (a PEM file, native path);
// empty: the system's store.
extern std::string g_strFtpCaFile;

// Sees every byte a download stores, in order: first the part already in the
// file when the download resumes, then what arrives. Called on the transfer's
// thread; must not fail.
class CDownloadObserver {
public:
    virtual ~CDownloadObserver() = default;
    virtual void OnDownloadBytes(const void* data, std::size_t size) = 0;
};
// The observer of the downloads that follow (DownloadFile); null: none.
extern CDownloadObserver* g_pDownloadObserver;
extern bool g_bUploadRootPending;
// The slowest rate, in bytes per second, at which a download is still waited
// for: a download whose announced size at this rate (but never less than
// DOWNLOAD_DEADLINE_MIN_SECONDS) has passed fails. The installed manifest may
// set it; zero or less: no deadline.
constexpr std::int64_t DOWNLOAD_FLOOR_RATE = 10 * 1024;
extern std::int64_t g_nDownloadFloorRate;

// Every operation of the base class does nothing and reports failure (FALSE, 0
// or an empty text).
class CFtpTransfer {
public:
    virtual ~CFtpTransfer();
    // nonzero flag: no dated folder is prepared
    virtual BOOL Connect(std::int32_t& bNoDatedDir);
    virtual void Disconnect();
    virtual BOOL CreateRemoteDir(CString path);
    virtual BOOL RemoveRemoteDir(CString path);
    virtual BOOL UploadToDatedDir(CString localPath, CString remoteName);
    virtual BOOL UploadToFolder(CString localPath, CString remoteName, CString folder);
    virtual BOOL DownloadFile(CString url, CString localPath);
    // A download of a file known to be small (a signature), refused once it
    // brings more than maxBytes. Unlike the rest, the base class forwards to
    // DownloadFile: a transfer without a bound of its own fetches the whole
    // file and the caller checks its size.
    virtual BOOL DownloadSmallFile(CString url, CString localPath, std::int64_t maxBytes);
    virtual BOOL DeleteRemoteFile(CString path);
    virtual std::int32_t ReservedStatus();
    virtual CString ReservedPath();
    virtual CString GetDatedDir();
    virtual CString GetCategoryDir(std::int32_t kind);
};
