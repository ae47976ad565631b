// The built MorvexUpdate in a prepared installation against the local FTP
// server, on the test's display: what the user sees and can do, and what the
// run leaves behind. Screenshots are kept in the build folder
// (tests/updater/e2e/screenshots/*.ppm) for a person to look at. Signed
// updates too: what a pinned installation installs, what it refuses, and that
// a refusal leaves it exactly as it was.
#include <gtest/gtest.h>

#include <signal.h>

#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <functional>
#include <map>
#include <string>
#include <thread>

#include "platform/named_event.h"
#include "support/child_process.h"
#include "support/private_shm.h"
#include "support/temp_dir.h"
#include "support/x_screen.h"
#include "updater/install/minisign.h"
#include "support/script_tools.h"
#include "updater/workflow/update/update_fixture.h"

namespace {

using testsupport::ChildOptions;
using testsupport::ChildProcess;
using testsupport::Box;
using testsupport::Image;
using testsupport::Rgb;
using testsupport::XWindowId;
using namespace std::chrono_literals;
using testsupport::ReadFileBytes;
using testsupport::WriteFileBytes;

// The exit status once the program ended within `seconds`; -1 when it did
// not, or did not exit normally.
int ExitStatus(ChildProcess& run, int seconds)
{
    return run.WaitForExit(std::chrono::seconds(seconds)) ? run.ExitCode() : -1;
}

// Repeats `close` (a close request, a key) until the program ends, for up to
// a minute: the dialog refuses closing until the product's start request is
// out. The exit status, or -1.
int CloseWhenAllowed(ChildProcess& run, const std::function<void()>& close)
{
    for (int attempt = 0; attempt < 600; ++attempt) {
        close();
        if (run.WaitForExit(std::chrono::milliseconds(100))) {
            return run.ExitCode();
        }
    }
    return -1;
}

const std::string kDialogTitle = "自动升级程序";

// Every file below the installation with its size and hash; the installation
// lock, which every run leaves, aside.
std::map<std::string, std::string> Contents(const std::filesystem::path& folder)
{
    std::map<std::string, std::string> files;
    for (const auto& entry : std::filesystem::recursive_directory_iterator(folder)) {
        const std::string name = std::filesystem::relative(entry.path(), folder).string();
        if (entry.is_regular_file() && name != "MorvexUpdate.lock") {
            const std::string bytes = ReadFileBytes(entry.path());
            files[name] = std::to_string(bytes.size()) + ":" + std::to_string(std::hash<std::string>{}(bytes));
        } else if (!entry.is_regular_file()) {
            files[name + "/"] = "";
        }
    }
    return files;
}

// A signature of the server's update.zip by the secret key file `key`.
std::string SignArchive(UpdateScene& scene, const std::string& key, const std::string& comment)
{
    std::string error;
    minisign::Digest digest{};
    const auto secret = minisign::ParseSecretKey(key, "", &error);
    EXPECT_TRUE(secret && minisign::DigestOfFile((scene.ServerFolder() / "update.zip").string(), &digest, &error));
    return minisign::SignDigest(*secret, digest, comment);
}

// Places of controls in dialog units of the 320 x 185 template; the window's
// client area is the template converted, so a fraction of it finds them.
struct DialogUnits {
    int x, y, width, height;
};
constexpr DialogUnits kProgressBar{119, 91, 185, 13};
constexpr DialogUnits kStatusLine{118, 62, 190, 24};  // the line with room around it
constexpr DialogUnits kWelcome{117, 14, 193, 24};
constexpr DialogUnits kStartButton{208, 160, 45, 13};
constexpr DialogUnits kBackground{312, 178, 4, 4};

Box Locate(const Image& dialog, DialogUnits units)
{
    const int width = dialog.area().width;
    const int height = dialog.area().height;
    return {units.x * width / 320, units.y * height / 185, units.width * width / 320,
            units.height * height / 185};
}

bool IsAccent(Rgb pixel) { return pixel.b > 150 && pixel.b > pixel.r + 60; }
bool IsInk(Rgb pixel) { return pixel.r < 110 && pixel.g < 110 && pixel.b < 110; }

// The share of the progress bar's width that is filled.
double ProgressFill(const Image& dialog)
{
    const Box bar = Locate(dialog, kProgressBar);
    int lastFilled = -1;
    for (int x = 0; x < bar.width; ++x) {
        for (int y = 0; y < bar.height; ++y) {
            if (IsAccent(dialog.At(bar.left + x, bar.top + y))) {
                lastFilled = x;
                break;
            }
        }
    }
    return static_cast<double>(lastFilled + 1) / bar.width;
}

// Width in pixels from the first to the last column with text ink; 0: none.
int InkWidth(const Image& dialog, DialogUnits units)
{
    const Box area = Locate(dialog, units);
    int first = -1;
    int last = -1;
    for (int x = 0; x < area.width; ++x) {
        for (int y = 0; y < area.height; ++y) {
            if (IsInk(dialog.At(area.left + x, area.top + y))) {
                first = first < 0 ? x : first;
                last = x;
                break;
            }
        }
    }
    return first < 0 ? 0 : last - first + 1;
}

bool IsPlainBackground(const Image& dialog, DialogUnits units)
{
    const Box sample = Locate(dialog, kBackground);
    const Rgb background = dialog.At(sample.left, sample.top);
    const Box area = Locate(dialog, units);
    for (int y = 0; y < area.height; ++y) {
        for (int x = 0; x < area.width; ++x) {
            const Rgb pixel = dialog.At(area.left + x, area.top + y);
            if (std::abs(pixel.r - background.r) + std::abs(pixel.g - background.g) +
                    std::abs(pixel.b - background.b) > 24) {
                return false;
            }
        }
    }
    return true;
}

std::filesystem::path ScreenshotPath(const std::string& name)
{
    const auto* test = ::testing::UnitTest::GetInstance()->current_test_info();
    return std::filesystem::path(MORVEX_BINARY_DIR) / "tests" / "updater" / "e2e" / "screenshots" /
           (std::string(test->name()) + "-" + name + ".png");
}

// Focuses a window and types one key into it, as a user would.
void PressKey(XWindowId window, const char* key)
{
    EXPECT_TRUE(testsupport::PressKey(window, key)) << key;
}

class UpdaterProgram : public ::testing::Test {
protected:
    // The program and (unless told otherwise) its window module, copied into
    // the installation: the program takes its installation from its own path.
    void Prepare(UpdateScene& scene, bool withModule)
    {
        std::vector<const char*> files = {"MorvexUpdate"};
        if (withModule) {
            files.push_back("libMorvexUpdateUi.so");
        }
        for (const char* file : files) {
            std::filesystem::copy_file(std::filesystem::path(MORVEX_BINARY_DIR) / "bin" / file,
                                       scene.Install() / file);
        }
        m_stderr = scene.Install().parent_path() / "stderr.txt";
    }
    // Output into m_stderr; no display unless `withDisplay`.
    ChildOptions Output(bool withDisplay) const
    {
        ChildOptions options{.stdoutFile = m_stderr, .stderrFile = m_stderr};
        if (!withDisplay) {
            options.unsetEnv = {"DISPLAY", "WAYLAND_DISPLAY"};
        }
        return options;
    }
    std::vector<std::string> Updater(const UpdateScene& scene, const std::vector<std::string>& args = {}) const
    {
        std::vector<std::string> argv{(scene.Install() / "MorvexUpdate").string()};
        argv.insert(argv.end(), args.begin(), args.end());
        return argv;
    }
    std::unique_ptr<ChildProcess> Start(UpdateScene& scene, bool withDisplay,
                                        const std::vector<std::string>& args = {}, bool withModule = true)
    {
        Prepare(scene, withModule);
        auto run = std::make_unique<ChildProcess>(Updater(scene, args), Output(withDisplay));
        EXPECT_GT(run->pid(), 0) << "the program could not be started";
        return run;
    }
    // GTEST_SKIP only leaves the function it is in: tests check this and skip
    // themselves rather than go on without a screen.
    bool HasDisplay() const { return std::getenv("DISPLAY") != nullptr && m_screen.ok(); }
    // The dialog as it stands once it has finished repainting: two captures in
    // a row that agree.
    Image Shoot(XWindowId dialog, const std::string& name)
    {
        Image shot = m_screen.Capture(m_screen.Geometry(dialog));
        for (int attempt = 0; attempt < 40; ++attempt) {
            std::this_thread::sleep_for(std::chrono::milliseconds(50));
            Image again = m_screen.Capture(m_screen.Geometry(dialog));
            const bool settled = again.SameAs(shot);
            shot = std::move(again);
            if (settled) {
                break;
            }
        }
        shot.SavePng(ScreenshotPath(name));
        return shot;
    }

