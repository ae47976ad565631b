// Viewer command lines a product (or anyone) may pass: quotes, line breaks,
// 10 000-character values, URLs with a query or a fragment, names that add up
// to the temporary folder's parent. The document pipeline runs for real
// against the local FTP server; every file it leaves must lie in W/tmp.
#include <gtest/gtest.h>

#include <filesystem>
#include <memory>
#include <set>
#include <string>
#include <vector>

#include "support/ftp_server.h"
#include "support/http_listener.h"
#include "support/temp_dir.h"
#include "viewer/cvglance_dlg.h"
#include "viewer/document_rules.h"
#include "viewer/document_worker.h"
#include "viewer/pipeline/recording_window.h"

namespace fs = std::filesystem;
using testsupport::ReadFileBytes;
using testsupport::U16;
using testsupport::WriteFileBytes;

namespace {

using Calls = std::vector<std::string>;

const std::string kPage = "<p>resume</p>";
const std::string kDownloadBox = "box 提示: 文件下载错误，请稍后再试！";

struct Arguments {
    std::string title = "title";
    std::string baseName = "cv";
    std::string url;
    std::string user;
    std::string password;
};

class HostileViewerArguments : public ::testing::Test {
protected:
    void SetUp() override
    {
        fs::create_directories(m_work.path() / "tmp");
        WriteFileBytes(m_served.path() / "resume.htm", kPage);
        WriteFileBytes(m_work.path() / "neighbour.htm", "keep");
        ASSERT_TRUE(m_server.ok());
    }

    Arguments Defaults() const
    {
        Arguments args;
        args.url = m_server.url("resume.htm");
        args.user = m_server.user();
        args.password = m_server.password();
        return args;
    }

    // The pipeline with the seven arguments, as a start with a work folder.
    Calls Run(const Arguments& args)
    {
        RecordingWindow window;
        CCvGlanceDlg dlg(window);
        dlg.m_Args = {U16(args.title), U16(args.baseName), U16(args.url),
                      U16(args.user),  U16(args.password), U16(std::to_string(m_server.port())),
                      U16(m_work.path().string())};
        dlg.AppendProgramFolder(u"/opt/cvglance/CvGlance");
        EXPECT_EQ(DocumentWorker(&dlg), 0);
        return window.Calls();
    }

    // Everything below the work folder except the temporary folder's content.
    std::set<fs::path> OutsideTmp() const
    {
        std::set<fs::path> found;
        for (const auto& item : fs::recursive_directory_iterator(m_work.path())) {
            if (item.path().parent_path() != m_work.path() / "tmp") {
                found.insert(item.path());
            }
        }
        return found;
    }

    std::string Navigated(const std::string& fileName) const
    {
        return "navigate " + m_work.path().string() + "\\tmp\\" + fileName;
    }

    testsupport::TempDir m_served;
    testsupport::TempDir m_work;
    testsupport::FtpServer m_server{m_served.path()};
};

TEST_F(HostileViewerArguments, QuotesAndLineBreaksStayPartOfTheirArgument)
{
    const std::set<fs::path> before = OutsideTmp();
    Arguments args = Defaults();
    args.title = "\"张伟\" 的\n简历 'x'";
    args.baseName = "cv \"1\"\n'2'";

    EXPECT_EQ(Run(args), Calls{Navigated(args.baseName + ".htm")});
    EXPECT_EQ(ReadFileBytes(m_work.path() / "tmp" / (args.baseName + ".htm")), kPage)
        << "the name is used as given, quotes and line break included";
    EXPECT_EQ(OutsideTmp(), before) << "nothing lands outside the temporary folder";
}

TEST_F(HostileViewerArguments, TenThousandCharacterValuesFailCleanly)
{
    const std::set<fs::path> before = OutsideTmp();
    const std::string huge(10000, 'a');
    const struct {
        const char* what;
        void (*apply)(Arguments&, const std::string&);
        bool shown;
    } rows[] = {
        {"title", [](Arguments& a, const std::string& v) { a.title = v; }, true},
        {"base name (too long for a file name)", [](Arguments& a, const std::string& v) { a.baseName = v; }, false},
        {"user", [](Arguments& a, const std::string& v) { a.user = v; }, false},
        {"password", [](Arguments& a, const std::string& v) { a.password = v; }, false},
        {"url", [](Arguments& a, const std::string& v) { a.url += "/" + v + ".htm"; }, false},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.what);
        Arguments args = Defaults();
        row.apply(args, huge);
        fs::remove_all(m_work.path() / "tmp");
        fs::create_directories(m_work.path() / "tmp");
        const Calls calls = Run(args);
        if (row.shown) {
            EXPECT_EQ(calls, Calls{Navigated("cv.htm")});
        } else {
            EXPECT_EQ(calls, (Calls{kDownloadBox, "end"}));
        }
        EXPECT_EQ(OutsideTmp(), before);
    }
}

