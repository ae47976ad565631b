#include <gtest/gtest.h>

#include "transfer/ftp_transfer_curl.h"
#include "transfer_fixture.h"

namespace transfertest {
namespace {

using testsupport::ReadFileBytes;
using testsupport::U16;

class Progress : public TransferTest {
protected:
    // Downloads name into local(name) with the recording window as target.
    std::vector<PostedMessage> DownloadRecorded(const std::string& name)
    {
        RecordingWindow window;
        g_hProgressWnd = &window;
        const BOOL done = g_FtpTransfer.DownloadFile(U16(m_server->url(name)), U16(local(name).string()));
        g_hProgressWnd = nullptr;
        EXPECT_EQ(done, TRUE);
        return window.messages();
    }
};

// Every message is WM_TRANSFER_PROGRESS with lParam 0 and a percent that
// never goes back.
void ExpectWellFormed(const std::vector<PostedMessage>& messages)
{
    WPARAM previous = 0;
    for (const PostedMessage& m : messages) {
        EXPECT_EQ(m.message, WM_TRANSFER_PROGRESS);
        EXPECT_EQ(m.lParam, 0);
        EXPECT_LE(m.wParam, 100u);
        EXPECT_GE(m.wParam, previous) << "progress should never go back";
        previous = m.wParam;
    }
}

TEST_F(Progress, AThousandByteFileEndsAtOneHundred)
{
    Serve("version.ini", PatternBytes(1000));
    StartServer();

    const auto messages = DownloadRecorded("version.ini");
    ASSERT_FALSE(messages.empty());
    ExpectWellFormed(messages);
    EXPECT_EQ(messages.back().wParam, 100u);
}

TEST_F(Progress, AResumedDownloadCountsOnlyTheBytesOfThisTransfer)
{
    const std::string content = PatternBytes(200000);
    Serve("update.zip", content);
    StartServer();
    testsupport::WriteFileBytes(local("update.zip"), content.substr(0, 150000));

    const auto messages = DownloadRecorded("update.zip");
    ASSERT_FALSE(messages.empty());
    ExpectWellFormed(messages);
    EXPECT_EQ(messages.back().wParam, 100u);
    EXPECT_TRUE(SameBytes(ReadFileBytes(local("update.zip")), content));
}

TEST_F(Progress, PostsOnlyZeroWhileTheSizeIsUnknown)
{
    struct Case {
        const char* name;
        std::size_t size;
        bool noSize;
    };
    for (const Case& c : {Case{"server without SIZE", 50000, true}, Case{"empty file", 0, false}}) {
        SCOPED_TRACE(c.name);
        Serve("f.bin", PatternBytes(c.size));
        testsupport::FtpServerOptions options;
        options.noSize = c.noSize;
        StartServer(options);
        std::filesystem::remove(local("f.bin"));

        const auto messages = DownloadRecorded("f.bin");
        ASSERT_FALSE(messages.empty());
        for (const PostedMessage& m : messages) {
            EXPECT_EQ(m.message, WM_TRANSFER_PROGRESS);
            EXPECT_EQ(m.wParam, 0u) << "an unknown total gives 0 percent";
        }
        EXPECT_EQ(ReadFileBytes(local("f.bin")).size(), c.size);
    }
}

TEST_F(Progress, ADownloadWithoutAProgressWindowStillCompletes)
{
    Serve("f.bin", PatternBytes(5000));
    StartServer();
    ASSERT_EQ(g_hProgressWnd, nullptr);

    EXPECT_EQ(g_FtpTransfer.DownloadFile(U16(m_server->url("f.bin")), U16(local("f.bin").string())), TRUE);
    EXPECT_TRUE(SameBytes(ReadFileBytes(local("f.bin")), PatternBytes(5000)));
}

}  // namespace
}  // namespace transfertest