    // Runs the program with a display, confirms the message box titled
    // `caption` and closes the dialog; m_before is the installation before the
    // run. The exit status.
    int RunAndConfirm(UpdateScene& scene, const char* caption)
    {
        Prepare(scene, true);
        m_before = Contents(scene.Install());
        ChildProcess run(Updater(scene), Output(true));
        const XWindowId box = m_screen.WaitForWindow(run.pid(), caption, 60s);
        EXPECT_NE(box, 0u) << "no message box " << caption << "; stderr: " << Err();
        PressKey(box, "Return");
        const XWindowId dialog = m_screen.WaitForWindow(run.pid(), kDialogTitle, 10s);
        if (dialog != 0 && run.Running()) {
            return CloseWhenAllowed(run, [&] { m_screen.RequestClose(dialog); });
        }
        return ExitStatus(run, 30);
    }
    std::string Err() const { return ReadFileBytes(m_stderr); }

    testsupport::XScreen m_screen;
    std::filesystem::path m_stderr;
    std::map<std::string, std::string> m_before;
};

}  // namespace

TEST_F(UpdaterProgram, ShowsTheDownloadRefusesClosingAndCompletesTheUpdate)
{
    if (!HasDisplay()) {
        GTEST_SKIP() << "needs a display (ctest runs under xvfb-run -a)";
    }
    UpdateSceneOptions options;
    // The archive (about 1 MB) pauses at about 40 % until the test has seen it.
    const testsupport::TempDir release;
    options.server.stallAfterBytes = 400000;
    options.server.stallSeconds = 600;
    options.server.stallUntilFile = release / "go";
    UpdateScene scene(options);
    auto run = Start(scene, true);

    const XWindowId dialog = m_screen.WaitForWindow(run->pid(), kDialogTitle, 30s);
    ASSERT_NE(dialog, 0u) << "the dialog titled " << kDialogTitle << " did not appear";

    Image downloading;
    for (int attempt = 0; attempt < 100; ++attempt) {
        downloading = Shoot(dialog, "downloading");
        if (ProgressFill(downloading) > 0.05) {
            break;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(50));
    }
    const double paused = ProgressFill(downloading);
    EXPECT_GT(paused, 0.2) << "the bar should stand near 40 % while the server pauses";
    EXPECT_LT(paused, 0.65);
    EXPECT_GT(InkWidth(downloading, kWelcome), downloading.area().width / 3) << "the welcome text is shown";
    EXPECT_TRUE(IsPlainBackground(downloading, kStartButton)) << "the start button must be hidden";

    // Esc, Enter and the window manager's close (the close box, Alt+F4) are
    // all refused while the installation may be changing.
    PressKey(dialog, "Escape");
    PressKey(dialog, "Return");
    m_screen.RequestClose(dialog);
    std::this_thread::sleep_for(std::chrono::milliseconds(300));
    EXPECT_TRUE(run->Running()) << "closing must be refused during the download";
    EXPECT_NE(m_screen.FindWindow(run->pid(), kDialogTitle), 0u);
    testsupport::WriteFileBytes(release / "go", "");

    const XWindowId box = m_screen.WaitForWindow(run->pid(), "升级成功", 60s);
    ASSERT_NE(box, 0u) << "the success message titled 升级成功 did not appear";
    // Out of the way of the dialog's status line for the picture.
    testsupport::Xdo("windowmove --sync " + std::to_string(box) + " 0 0");
    const Image done = Shoot(dialog, "succeeded");
    EXPECT_GT(ProgressFill(done), 0.97) << "the bar ends full";
    // "您的程序已经升级为最新版本!" is 13 ideographs and "!", "正在下载新版本..." 7 and
    // three dots: the finished line is about 1.7 times as wide in any CJK font.
    const double ratio = static_cast<double>(InkWidth(done, kStatusLine)) / InkWidth(downloading, kStatusLine);
    EXPECT_GT(ratio, 1.45) << "the status line should have changed to the success text";
    EXPECT_LT(ratio, 1.95);

    PressKey(box, "Return");
    EXPECT_EQ(ExitStatus(*run, 30), 0) << "the program ends when the dialog ends";
    EXPECT_EQ(scene.InstalledVersion(), "1.0.0.12");
    EXPECT_EQ(scene.PeopleInDatabase(), (std::vector<std::string>{"老员工", "新同事"}));
    EXPECT_EQ(scene.ProcessControlCalls(),
              (std::vector<std::string>{"-k Zentora.exe", "-s Zentora.exe -nonupdate"}));
    EXPECT_EQ(scene.OpenedDocuments(), std::vector<std::string>{scene.WorkDir().string() + " update.txt"});
}

