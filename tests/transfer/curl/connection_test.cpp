#include <gtest/gtest.h>

#include <filesystem>
#include <string>

#include "transfer/ftp_transfer_curl.h"
#include "transfer_fixture.h"

namespace transfertest {
namespace {

using testsupport::U16;
using testsupport::U8;

class Connection : public TransferTest {
protected:
    void SetUp() override
    {
        TransferTest::SetUp();
        g_strUploadRoot = u"upload";
    }

    // Folders directly below the served folder's path `under`.
    std::vector<std::string> FoldersIn(const std::string& under) const
    {
        std::vector<std::string> names;
        for (const auto& entry : std::filesystem::directory_iterator(served(under))) {
            if (entry.is_directory()) {
                names.push_back(entry.path().filename().string());
            }
        }
        return names;
    }
};

// A dated folder name: 2021-03-05(14-07-09-042). "9" stands for any digit.
static bool IsDatedName(const std::string& name)
{
    const std::string shape = "9999-99-99(99-99-99-999)";
    if (name.size() != shape.size()) {
        return false;
    }
    for (std::size_t i = 0; i < shape.size(); ++i) {
        const bool digit = name[i] >= '0' && name[i] <= '9';
        if (shape[i] == '9' ? !digit : name[i] != shape[i]) {
            return false;
        }
    }
    return true;
}

TEST_F(Connection, FolderOperationsFailWithoutAConnection)
{
    StartServer();
    CFtpTransfer_Curl transfer;

    EXPECT_EQ(transfer.CreateRemoteDir(u"/a"), FALSE);
    EXPECT_EQ(transfer.RemoveRemoteDir(u"/a"), FALSE);
    EXPECT_EQ(transfer.DeleteRemoteFile(u"/a"), FALSE);
    EXPECT_EQ(m_server->countCommands("# connect"), 0u);
}

TEST_F(Connection, ConnectPreparesADatedFolderBelowTheUploadRoot)
{
    StartServer();
    CFtpTransfer_Curl transfer;
    std::int32_t noDatedDir = 0;

    ASSERT_EQ(transfer.Connect(noDatedDir), TRUE);
    const std::string dated = U8(transfer.m_strDatedDir);
    EXPECT_TRUE(IsDatedName(dated)) << "expected a dated folder name, got " << dated;
    EXPECT_EQ(FoldersIn("upload"), std::vector<std::string>{dated});
    EXPECT_EQ(transfer.GetDatedDir(), U16("/upload/" + dated + "/"));
    EXPECT_EQ(transfer.m_nPort, m_server->port());
}

TEST_F(Connection, ConnectWithTheFlagCreatesNoFolder)
{
    StartServer();
    CFtpTransfer_Curl transfer;
    transfer.m_strDatedDir = u"earlier";
    std::int32_t noDatedDir = 1;

    ASSERT_EQ(transfer.Connect(noDatedDir), TRUE);
    EXPECT_EQ(transfer.m_strDatedDir, u"earlier");
    EXPECT_EQ(m_server->countCommands("MKD"), 0u);
    EXPECT_TRUE(g_bUploadRootPending) << "the root is created by the first connection that prepares a folder";
}

TEST_F(Connection, TwoConnectionsCreateTheUploadRootOnce)
{
    StartServer();
    CFtpTransfer_Curl first;
    CFtpTransfer_Curl second;
    std::int32_t noDatedDir = 0;

    ASSERT_EQ(first.Connect(noDatedDir), TRUE);
    first.Disconnect();
    ASSERT_EQ(second.Connect(noDatedDir), TRUE);
    second.Disconnect();

    EXPECT_EQ(m_server->countCommands("MKD /upload"), 1u);
    EXPECT_FALSE(g_bUploadRootPending);
    EXPECT_EQ(FoldersIn("upload").size(), 2u) << "each connection should have its own dated folder";
}

TEST_F(Connection, CommandsRunOnTheOneHeldConnection)
{
    std::filesystem::create_directories(served("upload"));
    Serve("old.txt", "x");
    StartServer();
    CFtpTransfer_Curl transfer;
    std::int32_t noDatedDir = 1;
    ASSERT_EQ(transfer.Connect(noDatedDir), TRUE);

    EXPECT_EQ(transfer.CreateRemoteDir(u"/new"), TRUE);
    EXPECT_TRUE(std::filesystem::is_directory(served("upload/new"))) << "the root is put before the path";
    EXPECT_EQ(transfer.CreateRemoteDir(u"/new"), FALSE) << "an existing folder is the server's refusal";
    EXPECT_EQ(transfer.RemoveRemoteDir(u"upload/new"), TRUE);
    EXPECT_FALSE(std::filesystem::exists(served("upload/new")));
    EXPECT_EQ(transfer.DeleteRemoteFile(u"/old.txt"), TRUE);
    EXPECT_FALSE(std::filesystem::exists(served("old.txt")));
    EXPECT_EQ(transfer.DeleteRemoteFile(u"/old.txt"), FALSE);
    EXPECT_EQ(transfer.RemoveRemoteDir(u"/missing"), FALSE);

    transfer.Disconnect();
    EXPECT_EQ(transfer.CreateRemoteDir(u"/later"), FALSE) << "nothing works after Disconnect";
    EXPECT_EQ(m_server->countCommands("# connect"), 1u) << "one control connection from Connect to Disconnect";
    EXPECT_EQ(m_server->countCommands("QUIT"), 1u);
}

TEST_F(Connection, CommandsWaitForRepliesWhenNoStallLimitIsSet)
{
    std::filesystem::create_directories(served("upload"));
    StartServer();
    CFtpTransfer_Curl transfer;
    transfer.m_nStallSeconds = 0;
    std::int32_t noDatedDir = 1;
    ASSERT_EQ(transfer.Connect(noDatedDir), TRUE);

    EXPECT_EQ(transfer.CreateRemoteDir(u"/unlimited"), TRUE);
    EXPECT_TRUE(std::filesystem::is_directory(served("upload/unlimited")));
}

TEST_F(Connection, RefusesLineBreaksInPaths)
{
    std::filesystem::create_directories(served("upload"));
    StartServer();
    CFtpTransfer_Curl transfer;
    std::int32_t noDatedDir = 1;
    ASSERT_EQ(transfer.Connect(noDatedDir), TRUE);

    EXPECT_EQ(transfer.CreateRemoteDir(u"/a\r\nDELE /victim"), FALSE);
    EXPECT_EQ(m_server->countCommands("DELE"), 0u) << "no second command may be smuggled in";
    EXPECT_EQ(transfer.CreateRemoteDir(u"/b"), TRUE) << "the connection should stay usable";
}

TEST_F(Connection, ConnectFailsWhenTheServerRefusesOrStaysSilent)
{
    struct Case {
        const char* name;
        bool refuseLogin;
        bool noGreeting;
    };
    for (const Case& c : {Case{"refused login", true, false}, Case{"no greeting", false, true}}) {
        SCOPED_TRACE(c.name);
        testsupport::FtpServerOptions options;
        options.refuseLogin = c.refuseLogin;
        options.noGreeting = c.noGreeting;
        StartServer(options);
        CFtpTransfer_Curl transfer;
        std::int32_t noDatedDir = 0;

        EXPECT_EQ(transfer.Connect(noDatedDir), FALSE);
        EXPECT_EQ(transfer.CreateRemoteDir(u"/a"), FALSE);
        EXPECT_TRUE(g_bUploadRootPending);
    }
}

TEST_F(Connection, ConnectUsesTheCopiesTakenAtConstruction)
{
    StartServer();
    CFtpTransfer_Curl transfer;
    g_strFtpPassword = u"changed-later";
    std::int32_t noDatedDir = 1;

    EXPECT_EQ(transfer.Connect(noDatedDir), TRUE);
    EXPECT_EQ(m_server->countCommands("PASS secret"), 1u);
}

TEST_F(Connection, VerboseOutputNeverShowsThePassword)
{
    Serve("f.txt", "x");
    testsupport::FtpServerOptions options;
    options.password = "Quiet-5512-pw";
    StartServer(options);
    CFtpTransfer_Curl transfer;
    std::int32_t noDatedDir = 1;

    StderrCapture capture;
    ASSERT_EQ(transfer.Connect(noDatedDir), TRUE);
    ASSERT_EQ(transfer.DownloadFile(U16(m_server->url("f.txt")), U16(local("f.txt").string())), TRUE);
    const std::string verbose = capture.text();
    EXPECT_NE(verbose.find("> USER tester"), std::string::npos) << "verbose output should show the commands";
    EXPECT_NE(verbose.find("> PASS ****"), std::string::npos);
    EXPECT_EQ(verbose.find("Quiet-5512-pw"), std::string::npos) << "the password must not be written";
    EXPECT_EQ(m_server->countCommands("PASS Quiet-5512-pw"), 2u) << "the server should still get it, twice";
}

}  // namespace
}  // namespace transfertest
