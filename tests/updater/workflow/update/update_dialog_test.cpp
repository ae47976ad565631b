// The dialog's own rules: the progress bar, the cancel lock, one updater per
// installation.
#include <gtest/gtest.h>

#include <chrono>
#include <future>
#include <thread>

#include "platform/named_event.h"
#include "transfer/ftp_transfer.h"
#include "updater/workflow/update/update_fixture.h"

using namespace std::chrono_literals;

TEST(UpdateDialog, PostedProgressSetsTheBarEvenBackwardsAndOtherMessagesAreIgnored)
{
    CFtpTransfer noTransfer;
    CMyUpdateDlg dlg(noTransfer, u"/nowhere/MorvexUpdate");
    CRecordingWindow window;
    dlg.AttachWindow(&window);
    HWINDOW hwnd = window.GetSafeHwnd();
    EXPECT_TRUE(PostMessageTo(hwnd, WM_TRANSFER_PROGRESS, 37, 0));
    EXPECT_TRUE(PostMessageTo(hwnd, WM_TRANSFER_PROGRESS, 12, 0));
    EXPECT_TRUE(PostMessageTo(hwnd, WM_APP + 2, 99, 0));
    EXPECT_TRUE(window.ProgressPositions().empty()) << "posted messages wait for the window's thread";
    window.DeliverPosted(dlg);
    EXPECT_EQ(window.ProgressPositions(), (std::vector<int>{37, 12}));
    EXPECT_EQ(dlg.OnTransferProgress(100, 0), 0);
    EXPECT_EQ(window.ProgressPositions().back(), 100);
}

TEST(UpdateDialog, CancelIsRefusedUntilTheLockIsReleased)
{
    CFtpTransfer noTransfer;
    CMyUpdateDlg dlg(noTransfer, u"/nowhere/MorvexUpdate");
    CRecordingWindow window;
    dlg.AttachWindow(&window);
    EXPECT_TRUE(dlg.m_bCancelLocked) << "locked from construction";
    dlg.OnCancel();
    EXPECT_FALSE(dlg.HasEnded());
    EXPECT_TRUE(window.Calls().empty());
    dlg.m_bCancelLocked = false;
    dlg.OnCancel();
    dlg.OnCancel();
    EXPECT_EQ(dlg.GetModalResult(), 2);
    EXPECT_EQ(window.Calls(), std::vector<std::string>{"end 2"}) << "the dialog ends once";
}

TEST(UpdateDialog, ASecondUpdaterWaitsForTheFirstAndThenFindsNoUpdate)
{
    UpdateScene scene;
    platform::HEVENT event = platform::CreateEventW(scene.EventName());
    ASSERT_NE(event, nullptr);
    auto first = scene.MakeDialog();
    auto second = scene.MakeDialog();

    std::promise<void> letFirstFinish;
    std::future<void> firstMayFinish = letFirstFinish.get_future();
    std::promise<void> firstReachedTheEnd;
    scene.Window().onMessageBox = [&](const std::string&, const std::string&) {
        firstReachedTheEnd.set_value();
        firstMayFinish.wait();
    };
    first->OnInitDialog();
    ASSERT_FALSE(first->HasEnded());
    first->AttachWindow(&scene.Window());
    ASSERT_EQ(firstReachedTheEnd.get_future().wait_for(2min), std::future_status::ready);

    const std::size_t fetchesBefore = scene.Server().countCommands("RETR");
    auto secondRun = std::async(std::launch::async, [&] { second->OnInitDialog(); });
    EXPECT_EQ(secondRun.wait_for(500ms), std::future_status::timeout)
        << "the second updater must wait while the first changes the installation";
    EXPECT_EQ(scene.Server().countCommands("RETR"), fetchesBefore) << "it must not even check meanwhile";

    letFirstFinish.set_value();
    ASSERT_TRUE(first->WaitForWorker(2min));
    ASSERT_EQ(secondRun.wait_for(2min), std::future_status::ready);
    EXPECT_EQ(second->GetModalResult(), 1) << "the installation is current by then";
    EXPECT_EQ(platform::GetEventCount(event), 1);
    EXPECT_EQ(scene.InstalledVersion(), "1.0.0.12");
    platform::CloseEventHandle(event);
}
