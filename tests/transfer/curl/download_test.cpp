#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <string>

#include "transfer/ftp_transfer_curl.h"
#include "transfer_fixture.h"

namespace transfertest {
namespace {

using testsupport::ReadFileBytes;
using testsupport::U16;
using testsupport::WriteFileBytes;

// Every byte a download shows its observer.
class Collector : public CDownloadObserver {
public:
    void OnDownloadBytes(const void* data, std::size_t size) override
    {
        m_bytes.append(static_cast<const char*>(data), size);
    }
    std::string m_bytes;
};

class Download : public TransferTest {
protected:
    void TearDown() override
    {
        g_pDownloadObserver = nullptr;
        TransferTest::TearDown();
    }
    BOOL Fetch(const std::string& url, const std::filesystem::path& localPath)
    {
        return g_FtpTransfer.DownloadFile(U16(url), U16(localPath.string()));
    }

    bool Received(const std::string& command) const
    {
        const auto lines = m_server->commands();
        return std::find(lines.begin(), lines.end(), command) != lines.end();
    }
};

TEST_F(Download, FetchesAWholeFileIntoANewLocalFile)
{
    const std::string content = PatternBytes(300000);
    Serve("update/p1/update.zip", content);
    StartServer();

    ASSERT_EQ(Fetch(m_server->url("update/p1/update.zip"), local("update.zip")), TRUE);
    EXPECT_TRUE(SameBytes(ReadFileBytes(local("update.zip")), content))
        << "the local file should equal the served one";
    EXPECT_EQ(m_server->countCommands("REST "), 0u) << "a new file starts at byte 0";
}

TEST_F(Download, RequestsForwardSlashesWhenTheUrlHasBackslashes)
{
    Serve("update/p1/version.ini", "[version]\r\nver=1.0.0.2\r\n");
    StartServer();
    const std::string url = "ftp://" + m_server->hostPort() + "\\update\\p1/version.ini";

    ASSERT_EQ(Fetch(url, local("newversion.ini")), TRUE);
    EXPECT_TRUE(Received("CWD update") && Received("CWD p1") && Received("RETR version.ini"))
        << "the server should be asked for update/p1/version.ini";
    EXPECT_TRUE(SameBytes(ReadFileBytes(local("newversion.ini")), "[version]\r\nver=1.0.0.2\r\n"));
}

TEST_F(Download, ResumesFromTheLocalFileLength)
{
    const std::string content = PatternBytes(250000, 7);
    Serve("update.zip", content);
    StartServer();
    struct Case {
        std::size_t held;
        const char* rest;
    };
    for (const Case& c : {Case{123457, "REST 123457"}, Case{1, "REST 1"}}) {
        SCOPED_TRACE(c.rest);
        WriteFileBytes(local("update.zip"), content.substr(0, c.held));

        ASSERT_EQ(Fetch(m_server->url("update.zip"), local("update.zip")), TRUE);
        EXPECT_TRUE(Received(c.rest)) << "the server should be asked to start at the local length";
        EXPECT_TRUE(SameBytes(ReadFileBytes(local("update.zip")), content))
            << "held bytes plus the rest should equal the file";
    }
}

TEST_F(Download, KeepsThePartAfterABreakAndASecondCallCompletesIt)
{
    const std::string content = PatternBytes(400000, 3);
    Serve("update.zip", content);
    testsupport::FtpServerOptions options;
    options.dropAfterBytes = 100000;
    options.faultyTransfers = 1;
    StartServer(options);

    // The observer sees what the file ends up holding, in order, also the
    // part a resumed download found on disk.
    Collector first;
    g_pDownloadObserver = &first;
    EXPECT_EQ(Fetch(m_server->url("update.zip"), local("update.zip")), FALSE);
    EXPECT_TRUE(SameBytes(ReadFileBytes(local("update.zip")), content.substr(0, 100000)))
        << "the bytes received before the break should stay in the file";
    EXPECT_EQ(first.m_bytes, ReadFileBytes(local("update.zip"))) << "what was stored, no more";

    Collector resumed;
    g_pDownloadObserver = &resumed;
    ASSERT_EQ(Fetch(m_server->url("update.zip"), local("update.zip")), TRUE);
    EXPECT_TRUE(Received("REST 100000"));
    EXPECT_EQ(m_server->countCommands("REST "), 1u);
    EXPECT_TRUE(SameBytes(ReadFileBytes(local("update.zip")), content));
    EXPECT_TRUE(SameBytes(resumed.m_bytes, content)) << "the held part first, then the rest";
}

TEST_F(Download, SendsNothingWhenTheLocalFileCannotBeOpened)
{
    Serve("version.ini", "x");
    StartServer();
    const std::filesystem::path unopenable[] = {local("missing-folder/version.ini"), m_dir.path() / "local"};
    for (const auto& path : unopenable) {
        SCOPED_TRACE(path.string());
        StderrCapture capture;
        EXPECT_EQ(Fetch(m_server->url("version.ini"), path), FALSE);
        EXPECT_FALSE(capture.text().empty()) << "the reason should be written to standard error";
    }
    EXPECT_EQ(m_server->countCommands("# connect"), 0u) << "no connection should reach the server";
}

TEST_F(Download, FailsOnARefusedLoginOrAMissingFileLeavingAnEmptyFile)
{
    Serve("version.ini", "[version]\r\n");
    struct Case {
        const char* name;
        bool refuseLogin;
        const char* remote;
    };
    for (const Case& c : {Case{"refused login", true, "version.ini"}, Case{"missing file", false, "absent.ini"}}) {
        SCOPED_TRACE(c.name);
        testsupport::FtpServerOptions options;
        options.refuseLogin = c.refuseLogin;
        StartServer(options);
        std::filesystem::remove(local("newversion.ini"));

        EXPECT_EQ(Fetch(m_server->url(c.remote), local("newversion.ini")), FALSE);
        EXPECT_TRUE(std::filesystem::exists(local("newversion.ini")));
        EXPECT_EQ(std::filesystem::file_size(local("newversion.ini")), 0u);
    }
}

TEST_F(Download, ReportsFailureWhenReceivedBytesCannotBeStored)
{
    if (!std::filesystem::exists("/dev/full")) {
        GTEST_SKIP() << "needs /dev/full";
    }
    // Small enough to sit in the stream's buffer until the file is closed, and
    // large enough to fail while it arrives.
    for (std::size_t size : {std::size_t{1000}, std::size_t{300000}}) {
        SCOPED_TRACE(size);
        Serve("f.bin", PatternBytes(size));
        StartServer();
        EXPECT_EQ(Fetch(m_server->url("f.bin"), "/dev/full"), FALSE)
            << "bytes that never reached the disk must not count as a download";
    }
}

TEST_F(Download, UsesThePortSettingOnlyWhenTheUrlNamesNone)
{
    Serve("f.txt", "port test");
    StartServer();
    // The URL names no port: the setting must lead to the server.
    EXPECT_EQ(Fetch("ftp://127.0.0.1/f.txt", local("a.txt")), TRUE);
    EXPECT_TRUE(SameBytes(ReadFileBytes(local("a.txt")), "port test"));

    // The URL's own port wins over a setting that points nowhere.
    g_strFtpPort = U16("1");  // (a literal here trips a false -Wrestrict in GCC 12)
    EXPECT_EQ(Fetch(m_server->url("f.txt"), local("b.txt")), TRUE);
    EXPECT_TRUE(SameBytes(ReadFileBytes(local("b.txt")), "port test"));
}

TEST_F(Download, AStalledTransferEndsAtTheStallLimit)
{
    const std::string content = PatternBytes(200000);
    Serve("update.zip", content);
    testsupport::FtpServerOptions options;
    options.stallAfterBytes = 1000;
    options.stallSeconds = 60;
    StartServer(options);
    CFtpTransfer_Curl transfer;
    transfer.m_nStallSeconds = 1;

    EXPECT_EQ(transfer.DownloadFile(U16(m_server->url("update.zip")), U16(local("update.zip").string())), FALSE)
        << "a transfer that moves nothing must be given up, not waited for";
    EXPECT_TRUE(SameBytes(ReadFileBytes(local("update.zip")), content.substr(0, 1000)));
}

// stop() returns only once the server has gone (under Wine once the host's
// broker has ended it), so nothing a test stopped answers afterwards.
TEST_F(Download, NothingAnswersOnceTheServerHasStopped)
{
    Serve("stopped.txt", "x");
    StartServer();
    const std::string url = m_server->url("stopped.txt");
    ASSERT_EQ(Fetch(url, local("before.txt")), TRUE);
    m_server->stop();
    EXPECT_EQ(Fetch(url, local("after.txt")), FALSE);
}

TEST_F(Download, FailsWhenTheServerNeverGreets)
{
    Serve("f.txt", "x");
    testsupport::FtpServerOptions options;
    options.noGreeting = true;
    StartServer(options);

    EXPECT_EQ(Fetch(m_server->url("f.txt"), local("f.txt")), FALSE);
    EXPECT_EQ(m_server->countCommands("USER "), 0u);
}

}  // namespace
}  // namespace transfertest
