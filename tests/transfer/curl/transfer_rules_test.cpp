// The pure rules behind the transfers: percent, ports, header scanning, the
// verbose filter and the remote folder names.
#include <gtest/gtest.h>

#include <cmath>
#include <limits>

#include "transfer/curl_verbose.h"
#include "transfer/ftp_transfer_curl.h"

namespace {

TEST(ProgressPercent, TruncatesTowardZero)
{
    const double nan = std::numeric_limits<double>::quiet_NaN();
    const double inf = std::numeric_limits<double>::infinity();
    struct Row {
        double total;
        double now;
        WPARAM percent;
    };
    const Row rows[] = {
        {1000, 500, 50},  {1000, 999, 99}, {1000, 1000, 100}, {1000, 0, 0}, {3, 1, 33},
        {0, 0, 0},        {0, 500, 0},     {nan, 5, 0},       {inf, 5, 0},  {1, inf, 0},
        {1, 1e10, 3567587328u},  // 10^12 keeps its low 32 bits
        {1, 1e18, 0},            // a quotient beyond 64 bits
    };
    for (const Row& row : rows) {
        EXPECT_EQ(ProgressPercent(row.total, row.now), row.percent) << row.now << " of " << row.total;
    }
}

TEST(PortFromText, ReadsLikeTheCLibrary)
{
    struct Row {
        const char16_t* text;
        std::int32_t port;
    };
    const Row rows[] = {
        {u"", 0},        {u"21", 21},         {u"  2121", 2121}, {u"2121abc", 2121},
        {u"abc", 0},     {u"+99", 99},        {u"-5", -5},       {u"99999999999", 2147483647},
        {u"-99999999999", -2147483647 - 1},
    };
    for (const Row& row : rows) {
        EXPECT_EQ(PortFromText(row.text), row.port);
    }
}

TEST(PortForUrl, ForcesThePortOnlyWhereTheUrlNamesNone)
{
    struct Row {
        const char* url;
        long setting;
        long forced;
    };
    const Row rows[] = {
        {"ftp://host/a/b.zip", 2121, 2121},
        {"ftp://host:21/a/b.zip", 2121, 0},
        {"ftp://host/a:b/c", 2121, 2121},  // a colon in the path is no port
        {"ftp://user:pw@host/a", 2121, 2121},
        {"ftp://user:pw@host:990/a", 2121, 0},
        {"ftp://[::1]/a", 2121, 2121},
        {"ftp://[::1]:2000/a", 2121, 0},
        {"ftp://host/a", 0, 0},
        {"ftp://host/a", 70000, 0},
        {"ftp://host/a", -1, 0},
        {"ftp://host:/a", 2121, 2121},  // an empty port is none
    };
    for (const Row& row : rows) {
        EXPECT_EQ(PortForUrl(row.url, row.setting), row.forced) << row.url;
    }
}

TEST(OnHeaderLine, StoresTheContentLengthOnly)
{
    struct Row {
        std::string line;
        long stored;
    };
    const Row rows[] = {
        {"Content-Length: 4096\r\n", 4096},
        {"Content-Length: 0\r\n", 0},
        {"Accept-ranges: bytes\r\n", -7},
        {"Content-Length: \r\n", -7},
        {"Content-Length: 12", 12},  // not terminated: only the handed-over bytes count
    };
    for (const Row& row : rows) {
        long length = -7;
        std::string buffer = row.line + "999";  // bytes beyond the line must not be read
        EXPECT_EQ(OnHeaderLine(buffer.data(), 1, row.line.size(), &length), row.line.size());
        EXPECT_EQ(length, row.stored) << row.line;
    }
}

TEST(VerboseLine, MasksThePasswordAndKeepsTheRest)
{
    struct Row {
        curl_infotype type;
        const char* text;
        const char* written;
    };
    const Row rows[] = {
        {CURLINFO_HEADER_OUT, "PASS secret\r\n", "> PASS ****\r\n"},
        {CURLINFO_HEADER_OUT, "pass secret\r\n", "> PASS ****\r\n"},
        {CURLINFO_HEADER_OUT, "USER tester\r\n", "> USER tester\r\n"},
        {CURLINFO_HEADER_OUT, "PASSIVE\r\n", "> PASSIVE\r\n"},
        {CURLINFO_HEADER_IN, "230 Login successful.\r\n", "< 230 Login successful.\r\n"},
        {CURLINFO_TEXT, "Connected\n", "* Connected\n"},
        {CURLINFO_DATA_IN, "file bytes", ""},
    };
    for (const Row& row : rows) {
        EXPECT_EQ(transfer::VerboseLine(row.type, row.text), row.written);
    }
}

TEST(RemoteFolders, DatedNameAndCategoryFolders)
{
    std::tm time{};
    time.tm_year = 2021 - 1900;
    time.tm_mon = 2;
    time.tm_mday = 5;
    time.tm_hour = 14;
    time.tm_min = 7;
    time.tm_sec = 9;
    EXPECT_EQ(FormatDatedDir(time, 42), u"2021-03-05(14-07-09-042)");

    CFtpTransfer_Curl transfer;
    g_strCategoryRoot.clear();
    EXPECT_EQ(transfer.GetCategoryDir(1), u"//logo/");
    g_strCategoryRoot = u"cat";
    EXPECT_EQ(transfer.GetCategoryDir(0), u"/cat/map/");
    EXPECT_EQ(transfer.GetCategoryDir(1), u"/cat/logo/");
    EXPECT_EQ(transfer.GetCategoryDir(2), u"/cat/lic/");
    EXPECT_EQ(transfer.GetCategoryDir(3), u"");
    EXPECT_EQ(transfer.GetCategoryDir(-1), u"");
    g_strCategoryRoot.clear();

    g_strUploadRoot.clear();
    transfer.m_strDatedDir = u"2021-03-05(14-07-09-042)";
    EXPECT_EQ(transfer.GetDatedDir(), u"//2021-03-05(14-07-09-042)/");
}

}  // namespace