TEST_F(HostileViewerArguments, QueryOrFragmentBecomesPartOfTheTypeAndTheFileIsShownAsItIs)
{
    const std::set<fs::path> before = OutsideTmp();
    for (const std::string suffix : {"?x=1&y=../../z", "#top", "?a=b#c"}) {
        SCOPED_TRACE(suffix);
        Arguments args = Defaults();
        args.url += suffix;
        const Calls calls = Run(args);
        // The type is everything after the last ".": "htm" plus the suffix,
        // which is neither converted nor allowed to hold a separator.
        if (suffix.find('/') != std::string::npos) {
            EXPECT_EQ(calls, (Calls{kDownloadBox, "end"})) << "a type holding \"/\" is refused";
        } else {
            ASSERT_EQ(calls, Calls{Navigated("cv.htm" + suffix)});
            EXPECT_EQ(ReadFileBytes(m_work.path() / "tmp" / ("cv.htm" + suffix)), kPage)
                << "the server's file, fetched without the query or fragment";
        }
    }
    EXPECT_EQ(OutsideTmp(), before);
}

TEST_F(HostileViewerArguments, BaseNameAndEmptyTypeThatNameTheFolderOrItsParentAreRefused)
{
    WriteFileBytes(m_served.path() / "x.", kPage);
    const std::set<fs::path> before = OutsideTmp();
    for (const std::string baseName : {".", ""}) {
        SCOPED_TRACE("base name \"" + baseName + "\"");
        Arguments args = Defaults();
        args.baseName = baseName;
        args.url = m_server.url("x.");  // the type after the last "." is empty
        EXPECT_EQ(Run(args), (Calls{kDownloadBox, "end"}));
    }
    EXPECT_EQ(m_server.countCommands("RETR"), 0u) << "no download may start";
    EXPECT_TRUE(fs::is_empty(m_work.path() / "tmp"));
    EXPECT_EQ(OutsideTmp(), before);
    EXPECT_EQ(ReadFileBytes(m_work.path() / "neighbour.htm"), "keep");
}

// Nothing leaves the machine but the one FTP download: a URL of any other
// scheme is refused before anything is read or shown.
TEST_F(HostileViewerArguments, UrlsOtherThanFtpGetTheDownloadErrorAndReadNothing)
{
    testsupport::HttpListener web;
    ASSERT_TRUE(web.ok());
    WriteFileBytes(m_served.path() / "local.htm", kPage);
    for (const std::string& url : {"file://" + (m_served.path() / "local.htm").string(), web.url("cv.htm")}) {
        SCOPED_TRACE(url);
        Arguments args = Defaults();
        args.url = url;
        EXPECT_EQ(Run(args), (Calls{kDownloadBox, "end"}));
        const fs::path local = m_work.path() / "tmp" / "cv.htm";
        EXPECT_TRUE(!fs::exists(local) || fs::file_size(local) == 0) << "something was read";
    }
    EXPECT_EQ(web.connections(), 0) << "the web server was asked";
}

// The rule behind the refusal above, for the pairs a fuzzer found: each part
// alone is harmless, together they name "W\tmp\." or "W\tmp\..".
TEST(HostileViewerNames, PartsThatTogetherNameTheFolderOrItsParentAreUnsafe)
{
    const struct {
        const char16_t* baseName;
        const char16_t* type;
        bool safe;
    } rows[] = {
        {u".", u"", false},     // ".." : the work folder itself
        {u"", u"", false},      // "."  : the temporary folder
        {u".", u"htm", true},   // "..htm" is a file in the temporary folder
        {u"", u"htm", true},    // ".htm" likewise
        {u"cv", u"", true},     // "cv."
    };
    for (const auto& row : rows) {
        EXPECT_EQ(IsSafeDocumentName(row.baseName, row.type), row.safe)
            << "\"" << testsupport::U8(row.baseName) << "\" + \".\" + \"" << testsupport::U8(row.type) << "\"";
    }
}

}  // namespace