TEST_F(UpdaterProgram, AfterAFailedPatchTheUserClosesTheDialog)
{
    if (!HasDisplay()) {
        GTEST_SKIP() << "needs a display (ctest runs under xvfb-run -a)";
    }
    UpdateSceneOptions options;
    options.scriptUtf8 = "INSERT INTO nowhere VALUES(1);";
    UpdateScene scene(options);
    auto run = Start(scene, true);

    const XWindowId box = m_screen.WaitForWindow(run->pid(), "升级失败", 60s);
    ASSERT_NE(box, 0u) << "the failure message titled 升级失败 did not appear";
    PressKey(box, "Return");
    const XWindowId dialog = m_screen.WaitForWindow(run->pid(), kDialogTitle, 10s);
    ASSERT_NE(dialog, 0u);
    std::this_thread::sleep_for(std::chrono::milliseconds(300));
    EXPECT_TRUE(run->Running()) << "the dialog stays open after the failure";
    Shoot(dialog, "failed");

    // The closing must not end the program before the product is started.
    EXPECT_EQ(CloseWhenAllowed(*run, [&] { PressKey(dialog, "Escape"); }), 0)
        << "once the lock is released Esc ends the program";
    EXPECT_EQ(scene.InstalledVersion(), "1.0.0.1");
    EXPECT_EQ(scene.ProcessControlCalls(), (std::vector<std::string>{"-k Zentora.exe", "-s Zentora.exe -nonupdate"}))
        << "the old installation is restored whole, so the product is started again";
}

