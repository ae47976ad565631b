#include "transfer/curl_download.h"

#include <algorithm>
#include <charconv>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <limits>
#include <vector>

#include "transfer/curl_verbose.h"
#include "platform/files.h"
#include "transfer/ftp_transfer.h"
#include "transfer/text_convert.h"

namespace {

constexpr long DOWNLOAD_BUFFER_BYTES = 100 * 1024;

}  // namespace

std::string CurlCredentials(const CString& user, const CString& password)
{
    return WideToAnsi(user + u":" + password);
}

std::int32_t PortFromText(const CString& text)
{
    std::size_t i = 0;
    while (i < text.size() && (text[i] == u' ' || (text[i] >= u'\t' && text[i] <= u'\r'))) {
        ++i;
    }
    bool negative = false;
    if (i < text.size() && (text[i] == u'+' || text[i] == u'-')) {
        negative = text[i] == u'-';
        ++i;
    }
    std::int64_t value = 0;
    constexpr std::int64_t kLimit = std::int64_t{std::numeric_limits<std::int32_t>::max()} + 1;
    for (; i < text.size() && text[i] >= u'0' && text[i] <= u'9'; ++i) {
        value = std::min(value * 10 + (text[i] - u'0'), kLimit);
    }
    if (negative) {
        return static_cast<std::int32_t>(std::max(-value, std::int64_t{std::numeric_limits<std::int32_t>::min()}));
    }
    return static_cast<std::int32_t>(std::min(value, std::int64_t{std::numeric_limits<std::int32_t>::max()}));
}

bool UrlNamesPort(std::string_view url)
{
    const std::size_t scheme = url.find("://");
    if (scheme != std::string_view::npos) {
        url.remove_prefix(scheme + 3);
    }
    std::string_view authority = url.substr(0, url.find_first_of("/?#"));
    const std::size_t at = authority.rfind('@');
    if (at != std::string_view::npos) {
        authority.remove_prefix(at + 1);
    }
    if (!authority.empty() && authority.front() == '[') {
        const std::size_t close = authority.find(']');
        if (close == std::string_view::npos) {
            return false;
        }
        authority.remove_prefix(close + 1);
    }
    const std::size_t colon = authority.rfind(':');
    return colon != std::string_view::npos && colon + 1 < authority.size();
}

long PortForUrl(std::string_view url, long port)
{
    if (port < 1 || port > 65535 || UrlNamesPort(url)) {
        return 0;
    }
    return port;
}

WPARAM ProgressPercent(double total, double now)
{
    if (!(total > 0.0)) {
        return 0;
    }
    const double percent = std::trunc(now * 100.0 / total);
    // Converting a value outside the 64-bit range is undefined; a lying server
    // must not get us there.
    if (!std::isfinite(percent) || percent >= 9.2e18 || percent <= -9.2e18) {
        return 0;
    }
    return static_cast<WPARAM>(static_cast<std::uint32_t>(static_cast<std::int64_t>(percent)));
}

std::size_t OnHeaderLine(char* data, std::size_t size, std::size_t count, void* length)
{
    const std::size_t bytes = size * count;
    // The line is not NUL-terminated; read only what libcurl handed over.
    std::string_view line(data, bytes);
    constexpr std::string_view kPrefix = "Content-Length: ";
    if (line.starts_with(kPrefix)) {
        line.remove_prefix(kPrefix.size());
        while (!line.empty() && (line.front() == ' ' || line.front() == '\t')) {
            line.remove_prefix(1);
        }
        long value = 0;
        const auto [end, error] = std::from_chars(line.data(), line.data() + line.size(), value);
        if (error == std::errc() && end != line.data()) {
            *static_cast<long*>(length) = value;
        }
    }
    return bytes;
}

std::size_t DiscardBody(char* /*data*/, std::size_t size, std::size_t count, void* /*user*/)
{
    return size * count;
}

std::size_t WriteToFile(char* data, std::size_t size, std::size_t count, void* file)
{
    return std::fwrite(data, size, count, static_cast<std::FILE*>(file));
}

std::size_t ReadFromFile(char* buffer, std::size_t size, std::size_t count, void* file)
{
    auto* stream = static_cast<std::FILE*>(file);
    if (std::ferror(stream)) {
        return CURL_READFUNC_ABORT;
    }
    const std::size_t items = std::fread(buffer, size, count, stream);
    // A short read that is an error, not the end, would otherwise end the
    // upload early and pass a truncated file off as complete.
    if (std::ferror(stream)) {
        return CURL_READFUNC_ABORT;
    }
    return items * size;
}

