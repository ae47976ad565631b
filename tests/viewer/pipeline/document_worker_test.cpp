// The document pipeline end to end without a window: the real FTP server on
// 127.0.0.1, the real conversion library, files on disk.
#include <gtest/gtest.h>

#include <filesystem>
#include <memory>
#include <string>
#include <vector>

#include "recording_window.h"
#include "support/converter_service_scope.h"
#include "support/ftp_server.h"
#include "support/temp_dir.h"
#include "viewer/cvglance_dlg.h"
#include "viewer/document_worker.h"
#include "viewer/ftp_curl.h"

using testsupport::ReadFileBytes;
using testsupport::U16;
using testsupport::WriteFileBytes;

namespace fs = std::filesystem;

namespace {

// The resident converter the real library starts ends with this program.
[[maybe_unused]] ::testing::Environment* const g_converterService =
    ::testing::AddGlobalTestEnvironment(new testsupport::ConverterServiceScope);

using Calls = std::vector<std::string>;

const std::string kTitle = "张伟的简历";
const std::string kDownloadBox = "box 提示: 文件下载错误，请稍后再试！";
const std::string kConvertBox =
    "box 提示: 文件转换错误，请稍后再试！\n\n您可能安装了IgAgent等加密软件！";

fs::path Fixture(const std::string& name)
{
    return fs::path(MORVEX_SOURCE_DIR) / "tests" / "viewer" / "e2e" / "fixtures" / name;
}

// One viewer without a screen.
struct Viewer {
    RecordingWindow window;
    CCvGlanceDlg dlg{window};
    Calls calls;
};

class DocumentWorkerTest : public ::testing::Test {
protected:
    void SetUp() override { fs::create_directories(Tmp()); }

    fs::path Tmp() const { return m_work.path() / "tmp"; }

    // The path the viewer builds for a temporary file, "\" separators and all.
    std::string ProgramPath(const std::string& name) const
    {
        return m_work.path().string() + "\\tmp\\" + name;
    }

    void Serve(const std::string& name, const std::string& bytes)
    {
        WriteFileBytes(m_served.path() / name, bytes);
    }

    // Runs the pipeline as the viewer does when started with seven arguments:
    // title, base name, URL, the server's login (or another password), port,
    // work folder.
    std::unique_ptr<Viewer> Run(const testsupport::FtpServer& server, const std::string& baseName,
                                const std::string& url, const std::string& password = {})
    {
        auto viewer = std::make_unique<Viewer>();
        viewer->dlg.m_Args = {U16(kTitle),
                              U16(baseName),
                              U16(url),
                              U16(server.user()),
                              U16(password.empty() ? server.password() : password),
                              U16(std::to_string(server.port())),
                              U16(m_work.path().string())};
        viewer->dlg.AppendProgramFolder(u"/opt/cvglance/CvGlance");
        EXPECT_EQ(DocumentWorker(&viewer->dlg), 0);
        viewer->calls = viewer->window.Calls();
        return viewer;
    }

    testsupport::TempDir m_served;
    testsupport::TempDir m_work;
};

TEST_F(DocumentWorkerTest, TypesWithoutConversionAreShownAsDownloaded)
{
    const std::string page = ReadFileBytes(Fixture("resume.htm"));
    testsupport::FtpServer server(m_served.path());
    ASSERT_TRUE(server.ok());
    for (const std::string type : {"htm", "html", "docx"}) {
        SCOPED_TRACE(type);
        Serve("resume." + type, page);
        const std::string local = "n_" + type + "." + type;
        const auto viewer = Run(server, "n_" + type, server.url("resume." + type));
        EXPECT_EQ(viewer->calls, Calls{"navigate " + ProgramPath(local)});
        EXPECT_EQ(ReadFileBytes(Tmp() / local), page) << "the downloaded file stays for the view";
    }
}

TEST_F(DocumentWorkerTest, LeftoverFromAnEarlierRunIsReplacedNotContinued)
{
    Serve("resume.htm", "<p>new</p>");
    WriteFileBytes(Tmp() / "n.htm", "<p>old, longer than the new one</p>");
    testsupport::FtpServer server(m_served.path());
    ASSERT_TRUE(server.ok());
    Run(server, "n", server.url("resume.htm"));
    EXPECT_EQ(ReadFileBytes(Tmp() / "n.htm"), "<p>new</p>");
}

TEST_F(DocumentWorkerTest, MhtIsConvertedShownAndItsDownloadDeleted)
{
    fs::copy_file(Fixture("resume.mht"), m_served.path() / "resume.mht");
    testsupport::FtpServer server(m_served.path());
    ASSERT_TRUE(server.ok());
    const auto viewer = Run(server, "n", server.url("resume.mht"));
    EXPECT_EQ(viewer->calls, Calls{"navigate " + ProgramPath("n.html")});
    EXPECT_FALSE(fs::exists(Tmp() / "n.mht")) << "the converted download should be deleted";
    const std::string html = ReadFileBytes(Tmp() / "n.html");
    EXPECT_NE(html.find("张伟"), std::string::npos) << "expected the resume's text in the page";
    EXPECT_NE(html.find("data:image/png"), std::string::npos) << "expected the photo inside the page";
}

TEST_F(DocumentWorkerTest, UpperCaseWordDocumentIsConvertedAndItsFilesFolderGoesAfterLoading)
{
    fs::copy_file(Fixture("resume.doc"), m_served.path() / "RESUME.DOC");
    // Supporting files a conversion may leave beside its page.
    fs::create_directories(Tmp() / "n.files");
    WriteFileBytes(Tmp() / "n.files" / "image001.png", "png");
    testsupport::FtpServer server(m_served.path());
    ASSERT_TRUE(server.ok());

    const auto viewer = Run(server, "n", server.url("RESUME.DOC"));
    EXPECT_EQ(viewer->calls, Calls{"navigate " + ProgramPath("n.html")});
    EXPECT_FALSE(fs::exists(Tmp() / "n.doc"));
    EXPECT_NE(ReadFileBytes(Tmp() / "n.html").find("张伟"), std::string::npos);
    EXPECT_TRUE(fs::exists(Tmp() / "n.files")) << "removed while the page may still be loading";

    viewer->dlg.OnPageLoaded((Tmp() / "n.html").string());
    EXPECT_FALSE(fs::exists(Tmp() / "n.files")) << "expected removal once the page had loaded";
}

TEST_F(DocumentWorkerTest, PdfIsDownloadedThenReportedAsAConversionError)
{
    Serve("resume.pdf", "%PDF-1.4 not really");
    testsupport::FtpServer server(m_served.path());
    ASSERT_TRUE(server.ok());
    const auto viewer = Run(server, "n", server.url("resume.pdf"));
    EXPECT_EQ(viewer->calls, (Calls{kConvertBox, "end"}));
    EXPECT_EQ(ReadFileBytes(Tmp() / "n.pdf"), "%PDF-1.4 not really") << "the download stays";
    EXPECT_FALSE(fs::exists(Tmp() / "n.html"));
}

TEST_F(DocumentWorkerTest, FailedDownloadIsReportedAndNothingIsConverted)
{
    fs::copy_file(Fixture("resume.mht"), m_served.path() / "resume.mht");
    testsupport::FtpServer server(m_served.path());
    ASSERT_TRUE(server.ok());
    const struct {
        const char* what;
        std::string url;
        std::string password;
    } rows[] = {
        {"missing remote file", server.url("gone.mht"), ""},
        {"wrong password", server.url("resume.mht"), "wrong"},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.what);
        WriteFileBytes(Tmp() / "n.html", "stale");
        const auto viewer = Run(server, "n", row.url, row.password);
        EXPECT_EQ(viewer->calls, (Calls{kDownloadBox, "end"}));
        EXPECT_EQ(ReadFileBytes(Tmp() / "n.html"), "stale") << "no conversion may run";
    }
}

