#include "transfer/ftp_transfer_curl.h"

#include <chrono>
#include <cstdio>
#include <exception>

#include "platform/files.h"
#include "transfer/text_convert.h"

CFtpTransfer_Curl g_FtpTransfer;

namespace {

// Seconds Connect may take to reach the server and log in.
constexpr long CONNECT_TIMEOUT = 5;

long FileLength(std::FILE* file)
{
    const long position = std::ftell(file);
    if (position < 0 || std::fseek(file, 0, SEEK_END) != 0) {
        return -1;
    }
    const long length = std::ftell(file);
    std::fseek(file, position, SEEK_SET);
    return length;
}

}  // namespace

CString FormatDatedDir(const std::tm& localTime, int milliseconds)
{
    char text[64];
    std::snprintf(text, sizeof text, "%4d-%02d-%02d(%02d-%02d-%02d-%03d)", localTime.tm_year + 1900,
                  localTime.tm_mon + 1, localTime.tm_mday, localTime.tm_hour, localTime.tm_min,
                  localTime.tm_sec, milliseconds);
    return AnsiToWide(text);
}

int CurlUpload(CURL* handle, const std::string& url, const std::string& localPath, long responseTimeout,
               int tries, const CurlTransferOptions& options)
{
    std::FILE* file = platform::OpenFileStream(platform::Utf8ToPath(localPath), "rb");
    if (file == nullptr) {
        std::perror(nullptr);
        return 0;
    }
    long uploaded = 0;

    curl_easy_setopt(handle, CURLOPT_UPLOAD, 1L);
    curl_easy_setopt(handle, CURLOPT_URL, url.c_str());
    curl_easy_setopt(handle, CURLOPT_USERPWD, options.credentials.c_str());
    if (responseTimeout != 0) {
        curl_easy_setopt(handle, CURLOPT_FTP_RESPONSE_TIMEOUT, responseTimeout);
    }
    curl_easy_setopt(handle, CURLOPT_HEADERFUNCTION, OnHeaderLine);
    curl_easy_setopt(handle, CURLOPT_HEADERDATA, &uploaded);
    curl_easy_setopt(handle, CURLOPT_WRITEFUNCTION, DiscardBody);
    curl_easy_setopt(handle, CURLOPT_READFUNCTION, ReadFromFile);
    curl_easy_setopt(handle, CURLOPT_READDATA, file);
    curl_easy_setopt(handle, CURLOPT_FTP_CREATE_MISSING_DIRS, 1L);
    SetCommonTransferOptions(handle, url, options);

    CURLcode result = CURLE_GOT_NOTHING;
    for (int attempt = 0; attempt < tries && result != CURLE_OK; ++attempt) {
        if (attempt == 0) {
            curl_easy_setopt(handle, CURLOPT_APPEND, 0L);
            result = curl_easy_perform(handle);
            continue;
        }
        // Ask only for the remote size: it arrives as a "Content-Length" line.
        uploaded = -1;
        curl_easy_setopt(handle, CURLOPT_NOBODY, 1L);
        curl_easy_setopt(handle, CURLOPT_HEADER, 1L);
        result = curl_easy_perform(handle);
        if (result != CURLE_OK) {
            continue;
        }
        curl_easy_setopt(handle, CURLOPT_NOBODY, 0L);
        curl_easy_setopt(handle, CURLOPT_HEADER, 0L);
        // Turning the size query off leaves the handle set to download; the
        // append must be an upload again.
        curl_easy_setopt(handle, CURLOPT_UPLOAD, 1L);
        const bool resumable = uploaded >= 0 && uploaded <= FileLength(file);
        std::fseek(file, resumable ? uploaded : 0, SEEK_SET);
        curl_easy_setopt(handle, CURLOPT_APPEND, resumable ? 1L : 0L);
        result = curl_easy_perform(handle);
    }
    std::fclose(file);
    return result == CURLE_OK ? 1 : 0;
}

CFtpTransfer_Curl::CFtpTransfer_Curl()
    : m_strServer(g_strFtpServer), m_strUser(g_strFtpUser), m_strPassword(g_strFtpPassword)
{
}

CFtpTransfer_Curl::~CFtpTransfer_Curl() = default;

bool CFtpTransfer_Curl::IsConnected() const { return m_hConnect != nullptr && m_hConnect->IsOpen(); }

BOOL CFtpTransfer_Curl::Connect(std::int32_t& bNoDatedDir)
{
    try {
        if (m_hConnect != nullptr) {
            Disconnect();
        }
        if (m_hInternet == nullptr) {
            auto session = std::make_unique<transfer::FtpLibrarySession>();
            if (!session->ok()) {
                return FALSE;
            }
            m_hInternet = std::move(session);
        }
        m_nPort = PortFromText(g_strFtpPort);
        auto connection = std::make_unique<transfer::FtpConnection>();
        if (!connection->Open(WideToAnsi(m_strServer), static_cast<std::uint16_t>(m_nPort & 0xFFFF),
                              WideToAnsi(m_strUser), WideToAnsi(m_strPassword), CONNECT_TIMEOUT,
                              m_nStallSeconds)) {
            return FALSE;
        }
        m_hConnect = std::move(connection);
        m_bNoDatedDir = bNoDatedDir;
        PrepareDatedDir();
        return TRUE;
    } catch (const std::exception&) {
        return FALSE;
    }
}

