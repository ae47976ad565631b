// The Windows updater under Wine, driven from Linux: the scene (FTP server on
// 127.0.0.1, installed manifest, published update) is the Linux suites' own,
// and MorvexUpdate.exe runs in its installation folder as a product would
// start it. The whole update runs through its dialog on the test run's X
// display; a picture of it is kept in the build folder
// (tests/wine/e2e/screenshots/*.png) for a person to look at.
#include <gtest/gtest.h>

#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "support/child_process.h"
#include "support/temp_dir.h"
#include "support/wait.h"
#include "support/x_screen.h"
#include "updater/workflow/update/update_fixture.h"
#include "wine/wine_path.h"
#include "wine/wine_run.h"

namespace {

namespace fs = std::filesystem;
using namespace std::chrono_literals;
using testsupport::XScreen;
using testsupport::XWindowId;

// The scene opened to the Wine user, with the Windows programs in its
// installation folder (the window module and the process-control program
// only when asked for).
fs::path PrepareInstall(UpdateScene& scene, bool withModule)
{
    fs::copy_file(fs::path(MORVEX_WINDOWS_BIN) / "MorvexUpdate.exe", scene.Install() / "MorvexUpdate.exe");
    if (withModule) {
        fs::copy_file(fs::path(MORVEX_WINDOWS_BIN) / "MorvexUpdateUi.dll", scene.Install() / "MorvexUpdateUi.dll");
        fs::copy_file(fs::path(MORVEX_WINDOWS_BIN) / "Haltwick.exe", scene.Install() / "Haltwick.exe");
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

// A top-level window of any process whose title starts with `prefix`; 0
// when there is none. (Wine's processes run as another user, behind a
// launcher: their process ids are not the test's to know.)
XWindowId WindowTitledFrom(XScreen& screen, const std::string& prefix)
{
    for (const testsupport::TopLevel& window : screen.WindowsOf(XScreen::kAnyProcess)) {
        if (window.title.starts_with(prefix)) {
            return window.id;
        }
    }
    return 0;
}

XWindowId WaitForWindowTitledFrom(XScreen& screen, const std::string& prefix, std::chrono::milliseconds bound)
{
    XWindowId found = 0;
    testsupport::WaitUntil([&] { return (found = WindowTitledFrom(screen, prefix)) != 0; }, bound);
    return found;
}

// The window as it stands once it has finished repainting (two captures in a
// row that agree), kept as screenshots/<test>-<name>.png.
testsupport::Image Shoot(XScreen& screen, XWindowId window, const std::string& name)
{
    testsupport::Image shot = screen.Capture(screen.Geometry(window));
    for (int attempt = 0; attempt < 40; ++attempt) {
        std::this_thread::sleep_for(50ms);
        testsupport::Image again = screen.Capture(screen.Geometry(window));
        const bool settled = again.SameAs(shot);
        shot = std::move(again);
        if (settled) {
            break;
        }
    }
    const auto* test = ::testing::UnitTest::GetInstance()->current_test_info();
    shot.SavePng(fs::path(MORVEX_BINARY_DIR) / "tests" / "wine" / "e2e" / "screenshots" /
                 (std::string(test->name()) + "-" + name + ".png"));
    return shot;
}

// The width of the text ink (dark on the dialog's light face) in a part of
// the dialog given in the dialog units of its 320 x 185 template: the
// window's client area is the template converted, so a fraction of it finds
// the part.
int InkWidth(const testsupport::Image& dialog, int x, int y, int width, int height)
{
    const int w = dialog.width();
    const int h = dialog.height();
    return dialog.Bounds({x * w / 320, y * h / 185, width * w / 320, height * h / 185}, {0, 0, 0}, 100).width;
}

// Ends the Windows processes of these names when the test ends, whatever
// happened: what the updater starts through the shell or detached runs in a
// session of its own under Wine, which ending the updater does not reach.
class EndedAtTheEnd {
public:
    explicit EndedAtTheEnd(std::vector<std::string> names) : m_names(std::move(names)) {}
    ~EndedAtTheEnd()
    {
        for (const std::string& name : m_names) {
            testsupport::RunAndWait({MORVEX_WINE_RUN, MORVEX_WINDOWS_BIN "/Haltwick.exe", "-k", name});
        }
    }
    EndedAtTheEnd(const EndedAtTheEnd&) = delete;
    EndedAtTheEnd& operator=(const EndedAtTheEnd&) = delete;

private:
    std::vector<std::string> m_names;
};

// An update due, with the product running: the product is stopped through
// Haltwick.exe, the dialog downloads and installs, the user confirms the
// message, the release notes are opened and the product is started again.
TEST(WindowsUpdater, RunsAWholeUpdateThroughItsDialog)
{
    XScreen screen;
    if (std::getenv("DISPLAY") == nullptr || !screen.ok()) {
        GTEST_SKIP() << "needs a display (scripts/windows-test.sh starts one)";
    }
    UpdateScene scene;
    // The product is a stand-in under the product's own program name, in the
    // current directory, where Haltwick.exe looks for what it starts. It
    // waits on the completion event, which an update leaves unsignalled.
    fs::copy_file(fs::path(MORVEX_WINDOWS_BIN) / "event_waiter.exe", scene.WorkDir() / "Zentora.exe");
    testsupport::WriteFileBytes(scene.WorkDir() / "update.txt", "release notes\r\n");
    const fs::path root = PrepareInstall(scene, true);
    const fs::path ready = root / "ready.txt";
    const EndedAtTheEnd leftovers({"notepad.exe", "Zentora.exe"});
    const auto product =
        StartUnderWine({WinePath(scene.WorkDir() / "Zentora.exe"), "MORVEX_UPDATE_COMPLETE", WinePath(ready), "600"},
                       false, root / "product-stderr.txt");
    ASSERT_TRUE(testsupport::WaitUntil([&] { return fs::exists(ready); }, 5min)) << "the product never started";

    const auto updater =
        StartUnderWine({WinePath(scene.Install() / "MorvexUpdate.exe")}, true, root / "updater-stderr.txt");
    const auto err = [&] { return testsupport::ReadFileBytes(root / "updater-stderr.txt"); };
    const XWindowId box = WaitForWindowTitledFrom(screen, "升级成功", 5min);
    ASSERT_NE(box, 0u) << "no success message; still running: " << updater->Running() << "; stderr: " << err();
    const XWindowId dialog = WindowTitledFrom(screen, "自动升级程序");
    ASSERT_NE(dialog, 0u) << "the message came without the dialog";
    // Out of the way of the dialog for the picture.
    testsupport::Xdo("windowmove --sync " + std::to_string(box) + " 0 0");
    const testsupport::Image done = Shoot(screen, dialog, "succeeded");
    // The status line says "您的程序已经升级为最新版本!" (13 ideographs and "!"),
    // about half as wide as the welcome text's first line (26 ideographs
    // wide) in any font; the texts before it are at most a third.
    const double statusWidth = InkWidth(done, 118, 62, 190, 24);
    const double welcomeWidth = InkWidth(done, 117, 14, 193, 12);
    EXPECT_GT(welcomeWidth, done.width() / 3) << "the welcome text is shown";
    EXPECT_GT(statusWidth / welcomeWidth, 0.42) << "the status line shows the success text";
    EXPECT_LT(statusWidth / welcomeWidth, 0.65);
    Shoot(screen, box, "message");
    EXPECT_TRUE(testsupport::PressKey(box, "Return"));

    EXPECT_EQ(ExitWithin(*updater, 5min), 0) << err();
    // Ended by Haltwick.exe: neither signalled (0) nor out of time (3).
    EXPECT_EQ(ExitWithin(*product, 5min), 1) << "the product was not ended";
    EXPECT_TRUE(testsupport::WaitUntil([&] { return fs::exists(scene.WorkDir() / "started.txt"); }, 5min))
        << "the product was not started again";
    EXPECT_EQ(testsupport::ReadFileBytes(scene.WorkDir() / "started.txt"), "-nonupdate\n");

    EXPECT_EQ(scene.InstalledVersion(), "1.0.0.12");
    EXPECT_EQ(testsupport::ReadFileBytes(scene.Install() / "docs" / "readme.txt"), "version 1.0.0.12");
    EXPECT_EQ(testsupport::ReadFileBytes(scene.Install() / "payload.bin"),
              testsupport::ReadFileBytes(scene.Content() / "payload.bin"));
    EXPECT_EQ(scene.PeopleInDatabase(), (std::vector<std::string>{"老员工", "新同事"}));
    EXPECT_FALSE(fs::exists(scene.Install() / "newversion.ini"));

    // The release notes, in Notepad (ended with the test).
    EXPECT_NE(WaitForWindowTitledFrom(screen, "update.txt", 2min), 0u) << "the release notes were not shown";
}

}  // namespace