TEST_F(UpdaterProgram, KilledWhileItsLastMessageIsUpTheNextStartStartsTheProduct)
{
    if (!HasDisplay()) {
        GTEST_SKIP() << "needs a display (ctest runs under xvfb-run -a)";
    }
    UpdateScene scene;
    auto run = Start(scene, true);
    ASSERT_NE(m_screen.WaitForWindow(run->pid(), "升级成功", 60s), 0u) << "the success message did not appear";
    // A logout or a kill: nothing of the program runs any more.
    ASSERT_EQ(kill(run->pid(), SIGKILL), 0);
    EXPECT_EQ(ExitStatus(*run, 30), -1);
    EXPECT_EQ(scene.ProcessControlCalls(), std::vector<std::string>{"-k Zentora.exe"});
    EXPECT_EQ(scene.InstalledVersion(), "1.0.0.12") << "the update itself was complete";

    // No update is due any more, so the next start needs no display.
    ChildProcess again(Updater(scene), Output(false));
    EXPECT_EQ(ExitStatus(again, 30), 0);
    ChildProcess third(Updater(scene), Output(false));
    EXPECT_EQ(ExitStatus(third, 30), 0);
    EXPECT_EQ(scene.ProcessControlCalls(), (std::vector<std::string>{"-k Zentora.exe", "-s Zentora.exe -nonupdate"}))
        << "started by the next start, and by that one only";
}

