// The libcurl download routine that both programs link, its callbacks, and
// the library lifetime around one transfer.
//
// The updater's CFtpTransfer_Curl::DownloadFile and the viewer's
// CFtpCurl::DownloadFile both come down to one call:
//
//   CurlTransferOptions options;
//   options.credentials = CurlCredentials(user, password);
//   options.port = PortFromText(portText);           // used when the URL names none
//   options.progress = OnViewerDownloadProgress;     // the viewer's message
//   BOOL ok = DownloadWithCurl(url, localPath, options);
//
// Transfers must not overlap: each one sets libcurl's process-wide state up and
// shuts it down again.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

#include <curl/curl.h>

#include "platform/types.h"
#include "platform/window.h"

// Seconds a download may take to connect and log in.
constexpr long DOWNLOAD_CONNECT_TIMEOUT = 5;
// A transfer that moves fewer than 1 byte per second for this many seconds is
// aborted and fails like any other transfer error.
constexpr long TRANSFER_STALL_SECONDS = 60;

// The shortest deadline a download with a floor rate gets, however small its
// announced size: room for a slow connection to get going.
constexpr long DOWNLOAD_DEADLINE_MIN_SECONDS = 5 * 60;

// The most one download may add to its local file. The update archive
// describes its entries' sizes in 32 bits and a resume file is far smaller, so
// nothing the programs fetch comes near it; an endless file is cut off here
// instead of filling the disk.
constexpr curl_off_t DOWNLOAD_MAX_BYTES = curl_off_t{1} << 30;  // 1 GiB

// libcurl's classic progress callback: totals and counts in bytes, as doubles.
using DownloadProgressFunction = int (*)(void* user, double dlTotal, double dlNow, double ulTotal,
                                         double ulNow);

class CDownloadObserver;

// What differs between the programs' transfers.
struct CurlTransferOptions {
    // "user:password" in code-page bytes (see CurlCredentials).
    std::string credentials;
    // Port for a URL that names none; 0 leaves the URL's choice (FTP's 21).
    long port = 0;
    // Zero or less: no stall limit.
    long stallSeconds = TRANSFER_STALL_SECONDS;
    // Downloads only: the most bytes one download may add to its file (zero or
    // less: no bound). A download never stores more than the size the server
    // announced either; libcurl stops there by itself.
    curl_off_t maxBytes = DOWNLOAD_MAX_BYTES;
    // Downloads only: when above zero, the download fails once it has run
    // longer than its announced size takes at this many bytes per second, or
    // than deadlineMinSeconds when that is longer (or no size is announced).
    double floorBytesPerSecond = 0;
    long deadlineMinSeconds = DOWNLOAD_DEADLINE_MIN_SECONDS;
    // Downloads only; called with progressData as its first argument.
    DownloadProgressFunction progress = nullptr;
    void* progressData = nullptr;
    // FTP and nothing else, redirects included: any other scheme (file, http,
    // ...) fails before anything is read.
    bool ftpOnly = false;
    // Downloads only: sees the file's bytes (see CDownloadObserver).
    CDownloadObserver* observer = nullptr;
    // FTP over explicit TLS with the server's certificate verified, against
    // caFile only when it is set (native path), else the system's store.
    bool tls = false;
    std::string caFile;
};

// g_strFtpUser + ":" + g_strFtpPassword as libcurl wants it, in code-page bytes.
std::string CurlCredentials(const CString& user, const CString& password);

// A port text read as the C library's wide-text-to-integer conversion reads it:
// leading blanks, an optional sign, then decimal digits up to the first other
// character; 0 for empty or non-numeric text; clamped to the 32-bit range.
std::int32_t PortFromText(const CString& text);

// The port a transfer should force: `port` when it is 1 to 65535 and the URL
// names no port of its own, else 0 (leave the URL alone).
long PortForUrl(std::string_view url, long port);

// True when the URL's authority part ("ftp://[user@]host:port/...") names a port.
bool UrlNamesPort(std::string_view url);

// The percent a progress report stands for: now * 100 / total, truncated toward
// zero, low 32 bits; 0 while the total is unknown (0) or the quotient is not a
// finite number.
WPARAM ProgressPercent(double total, double now);

// libcurl callbacks.
// Header lines: stores the number of a "Content-Length: N" line in *(long*)length.
std::size_t OnHeaderLine(char* data, std::size_t size, std::size_t count, void* length);
// Body data of a size query: dropped.
std::size_t DiscardBody(char* data, std::size_t size, std::size_t count, void* user);
// Download data: appended to the FILE*; returns the items the C library wrote.
std::size_t WriteToFile(char* data, std::size_t size, std::size_t count, void* file);
// Upload data from the FILE*; CURL_READFUNC_ABORT when the file cannot be read.
std::size_t ReadFromFile(char* buffer, std::size_t size, std::size_t count, void* file);
// The updater's progress: posts WM_TRANSFER_PROGRESS with the percent to
// g_hProgressWnd (nothing while it is null); 0, so the transfer goes on.
int OnDownloadProgress(void* user, double dlTotal, double dlNow, double ulTotal, double ulNow);

// Downloads url into the file at localPath (a native path), appending to what
// the file holds and asking the server to start at that length. Returns 1 when
// libcurl reported success and every byte reached the file, else 0 (also when
// the server sent more than options.maxBytes, of which only that many bytes
// are stored). A file
// that cannot be opened is reported on standard error (perror) and nothing is
// sent. Bytes received before a failure stay in the file.
int CurlDownload(CURL* handle, const std::string& url, const std::string& localPath,
                 long connectTimeout, const CurlTransferOptions& options);

// One whole download: libcurl set up, one easy handle, the URL's backslashes
// turned into slashes, the URL in code-page bytes and the local path in native
// form, CurlDownload with DOWNLOAD_CONNECT_TIMEOUT, then everything shut down.
// TRUE when CurlDownload succeeded; FALSE also when libcurl cannot be set up.
BOOL DownloadWithCurl(const CString& url, const CString& localPath, const CurlTransferOptions& options);

// The options every transfer of ours sets after its own: the forced port (see
// PortForUrl), the stall limit and verbose output without the password.
void SetCommonTransferOptions(CURL* handle, std::string_view url, const CurlTransferOptions& options);

// The library lifetime around one transfer: global set-up and one easy handle
// on construction, both released on destruction.
class CurlTransferScope {
public:
    CurlTransferScope();
    ~CurlTransferScope();
    CurlTransferScope(const CurlTransferScope&) = delete;
    CurlTransferScope& operator=(const CurlTransferScope&) = delete;

    // Null when libcurl could not be set up.
    CURL* handle() const { return m_handle; }

private:
    bool m_globalOk;
    CURL* m_handle;
};