void CFtpTransfer_Curl::PrepareDatedDir()
{
    if (m_bNoDatedDir != 0) {
        return;
    }
    const auto now = std::chrono::system_clock::now();
    const std::time_t seconds = std::chrono::system_clock::to_time_t(now);
    const auto millis =
        std::chrono::duration_cast<std::chrono::milliseconds>(now.time_since_epoch()).count() % 1000;
    // Transfers never overlap, so nothing else uses localtime's buffer meanwhile.
    const std::tm localTime = *std::localtime(&seconds);
    m_strDatedDir = FormatDatedDir(localTime, static_cast<int>(millis));

    if (g_bUploadRootPending) {
        m_hConnect->MakeDirectory(WideToAnsi(u"/" + g_strUploadRoot));
        g_bUploadRootPending = false;
    }
    CreateRemoteDir(u"/" + m_strDatedDir + u"/");
}

void CFtpTransfer_Curl::Disconnect()
{
    if (m_hConnect == nullptr) {
        return;
    }
    m_hConnect.reset();
    m_hInternet.reset();
}

BOOL CFtpTransfer_Curl::CreateRemoteDir(CString path)
{
    if (!IsConnected()) {
        return FALSE;
    }
    return m_hConnect->MakeDirectory(WideToAnsi(g_strUploadRoot + path)) ? TRUE : FALSE;
}

BOOL CFtpTransfer_Curl::RemoveRemoteDir(CString path)
{
    if (!IsConnected()) {
        return FALSE;
    }
    return m_hConnect->RemoveRemoteDirectory(WideToAnsi(path)) ? TRUE : FALSE;
}

BOOL CFtpTransfer_Curl::DeleteRemoteFile(CString path)
{
    if (!IsConnected()) {
        return FALSE;
    }
    return m_hConnect->DeleteRemoteFile(WideToAnsi(path)) ? TRUE : FALSE;
}

CurlTransferOptions CFtpTransfer_Curl::TransferOptions() const
{
    CurlTransferOptions options;
    options.credentials = CurlCredentials(g_strFtpUser, g_strFtpPassword);
    options.port = PortFromText(g_strFtpPort);
    options.stallSeconds = m_nStallSeconds;
    options.maxBytes = m_nMaxDownloadBytes;
    options.tls = g_bFtpTls;
    options.caFile = g_strFtpCaFile;
    return options;
}

BOOL CFtpTransfer_Curl::UploadTo(const CString& remotePath, const CString& localPath)
{
    CurlTransferScope scope;
    if (scope.handle() == nullptr) {
        return FALSE;
    }
    const std::string url = "ftp://" + WideToAnsi(g_strFtpServer + u"/" + remotePath);
    const int done = CurlUpload(scope.handle(), url, platform::NativePath(localPath), UPLOAD_RESPONSE_TIMEOUT,
                                UPLOAD_ATTEMPTS, TransferOptions());
    return done != 0 ? TRUE : FALSE;
}

BOOL CFtpTransfer_Curl::UploadToDatedDir(CString localPath, CString remoteName)
{
    return UploadTo(g_strUploadRoot + u"/" + m_strDatedDir + u"/" + remoteName, localPath);
}

BOOL CFtpTransfer_Curl::UploadToFolder(CString localPath, CString remoteName, CString folder)
{
    return UploadTo(g_strCategoryRoot + u"/" + folder + u"/" + remoteName, localPath);
}

BOOL CFtpTransfer_Curl::DownloadFile(CString url, CString localPath)
{
    CurlTransferOptions options = TransferOptions();
    options.progress = OnDownloadProgress;
    options.floorBytesPerSecond = static_cast<double>(g_nDownloadFloorRate);
    options.deadlineMinSeconds = m_nDeadlineMinSeconds;
    options.observer = g_pDownloadObserver;
    return DownloadWithCurl(url, localPath, options);
}

BOOL CFtpTransfer_Curl::DownloadSmallFile(CString url, CString localPath, std::int64_t maxBytes)
{
    CurlTransferOptions options = TransferOptions();
    if (maxBytes > 0 && (options.maxBytes <= 0 || maxBytes < options.maxBytes)) {
        options.maxBytes = static_cast<curl_off_t>(maxBytes);
    }
    options.floorBytesPerSecond = static_cast<double>(g_nDownloadFloorRate);
    options.deadlineMinSeconds = m_nDeadlineMinSeconds;
    return DownloadWithCurl(url, localPath, options);
}

CString CFtpTransfer_Curl::GetDatedDir() { return u"/" + g_strUploadRoot + u"/" + m_strDatedDir + u"/"; }

CString CFtpTransfer_Curl::GetCategoryDir(std::int32_t kind)
{
    switch (kind) {
    case 0:
        return u"/" + g_strCategoryRoot + u"/map/";
    case 1:
        return u"/" + g_strCategoryRoot + u"/logo/";
    case 2:
        return u"/" + g_strCategoryRoot + u"/lic/";
    default:
        return {};
    }
}
