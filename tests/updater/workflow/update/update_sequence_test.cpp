// The whole update sequence on real files against a real FTP server: what the
// user is told, what is started, and what is left on disk.
#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <functional>
#include <ostream>
#include <string>
#include <vector>

#include "platform/install_lock.h"
#include "platform/named_event.h"
#include "support/temp_dir.h"
#include "support/script_tools.h"
#include "updater/workflow/update/update_fixture.h"

using testsupport::U16;

namespace {

const std::string kStatus = "text 1004 ";

bool Contains(const std::vector<std::string>& calls, const std::string& call)
{
    return std::find(calls.begin(), calls.end(), call) != calls.end();
}

std::vector<std::string> WithPrefix(const std::vector<std::string>& calls, const std::string& prefix)
{
    std::vector<std::string> matching;
    for (const auto& call : calls) {
        if (call.rfind(prefix, 0) == 0) {
            matching.push_back(call);
        }
    }
    return matching;
}

struct ProductRow {
    const char* code;
    const char* program;
    bool removesWorkDirectories;
    const char* installFolder;
};

// Names the row in test output instead of dumping its bytes.
void PrintTo(const ProductRow& row, std::ostream* out) { *out << row.code; }

class SuccessfulUpdate : public ::testing::TestWithParam<ProductRow> {};

}  // namespace

TEST_P(SuccessfulUpdate, StopsPatchesCommitsReportsAndRestartsTheProduct)
{
    const ProductRow& row = GetParam();
    UpdateSceneOptions options;
    options.productCode = row.code;
    options.installFolder = row.installFolder;
    UpdateScene scene(options);
    auto dlg = scene.MakeDialog();

    // What holds while the success message is up: the product was stopped and
    // not yet started, the update is already committed, nothing removed yet.
    bool boxSeen = false;
    scene.Window().onMessageBox = [&](const std::string& caption, const std::string&) {
        boxSeen = caption == "升级成功";
        EXPECT_EQ(scene.ProcessControlCalls(), std::vector<std::string>{std::string("-k ") + row.program});
        EXPECT_EQ(scene.InstalledVersion(), "1.0.0.12") << "the manifest is committed before the message";
        EXPECT_FALSE(std::filesystem::exists(scene.Install() / "jo_db_local.db.bak"));
        EXPECT_EQ(scene.WorkDirectoryCount(), 6u);
        EXPECT_TRUE(scene.OpenedDocuments().empty()) << "release notes come after the message";
    };
    scene.RunToTheEnd(*dlg);
    ASSERT_TRUE(boxSeen);

    EXPECT_EQ(scene.ProcessControlCalls(),
              (std::vector<std::string>{std::string("-k ") + row.program,
                                        std::string("-s ") + row.program + " -nonupdate"}));
    EXPECT_EQ(scene.OpenedDocuments(), std::vector<std::string>{scene.WorkDir().string() + " update.txt"});
    EXPECT_EQ(scene.WorkDirectoryCount(), row.removesWorkDirectories ? 0u : 6u);

    EXPECT_EQ(scene.Window().Calls(), (std::vector<std::string>{
                                          "show 1004", "show 1003", "hide 1001",
                                          kStatus + "正在下载新版本...",
                                          kStatus + "下载完成，正在安装...",
                                          kStatus + "您的程序已经升级为最新版本!",
                                          "box 升级成功|您已经成功升级到最新版本1.0.0.12!",
                                          "end 2"}));
    EXPECT_EQ(dlg->GetModalResult(), 2);

    EXPECT_EQ(scene.PeopleInDatabase(), (std::vector<std::string>{"老员工", "新同事"}))
        << "the script's code page 936 text arrives as UTF-8";
    EXPECT_EQ(scene.InstalledVersion(), "1.0.0.12");
    EXPECT_EQ(testsupport::ReadFileBytes(scene.Install() / "docs" / "readme.txt"), "version 1.0.0.12");
    for (const char* gone : {"update.zip", "ini/update.sql", "newversion.ini", "jo_db_local.db.bak"}) {
        EXPECT_FALSE(std::filesystem::exists(scene.Install() / gone)) << gone << " must not be left behind";
    }
    platform::InstallLock lock;
    EXPECT_TRUE(lock.TryAcquire(U16(scene.Install().string())))
        << "the installation lock is released when the sequence ends";
}

