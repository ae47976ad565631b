// The viewer's FTP download client: the shared download routine with the
// viewer's own credentials and progress message.
#pragma once

#include "platform/types.h"
#include "platform/window.h"

// Download progress of the viewer: wParam = whole percent, lParam = 0.
constexpr UINT WM_DOWNLOAD_PROGRESS = WM_USER + 1;  // 0x0401

// The window that receives WM_DOWNLOAD_PROGRESS; null means nothing is posted.
extern HWINDOW g_hDownloadProgressWnd;

// libcurl progress callback: posts the percent to g_hDownloadProgressWnd; 0.
int OnViewerDownloadProgress(void* user, double dlTotal, double dlNow, double ulTotal,
                             double ulNow);

class CFtpCurl {
public:
    CFtpCurl();
    virtual ~CFtpCurl();

    // Downloads the file at url (backslashes become slashes) into localPath,
    // appending to what the file already holds. FALSE on any failure: the local
    // file cannot be opened (nothing is sent), or libcurl reports an error (the
    // bytes received so far stay in the file).
    BOOL DownloadFile(const CString& url, const CString& localPath);

    CString m_strPort;
    CString m_strUser;
    CString m_strPassword;
};
