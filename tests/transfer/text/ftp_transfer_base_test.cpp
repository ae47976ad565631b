#include "transfer/ftp_transfer.h"

#include <gtest/gtest.h>

namespace {

TEST(FtpTransferBase, EveryOperationFails)
{
    CFtpTransfer transfer;
    std::int32_t flag = 1;
    EXPECT_EQ(transfer.Connect(flag), FALSE);
    transfer.Disconnect();
    EXPECT_EQ(transfer.CreateRemoteDir(u"/a"), FALSE);
    EXPECT_EQ(transfer.RemoveRemoteDir(u"/a"), FALSE);
    EXPECT_EQ(transfer.UploadToDatedDir(u"/tmp/x", u"x"), FALSE);
    EXPECT_EQ(transfer.UploadToFolder(u"/tmp/x", u"x", u"map"), FALSE);
    EXPECT_EQ(transfer.DownloadFile(u"ftp://127.0.0.1/x", u"/nonexistent/x"), FALSE);
    EXPECT_EQ(transfer.DeleteRemoteFile(u"/x"), FALSE);
    EXPECT_EQ(transfer.ReservedStatus(), 0);
    EXPECT_EQ(transfer.ReservedPath(), u"");
    EXPECT_EQ(transfer.GetDatedDir(), u"");
    EXPECT_EQ(transfer.GetCategoryDir(1), u"");
}

TEST(FtpTransferBase, SettingsStartEmptyWithTheUploadRootPending)
{
    EXPECT_TRUE(g_strFtpServer.empty() && g_strFtpUser.empty() && g_strFtpPassword.empty());
    EXPECT_TRUE(g_strUploadRoot.empty() && g_strCategoryRoot.empty() && g_strFtpPort.empty());
    EXPECT_EQ(g_hProgressWnd, nullptr);
    EXPECT_TRUE(g_bUploadRootPending);
    EXPECT_EQ(WM_TRANSFER_PROGRESS, 0x8001u);
}

}  // namespace
