#include <gtest/gtest.h>

#include <filesystem>

#include "transfer/ftp_transfer_curl.h"
#include "transfer_fixture.h"

namespace transfertest {
namespace {

using testsupport::ReadFileBytes;
using testsupport::U16;
using testsupport::WriteFileBytes;

// Large enough that a cut data connection is noticed while sending.
constexpr std::size_t kUploadSize = 3 * 1024 * 1024;

class Upload : public TransferTest {
protected:
    void SetUp() override
    {
        TransferTest::SetUp();
        m_content = PatternBytes(kUploadSize, 11);
        WriteFileBytes(local("resume.doc"), m_content);
        g_strCategoryRoot = u"category";
    }

    // Uploads local("resume.doc") into the category folder "map" as "r.doc".
    BOOL UploadResume(CFtpTransfer_Curl& transfer)
    {
        return transfer.UploadToFolder(U16(local("resume.doc").string()), u"r.doc", u"map");
    }

    std::string m_content;
};

TEST_F(Upload, StoresIntoTheCategoryAndDatedFoldersCreatingThem)
{
    StartServer();
    g_strUploadRoot = u"upload";
    CFtpTransfer_Curl transfer;
    std::int32_t noDatedDir = 0;
    ASSERT_EQ(transfer.Connect(noDatedDir), TRUE);
    transfer.Disconnect();

    ASSERT_EQ(UploadResume(transfer), TRUE);
    EXPECT_TRUE(SameBytes(ReadFileBytes(served("category/map/r.doc")), m_content));

    ASSERT_EQ(transfer.UploadToDatedDir(U16(local("resume.doc").string()), u"d.doc"), TRUE);
    const std::string dated = testsupport::U8(transfer.m_strDatedDir);
    EXPECT_TRUE(SameBytes(ReadFileBytes(served("upload/" + dated + "/d.doc")), m_content));
}

TEST_F(Upload, ASecondAttemptAppendsFromTheRemoteSize)
{
    testsupport::FtpServerOptions options;
    options.dropAfterBytes = 100000;
    options.faultyTransfers = 1;
    StartServer(options);
    CFtpTransfer_Curl transfer;

    ASSERT_EQ(UploadResume(transfer), TRUE);
    EXPECT_TRUE(SameBytes(ReadFileBytes(served("category/map/r.doc")), m_content))
        << "the remote file should be whole";
    EXPECT_EQ(m_server->countCommands("STOR "), 1u);
    EXPECT_EQ(m_server->countCommands("SIZE r.doc"), 1u) << "the second attempt should ask the remote size";
    EXPECT_EQ(m_server->countCommands("APPE r.doc"), 1u) << "and append the rest";
}

TEST_F(Upload, AStalledAttemptIsAbortedAndTheNextResumes)
{
    testsupport::FtpServerOptions options;
    options.stallAfterBytes = 100000;
    options.stallSeconds = 60;
    options.faultyTransfers = 1;
    StartServer(options);
    CFtpTransfer_Curl transfer;
    transfer.m_nStallSeconds = 1;

    ASSERT_EQ(UploadResume(transfer), TRUE);
    EXPECT_TRUE(SameBytes(ReadFileBytes(served("category/map/r.doc")), m_content));
    EXPECT_EQ(m_server->countCommands("APPE r.doc"), 1u);
}

TEST_F(Upload, ThreeBrokenAttemptsFail)
{
    testsupport::FtpServerOptions options;
    options.dropAfterBytes = 100000;
    StartServer(options);
    CFtpTransfer_Curl transfer;

    EXPECT_EQ(UploadResume(transfer), FALSE);
    EXPECT_EQ(m_server->countCommands("STOR "), 1u);
    EXPECT_EQ(m_server->countCommands("SIZE r.doc"), 2u);
    EXPECT_EQ(m_server->countCommands("APPE r.doc"), 2u) << "three attempts in all, no fourth";
}

TEST_F(Upload, StoresTheWholeFileAgainWhenTheServerCannotTellTheSize)
{
    testsupport::FtpServerOptions options;
    options.dropAfterBytes = 100000;
    options.faultyTransfers = 1;
    options.noSize = true;
    StartServer(options);
    CFtpTransfer_Curl transfer;

    ASSERT_EQ(UploadResume(transfer), TRUE);
    EXPECT_TRUE(SameBytes(ReadFileBytes(served("category/map/r.doc")), m_content))
        << "appending the whole file to the partial one would corrupt it";
    EXPECT_EQ(m_server->countCommands("APPE "), 0u);
    EXPECT_EQ(m_server->countCommands("STOR r.doc"), 2u);
}

TEST_F(Upload, FailsWithoutTrafficWhenTheLocalFileCannotBeOpened)
{
    StartServer();
    CFtpTransfer_Curl transfer;
    StderrCapture capture;

    EXPECT_EQ(transfer.UploadToFolder(U16(local("absent.doc").string()), u"r.doc", u"map"), FALSE);
    EXPECT_FALSE(capture.text().empty()) << "the reason should be written to standard error";
    EXPECT_EQ(m_server->countCommands("# connect"), 0u);
}

TEST_F(Upload, FailsWhenTheLocalFileCannotBeRead)
{
    StartServer();
    CFtpTransfer_Curl transfer;
    // A folder opens as a stream on this system but every read fails; an empty
    // upload must not pass for the file.
    EXPECT_EQ(transfer.UploadToFolder(U16(local("").string()), u"r.doc", u"map"), FALSE);
}

TEST_F(Upload, ZeroTriesContactNobody)
{
    StartServer();
    CurlTransferScope scope;
    ASSERT_NE(scope.handle(), nullptr);
    CurlTransferOptions options;
    options.credentials = "tester:secret";

    EXPECT_EQ(CurlUpload(scope.handle(), m_server->url("r.doc"), local("resume.doc").string(), 5, 0, options), 0);
    EXPECT_EQ(m_server->countCommands("# connect"), 0u);
}

TEST_F(Upload, PostsNoProgress)
{
    StartServer();
    RecordingWindow window;
    g_hProgressWnd = &window;
    CFtpTransfer_Curl transfer;

    ASSERT_EQ(UploadResume(transfer), TRUE);
    EXPECT_TRUE(window.messages().empty()) << "uploads must not post WM_TRANSFER_PROGRESS";
}

}  // namespace
}  // namespace transfertest
