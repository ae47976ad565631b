// Servers that send more than they should: more bytes than the size they
// announced, or a file without end. Both programs' downloads run for real
// against the local FTP server; what matters is the result and how much ends
// up on disk.
#include <gtest/gtest.h>

#include <filesystem>
#include <string>

#include "support/ftp_server.h"
#include "support/temp_dir.h"
#include "transfer/ftp_transfer_curl.h"
#include "viewer/ftp_curl.h"

namespace fs = std::filesystem;
using testsupport::ReadFileBytes;
using testsupport::U16;
using testsupport::WriteFileBytes;

namespace {

constexpr std::size_t kServedBytes = 100000;

std::string Served()
{
    std::string bytes(kServedBytes, '\0');
    for (std::size_t i = 0; i < bytes.size(); ++i) {
        bytes[i] = static_cast<char>('a' + i % 23);
    }
    return bytes;
}

class HostileDownload : public ::testing::Test {
protected:
    void SetUp() override { WriteFileBytes(m_served.path() / "update.zip", Served()); }

    // The updater's download of the archive, with the server's login set as
    // the check would set it.
    BOOL UpdaterFetch(const testsupport::FtpServer& server, curl_off_t bound = DOWNLOAD_MAX_BYTES)
    {
        g_strFtpUser = U16(server.user());
        g_strFtpPassword = U16(server.password());
        CFtpTransfer_Curl transfer;
        transfer.m_nMaxDownloadBytes = bound;
        return transfer.DownloadFile(U16(server.url("update.zip")), U16(Local().string()));
    }

    fs::path Local() const { return m_local.path() / "update.zip"; }

    // What reached the disk: the served file, then the zeros an endless
    // server sends after it, cut at `expectedSize`.
    void ExpectOnDisk(std::size_t expectedSize)
    {
        std::string expected = Served();
        expected.resize(expectedSize, '\0');
        const std::string local = ReadFileBytes(Local());
        EXPECT_EQ(local.size(), expectedSize) << "the download is cut exactly at its bound";
        EXPECT_TRUE(local == expected) << "the bytes before the cut are the server's bytes";
    }

    testsupport::TempDir m_served;
    testsupport::TempDir m_local;
};

TEST_F(HostileDownload, MoreBytesThanAnnouncedFailAtTheAnnouncedSize)
{
    testsupport::FtpServerOptions lying;
    lying.extraBytes = 50 * 1024 * 1024;
    testsupport::FtpServer server(m_served.path(), lying);
    ASSERT_TRUE(server.ok());

    EXPECT_EQ(UpdaterFetch(server), FALSE) << "a file longer than its announced size is no update archive";
    ExpectOnDisk(kServedBytes);
}

TEST_F(HostileDownload, EndlessFileStopsAtTheAnnouncedSizeOrElseAtTheBound)
{
    constexpr curl_off_t kBound = 3 * 1024 * 1024;
    const struct {
        bool noSize;
        std::size_t cutAt;
    } rows[] = {
        {false, kServedBytes},                     // SIZE tells the file's own size
        {true, static_cast<std::size_t>(kBound)},  // nothing announced: the bound ends it
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.noSize ? "size unknown" : "size announced");
        testsupport::FtpServerOptions endless;
        endless.endless = true;
        endless.noSize = row.noSize;
        testsupport::FtpServer server(m_served.path(), endless);
        ASSERT_TRUE(server.ok());
        fs::remove(Local());

        EXPECT_EQ(UpdaterFetch(server, kBound), FALSE);
        ExpectOnDisk(row.cutAt);
    }
}

TEST_F(HostileDownload, DownloadOfExactlyTheBoundSucceeds)
{
    testsupport::FtpServerOptions quiet;
    quiet.noSize = true;
    testsupport::FtpServer server(m_served.path(), quiet);
    ASSERT_TRUE(server.ok());

    EXPECT_EQ(UpdaterFetch(server, static_cast<curl_off_t>(kServedBytes)), TRUE);
    EXPECT_EQ(ReadFileBytes(Local()), Served());
    fs::remove(Local());
    EXPECT_EQ(UpdaterFetch(server, static_cast<curl_off_t>(kServedBytes) - 1), FALSE) << "one byte more fails";
    ExpectOnDisk(kServedBytes - 1);
}

TEST_F(HostileDownload, ViewerDownloadOfAnEndlessFileStopsAtTheAnnouncedSize)
{
    testsupport::FtpServerOptions endless;
    endless.endless = true;
    testsupport::FtpServer server(m_served.path(), endless);
    ASSERT_TRUE(server.ok());
    CFtpCurl ftp;
    ftp.m_strUser = U16(server.user());
    ftp.m_strPassword = U16(server.password());

    EXPECT_EQ(ftp.DownloadFile(U16(server.url("update.zip")), U16(Local().string())), FALSE);
    ExpectOnDisk(kServedBytes);
}

}  // namespace
