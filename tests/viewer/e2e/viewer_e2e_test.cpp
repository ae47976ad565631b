// CvGlance as its users meet it: the built program on the test's X display,
// showing resumes from the local FTP server. Everything is judged from what
// the X server shows (screenshots, windows, selections) and from the pages
// the program reports loaded.
#include <gtest/gtest.h>

#include <csignal>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <memory>
#include <string>
#include <vector>

#include "support/child_process.h"
#include "support/converter_service_scope.h"
#include "support/ftp_server.h"
#include "support/http_listener.h"
#include "support/scoped_env.h"
#include "support/temp_dir.h"
#include "support/wait.h"
#include "support/x_screen.h"

namespace fs = std::filesystem;
using namespace std::chrono_literals;
using testsupport::Box;
using testsupport::Image;
using testsupport::Rgb;
using testsupport::WaitUntil;
using testsupport::Xdo;

namespace {

// The resident converter the real library starts ends with this program.
[[maybe_unused]] ::testing::Environment* const g_converterService =
    ::testing::AddGlobalTestEnvironment(new testsupport::ConverterServiceScope);

const std::string kTitle = "张伟的简历";
const Rgb kBand{21, 96, 165};
const Rgb kBlack{0, 0, 0};
const Rgb kWhite{255, 255, 255};
const Rgb kPhotoTop{200, 40, 160};
const Rgb kPhotoBottom{40, 160, 200};
const Rgb kGlyph{0, 0, 200};
const Rgb kScriptRed{255, 0, 0};
const Rgb kCloseLit{224, 48, 40};
const Rgb kButtonLit{58, 130, 204};

bool Same(Rgb a, Rgb b) { return a.r == b.r && a.g == b.g && a.b == b.b; }

fs::path Fixture(const std::string& name)
{
    return fs::path(MORVEX_SOURCE_DIR) / "tests" / "viewer" / "e2e" / "fixtures" / name;
}

// Screenshots are kept for people to look at after a run.
fs::path ShotFolder()
{
    const auto* test = ::testing::UnitTest::GetInstance()->current_test_info();
    std::string name = std::string(test->test_suite_name()) + "." + test->name();
    for (char& c : name) {
        if (c == '/') {
            c = '_';
        }
    }
    const fs::path folder = fs::path(MORVEX_BINARY_DIR) / "tests" / "viewer" / "e2e" / "shots" / name;
    fs::create_directories(folder);
    return folder;
}

// A file's text; empty when it is not there (yet, or any more).
std::string ReadIfThere(const fs::path& path)
{
    std::ifstream in(path, std::ios::binary);
    std::ostringstream text;
    text << in.rdbuf();
    return in ? text.str() : std::string();
}

class ViewerE2eTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        if (std::getenv("DISPLAY") == nullptr) {
            GTEST_SKIP() << "no X display (run under xvfb-run)";
        }
        m_screen = std::make_unique<testsupport::XScreen>();
        ASSERT_TRUE(m_screen->ok()) << "cannot open the display " << std::getenv("DISPLAY");
        m_workFolder = m_work.path();
        fs::create_directories(m_workFolder / "tmp");
        m_server = std::make_unique<testsupport::FtpServer>(m_served.path());
        ASSERT_TRUE(m_server->ok());
    }

    void Serve(const std::string& fixture, const std::string& name)
    {
        fs::copy_file(Fixture(fixture), m_served.path() / name, fs::copy_options::overwrite_existing);
    }

    void Launch(const std::vector<std::string>& args)
    {
        std::vector<std::string> argv{CVGLANCE_PROGRAM};
        argv.insert(argv.end(), args.begin(), args.end());
        // CVGLANCE_TRACE: the viewer reports each page it has loaded.
        m_log = ShotFolder() / "viewer.log";
        m_viewer = std::make_unique<testsupport::ChildProcess>(
            argv, testsupport::ChildOptions{.env = {{"CVGLANCE_TRACE", "1"}}, .stdoutFile = m_log, .stderrFile = m_log});
    }

    // Empty until the child has opened it.
    std::string Log() const
    {
        std::ifstream in(m_log, std::ios::binary);
        std::ostringstream text;
        text << in.rdbuf();
        return text.str();
    }

    // A page on the server whose photo lies in its ".files" folder, where a
    // converted document's pictures are.
    void ServePage(const std::string& name, const std::string& body)
    {
        fs::create_directories(m_workFolder / "tmp" / "resume1.files");
        fs::copy_file(Fixture("photo.png"), m_workFolder / "tmp" / "resume1.files" / "photo.png");
        testsupport::WriteFileBytes(m_served.path() / name,
                                    "<html><head><meta charset=\"utf-8\"></head><body>" + body +
                                        "<img src=\"resume1.files/photo.png\" style=\"position:absolute;"
                                        "left:500px\" width=\"120\" height=\"150\"></body></html>");
    }

    // Starts the viewer as a product does, plus the work folder, on the file
    // `name` of the server.
    void Start(const std::string& name, const std::string& baseName = "resume1", const std::string& title = kTitle)
    {
        Launch({title, baseName, m_server->url(name), m_server->user(), m_server->password(),
                std::to_string(m_server->port()), m_workFolder.string()});
    }

    // Waits for the viewer's 800 x 600 window; fails the test without one.
    bool FindWindow()
    {
        const bool found = WaitUntil(
            [this] {
                for (const testsupport::TopLevel& window : m_screen->WindowsOf(m_viewer->pid())) {
                    if (window.box.width == 800 && window.box.height == 600) {
                        m_window = window;
                        return true;
                    }
                }
                return false;
            },
            60s);
        EXPECT_TRUE(found) << "expected an 800 x 600 viewer window; log:\n" << Log();
        return found;
    }

    // Waits until the viewer reports the document loaded and the photo shows.
    bool WaitShown(const std::string& document, std::chrono::milliseconds timeout = 60s)
    {
        const std::string line = "page loaded " + (m_workFolder / "tmp" / document).string();
        if (!WaitUntil([&] { return Log().find(line) != std::string::npos; }, timeout)) {
            ADD_FAILURE() << "expected \"" << line << "\"; log:\n" << Log();
            return false;
        }
        if (!FindWindow()) {
            return false;
        }
        // The box is read again each time: the window may still be placed.
        const bool painted = WaitUntil(
            [this] {
                UpdateWindow();
                return m_screen->Shot().Count(WindowBox(), kPhotoTop, 12) > 4000;
            },
            60s);
        if (!painted) {
            Shot("photo-missing");
        }
        EXPECT_TRUE(painted) << "expected the photo on the screen in the window at (" << WindowBox().left << ", "
                             << WindowBox().top << "); picture: photo-missing.png; log:\n"
                             << Log();
        return painted;
    }

    void UpdateWindow()
    {
        for (const testsupport::TopLevel& window : m_screen->WindowsOf(m_viewer->pid())) {
            if (window.id == m_window.id) {
                m_window = window;
            }
        }
    }

    Box WindowBox() const { return m_window.box; }
    // The page area: below the band, inside the outline.
    Box PageBox() const
    {
        return {m_window.box.left + 1, m_window.box.top + 30, m_window.box.width - 2,
                m_window.box.height - 31};
    }
    // A point given relative to the window's top-left corner, as xdotool words.
    std::string At(int x, int y) const
    {
        return std::to_string(m_window.box.left + x) + " " + std::to_string(m_window.box.top + y);
    }
    // Moves the pointer as a hand does: a real mouse reports a stream of
    // motions, and the toolkit hands a motion over only when the next arrives.
    void MoveMouse(int x, int y) const
    {
        Xdo("mousemove " + At(x - 2, y) + " sleep 0.1 mousemove " + At(x - 1, y) +
            " sleep 0.1 mousemove " + At(x, y));
    }

    Rgb PixelAt(const Image& image, int x, int y) const
    {
        return image.At(m_window.box.left + x, m_window.box.top + y);
    }

    Image Shot(const std::string& name)
    {
        Image image = m_screen->Shot();
        image.SavePng((ShotFolder() / (name + ".png")).string());
        return image;
    }

    int PageLoadCount(const std::string& document) const
    {
        const std::string line = "page loaded " + (m_workFolder / "tmp" / document).string() + "\n";
        const std::string log = Log();
        int count = 0;
        for (std::size_t at = log.find(line); at != std::string::npos; at = log.find(line, at + 1)) {
            ++count;
        }
        return count;
    }

    // A message box of the viewer titled `title`: waits for it, answers it with
    // Return, and tells whether it was there.
    bool AnswerBox(const std::string& title, const std::string& shotName)
    {
        testsupport::TopLevel box;
        const bool shown = WaitUntil(
            [&] {
                for (const testsupport::TopLevel& window : m_screen->WindowsOf(m_viewer->pid())) {
                    if (window.title == title) {
                        box = window;
                        return true;
                    }
                }
                return false;
            },
            120s);
        if (!shown) {
            ADD_FAILURE() << "expected a box titled \"" << title << "\"; log:\n" << Log();
            return false;
        }
        WaitUntil([] { return false; }, 500ms);  // let it paint for the record
        Shot(shotName);
        EXPECT_TRUE(m_viewer->Running()) << "the viewer must wait for the box to be answered";
        const int x = box.box.left + box.box.width / 2;
        const int y = box.box.top + box.box.height / 2;
        Xdo("mousemove " + std::to_string(x) + " " + std::to_string(y) + " key Return");
        return true;
    }

    testsupport::TempDir m_served;
    testsupport::TempDir m_work;
    fs::path m_workFolder;  // the work folder the viewer is started with
    std::unique_ptr<testsupport::XScreen> m_screen;
    std::unique_ptr<testsupport::FtpServer> m_server;
    std::unique_ptr<testsupport::ChildProcess> m_viewer;
    fs::path m_log;  // the viewer's standard output and error
    testsupport::TopLevel m_window;
};