INSTANTIATE_TEST_SUITE_P(EveryProduct, SuccessfulUpdate,
                         ::testing::Values(ProductRow{"qb", "Quenby.exe", false, "install"},
                                           ProductRow{"zt_e", "Zentora.exe", true, "install"},
                                           // Neither character exists in code page 936.
                                           ProductRow{"zt_p", "Zentora.exe", true, "Straße ✓"}),
                         [](const auto& row) { return std::string(row.param.code); });

TEST(UpdateSequence, TheProgressBarFollowsTheArchiveDownloadOnly)
{
    UpdateScene scene;
    auto dlg = scene.MakeDialog();
    dlg->OnInitDialog();
    EXPECT_EQ(scene.Window().PostedCount(), 0u) << "the manifest download has no progress window";
    dlg->AttachWindow(&scene.Window());
    ASSERT_TRUE(dlg->WaitForWorker(std::chrono::minutes(2)));
    scene.Window().DeliverPosted(*dlg);

    const std::vector<int> positions = scene.Window().ProgressPositions();
    ASSERT_FALSE(positions.empty());
    EXPECT_EQ(positions.back(), 100);
    EXPECT_TRUE(std::is_sorted(positions.begin(), positions.end())) << "one download only moves forward";
}

TEST(UpdateSequence, AFailingPatchRestoresTheOldInstallationAndRestartsTheProduct)
{
    UpdateSceneOptions options;
    options.scriptUtf8 = "INSERT INTO people VALUES('新同事');\nINSERT INTO missing_table VALUES(1);\n"
                         "INSERT INTO people VALUES('never');";
    UpdateScene scene(options);
    auto dlg = scene.MakeDialog();
    scene.Window().onMessageBox = [&](const std::string&, const std::string&) {
        dlg->OnCancel();
        EXPECT_FALSE(dlg->HasEnded()) << "closing is refused while the message is up";
        EXPECT_EQ(scene.PeopleInDatabase(), std::vector<std::string>{"老员工"})
            << "the database is restored before the user is told";
    };
    scene.RunToTheEnd(*dlg);

    EXPECT_TRUE(Contains(scene.Window().Calls(), "box 升级失败|数据库更新失败：no such table: missing_table"));
    EXPECT_FALSE(Contains(scene.Window().Calls(), kStatus + "您的程序已经升级为最新版本!"));
    EXPECT_EQ(WithPrefix(scene.Window().Calls(), "end").size(), 0u) << "the dialog stays open";
    EXPECT_EQ(scene.PeopleInDatabase(), std::vector<std::string>{"老员工"});
    EXPECT_EQ(scene.InstalledVersion(), "1.0.0.1") << "the update must be offered again";
    EXPECT_EQ(scene.ProcessControlCalls(), (std::vector<std::string>{"-k Zentora.exe", "-s Zentora.exe -nonupdate"}))
        << "the old installation is whole again, so the product is started";
    EXPECT_TRUE(scene.OpenedDocuments().empty());
    EXPECT_EQ(scene.WorkDirectoryCount(), 0u);
    EXPECT_FALSE(std::filesystem::exists(scene.Install() / "docs")) << "files the update brought are removed";
    for (const char* gone : {"update.zip", "ini/update.sql", "newversion.ini", "jo_db_local.db.bak"}) {
        EXPECT_FALSE(std::filesystem::exists(scene.Install() / gone)) << gone << " must not be left behind";
    }

    EXPECT_FALSE(dlg->m_bCancelLocked) << "after the failure the dialog can be closed";
    dlg->OnCancel();
    EXPECT_EQ(dlg->GetModalResult(), 2);
    EXPECT_EQ(scene.Window().Calls().back(), "end 2");
}