namespace {

// The download's file and how much more it may take.
struct BoundedFile {
    std::FILE* file;
    curl_off_t maxBytes;  // zero or less: no bound
    curl_off_t received = 0;
    CDownloadObserver* observer = nullptr;
};

// Shows the observer what a resumed download's file already holds; false
// when the file cannot be read back (the download then fails).
bool ObserveExistingPart(std::FILE* file, curl_off_t length, CDownloadObserver* observer)
{
    if (observer == nullptr || length == 0) {
        return true;
    }
    if (std::fseek(file, 0, SEEK_SET) != 0) {
        return false;
    }
    std::vector<char> buffer(DOWNLOAD_BUFFER_BYTES);
    curl_off_t left = length;
    while (left > 0) {
        const std::size_t want = static_cast<std::size_t>(std::min<curl_off_t>(left, DOWNLOAD_BUFFER_BYTES));
        const std::size_t got = std::fread(buffer.data(), 1, want, file);
        if (got == 0) {
            return false;
        }
        observer->OnDownloadBytes(buffer.data(), got);
        left -= static_cast<curl_off_t>(got);
    }
    return std::fseek(file, 0, SEEK_END) == 0;
}

// WriteToFile for a BoundedFile: bytes beyond the download's bound are not
// stored, and the short count makes libcurl end the transfer with a write
// error. (A size the server announced needs no check here: libcurl reads no
// further than that size itself.)
std::size_t WriteToBoundedFile(char* data, std::size_t size, std::size_t count, void* target)
{
    auto* bounded = static_cast<BoundedFile*>(target);
    std::size_t items = count;
    if (bounded->maxBytes > 0 && size > 0) {
        const curl_off_t room = std::max<curl_off_t>(bounded->maxBytes - bounded->received, 0);
        items = std::min(count, static_cast<std::size_t>(room) / size);
    }
    const std::size_t written = WriteToFile(data, size, items, bounded->file);
    bounded->received += static_cast<curl_off_t>(written * size);
    if (bounded->observer != nullptr) {
        bounded->observer->OnDownloadBytes(data, written * size);
    }
    return written;
}

// Between libcurl and the caller's progress function: ends a download that
// has outrun its deadline.
struct ProgressRelay {
    const CurlTransferOptions* options;
    std::chrono::steady_clock::time_point start;
};

int RelayProgress(void* user, curl_off_t dlTotal, curl_off_t dlNow, curl_off_t ulTotal, curl_off_t ulNow)
{
    const auto* relay = static_cast<ProgressRelay*>(user);
    const CurlTransferOptions& options = *relay->options;
    if (options.floorBytesPerSecond > 0) {
        const double allowed = std::max(static_cast<double>(options.deadlineMinSeconds),
                                        static_cast<double>(dlTotal) / options.floorBytesPerSecond);
        const std::chrono::duration<double> elapsed = std::chrono::steady_clock::now() - relay->start;
        if (elapsed.count() > allowed) {
            return 1;  // libcurl ends the transfer with CURLE_ABORTED_BY_CALLBACK
        }
    }
    if (options.progress == nullptr) {
        return 0;
    }
    return options.progress(options.progressData, static_cast<double>(dlTotal), static_cast<double>(dlNow),
                            static_cast<double>(ulTotal), static_cast<double>(ulNow));
}

}  // namespace

int OnDownloadProgress(void* /*user*/, double dlTotal, double dlNow, double /*ulTotal*/, double /*ulNow*/)
{
    PostMessageTo(g_hProgressWnd, WM_TRANSFER_PROGRESS, ProgressPercent(dlTotal, dlNow), 0);
    return 0;
}