struct ResumeCase {
    const char* served;    // name on the server
    const char* document;  // the page the viewer shows, in tmp/
    const char* download;  // the downloaded file, in tmp/
    bool downloadStays;
};

void PrintTo(const ResumeCase& c, std::ostream* out) { *out << c.served; }

class ViewerShowsResume : public ViewerE2eTest, public ::testing::WithParamInterface<ResumeCase> {};

TEST_P(ViewerShowsResume, BandChineseTextAndPhotoAppearAndPageScriptsDoNotRun)
{
    const ResumeCase& c = GetParam();
    Serve(c.served, c.served);
    Start(c.served);
    ASSERT_TRUE(WaitShown(c.document, 180s));
    const Image image = Shot("shown");
    const Box window = WindowBox();
    EXPECT_EQ(m_window.title.rfind(kTitle, 0), 0u) << "window text \"" << m_window.title << "\"";

    for (const auto& [x, y] : {std::pair{100, 15}, {window.width - 150, 5}, {2, 28}, {2, 2}}) {
        EXPECT_TRUE(Same(PixelAt(image, x, y), kBand))
            << "band at (" << x << "," << y << ") is " << testsupport::Describe(PixelAt(image, x, y));
    }
    for (const auto& [x, y] : {std::pair{0, 300}, {window.width - 1, 300}, {400, 0}, {400, window.height - 1}}) {
        EXPECT_TRUE(Same(PixelAt(image, x, y), kBlack)) << "outline at (" << x << "," << y << ")";
    }
    EXPECT_TRUE(Same(PixelAt(image, 1, 300), kWhite)) << "page inside the outline";
    EXPECT_TRUE(Same(PixelAt(image, 400, 30), kWhite)) << "page starts right below the band";
    const Box titleArea{window.left + 15, window.top + 6, 200, 20};
    EXPECT_GT(image.Count(titleArea, kWhite, 60), 30) << "expected the title drawn in white on the band";

    // A Chinese font draws "一" as a wide flat bar; a missing glyph is a tall box.
    const Box glyph = image.Bounds(PageBox(), kGlyph, 40);
    EXPECT_GE(glyph.width, 40) << "glyph at " << testsupport::Describe(glyph);
    EXPECT_GE(glyph.width, 3 * glyph.height) << "glyph at " << testsupport::Describe(glyph);

    EXPECT_GT(image.Count(PageBox(), kPhotoTop, 12), 4000) << "photo, upper half";
    EXPECT_GT(image.Count(PageBox(), kPhotoBottom, 12), 4000) << "photo, lower half";
    EXPECT_EQ(image.Count(window, kScriptRed, 30), 0) << "a page script painted the page";

    EXPECT_TRUE(fs::exists(m_work.path() / "tmp" / c.document));
    EXPECT_EQ(fs::exists(m_work.path() / "tmp" / c.download), c.downloadStays) << c.download;
}