TEST(UpdateSequence, AFailingPatchOnAMissingDatabaseLeavesNoDatabaseBehind)
{
    UpdateSceneOptions options;
    options.scriptUtf8 = "CREATE TABLE people(name TEXT); INSERT INTO nowhere VALUES(1);";
    UpdateScene scene(options);
    std::filesystem::remove(scene.Install() / "jo_db_local.db");
    auto dlg = scene.MakeDialog();
    scene.RunToTheEnd(*dlg);
    EXPECT_TRUE(Contains(scene.Window().Calls(), "box 升级失败|数据库更新失败：no such table: nowhere"));
    EXPECT_FALSE(std::filesystem::exists(scene.Install() / "jo_db_local.db"));
}

namespace {

struct BrokenDeliveryRow {
    const char* name;
    std::function<void(UpdateSceneOptions&)> configure;
    std::function<void(UpdateScene&)> spoil;
};

void PrintTo(const BrokenDeliveryRow& row, std::ostream* out) { *out << row.name; }

class BrokenDelivery : public ::testing::TestWithParam<BrokenDeliveryRow> {};

}  // namespace

TEST_P(BrokenDelivery, IsReportedAsFailureAndTheOldProductRunsAgain)
{
    UpdateSceneOptions options;
    if (GetParam().configure) {
        GetParam().configure(options);
    }
    UpdateScene scene(options);
    scene.Transfer().m_nStallSeconds = 2;
    GetParam().spoil(scene);
    auto dlg = scene.MakeDialog();
    scene.Window().onMessageBox = [&](const std::string&, const std::string&) {
        EXPECT_EQ(scene.ProcessControlCalls(), std::vector<std::string>{"-k Zentora.exe"})
            << "the product is started again only after the message";
    };
    scene.RunToTheEnd(*dlg);

    EXPECT_EQ(WithPrefix(scene.Window().Calls(), "box"),
              std::vector<std::string>{"box 升级失败|升级包下载或解压失败，请稍后再试！"});
    EXPECT_FALSE(Contains(scene.Window().Calls(), kStatus + "下载完成，正在安装..."));
    EXPECT_EQ(WithPrefix(scene.Window().Calls(), "end").size(), 0u) << "the dialog stays open";
    EXPECT_FALSE(dlg->m_bCancelLocked);
    EXPECT_EQ(scene.ProcessControlCalls(), (std::vector<std::string>{"-k Zentora.exe", "-s Zentora.exe -nonupdate"}));
    EXPECT_TRUE(scene.OpenedDocuments().empty());
    EXPECT_EQ(scene.InstalledVersion(), "1.0.0.1") << "the update must be offered again";
    EXPECT_EQ(scene.PeopleInDatabase(), std::vector<std::string>{"老员工"}) << "nothing may be patched";
    EXPECT_EQ(scene.WorkDirectoryCount(), 6u);
    for (const char* gone : {"update.zip", "ini/update.sql", "newversion.ini"}) {
        EXPECT_FALSE(std::filesystem::exists(scene.Install() / gone)) << gone << " must not be left behind";
    }
}