void SetCommonTransferOptions(CURL* handle, std::string_view url, const CurlTransferOptions& options)
{
    const long port = PortForUrl(url, options.port);
    if (port != 0) {
        curl_easy_setopt(handle, CURLOPT_PORT, port);
    }
    if (options.stallSeconds > 0) {
        curl_easy_setopt(handle, CURLOPT_LOW_SPEED_LIMIT, 1L);
        curl_easy_setopt(handle, CURLOPT_LOW_SPEED_TIME, options.stallSeconds);
    }
    if (options.ftpOnly) {
        curl_easy_setopt(handle, CURLOPT_PROTOCOLS_STR, "ftp");
        curl_easy_setopt(handle, CURLOPT_REDIR_PROTOCOLS_STR, "ftp");
    }
    if (options.tls) {
        // Refused rather than sent in the clear when the server offers no TLS.
        curl_easy_setopt(handle, CURLOPT_USE_SSL, static_cast<long>(CURLUSESSL_ALL));
        curl_easy_setopt(handle, CURLOPT_FTPSSLAUTH, static_cast<long>(CURLFTPAUTH_TLS));
        curl_easy_setopt(handle, CURLOPT_SSL_VERIFYPEER, 1L);
        curl_easy_setopt(handle, CURLOPT_SSL_VERIFYHOST, 2L);
        if (!options.caFile.empty()) {
            curl_easy_setopt(handle, CURLOPT_CAINFO, options.caFile.c_str());
            curl_easy_setopt(handle, CURLOPT_CAPATH, nullptr);
        }
    }
    transfer::SetVerboseWithoutPassword(handle);
}

int CurlDownload(CURL* handle, const std::string& url, const std::string& localPath, long connectTimeout,
                 const CurlTransferOptions& options)
{
    std::FILE* file = platform::OpenFileStream(platform::Utf8ToPath(localPath), "ab+");
    if (file == nullptr) {
        std::perror(nullptr);
        return 0;
    }
    curl_off_t resumeFrom = 0;
    if (std::fseek(file, 0, SEEK_END) == 0) {
        resumeFrom = std::max<curl_off_t>(0, std::ftell(file));
    }

    curl_easy_setopt(handle, CURLOPT_URL, url.c_str());
    curl_easy_setopt(handle, CURLOPT_USERPWD, options.credentials.c_str());
    curl_easy_setopt(handle, CURLOPT_CONNECTTIMEOUT, connectTimeout);
    curl_easy_setopt(handle, CURLOPT_RESUME_FROM_LARGE, resumeFrom);
    if (!ObserveExistingPart(file, resumeFrom, options.observer)) {
        std::fclose(file);
        return 0;
    }
    BoundedFile bounded{file, options.maxBytes, 0, options.observer};
    curl_easy_setopt(handle, CURLOPT_WRITEFUNCTION, WriteToBoundedFile);
    // libcurl calls the relay about once a second even while nothing moves,
    // so a stalled download meets its deadline too.
    ProgressRelay relay{&options, std::chrono::steady_clock::now()};
    if (options.progress != nullptr || options.floorBytesPerSecond > 0) {
        curl_easy_setopt(handle, CURLOPT_NOPROGRESS, 0L);
        curl_easy_setopt(handle, CURLOPT_XFERINFOFUNCTION, RelayProgress);
        curl_easy_setopt(handle, CURLOPT_XFERINFODATA, &relay);
    }
    curl_easy_setopt(handle, CURLOPT_WRITEDATA, &bounded);
    // The receive buffer of the command-line tool: fewer, larger writes and
    // callbacks per megabyte than libcurl's 16 KiB default.
    curl_easy_setopt(handle, CURLOPT_BUFFERSIZE, DOWNLOAD_BUFFER_BYTES);
    SetCommonTransferOptions(handle, url, options);

    const CURLcode result = curl_easy_perform(handle);
    // Buffered bytes reach the disk only here; a download whose last bytes
    // could not be stored has not succeeded.
    const bool closed = std::fclose(file) == 0;
    return result == CURLE_OK && closed ? 1 : 0;
}

BOOL DownloadWithCurl(const CString& url, const CString& localPath, const CurlTransferOptions& options)
{
    CurlTransferScope scope;
    if (scope.handle() == nullptr) {
        return FALSE;
    }
    CString slashed = url;
    std::replace(slashed.begin(), slashed.end(), u'\\', u'/');
    const int done = CurlDownload(scope.handle(), WideToAnsi(slashed), platform::NativePath(localPath),
                                  DOWNLOAD_CONNECT_TIMEOUT, options);
    return done != 0 ? TRUE : FALSE;
}

CurlTransferScope::CurlTransferScope()
    : m_globalOk(curl_global_init(CURL_GLOBAL_ALL) == CURLE_OK),
      m_handle(m_globalOk ? curl_easy_init() : nullptr)
{
}

CurlTransferScope::~CurlTransferScope()
{
    if (m_handle != nullptr) {
        curl_easy_cleanup(m_handle);
    }
    if (m_globalOk) {
        curl_global_cleanup();
    }
}