INSTANTIATE_TEST_SUITE_P(Formats, ViewerShowsResume,
                         ::testing::Values(ResumeCase{"resume.htm", "resume1.htm", "resume1.htm", true},
                                           ResumeCase{"resume.mht", "resume1.html", "resume1.mht", false},
                                           ResumeCase{"resume.doc", "resume1.html", "resume1.doc", false}),
                         [](const ::testing::TestParamInfo<ResumeCase>& param) {
                             return fs::path(param.param.served).extension().string().substr(1);
                         });

TEST_F(ViewerE2eTest, KeysAndMouseGesturesNeitherSelectCopyReloadNorOpenMenus)
{
    Serve("resume.htm", "resume.htm");
    Start("resume.htm");
    ASSERT_TRUE(WaitShown("resume1.htm"));
    // A plain click in the text reaches the page and gives it the keyboard.
    Xdo("mousemove " + At(300, 420) + " click 1");
    const Image before = Shot("before");
    ASSERT_EQ(m_screen->SelectionOwner("PRIMARY"), 0u) << "someone already owns the selection";

    Xdo("key ctrl+a");
    EXPECT_FALSE(WaitUntil([&] { return m_screen->SelectionOwner("PRIMARY") != 0; }, 1500ms))
        << "Ctrl+A selected text";
    Xdo("key ctrl+c");
    EXPECT_FALSE(WaitUntil([&] { return m_screen->SelectionOwner("CLIPBOARD") != 0; }, 1500ms))
        << "Ctrl+C copied text";

    Xdo("mousemove " + At(20, 400) + " mousedown 1 mousemove " + At(200, 410) + " mousemove " +
        At(500, 440) + " mousemove " + At(700, 460) + " mouseup 1");
    EXPECT_FALSE(WaitUntil([&] { return m_screen->SelectionOwner("PRIMARY") != 0; }, 1500ms))
        << "dragging selected text";

    const int windows = m_screen->ViewableTopLevelCount();
    Xdo("mousemove " + At(300, 420) + " click 3");
    EXPECT_FALSE(WaitUntil([&] { return m_screen->ViewableTopLevelCount() != windows; }, 1500ms))
        << "a right click opened a menu";

    // The link asks for a new window; the shown document gets none.
    const Box link = Shot("link").Bounds(PageBox(), Rgb{0, 150, 0}, 40);
    ASSERT_GT(link.width, 0) << "expected the link on the page";
    Xdo("mousemove " + std::to_string(link.left + link.width / 2) + " " +
        std::to_string(link.top + link.height / 2) + " click 1");
    EXPECT_FALSE(WaitUntil([&] { return m_screen->ViewableTopLevelCount() != windows; }, 1500ms))
        << "the page opened a window";

    Xdo("key F5");
    Xdo("key ctrl+r");
    EXPECT_FALSE(WaitUntil([&] { return PageLoadCount("resume1.htm") > 1; }, 2s))
        << "F5 or Ctrl+R reloaded the page";

    const Image after = Shot("after");
    EXPECT_TRUE(after.SameAs(before, PageBox())) << "the page changed: see the shots";
    EXPECT_TRUE(m_viewer->Running());
}

