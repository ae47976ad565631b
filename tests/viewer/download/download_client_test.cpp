#include <gtest/gtest.h>

#include <filesystem>
#include <mutex>
#include <string>
#include <vector>

#include "support/ftp_server.h"
#include "support/temp_dir.h"
#include "viewer/ftp_curl.h"

namespace {

using testsupport::ReadFileBytes;
using testsupport::U16;
using testsupport::WriteFileBytes;
namespace fs = std::filesystem;

struct Posted {
    UINT message;
    WPARAM wParam;
    LPARAM lParam;
};

class RecordingWindow : public CWindowHandle {
public:
    bool PostMessage(UINT message, WPARAM wParam, LPARAM lParam) override
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        m_posted.push_back({message, wParam, lParam});
        return true;
    }
    std::vector<Posted> posted() const
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        return m_posted;
    }

private:
    mutable std::mutex m_mutex;
    std::vector<Posted> m_posted;
};

std::string Document(std::size_t length)
{
    std::string bytes(length, '\0');
    for (std::size_t i = 0; i < length; ++i) {
        bytes[i] = static_cast<char>((i * 131 + i / 7) & 0xFF);
    }
    return bytes;
}

class ViewerDownload : public ::testing::Test {
protected:
    void SetUp() override
    {
        fs::create_directories(m_served.path() / "cv");
        WriteFileBytes(m_served.path() / "cv" / "resume.doc", m_document);
        g_hDownloadProgressWnd = &m_window;
    }
    void TearDown() override { g_hDownloadProgressWnd = nullptr; }

    CFtpCurl Client(const testsupport::FtpServer& server, const std::string& port = "") const
    {
        CFtpCurl client;
        client.m_strUser = U16(server.user());
        client.m_strPassword = U16(server.password());
        client.m_strPort = U16(port);
        return client;
    }

    BOOL Download(CFtpCurl& client, const std::string& url) { return client.DownloadFile(U16(url), U16(m_local)); }

    const std::string m_document = Document(300 * 1024);
    testsupport::TempDir m_served;
    testsupport::TempDir m_work;
    std::string m_local = m_work / "N.doc";
    RecordingWindow m_window;
};

TEST_F(ViewerDownload, DownloadsTheFileAndPostsItsProgressToTheViewer)
{
    testsupport::FtpServer server(m_served.path());
    ASSERT_TRUE(server.ok());
    CFtpCurl client = Client(server);
    ASSERT_TRUE(Download(client, server.url("cv/resume.doc")));
    EXPECT_EQ(ReadFileBytes(m_local), m_document);

    const std::vector<Posted> posted = m_window.posted();
    ASSERT_FALSE(posted.empty()) << "progress should be posted while downloading";
    WPARAM last = 0;
    for (const Posted& p : posted) {
        EXPECT_EQ(p.message, 0x0401u) << "progress travels as WM_USER + 1";
        EXPECT_EQ(p.lParam, 0);
        EXPECT_LE(p.wParam, 100u);
        EXPECT_GE(p.wParam, last) << "progress should never go back";
        last = p.wParam;
    }
    EXPECT_EQ(last, 100u) << "the last report should be the whole file";
}

TEST_F(ViewerDownload, ProgressIsZeroWhileTheServerKeepsTheSizeToItself)
{
    testsupport::FtpServerOptions options;
    options.noSize = true;
    testsupport::FtpServer server(m_served.path(), options);
    ASSERT_TRUE(server.ok());
    CFtpCurl client = Client(server);
    ASSERT_TRUE(Download(client, server.url("cv/resume.doc")));
    EXPECT_EQ(ReadFileBytes(m_local), m_document);
    const std::vector<Posted> posted = m_window.posted();
    ASSERT_FALSE(posted.empty()) << "progress should still be posted";
    for (const Posted& p : posted) {
        EXPECT_EQ(p.wParam, 0u) << "no percent can be known without the size";
    }
}

