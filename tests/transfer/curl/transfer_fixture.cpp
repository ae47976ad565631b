#include "transfer_fixture.h"

#include <cstdio>

#include "support/system.h"
#include "transfer/ftp_transfer.h"

namespace transfertest {

bool RecordingWindow::PostMessage(UINT message, WPARAM wParam, LPARAM lParam)
{
    std::lock_guard<std::mutex> lock(m_mutex);
    m_messages.push_back({message, wParam, lParam});
    return true;
}

std::vector<PostedMessage> RecordingWindow::messages() const
{
    std::lock_guard<std::mutex> lock(m_mutex);
    return m_messages;
}

StderrCapture::StderrCapture()
{
    std::fflush(stderr);
    m_saved = testsupport::system::RedirectStandardError((m_dir.path() / "stderr.txt").string());
    if (m_saved < 0) {
        ADD_FAILURE() << "cannot create a file to capture standard error";
    }
}

StderrCapture::~StderrCapture() { text(); }

std::string StderrCapture::text()
{
    if (m_saved >= 0) {
        std::fflush(stderr);
        testsupport::system::RestoreStandardError(m_saved);
        m_saved = -1;
        m_text = testsupport::ReadFileBytes(m_dir.path() / "stderr.txt");
    }
    return m_text;
}

::testing::AssertionResult SameBytes(const std::string& actual, const std::string& expected)
{
    if (actual == expected) {
        return ::testing::AssertionSuccess();
    }
    std::size_t first = 0;
    while (first < actual.size() && first < expected.size() && actual[first] == expected[first]) {
        ++first;
    }
    return ::testing::AssertionFailure() << "expected " << expected.size() << " bytes, got " << actual.size()
                                         << "; first difference at byte " << first;
}

std::string PatternBytes(std::size_t length, unsigned seed)
{
    std::string bytes(length, '\0');
    unsigned state = seed * 2654435761u + 1;
    for (char& byte : bytes) {
        state = state * 1103515245u + 12345u;
        byte = static_cast<char>(state >> 23);
    }
    return bytes;
}

void TransferTest::SetUp()
{
    std::filesystem::create_directories(m_dir.path() / "served");
    std::filesystem::create_directories(m_dir.path() / "local");
    g_strFtpServer.clear();
    g_strFtpUser.clear();
    g_strFtpPassword.clear();
    g_strUploadRoot.clear();
    g_strCategoryRoot.clear();
    g_strFtpPort.clear();
    g_hProgressWnd = nullptr;
    g_bUploadRootPending = true;
}

void TransferTest::TearDown()
{
    g_hProgressWnd = nullptr;
    m_server.reset();
}

void TransferTest::StartServer(testsupport::FtpServerOptions options)
{
    m_server = std::make_unique<testsupport::FtpServer>(m_dir.path() / "served", std::move(options));
    ASSERT_TRUE(m_server->ok());
    g_strFtpServer = u"127.0.0.1";
    g_strFtpPort = testsupport::U16(std::to_string(m_server->port()));
    g_strFtpUser = testsupport::U16(m_server->user());
    g_strFtpPassword = testsupport::U16(m_server->password());
}

void TransferTest::Serve(const std::string& name, const std::string& bytes) const
{
    std::filesystem::create_directories(served(name).parent_path());
    testsupport::WriteFileBytes(served(name), bytes);
}

}  // namespace transfertest
