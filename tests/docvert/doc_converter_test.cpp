#include <gtest/gtest.h>

#include <dirent.h>
#include <stdlib.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

#include <cerrno>
#include <set>

#include <filesystem>
#include <fstream>
#include <optional>
#include <thread>

#include "page_checks.h"
#include "support/temp_dir.h"
#include "tools/docvert/doc_converter.h"

namespace {

using docvert::ConvertDocToHtml;
using docvert::DocConverterKind;
using docvert::DocConverterPrograms;
using docverttest::EmbeddedImagesOf;
using docverttest::FixturePath;
using docverttest::LocalReferencesOf;
using namespace std::chrono_literals;

bool Contains(const std::string& text, const std::string& part) { return text.find(part) != std::string::npos; }

// Every converter's temporary folder goes to a folder of the test's own, so
// that the test can see what is left behind.
class DocConversion : public ::testing::Test {
protected:
    std::vector<std::string> LeftInTemp() const
    {
        std::vector<std::string> left;
        for (const auto& entry : std::filesystem::directory_iterator(m_tmp.path())) {
            left.push_back(entry.path().filename().string());
        }
        return left;
    }

    testsupport::TempDir m_tmp;
    testsupport::TempDir m_dir;  // made before TMPDIR points into m_tmp
    testsupport::ScopedEnv m_tmpdir{"TMPDIR", m_tmp.path().string()};
};

DocConverterPrograms Without(bool office, bool wvHtml)
{
    DocConverterPrograms programs;
    if (!office) {
        programs.office = "docvert-test-no-office";
    }
    if (!wvHtml) {
        programs.wvHtml = "docvert-test-no-wvhtml";
    }
    return programs;
}

void ExpectResumeText(const std::string& html)
{
    for (const char* text : {"个人简历", "张伟", "清华大学", "硕士研究生", "大学英语六级"}) {
        EXPECT_TRUE(Contains(html, text)) << "the page should show " << text;
    }
}

TEST_F(DocConversion, OfficeShowsTextTablePhotoAndKeepsTheTitleCentred)
{
    const std::optional<docvert::DocConversion> result = ConvertDocToHtml(FixturePath("resume.doc"));
    ASSERT_TRUE(result.has_value());
    EXPECT_EQ(result->by, DocConverterKind::Office);
    const std::string& html = result->html;
    ExpectResumeText(html);
    EXPECT_TRUE(Contains(html, "<table")) << "the table should be kept";
    EXPECT_TRUE(Contains(html, "<b>") && Contains(html, "<i>")) << "bold and italic should be kept";
    EXPECT_TRUE(Contains(html, "<li")) << "the list should be kept";
    bool photo = false;
    for (const std::string& image : EmbeddedImagesOf(html)) {
        const docverttest::ImageSize size = docverttest::PngSize(image);
        photo = photo || (size.width == 40 && size.height == 52);
    }
    EXPECT_TRUE(photo) << "the 40x52 photo should be embedded in the page";
    EXPECT_EQ(LocalReferencesOf(html), std::vector<std::string>{});

    // The document's paragraphs are justified by default and the title is
    // centred on the paragraph itself; the page must not let the default win.
    std::size_t justified = std::string::npos;
    for (std::size_t at = html.find("\tp { "); at != std::string::npos && justified == std::string::npos;
         at = html.find("\tp { ", at + 1)) {
        const std::string rule = html.substr(at, html.find('}', at) - at);
        justified = Contains(rule, "text-align: justify") ? at : std::string::npos;
    }
    ASSERT_NE(justified, std::string::npos) << "the export should carry the justified default for p";
    const std::size_t centred = html.find("p[align=\"center\"]");
    ASSERT_NE(centred, std::string::npos) << "a rule should keep centred paragraphs centred";
    EXPECT_LT(justified, centred) << "the centring rule should come after the default";
    EXPECT_TRUE(Contains(html.substr(centred, 200), "text-align: center !important"));
    EXPECT_TRUE(Contains(html, "align=\"center\"")) << "the title should be centred on the paragraph";
    EXPECT_EQ(LeftInTemp(), std::vector<std::string>{}) << "temporary files should be removed";
}

TEST_F(DocConversion, WithoutOfficeWvHtmlConvertsAndBrokenPicturesGo)
{
    const std::optional<docvert::DocConversion> result = ConvertDocToHtml(FixturePath("resume.doc"), Without(false, true));
    ASSERT_TRUE(result.has_value());
    EXPECT_EQ(result->by, DocConverterKind::WvHtml);
    ExpectResumeText(result->html);
    EXPECT_TRUE(Contains(result->html, "<table"));
    EXPECT_FALSE(Contains(result->html, "StrangeNoGraphicData")) << "a picture tag pointing at nothing should go";
    EXPECT_EQ(LocalReferencesOf(result->html), std::vector<std::string>{});
    EXPECT_EQ(LeftInTemp(), std::vector<std::string>{});
}

TEST_F(DocConversion, WithoutOfficeAndWvHtmlAntiwordTextIsShownEscaped)
{
    const std::optional<docvert::DocConversion> result =
        ConvertDocToHtml(FixturePath("resume.doc"), Without(false, false));
    ASSERT_TRUE(result.has_value());
    EXPECT_EQ(result->by, DocConverterKind::Antiword);
    ExpectResumeText(result->html);
    EXPECT_TRUE(Contains(result->html, "<pre>"));
    EXPECT_TRUE(Contains(result->html, "研发（R&amp;D）")) << "text must be escaped for HTML";
    EXPECT_TRUE(Contains(result->html, "charset=\"utf-8\""));
    EXPECT_EQ(LeftInTemp(), std::vector<std::string>{});
}

TEST_F(DocConversion, NoConverterInstalledIsAFailure)
{
    DocConverterPrograms programs = Without(false, false);
    programs.antiword = "docvert-test-no-antiword";
    EXPECT_FALSE(ConvertDocToHtml(FixturePath("resume.doc"), programs).has_value());
    EXPECT_EQ(LeftInTemp(), std::vector<std::string>{});
}

TEST_F(DocConversion, FilesThatAreNoDocumentAreRefused)
{
    struct Case {
        const char* what;
        std::string bytes;
    };
    const Case cases[] = {
        {"empty", ""},
        {"plain text", "求职简历 plain text that the office suite would happily show\n"},
        {"noise", std::string("\x13\x37\x00\xFF\x80garbage", 12)},
    };
    for (const Case& c : cases) {
        const std::string path = m_dir / "x.doc";
        testsupport::WriteFileBytes(path, c.bytes);
        EXPECT_FALSE(ConvertDocToHtml(path).has_value()) << c.what << " should not be shown as a document";
    }
    EXPECT_FALSE(ConvertDocToHtml(m_dir / "missing.doc").has_value());
    EXPECT_EQ(LeftInTemp(), std::vector<std::string>{});
}

TEST_F(DocConversion, WordFileThatIsReallyAWebArchiveIsConvertedAsOne)
{
    const std::string path = m_dir / "saved-as-web-page.doc";
    std::filesystem::copy_file(FixturePath("word_cp936.mht"), path);
    const std::optional<docvert::DocConversion> result = ConvertDocToHtml(path);
    ASSERT_TRUE(result.has_value());
    EXPECT_EQ(result->by, DocConverterKind::Archive);
    EXPECT_TRUE(Contains(result->html, "张喆"));
}

// Any office process still running with a profile in our temporary folder.
std::vector<std::string> OfficeProcessesUsing(const std::string& folder)
{
    std::vector<std::string> found;
    for (const auto& entry : std::filesystem::directory_iterator("/proc")) {
        const std::string name = entry.path().filename().string();
        if (name.find_first_not_of("0123456789") != std::string::npos) {
            continue;
        }
        std::ifstream in(entry.path() / "cmdline", std::ios::binary);
        std::string cmdline;
        std::getline(in, cmdline, '\x01');  // NUL-separated arguments, read whole
        std::ifstream stat(entry.path() / "stat");
        std::string state;
        std::getline(stat, state);
        if (cmdline.find(folder) != std::string::npos && state.find(") Z ") == std::string::npos) {
            found.push_back(name);
        }
    }
    return found;
}

// Office sockets in /tmp that nobody listens on: what a killed office leaves.
std::set<std::string> DeadOfficeSockets()
{
    std::set<std::string> dead;
    for (const auto& entry : std::filesystem::directory_iterator("/tmp")) {
        const std::string path = entry.path().string();
        if (entry.path().filename().string().rfind("OSL_PIPE_", 0) != 0 || path.size() >= sizeof(sockaddr_un::sun_path)) {
            continue;
        }
        sockaddr_un address{};
        address.sun_family = AF_UNIX;
        path.copy(address.sun_path, path.size());
        const int fd = socket(AF_UNIX, SOCK_STREAM, 0);
        if (connect(fd, reinterpret_cast<const sockaddr*>(&address), sizeof address) != 0 && errno == ECONNREFUSED) {
            dead.insert(path);
        }
        close(fd);
    }
    return dead;
}

TEST_F(DocConversion, OfficeOverItsTimeLimitIsKilledWithItsHelpersAndLeavesNothing)
{
    const std::set<std::string> deadBefore = DeadOfficeSockets();
    DocConverterPrograms programs = Without(true, false);
    programs.antiword = "docvert-test-no-antiword";
    programs.officeTimeLimit = 1500ms;  // far less than the suite needs to start
    EXPECT_FALSE(ConvertDocToHtml(FixturePath("resume.doc"), programs).has_value());
    std::vector<std::string> running;
    for (int attempt = 0; attempt < 100; ++attempt) {
        running = OfficeProcessesUsing(m_tmp.path().string());
        if (running.empty()) {
            break;
        }
        std::this_thread::sleep_for(20ms);
    }
    EXPECT_EQ(running, std::vector<std::string>{}) << "no office process should survive the time limit";
    EXPECT_EQ(LeftInTemp(), std::vector<std::string>{}) << "its profile and scratch files should be removed";
    std::vector<std::string> leftSockets;
    for (const std::string& socket : DeadOfficeSockets()) {
        if (deadBefore.count(socket) == 0) {
            leftSockets.push_back(socket);
        }
    }
    EXPECT_EQ(leftSockets, std::vector<std::string>{}) << "the killed office's socket in /tmp should be removed";
}

}  // namespace