INSTANTIATE_TEST_SUITE_P(
    EveryWay, BrokenDelivery,
    ::testing::Values(
        BrokenDeliveryRow{"ArchiveMissingOnTheServer", nullptr,
                          [](UpdateScene& scene) { std::filesystem::remove(scene.ServerFolder() / "update.zip"); }},
        BrokenDeliveryRow{"ConnectionDroppedMidway",
                          [](UpdateSceneOptions& options) { options.server.dropAfterBytes = 300000; },
                          [](UpdateScene&) {}},
        BrokenDeliveryRow{"TransferStalls",
                          [](UpdateSceneOptions& options) {
                              options.server.stallAfterBytes = 300000;
                              options.server.stallSeconds = 30;
                          },
                          [](UpdateScene&) {}},
        BrokenDeliveryRow{"ArchiveIsNotAZipFile", nullptr,
                          [](UpdateScene& scene) {
                              testsupport::WriteFileBytes(scene.ServerFolder() / "update.zip",
                                                          std::string(5000, 'x'));
                          }},
        BrokenDeliveryRow{"TransferTricklesPastItsDeadline",
                          [](UpdateSceneOptions& options) { options.server.trickleBytesPerSecond = 2000; },
                          [](UpdateScene& scene) {
                              // At the floor rate the manifest sets, the archive's
                              // announced size takes no time: the shortest deadline
                              // (shortened here from minutes) decides. The whole
                              // download would take minutes.
                              scene.SetInstalledSetting("ftp", "minrate", "100000");
                              scene.Transfer().m_nDeadlineMinSeconds = 1;
                          }},
        BrokenDeliveryRow{"AnEntryCannotBeWritten", nullptr,
                          [](UpdateScene& scene) {
                              // The archive brings docs/readme.txt; a folder of that name
                              // stands in its way.
                              std::filesystem::create_directories(scene.Install() / "docs" / "readme.txt" / "x");
                          }}),
    [](const auto& row) { return std::string(row.param.name); });

// The patch waits for a product still holding its database; when, meanwhile,
// a folder takes the place of the phase file's replacement, the commit mark
// cannot be written and the good patch is undone.
TEST(UpdateSequence, AProductStillHoldingItsDatabaseIsWaitedFor)
{
    for (const bool commitMarkBlocked : {false, true}) {
        SCOPED_TRACE(commitMarkBlocked ? "commit mark blocked" : "released");
        UpdateScene scene;
        HeldDatabase product(scene.Install() / "jo_db_local.db");
        ASSERT_TRUE(product.held());
        auto dlg = scene.MakeDialog();
        dlg->OnInitDialog();
        dlg->AttachWindow(&scene.Window());
        ASSERT_TRUE(product.WaitForAWaiter()) << "the patch never met the product's lock";
        if (commitMarkBlocked) {
            std::filesystem::create_directories(scene.Install() / "MorvexUpdate.journal" / "phase.tmp" / "x");
        }
        product.Release();
        ASSERT_TRUE(dlg->WaitForWorker(std::chrono::minutes(2)));

        if (!commitMarkBlocked) {
            EXPECT_EQ(WithPrefix(scene.Window().Calls(), "box"),
                      std::vector<std::string>{"box 升级成功|您已经成功升级到最新版本1.0.0.12!"});
            EXPECT_EQ(scene.PeopleInDatabase(), (std::vector<std::string>{"老员工", "新同事"}));
            continue;
        }
        EXPECT_EQ(WithPrefix(scene.Window().Calls(), "box"),
                  std::vector<std::string>{"box 升级失败|升级记录无法写入，程序未升级，请检查安装目录后再试！"});
        EXPECT_EQ(scene.PeopleInDatabase(), std::vector<std::string>{"老员工"});
        EXPECT_EQ(scene.InstalledVersion(), "1.0.0.1");
        EXPECT_EQ(scene.ProcessControlCalls(),
                  (std::vector<std::string>{"-k Zentora.exe", "-s Zentora.exe -nonupdate"}));
    }
}

// The update's own records cannot be written: each time the user is told so,
// the installation is the old one and the product runs (or was never stopped).
TEST(UpdateSequence, AJournalThatCannotBeBegunStopsNothing)
{
    UpdateScene scene;
    auto dlg = scene.MakeDialog();
    dlg->OnInitDialog();
    ASSERT_FALSE(dlg->HasEnded());
    // Where the journal's folder goes, after the check found it free.
    testsupport::WriteFileBytes(scene.Install() / "MorvexUpdate.journal", "in the way");
    dlg->AttachWindow(&scene.Window());
    ASSERT_TRUE(dlg->WaitForWorker(std::chrono::minutes(2)));

    EXPECT_EQ(WithPrefix(scene.Window().Calls(), "box"),
              std::vector<std::string>{"box 升级失败|升级记录无法写入，程序未升级，请检查安装目录后再试！"});
    EXPECT_TRUE(scene.ProcessControlCalls().empty()) << "no stop request before the journal has begun";
    EXPECT_FALSE(dlg->m_bCancelLocked);
    EXPECT_EQ(scene.InstalledVersion(), "1.0.0.1");
}

