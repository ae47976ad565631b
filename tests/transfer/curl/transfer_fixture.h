// Shared pieces of the transfer tests: a served folder and a local folder, the
// process-wide settings pointed at the server, a recording progress window,
// and standard error captured into a string.
#pragma once

#include <gtest/gtest.h>

#include <filesystem>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "platform/window.h"
#include "support/ftp_server.h"
#include "support/temp_dir.h"

namespace transfertest {

struct PostedMessage {
    UINT message;
    WPARAM wParam;
    LPARAM lParam;
};

// A window that keeps every message posted to it.
class RecordingWindow : public CWindowHandle {
public:
    bool PostMessage(UINT message, WPARAM wParam, LPARAM lParam) override;
    std::vector<PostedMessage> messages() const;

private:
    mutable std::mutex m_mutex;
    std::vector<PostedMessage> m_messages;
};

// Everything written to standard error (file descriptor 2) while it lives.
class StderrCapture {
public:
    StderrCapture();
    ~StderrCapture();
    StderrCapture(const StderrCapture&) = delete;
    StderrCapture& operator=(const StderrCapture&) = delete;

    // Stops capturing (if still capturing) and returns what was written.
    std::string text();

private:
    testsupport::TempDir m_dir;
    int m_saved = -1;
    std::string m_text;
};

// Equal bytes; otherwise a short message with both sizes and the offset of
// the first difference instead of two dumps of binary data.
::testing::AssertionResult SameBytes(const std::string& actual, const std::string& expected);

// Deterministic bytes of any length, different for each seed.
std::string PatternBytes(std::size_t length, unsigned seed = 1);

// A test with a served folder ("served") and a local folder ("local"), and the
// transfer settings reset before and after it.
class TransferTest : public ::testing::Test {
protected:
    void SetUp() override;
    void TearDown() override;

    // Starts the server over the served folder and points g_strFtpServer
    // ("127.0.0.1"), g_strFtpPort, g_strFtpUser and g_strFtpPassword at it.
    void StartServer(testsupport::FtpServerOptions options = {});

    std::filesystem::path served(const std::string& name) const { return m_dir.path() / "served" / name; }
    std::filesystem::path local(const std::string& name) const { return m_dir.path() / "local" / name; }
    // A file in the served folder (its folders created as needed).
    void Serve(const std::string& name, const std::string& bytes) const;

    testsupport::TempDir m_dir;
    std::unique_ptr<testsupport::FtpServer> m_server;
};

}  // namespace transfertest
