#include "transfer/ftp_transfer.h"

#include <utility>

CString g_strFtpServer;
CString g_strFtpUser;
CString g_strFtpPassword;
CString g_strUploadRoot;
CString g_strCategoryRoot;
CString g_strFtpPort;
HWINDOW g_hProgressWnd = nullptr;
bool g_bFtpTls = false;
std::string g_strFtpCaFile;
CDownloadObserver* g_pDownloadObserver = nullptr;
// No upload root has been created on the server yet in this run.
bool g_bUploadRootPending = true;
std::int64_t g_nDownloadFloorRate = DOWNLOAD_FLOOR_RATE;

CFtpTransfer::~CFtpTransfer() = default;

BOOL CFtpTransfer::Connect(std::int32_t& /*bNoDatedDir*/) { return FALSE; }

void CFtpTransfer::Disconnect() {}

BOOL CFtpTransfer::CreateRemoteDir(CString /*path*/) { return FALSE; }

BOOL CFtpTransfer::RemoveRemoteDir(CString /*path*/) { return FALSE; }

BOOL CFtpTransfer::UploadToDatedDir(CString /*localPath*/, CString /*remoteName*/) { return FALSE; }

BOOL CFtpTransfer::UploadToFolder(CString /*localPath*/, CString /*remoteName*/, CString /*folder*/)
{
    return FALSE;
}

BOOL CFtpTransfer::DownloadFile(CString /*url*/, CString /*localPath*/) { return FALSE; }

BOOL CFtpTransfer::DownloadSmallFile(CString url, CString localPath, std::int64_t /*maxBytes*/)
{
    return DownloadFile(std::move(url), std::move(localPath));
}

BOOL CFtpTransfer::DeleteRemoteFile(CString /*path*/) { return FALSE; }

std::int32_t CFtpTransfer::ReservedStatus() { return 0; }

CString CFtpTransfer::ReservedPath() { return {}; }

CString CFtpTransfer::GetDatedDir() { return {}; }

CString CFtpTransfer::GetCategoryDir(std::int32_t /*kind*/) { return {}; }