TEST_F(ViewerE2eTest, ButtonsLightUnderTheMouseAndGoOutOverTheBand)
{
    Serve("resume.htm", "resume.htm");
    Start("resume.htm");
    ASSERT_TRUE(WaitShown("resume1.htm"));
    // Background pixels of each button image, clear of the glyphs.
    const struct {
        const char* button;
        int x, y;  // pointer
        int px, py;  // probe
        Rgb lit;
    } rows[] = {
        {"close", 773, 10, 752, 3, kCloseLit},
        {"maximise", 733, 10, 718, 3, kButtonLit},
        {"minimise", 699, 10, 685, 3, kButtonLit},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.button);
        MoveMouse(row.x, row.y);
        EXPECT_TRUE(WaitUntil([&] { return Same(PixelAt(m_screen->Shot(), row.px, row.py), row.lit); }, 30s))
            << "expected the lit image under the mouse";
        Shot(std::string("lit-") + row.button);
        MoveMouse(300, 15);
        EXPECT_TRUE(WaitUntil([&] { return Same(PixelAt(m_screen->Shot(), row.px, row.py), kBand); }, 30s))
            << "expected the normal image once the mouse is back on the band";
    }
}

TEST_F(ViewerE2eTest, MaximiseFillsTheScreenAndRestoreReturnsWithTheButtonsAtTheEdge)
{
    Serve("resume.htm", "resume.htm");
    Start("resume.htm");
    ASSERT_TRUE(WaitShown("resume1.htm"));
    const Box normal = WindowBox();
    const Image screen = m_screen->Shot();

    Xdo("mousemove " + At(733, 10) + " click 1");
    ASSERT_TRUE(WaitUntil([&] { UpdateWindow(); return WindowBox().width == screen.width(); }, 30s))
        << "expected the screen's width, got " << testsupport::Describe(WindowBox());
    EXPECT_EQ(WindowBox(), (Box{0, 0, screen.width(), screen.height()}));
    const int w = WindowBox().width;
    // The restore image (its back square's right edge) sits in the re-laid button.
    EXPECT_TRUE(WaitUntil([&] { return Same(PixelAt(m_screen->Shot(), w - 84 + 22, 1 + 8), kWhite); }, 30s))
        << "expected the restore image at the right edge";
    const Image maximised = Shot("maximised");
    EXPECT_TRUE(Same(PixelAt(maximised, w - 150, 15), kBand)) << "band across the whole width";
    EXPECT_GT(maximised.Count(PageBox(), kPhotoTop, 12), 4000) << "the view follows the window";
    EXPECT_TRUE(Same(PixelAt(maximised, 400, 30), kWhite)) << "the view stays below the band";

    Xdo("mousemove " + At(w - 84 + 17, 10) + " click 1");
    ASSERT_TRUE(WaitUntil([&] { UpdateWindow(); return WindowBox() == normal; }, 30s))
        << "expected " << testsupport::Describe(normal) << ", got " << testsupport::Describe(WindowBox());
    MoveMouse(300, 15);
    EXPECT_TRUE(WaitUntil([&] { return !Same(PixelAt(m_screen->Shot(), 716 + 22, 1 + 8), kWhite); }, 30s))
        << "expected the maximise image back";
    Shot("restored");
}