TEST_F(UpdaterProgram, AWriteOverTheFileSizeLimitFailsTheUpdateInsteadOfEndingTheProgram)
{
    if (!HasDisplay()) {
        GTEST_SKIP() << "needs a display (ctest runs under xvfb-run -a)";
    }
    UpdateSceneOptions options;
    options.zeroFileBytes = 32u << 20;  // unpacks past the limit below; everything else stays under it
    UpdateScene scene(options);
    Prepare(scene, true);
    ChildProcess run({"/usr/bin/prlimit", "--fsize=" + std::to_string(8u << 20),
                      (scene.Install() / "MorvexUpdate").string()},
                     Output(true));
    ASSERT_GT(run.pid(), 0);

    const XWindowId box = m_screen.WaitForWindow(run.pid(), "升级失败", 60s);
    ASSERT_NE(box, 0u) << "the failure message did not appear; still running: " << run.Running();
    Shoot(box, "box");
    PressKey(box, "Return");
    const XWindowId dialog = m_screen.WaitForWindow(run.pid(), kDialogTitle, 10s);
    ASSERT_NE(dialog, 0u);
    EXPECT_EQ(CloseWhenAllowed(run, [&] { m_screen.RequestClose(dialog); }), 0);
    EXPECT_EQ(scene.InstalledVersion(), "1.0.0.1");
    EXPECT_FALSE(std::filesystem::exists(scene.Install() / "zeros.bin")) << "the cut-off file must not stay";
    EXPECT_EQ(scene.PeopleInDatabase(), std::vector<std::string>{"老员工"});
    EXPECT_EQ(scene.ProcessControlCalls(), (std::vector<std::string>{"-k Zentora.exe", "-s Zentora.exe -nonupdate"}));
}

// No update: the installed version offered again, or a pinned installation's
// manifest without its signature.
TEST_F(UpdaterProgram, WithNoUpdateItSignalsTheProductWithoutAnyDisplay)
{
    // The event's name is machine-wide: any other updater run on this machine
    // would post it as well. So the test runs again in a mount namespace of
    // its own, with a /dev/shm that no other run can reach.
    MORVEX_RUN_WITH_PRIVATE_SHM();
    for (const bool unsignedManifest : {false, true}) {
        SCOPED_TRACE(unsignedManifest ? "manifest without its signature" : "same version");
        UpdateSceneOptions options;
        options.signedUpdate = unsignedManifest;
        if (!unsignedManifest) {
            options.offeredVersion = options.installedVersion;
        }
        UpdateScene scene(options);
        std::filesystem::remove(scene.ServerFolder() / "version.ini.minisig");
        platform::DeleteEvent(u"MORVEX_UPDATE_COMPLETE");
        platform::HEVENT event = platform::CreateEventW(u"MORVEX_UPDATE_COMPLETE");
        ASSERT_NE(event, nullptr);

        Prepare(scene, true);
        const auto before = Contents(scene.Install());
        // Arguments are ignored.
        ChildProcess run(Updater(scene, {"--anything", "at all"}), Output(false));
        EXPECT_EQ(ExitStatus(run, 30), 0);
        EXPECT_EQ(platform::GetEventCount(event), 1) << "the product's event is posted once";
        EXPECT_FALSE(std::filesystem::exists(scene.Install() / "newversion.ini"));
        EXPECT_EQ(Contents(scene.Install()), before);
        EXPECT_EQ(scene.ProcessControlCalls().size(), 0u);
        EXPECT_EQ(Err().find("manifest is not verified") != std::string::npos, unsignedManifest) << Err();
        platform::CloseEventHandle(event);
        platform::DeleteEvent(u"MORVEX_UPDATE_COMPLETE");
    }
}

