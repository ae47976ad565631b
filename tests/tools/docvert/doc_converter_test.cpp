#include <gtest/gtest.h>

#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <optional>
#include <sstream>
#include <thread>

#include "page_checks.h"
#include "support/converter_service_scope.h"
#include "support/scoped_env.h"
#include "support/temp_dir.h"
#include "tools/docvert/doc_converter.h"

namespace {

using docvert::ConvertDocToHtml;
using docvert::DocConverterKind;
using docvert::DocConverterPrograms;
using docverttest::EmbeddedImagesOf;
using docverttest::FixturePath;
using docverttest::LocalReferencesOf;
using testsupport::WaitUntil;
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

TEST_F(DocConversion, FilenameFieldsShowTheDocumentsOwnName)
{
    const std::string path = m_dir / "王芳的简历.doc";
    std::filesystem::copy_file(FixturePath("filename_field.doc"), path);
    const std::optional<docvert::DocConversion> result = ConvertDocToHtml(path);
    ASSERT_TRUE(result.has_value());
    EXPECT_EQ(result->by, DocConverterKind::Office);
    EXPECT_TRUE(Contains(result->html, "简历文件")) << result->html;
    EXPECT_TRUE(Contains(result->html, "王芳的简历")) << "the field should show the document's name:\n" << result->html;
    EXPECT_FALSE(Contains(result->html, "document")) << result->html;
}

// Processes of a conversion in `folder` still running (zombies aside): every
// converter and whatever it starts carry the folder in their environment.
std::vector<std::string> ConversionProcesses(const std::string& folder)
{
    std::vector<std::string> found;
    for (const auto& entry : std::filesystem::directory_iterator("/proc")) {
        const std::string name = entry.path().filename().string();
        if (name.find_first_not_of("0123456789") != std::string::npos) {
            continue;
        }
        std::ifstream environ(entry.path() / "environ", std::ios::binary);
        std::ostringstream variables;
        variables << environ.rdbuf();
        std::ifstream stat(entry.path() / "stat");
        std::string state;
        std::getline(stat, state);
        if (Contains(variables.str(), "TMPDIR=" + folder) && !Contains(state, ") Z ")) {
            found.push_back(name);
        }
    }
    return found;
}

TEST_F(DocConversion, OfficeOverItsTimeLimitIsKilledWithItsHelpersAndLeavesNothing)
{
    // An office that never finishes, with a helper in the background, as the
    // real one starts a launcher and the office proper.
    const std::string office = m_dir / "soffice";
    testsupport::WriteFileBytes(office, "#!/bin/sh\nsleep 600 &\nexec sleep 600\n");
    std::filesystem::permissions(office, std::filesystem::perms::owner_all);
    DocConverterPrograms programs = Without(true, false);
    programs.office = office;
    programs.antiword = "docvert-test-no-antiword";
    programs.officeTimeLimit = 1500ms;
    EXPECT_FALSE(ConvertDocToHtml(FixturePath("resume.doc"), programs).has_value());
    EXPECT_TRUE(WaitUntil([&] { return ConversionProcesses(m_tmp.path().string()).empty(); }))
        << "no process of the office should survive";
    EXPECT_EQ(LeftInTemp(), std::vector<std::string>{}) << "its profile and scratch files should be removed";
}

// A host that ends in the middle of a conversion, by returning from main (the
// viewer closed) or by a signal nobody can catch: the office goes, and so do
// its folder and the socket it opened in /tmp.
TEST_F(DocConversion, HostEndingDuringAConversionTakesTheOfficeItsFilesAndItsSocket)
{
    // The real office, stopped with its whole group once its socket exists,
    // so that the host certainly ends in the middle of the conversion.
    const std::string pattern = "/tmp/OSL_PIPE_" + std::to_string(getuid()) + "_SingleOfficeIPC_*";
    const std::string caught = m_dir / "caught";
    const std::string office = m_dir / "office.py";
    testsupport::WriteFileBytes(office, "#!/usr/bin/python3\n"
                                        "import glob, os, signal, subprocess, sys\n"
                                        "before = set(glob.glob('" + pattern + "'))\n"
                                        "for attempt in range(5):\n"
                                        "    office = subprocess.Popen(['soffice'] + sys.argv[1:])\n"
                                        "    while office.poll() is None:\n"
                                        "        new = set(glob.glob('" + pattern + "')) - before\n"
                                        "        if new:\n"
                                        "            with open('" + caught + ".part', 'w') as f:\n"
                                        "                f.write(new.pop())\n"
                                        "            os.rename('" + caught + ".part', '" + caught + "')\n"
                                        "            os.killpg(os.getpgrp(), signal.SIGSTOP)\n"
                                        "sys.exit(1)\n");
    std::filesystem::permissions(office, std::filesystem::perms::owner_all);
    DocConverterPrograms programs = Without(true, false);
    programs.office = office;

    for (const bool killed : {false, true}) {
        SCOPED_TRACE(killed ? "host killed" : "host returned from main");
        std::filesystem::remove(caught);
        const pid_t host = fork();
        ASSERT_GE(host, 0);
        if (host == 0) {
            std::thread([&] { ConvertDocToHtml(FixturePath("resume.doc"), programs); }).detach();
            while (killed || !std::filesystem::exists(caught)) {  // until killed, or until caught
                std::this_thread::sleep_for(10ms);
            }
            std::exit(0);  // static destructors run, as at the end of main
        }
        const bool stopped = WaitUntil([&] { return std::filesystem::exists(caught); });
        if (killed) {
            kill(host, SIGKILL);
        }
        waitpid(host, nullptr, 0);
        ASSERT_TRUE(stopped) << "the office never opened its socket";
        const std::string socket = testsupport::ReadFileBytes(caught);
        EXPECT_TRUE(WaitUntil([&] { return ConversionProcesses(m_tmp.path().string()).empty(); }))
            << "the office outlived its host";
        EXPECT_TRUE(WaitUntil([&] { return LeftInTemp().empty(); })) << "the conversion's folder outlived its host";
        EXPECT_TRUE(WaitUntil([&] { return !std::filesystem::exists(std::filesystem::symlink_status(socket)); }))
            << socket << " outlived the office";
        for (const std::string& pid : ConversionProcesses(m_tmp.path().string())) {
            kill(std::stoi(pid), SIGKILL);
        }
    }
}

}  // namespace