TEST_F(ViewerE2eTest, BandDragsTheWindowAndAClickMovedOffCloseDoesNotClose)
{
    Serve("resume.htm", "resume.htm");
    Start("resume.htm");
    ASSERT_TRUE(WaitShown("resume1.htm"));
    const Box start = WindowBox();

    Xdo("mousemove " + At(300, 15) + " mousedown 1");
    for (int step = 1; step <= 4; ++step) {
        Xdo("mousemove " + std::to_string(start.left + 300 + 30 * step) + " " +
            std::to_string(start.top + 15 + 20 * step));
    }
    Xdo("mouseup 1");
    const Box moved{start.left + 120, start.top + 80, start.width, start.height};
    EXPECT_TRUE(WaitUntil([&] { UpdateWindow(); return WindowBox() == moved; }, 30s))
        << "expected " << testsupport::Describe(moved) << ", got " << testsupport::Describe(WindowBox());
    Shot("dragged");

    Xdo("mousemove " + At(773, 10) + " mousedown 1 mousemove " + At(400, 15) + " mouseup 1");
    EXPECT_FALSE(m_viewer->WaitForExit(2s)) << "released off the close button, yet it closed";
    EXPECT_TRUE(WaitUntil([&] { UpdateWindow(); return WindowBox() == moved; }, 30s))
        << "pressing on a button must not drag";

    Xdo("mousemove " + At(773, 10) + " click 1");
    EXPECT_TRUE(m_viewer->WaitForExit(60s)) << "the close button should end the viewer";
}

TEST_F(ViewerE2eTest, BandMenuOpensTheAboutBox)
{
    Serve("resume.htm", "resume.htm");
    Start("resume.htm");
    ASSERT_TRUE(WaitShown("resume1.htm"));
    const int windows = m_screen->ViewableTopLevelCount();
    Xdo("mousemove " + At(200, 15) + " click 3");
    ASSERT_TRUE(WaitUntil([&] { return m_screen->ViewableTopLevelCount() > windows; }, 30s))
        << "expected the band's menu";
    Shot("menu");
    Xdo("key Down Return");
    ASSERT_TRUE(AnswerBox("关于 CvGlance", "about"));
    EXPECT_FALSE(m_viewer->WaitForExit(1s)) << "closing the About box must leave the viewer open";
}

