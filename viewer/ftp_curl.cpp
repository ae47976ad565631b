#include "viewer/ftp_curl.h"

#include "transfer/curl_download.h"

HWINDOW g_hDownloadProgressWnd = nullptr;

int OnViewerDownloadProgress(void* /*user*/, double dlTotal, double dlNow, double /*ulTotal*/, double /*ulNow*/)
{
    PostMessageTo(g_hDownloadProgressWnd, WM_DOWNLOAD_PROGRESS, ProgressPercent(dlTotal, dlNow), 0);
    return 0;
}

CFtpCurl::CFtpCurl() = default;

CFtpCurl::~CFtpCurl() = default;

BOOL CFtpCurl::DownloadFile(const CString& url, const CString& localPath)
{
    CurlTransferOptions options;
    options.credentials = CurlCredentials(m_strUser, m_strPassword);
    // A product that starts the viewer with a port expects it to be used; a
    // port written in the URL itself still wins.
    options.port = PortFromText(m_strPort);
    options.progress = OnViewerDownloadProgress;
    // The URL comes from the command line: it may name a local file or a web
    // page, and neither is a resume on the product's server.
    options.ftpOnly = true;
    return DownloadWithCurl(url, localPath, options);
}