TEST(UpdateSequence, ADatabaseThatCannotBeKeptAsideIsNotPatchedAndSaysSoInChinese)
{
    UpdateScene scene;
    testsupport::WriteFileBytes(scene.Install() / "jo_db_local.db", std::string(4096, 'x'));
    auto dlg = scene.MakeDialog();
    scene.RunToTheEnd(*dlg);
    EXPECT_EQ(WithPrefix(scene.Window().Calls(), "box"),
              std::vector<std::string>{"box 升级失败|数据库更新失败：数据库备份失败！"});
    EXPECT_EQ(testsupport::ReadFileBytes(scene.Install() / "jo_db_local.db"), std::string(4096, 'x'));
}

TEST(UpdateSequence, NoUpdateSignalsTheEventOnceAndNeedsNoWindow)
{
    UpdateSceneOptions options;
    options.offeredVersion = "1.0.0.1";
    UpdateScene scene(options);
    platform::HEVENT event = platform::CreateEventW(scene.EventName());
    ASSERT_NE(event, nullptr);
    const std::string manifestBefore = testsupport::ReadFileBytes(scene.Install() / "version.ini");

    auto dlg = scene.MakeDialog();
    EXPECT_EQ(dlg->OnInitDialog(), TRUE);
    EXPECT_EQ(dlg->GetModalResult(), 1) << "the dialog ends with IDOK during its initialisation";
    EXPECT_EQ(platform::GetEventCount(event), 1) << "the event is posted exactly once";
    EXPECT_TRUE(dlg->WaitForWorker(std::chrono::milliseconds(0))) << "no worker was started";
    EXPECT_TRUE(scene.Window().Calls().empty()) << "no window was needed";

    EXPECT_EQ(testsupport::ReadFileBytes(scene.Install() / "version.ini"), manifestBefore);
    EXPECT_FALSE(std::filesystem::exists(scene.Install() / "newversion.ini"));
    EXPECT_TRUE(scene.ProcessControlCalls().empty());
    platform::InstallLock lock;
    EXPECT_TRUE(lock.TryAcquire(U16(scene.Install().string())));
    platform::CloseEventHandle(event);
}

TEST(UpdateSequence, NoUpdateWithoutAnEventStillEndsTheDialog)
{
    UpdateSceneOptions options;
    options.offeredVersion = "1.0.0.1";
    UpdateScene scene(options);
    platform::DeleteEvent(scene.EventName());
    auto dlg = scene.MakeDialog();
    dlg->OnInitDialog();
    EXPECT_EQ(dlg->GetModalResult(), 1);
    EXPECT_EQ(platform::OpenEventW(scene.EventName()), nullptr) << "the updater must not create the event";
}

TEST(UpdateSequence, AbandoningADueUpdateChangesNothing)
{
    UpdateScene scene;
    const std::string manifestBefore = testsupport::ReadFileBytes(scene.Install() / "version.ini");
    auto dlg = scene.MakeDialog();
    dlg->OnInitDialog();
    ASSERT_FALSE(dlg->HasEnded());
    dlg->AbandonUpdate();
    EXPECT_EQ(testsupport::ReadFileBytes(scene.Install() / "version.ini"), manifestBefore);
    EXPECT_FALSE(std::filesystem::exists(scene.Install() / "newversion.ini"));
    EXPECT_TRUE(scene.ProcessControlCalls().empty()) << "nothing was stopped";
    platform::InstallLock lock;
    EXPECT_TRUE(lock.TryAcquire(U16(scene.Install().string())));
}