TEST_F(DocumentWorkerTest, MissingTemporaryFolderIsADownloadError)
{
    Serve("resume.htm", "<p>x</p>");
    fs::remove(Tmp());
    testsupport::FtpServer server(m_served.path());
    ASSERT_TRUE(server.ok());
    const auto viewer = Run(server, "n", server.url("resume.htm"));
    EXPECT_EQ(viewer->calls, (Calls{kDownloadBox, "end"}));
    EXPECT_FALSE(fs::exists(Tmp())) << "nothing creates the temporary folder";
}

TEST_F(DocumentWorkerTest, NamesLeadingOutOfTheTemporaryFolderAreRefusedBeforeAnythingIsWritten)
{
    Serve("resume.htm", "<p>from the server</p>");
    Serve("noext", "<p>no extension</p>");
    WriteFileBytes(m_work.path() / "victim.htm", "keep");
    testsupport::FtpServer server(m_served.path());
    ASSERT_TRUE(server.ok());
    const struct {
        const char* baseName;
        std::string url;
    } rows[] = {
        {"../victim", server.url("resume.htm")},
        {"..\\victim", server.url("resume.htm")},
        {"sub/n", server.url("resume.htm")},
        {"..", server.url("resume.htm")},
        // "ftp://127.0.0.1:PORT/noext": the type is "1:PORT/noext".
        {"n", server.url("noext")},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.baseName + (" " + row.url));
        const auto viewer = Run(server, row.baseName, row.url);
        EXPECT_EQ(viewer->calls, (Calls{kDownloadBox, "end"}));
    }
    EXPECT_EQ(ReadFileBytes(m_work.path() / "victim.htm"), "keep");
    EXPECT_TRUE(fs::is_empty(Tmp())) << "nothing may be written";
    EXPECT_EQ(server.countCommands("RETR"), 0u) << "no download may start";
}

TEST_F(DocumentWorkerTest, DownloadProgressBecomesTheWindowText)
{
    Serve("resume.htm", std::string(3 * 1024 * 1024, 'x'));
    testsupport::FtpServer server(m_served.path());
    ASSERT_TRUE(server.ok());
    RecordingHandle progress;
    g_hDownloadProgressWnd = &progress;
    const auto viewer = Run(server, "n", server.url("resume.htm"));
    g_hDownloadProgressWnd = nullptr;

    const std::vector<WPARAM> percents = progress.Percents(WM_DOWNLOAD_PROGRESS);
    ASSERT_FALSE(percents.empty()) << "expected progress messages during the download";
    for (std::size_t i = 1; i < percents.size(); ++i) {
        EXPECT_LE(percents[i - 1], percents[i]) << "progress went back";
    }
    EXPECT_EQ(percents.back(), 100u);
    // What the window does with each message on its own thread.
    for (WPARAM percent : percents) {
        viewer->dlg.OnDownloadProgress(percent);
    }
    EXPECT_EQ(viewer->window.Calls().back(), "text " + kTitle + "  100");
}

}  // namespace
