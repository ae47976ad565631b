// The Windows updater under Wine, driven from Linux: the scene (FTP server on
// 127.0.0.1, installed manifest, published update) is the Linux suites' own,
// and MorvexUpdate.exe runs in its installation folder as a product would
// start it.
#include <gtest/gtest.h>

#include <chrono>
#include <filesystem>
#include <memory>
#include <string>
#include <vector>

#include "support/child_process.h"
#include "support/temp_dir.h"
#include "support/wait.h"
#include "updater/workflow/update/update_fixture.h"
#include "wine/wine_path.h"
#include "wine/wine_run.h"

namespace {

namespace fs = std::filesystem;

// The scene opened to the Wine user, with the Windows programs in its
// installation folder (the window module only when asked for).
fs::path PrepareInstall(UpdateScene& scene, bool withModule)
{
    fs::copy_file(fs::path(MORVEX_WINDOWS_BIN) / "MorvexUpdate.exe", scene.Install() / "MorvexUpdate.exe");
    if (withModule) {
        fs::copy_file(fs::path(MORVEX_WINDOWS_BIN) / "MorvexUpdateUi.dll", scene.Install() / "MorvexUpdateUi.dll");
    }
    const fs::path root = scene.Install().parent_path();
    OpenToWine(root);
    return root;
}

TEST(WindowsUpdater, WithNoUpdateItSignalsTheWaitingProduct)
{
    UpdateSceneOptions options;
    options.offeredVersion = options.installedVersion;
    UpdateScene scene(options);
    const fs::path root = PrepareInstall(scene, true);
    const fs::path ready = root / "ready.txt";

    // The event's name is the real one; the Wine prefix is private to this
    // run, so no other run on the machine shares it.
    const auto product = StartUnderWine(
        {MORVEX_WINDOWS_BIN "/event_waiter.exe", "MORVEX_UPDATE_COMPLETE", WinePath(ready), "300"}, false,
        root / "waiter-stderr.txt");
    ASSERT_TRUE(testsupport::WaitUntil([&] { return fs::exists(ready); }, std::chrono::minutes(5)))
        << "the product's stand-in never made the event";

    const auto updater =
        StartUnderWine({WinePath(scene.Install() / "MorvexUpdate.exe")}, true, root / "updater-stderr.txt");
    EXPECT_EQ(ExitWithin(*updater, std::chrono::seconds(300)), 0)
        << testsupport::ReadFileBytes(root / "updater-stderr.txt");
    EXPECT_EQ(ExitWithin(*product, std::chrono::seconds(300)), 0)
        << "the product's wait ends with the updater's signal";
    EXPECT_FALSE(fs::exists(scene.Install() / "newversion.ini"));
    EXPECT_EQ(scene.InstalledVersion(), options.installedVersion);
}

// The same start with an update on offer: the manifest came over FTP and was
// compared, and without its window module the updater changes nothing. (A run
// that could not reach the server would look like the one above.)
TEST(WindowsUpdater, AnUpdateDueWithoutItsWindowModuleIsLeftForLater)
{
    UpdateScene scene;
    const fs::path root = PrepareInstall(scene, false);
    const std::string manifest = testsupport::ReadFileBytes(scene.Install() / "version.ini");

    const auto updater =
        StartUnderWine({WinePath(scene.Install() / "MorvexUpdate.exe")}, true, root / "updater-stderr.txt");
    EXPECT_EQ(ExitWithin(*updater, std::chrono::seconds(300)), 1);
    EXPECT_NE(testsupport::ReadFileBytes(root / "updater-stderr.txt").find("the window module cannot be loaded"),
              std::string::npos)
        << testsupport::ReadFileBytes(root / "updater-stderr.txt");
    EXPECT_EQ(testsupport::ReadFileBytes(scene.Install() / "version.ini"), manifest);
    EXPECT_FALSE(fs::exists(scene.Install() / "newversion.ini"));
    EXPECT_EQ(scene.PeopleInDatabase(), std::vector<std::string>{"老员工"});
}

}  // namespace