TEST_F(ViewerDownload, NothingIsPostedWithoutAProgressWindow)
{
    g_hDownloadProgressWnd = nullptr;
    testsupport::FtpServer server(m_served.path());
    ASSERT_TRUE(server.ok());
    CFtpCurl client = Client(server);
    ASSERT_TRUE(Download(client, server.url("cv/resume.doc")));
    EXPECT_EQ(ReadFileBytes(m_local), m_document);
    EXPECT_TRUE(m_window.posted().empty());
}

TEST_F(ViewerDownload, PortTextIsUsedWhenTheUrlNamesNone)
{
    testsupport::FtpServer server(m_served.path());
    ASSERT_TRUE(server.ok());
    CFtpCurl client = Client(server, std::to_string(server.port()));
    ASSERT_TRUE(Download(client, "ftp://127.0.0.1/cv/resume.doc"))
        << "the port " << server.port() << " given on the command line should be used";
    EXPECT_EQ(ReadFileBytes(m_local), m_document);
}

TEST_F(ViewerDownload, PortWrittenInTheUrlWinsOverThePortText)
{
    testsupport::FtpServer server(m_served.path());
    ASSERT_TRUE(server.ok());
    CFtpCurl client = Client(server, "1");  // nothing listens there
    ASSERT_TRUE(Download(client, server.url("cv/resume.doc")));
    EXPECT_EQ(ReadFileBytes(m_local), m_document);
}

TEST_F(ViewerDownload, BackslashesInTheUrlAreRequestedAsSlashes)
{
    testsupport::FtpServer server(m_served.path());
    ASSERT_TRUE(server.ok());
    CFtpCurl client = Client(server);
    ASSERT_TRUE(Download(client, "ftp://" + server.hostPort() + "\\cv\\resume.doc"));
    EXPECT_EQ(ReadFileBytes(m_local), m_document);
    EXPECT_EQ(server.countCommands("RETR resume.doc"), 1u);
}

TEST_F(ViewerDownload, FailuresAreReportedAndLeaveAtMostAnEmptyFile)
{
    testsupport::FtpServer server(m_served.path());
    ASSERT_TRUE(server.ok());
    struct Case {
        const char* what;
        std::string password;
        std::string path;
    };
    const Case cases[] = {
        {"wrong password", "not-the-password", "cv/resume.doc"},
        {"missing remote file", server.password(), "cv/nobody.doc"},
    };
    for (const Case& c : cases) {
        fs::remove(m_local);
        CFtpCurl client = Client(server);
        client.m_strPassword = U16(c.password);
        EXPECT_FALSE(Download(client, server.url(c.path))) << c.what;
        EXPECT_EQ(ReadFileBytes(m_local), "") << c.what << ": the local file exists and holds nothing";
    }
}

TEST_F(ViewerDownload, LocalFileThatCannotBeCreatedFailsWithoutContactingTheServer)
{
    testsupport::FtpServer server(m_served.path());
    ASSERT_TRUE(server.ok());
    CFtpCurl client = Client(server);
    m_local = m_work / "tmp-folder-missing/N.doc";
    EXPECT_FALSE(Download(client, server.url("cv/resume.doc")));
    EXPECT_EQ(server.countCommands("# connect"), 0u) << "nothing should be sent";
}

TEST_F(ViewerDownload, AppendsToWhatTheLocalFileAlreadyHolds)
{
    testsupport::FtpServer server(m_served.path());
    ASSERT_TRUE(server.ok());
    WriteFileBytes(m_local, m_document.substr(0, 1000));
    CFtpCurl client = Client(server);
    ASSERT_TRUE(Download(client, server.url("cv/resume.doc")));
    EXPECT_EQ(ReadFileBytes(m_local), m_document) << "the download should continue at byte 1000";
    EXPECT_EQ(server.countCommands("REST 1000"), 1u);
}

}  // namespace