TEST_F(ViewerE2eTest, ClosingDuringADownloadEndsTheViewerWithoutWaitingForIt)
{
    // A server that holds the transfer still after 100 bytes for longer than any wait here.
    testsupport::FtpServerOptions stall;
    stall.stallAfterBytes = 100;
    stall.stallSeconds = 600;
    testsupport::WriteFileBytes(m_served.path() / "big.htm", std::string(100000, 'x'));
    m_server = std::make_unique<testsupport::FtpServer>(m_served.path(), stall);
    ASSERT_TRUE(m_server->ok());
    Start("big.htm");
    ASSERT_TRUE(FindWindow());
    ASSERT_TRUE(WaitUntil([&] { return m_server->countCommands("RETR") > 0; }, 20s))
        << "expected the download to start";
    Xdo("mousemove " + At(773, 10) + " click 1");
    EXPECT_TRUE(m_viewer->WaitForExit(60s)) << "the viewer waited for its download";
    EXPECT_TRUE(m_viewer->ExitCode() >= 0) << "the viewer crashed on the way out";
}

// True while a process of the group is running (zombies aside: they only wait
// for whoever inherited them to reap them).
bool GroupRuns(pid_t group)
{
    for (const auto& entry : fs::directory_iterator("/proc")) {
        const std::string stat = ReadIfThere(entry.path() / "stat");
        std::istringstream fields(stat.substr(std::min(stat.size(), stat.rfind(')') + 2)));
        char state = 0;
        long parent = 0;
        long pgrp = 0;
        if (fields >> state >> parent >> pgrp && pgrp == group && state != 'Z') {
            return true;
        }
    }
    return false;
}

// The viewer ended while it converts a Word resume with an office that never
// finishes (and starts a helper, as the real one does): by its close button
// (0) or by a signal. The conversion's folders go to a folder of the test's.
class ViewerEndsDuringAConversion : public ViewerE2eTest, public ::testing::WithParamInterface<int> {
protected:
    void TearDown() override
    {
        if (m_group > 0 && GroupRuns(m_group)) {
            kill(-m_group, SIGKILL);
        }
    }

    testsupport::TempDir m_fakeBin;
    testsupport::TempDir m_scratch;
    pid_t m_group = 0;
};

TEST_P(ViewerEndsDuringAConversion, AndTakesTheConverterAndItsFolder)
{
    const fs::path pidFile = m_fakeBin.path() / "office.pid";
    testsupport::WriteFileBytes(m_fakeBin.path() / "soffice",
                                "#!/bin/sh\nsleep 600 &\necho $$ > '" + pidFile.string() + "'\nexec sleep 600\n");
    fs::permissions(m_fakeBin.path() / "soffice", fs::perms::owner_all);
    Serve("resume.doc", "resume.doc");
    {
        const testsupport::ScopedEnv first("PATH", testsupport::PathWithFirst(m_fakeBin.path()));
        const testsupport::ScopedEnv scratch("TMPDIR", m_scratch.path().string());
        // A runtime folder whose socket name no Unix socket can hold: the
        // resident converter cannot start, and the office runs for the
        // document alone, which is what this test ends with the viewer.
        const fs::path deep = m_fakeBin.path() / std::string(120, 'r');
        fs::create_directory(deep);
        fs::permissions(deep, fs::perms::owner_all, fs::perm_options::replace);
        const testsupport::ScopedEnv runtime("XDG_RUNTIME_DIR", deep.string());
        Start("resume.doc");
    }
    ASSERT_TRUE(FindWindow());
    ASSERT_TRUE(WaitUntil([&] { return (m_group = std::atoi(ReadIfThere(pidFile).c_str())) > 0; }, 60s))
        << "the converter did not start; log:\n" << Log();

    if (GetParam() == 0) {
        Xdo("mousemove " + At(773, 10) + " click 1");
    } else {
        ASSERT_EQ(kill(m_viewer->pid(), GetParam()), 0);
    }
    ASSERT_TRUE(m_viewer->WaitForExit(60s)) << "the viewer waited for its conversion";
    EXPECT_TRUE(GetParam() != 0 || m_viewer->ExitCode() >= 0);
    EXPECT_TRUE(WaitUntil([&] { return !GroupRuns(m_group); }, 60s))
        << "the converter (group " << m_group << ") outlived the viewer";
    EXPECT_TRUE(WaitUntil([&] { return fs::is_empty(m_scratch.path()); }, 60s)) << "the conversion's folder was left";
}