TEST_F(UpdaterProgram, AnUpdateDueThatCannotBeShownIsLeftForLater)
{
    struct Row {
        const char* why;
        bool withModule;
        const char* message;
    };
    for (const Row& row : {Row{"no display", true, "no display can be opened"},
                           Row{"no window module", false, "the window module cannot be loaded"}}) {
        SCOPED_TRACE(row.why);
        UpdateScene scene;
        const std::string manifest = testsupport::ReadFileBytes(scene.Install() / "version.ini");
        auto run = Start(scene, false, {}, row.withModule);
        EXPECT_EQ(ExitStatus(*run, 30), 1);
        EXPECT_NE(testsupport::ReadFileBytes(m_stderr).find(row.message), std::string::npos)
            << "the reason belongs on standard error";
        EXPECT_EQ(testsupport::ReadFileBytes(scene.Install() / "version.ini"), manifest);
        EXPECT_FALSE(std::filesystem::exists(scene.Install() / "newversion.ini"));
        EXPECT_EQ(scene.ProcessControlCalls().size(), 0u) << "the product must not be stopped";
        EXPECT_EQ(scene.PeopleInDatabase(), std::vector<std::string>{"老员工"});
    }
}

TEST_F(UpdaterProgram, SignedWithThePinnedKeyOrWithoutAnyKeyTheUpdateInstalls)
{
    if (!HasDisplay()) {
        GTEST_SKIP() << "needs a display (ctest runs under xvfb-run -a)";
    }
    for (const bool pinned : {true, false}) {
        SCOPED_TRACE(pinned ? "signed" : "no key");
        UpdateSceneOptions options;
        options.signedUpdate = pinned;
        UpdateScene scene(options);
        EXPECT_EQ(RunAndConfirm(scene, "升级成功"), 0);
        EXPECT_EQ(scene.InstalledVersion(), "1.0.0.12");
        EXPECT_EQ(scene.PeopleInDatabase(), (std::vector<std::string>{"老员工", "新同事"}));
        const std::string err = Err();
        const std::size_t said = err.find("the update source is not verified");
        EXPECT_EQ(said == std::string::npos, pinned) << err;
        EXPECT_EQ(err.find("the update source is not verified", said + 1), std::string::npos) << "one line";
    }
}

TEST_F(UpdaterProgram, AnArchiveThatFailsItsSignatureChangesNothing)
{
    if (!HasDisplay()) {
        GTEST_SKIP() << "needs a display (ctest runs under xvfb-run -a)";
    }
    const std::string comment = "morvex code=zt_e version=1.0.0.12 file=update.zip";
    std::string error;
    const std::string otherKey = minisign::GenerateKeyPair(false, "", &error)->secretKeyFile;
    const std::map<std::string, std::function<void(UpdateScene&)>> spoilers = {
        {"archive replaced after signing",
         [](UpdateScene& scene) {
             std::string bytes = ReadFileBytes(scene.ServerFolder() / "update.zip");
             bytes[bytes.size() / 2] = static_cast<char>(bytes[bytes.size() / 2] ^ 0x20);
             WriteFileBytes(scene.ServerFolder() / "update.zip", bytes);
         }},
        {"signed by another key",
         [&](UpdateScene& scene) {
             WriteFileBytes(scene.ServerFolder() / "update.zip.minisig", SignArchive(scene, otherKey, comment));
         }},
        {"signature for another version",
         [](UpdateScene& scene) {
             WriteFileBytes(scene.ServerFolder() / "update.zip.minisig",
                            SignArchive(scene, ReadFileBytes(scene.KeysFolder() / "MorvexUpdate.key"),
                                        "morvex code=zt_e version=1.0.0.11 file=update.zip"));
         }},
        {"signature for the other file",
         [](UpdateScene& scene) {
             std::filesystem::copy_file(scene.ServerFolder() / "version.ini.minisig",
                                        scene.ServerFolder() / "update.zip.minisig",
                                        std::filesystem::copy_options::overwrite_existing);
         }},
    };
    for (const auto& [what, spoil] : spoilers) {
        SCOPED_TRACE(what);
        UpdateSceneOptions options;
        options.signedUpdate = true;
        UpdateScene scene(options);
        spoil(scene);
        EXPECT_EQ(RunAndConfirm(scene, "升级失败"), 0);
        EXPECT_EQ(Contents(scene.Install()), m_before) << "the installation must be exactly as it was";
        EXPECT_EQ(scene.ProcessControlCalls(),
                  (std::vector<std::string>{"-k Zentora.exe", "-s Zentora.exe -nonupdate"}));
        EXPECT_NE(Err().find("the update package is not verified"), std::string::npos) << Err();
    }
}
