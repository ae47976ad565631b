// What a download shows its observer: every byte the file ends up holding, in
// order, also the part a resumed download found on disk.
#include <gtest/gtest.h>

#include <string>

#include "transfer/ftp_transfer_curl.h"
#include "transfer_fixture.h"

namespace transfertest {
namespace {

using testsupport::ReadFileBytes;
using testsupport::U16;
using testsupport::WriteFileBytes;

class Collector : public CDownloadObserver {
public:
    void OnDownloadBytes(const void* data, std::size_t size) override
    {
        m_bytes.append(static_cast<const char*>(data), size);
    }
    std::string m_bytes;
};

class DownloadObserver : public TransferTest {
protected:
    void TearDown() override
    {
        g_pDownloadObserver = nullptr;
        TransferTest::TearDown();
    }
};

TEST_F(DownloadObserver, SeesTheHeldPartThenTheRestAfterABreak)
{
    const std::string content = PatternBytes(400000, 5);
    Serve("update.zip", content);
    testsupport::FtpServerOptions options;
    options.dropAfterBytes = 150000;
    options.faultyTransfers = 1;
    StartServer(options);
    const CString url = U16(m_server->url("update.zip"));
    const CString path = U16(local("update.zip").string());

    Collector first;
    g_pDownloadObserver = &first;
    EXPECT_EQ(g_FtpTransfer.DownloadFile(url, path), FALSE) << "the first transfer is cut";
    EXPECT_EQ(first.m_bytes, ReadFileBytes(local("update.zip"))) << "what was stored, no more";

    Collector resumed;
    g_pDownloadObserver = &resumed;
    ASSERT_EQ(g_FtpTransfer.DownloadFile(url, path), TRUE);
    EXPECT_EQ(m_server->countCommands("REST "), 1u);
    EXPECT_TRUE(SameBytes(resumed.m_bytes, content)) << "the held part first, then the rest";

    // Without an observer nothing is read back.
    g_pDownloadObserver = nullptr;
    WriteFileBytes(local("again.zip"), content.substr(0, 10));
    EXPECT_EQ(g_FtpTransfer.DownloadFile(U16(m_server->url("update.zip")), U16(local("again.zip").string())), TRUE);
    EXPECT_TRUE(SameBytes(ReadFileBytes(local("again.zip")), content));
}

}  // namespace
}  // namespace transfertest