INSTANTIATE_TEST_SUITE_P(Ends, ViewerEndsDuringAConversion, ::testing::Values(0, SIGTERM, SIGKILL),
                         [](const ::testing::TestParamInfo<int>& param) {
                             return std::string(param.param == 0 ? "ByTheCloseButton"
                                                                 : param.param == SIGTERM ? "BySigterm" : "BySigkill");
                         });

TEST_F(ViewerE2eTest, FailedDownloadShowsItsBoxAndTheViewerEndsWhenItIsAnswered)
{
    Start("missing.htm");
    ASSERT_TRUE(AnswerBox("提示", "download-error"));
    EXPECT_TRUE(m_viewer->WaitForExit(60s)) << "expected the viewer to end after the box";
}

TEST_F(ViewerE2eTest, FewerThanSixArgumentsAreAnIllegalStart)
{
    for (const std::vector<std::string>& args :
         {std::vector<std::string>{}, {kTitle, "n", m_server->url("resume.htm"), "u", "p"}}) {
        SCOPED_TRACE(std::to_string(args.size()) + " arguments");
        Launch(args);
        ASSERT_TRUE(AnswerBox("CvGlance", "illegal-start-" + std::to_string(args.size())));
        EXPECT_TRUE(m_viewer->WaitForExit(60s));
        for (const testsupport::TopLevel& window : m_screen->WindowsOf(m_viewer->pid())) {
            ADD_FAILURE() << "unexpected window " << window.title;
        }
        EXPECT_EQ(m_server->countCommands("USER"), 0u) << "nothing may be downloaded";
    }
}


// Nothing reaches the toolkit: the arguments are data, however much they look
// like its options; and the password does not stay where every user reads it.
TEST_F(ViewerE2eTest, ArgumentsAreOnlyDataAndThePasswordLeavesTheCommandLine)
{
    // A module that leaves a mark when anything loads it.
    testsupport::TempDir module;
    const fs::path mark = module.path() / "loaded";
    testsupport::WriteFileBytes(module.path() / "mark.c",
                                "#include <stdio.h>\n__attribute__((constructor)) static void mark(void)"
                                " { FILE* f = fopen(\"" + mark.string() + "\", \"w\"); if (f) fclose(f); }\n");
    const fs::path library = module.path() / "mark.so";
    ASSERT_EQ(testsupport::RunAndWait({"cc", "-shared", "-fPIC", "-o", library.string(),
                                       (module.path() / "mark.c").string()}),
              0);
    testsupport::FtpServerOptions options;
    options.password = "pw-7431-only-here";
    m_server = std::make_unique<testsupport::FtpServer>(m_served.path(), options);
    ASSERT_TRUE(m_server->ok());
    Serve("resume.htm", "resume.htm");
    for (const std::string& title : {"--gtk-module=" + library.string(), std::string("--display=:0")}) {
        SCOPED_TRACE(title);
        Start("resume.htm", "resume1", title);
        EXPECT_TRUE(WaitShown("resume1.htm")) << "the viewer must start, log in and show the document";
        EXPECT_FALSE(fs::exists(mark)) << "the title loaded a library into the viewer";
        const std::string cmdline = ReadIfThere("/proc/" + std::to_string(m_viewer->pid()) + "/cmdline");
        ASSERT_NE(cmdline.find(title), std::string::npos) << "cmdline not read";
        EXPECT_EQ(cmdline.find(options.password), std::string::npos) << "any local user can read it";
    }
}

// Nothing leaves the machine: a document may load what lies in its own folder
// and nothing else, and may not take the view elsewhere.
TEST_F(ViewerE2eTest, DocumentsFetchNothingFromTheNetworkAndStayPut)
{
    testsupport::HttpListener web;
    ASSERT_TRUE(web.ok());
    const Rgb outsideColour{0, 200, 0};
    const fs::path outside = m_served.path() / "outside.png";
    ASSERT_EQ(testsupport::RunAndWait({"convert", "-size", "99x99", "xc:rgb(0,200,0)", outside.string()}), 0);
    // A folder name the view writes with escapes: the document must still show.
    m_workFolder = m_work.path() / "简历 (1) 100%";
    ServePage("tracked.htm", "<link rel=\"stylesheet\" href=\"" + web.url("style.css") + "\">"
                             "<meta http-equiv=\"refresh\" content=\"1; url=" + web.url("away.htm") + "\">"
                             "<div style=\"background: url('" + web.url("back.png") + "')\">x</div>"
                             "<img src=\"" + web.url("pixel.gif") + "\"><iframe src=\"" + web.url("frame.htm") +
                             "\"></iframe><img src=\"file://" + outside.string() + "\">");
    Start("tracked.htm");
    // Asked while the document loads (a request left unanswered would hold
    // the load up) and once more after its refresh time has passed.
    EXPECT_FALSE(WaitUntil([&] { return web.connections() > 0; }, 5s)) << "the document reached the network";
    ASSERT_TRUE(WaitShown("resume1.htm")) << "the document and its own image must show";
    EXPECT_FALSE(WaitUntil([&] { return web.connections() > 0; }, 2s)) << "the refresh reached the network";
    const Image image = Shot("shown");
    EXPECT_GT(image.Count(PageBox(), kPhotoTop, 12), 4000) << "the document is still shown";
    EXPECT_EQ(image.Count(PageBox(), outsideColour, 12), 0) << "a file outside its folder was shown";
    EXPECT_TRUE(m_viewer->Running()) << "a blocked load is no reason to close";
}

// Nothing of the page leaves the window, form fields included.
TEST_F(ViewerE2eTest, FormFieldsGiveNoTextToTheSelections)
{
    ServePage("form.htm", "<input value=\"secret words\" style=\"position:absolute;top:50px;width:400px\">"
                          "<textarea style=\"position:absolute;top:100px;width:400px\">secret lines</textarea>"
                          "<div contenteditable style=\"position:absolute;top:200px\">secret words</div>");
    Start("form.htm");
    ASSERT_TRUE(WaitShown("resume1.htm"));
    ASSERT_EQ(m_screen->SelectionOwner("PRIMARY"), 0u) << "someone already owns the selection";
    // Points in the window: the page starts at (1, 30).
    for (const std::string& gesture :
         {"mousemove " + At(60, 88) + " click --repeat 2 --delay 80 1",   // the field
          "mousemove " + At(60, 88) + " click --repeat 3 --delay 80 1",
          "mousemove " + At(60, 138) + " click --repeat 3 --delay 80 1",  // the text area
          "mousemove " + At(30, 238) + " click --repeat 2 --delay 80 1",  // the editable block
          std::string("key Tab Tab shift+End shift+Home"), std::string("key F7 shift+Right shift+End")}) {
        SCOPED_TRACE(gesture);
        Xdo(gesture);
        EXPECT_FALSE(WaitUntil([&] { return m_screen->SelectionOwner("PRIMARY") != 0 ||
                                            m_screen->SelectionOwner("CLIPBOARD") != 0; }, 1500ms))
            << "the gesture put text into a selection";
    }
    Shot("after");
}

TEST_F(ViewerE2eTest, EscClosesTheViewer)
{
    Serve("resume.htm", "resume.htm");
    Start("resume.htm");
    ASSERT_TRUE(WaitShown("resume1.htm"));
    // A click in the page hands it the keyboard; it may not keep Esc.
    Xdo("mousemove " + At(300, 420) + " click 1 key Escape");
    EXPECT_TRUE(m_viewer->WaitForExit(10s)) << "Esc should end the viewer";
}

TEST_F(ViewerE2eTest, DocumentsTheViewCannotShowGetTheConversionBoxAndAreKept)
{
    std::string binary("\x7f" "ELF\x02\x01\x01", 7);
    binary += std::string(4096, '\0');
    for (const auto& [name, bytes] : {std::pair<std::string, std::string>{"resume.pdf", "%PDF-1.4"}, {"tool.exe", binary}}) {
        SCOPED_TRACE(name);
        testsupport::WriteFileBytes(m_served.path() / name, bytes);
        Start(name);
        ASSERT_TRUE(AnswerBox("提示", "conversion-error-" + name));
        EXPECT_TRUE(m_viewer->WaitForExit(60s)) << "expected the viewer to end after the box";
        EXPECT_TRUE(fs::exists(m_work.path() / "tmp" / ("resume1" + fs::path(name).extension().string())));
    }
}

}  // namespace
