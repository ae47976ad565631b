// Hostile manifests: what a broken or malicious server (or a damaged
// installation) hands the update check. The check runs for real: the local FTP
// server on 127.0.0.1, the libcurl transfer, files in a temporary
// installation folder.
#include <gtest/gtest.h>

#include <filesystem>
#include <random>
#include <string>

#include "support/ftp_server.h"
#include "support/temp_dir.h"
#include "transfer/descramble.h"
#include "transfer/ftp_transfer_curl.h"
#include "updater/workflow/manifest.h"
#include "updater/workflow/update_dlg.h"

namespace fs = std::filesystem;
using testsupport::ReadFileBytes;
using testsupport::U16;
using testsupport::U8;
using testsupport::WriteFileBytes;

namespace {

constexpr std::size_t kTenMegabytes = 10 * 1024 * 1024;

std::string Scrambled(const std::string& plain) { return U8(ScrambleField(U16(plain))); }

std::string Repeat(const std::string& text, std::size_t times)
{
    std::string repeated;
    for (std::size_t i = 0; i < times; ++i) {
        repeated += text;
    }
    return repeated;
}

class HostileManifest : public ::testing::Test {
protected:
    void SetUp() override
    {
        fs::create_directories(m_install.path());
        fs::create_directories(m_served.path() / "update" / "qb");
        g_strFtpServer.clear();
        g_strFtpUser.clear();
        g_strFtpPassword.clear();
        g_strNewVersion = u"unset";
    }

    // The installed manifest of product "qb", pointing at the server.
    std::string Installed(const std::string& version) const
    {
        return "[version]\r\nver=" + version + "\r\nname=qb\r\n[ftp]\r\nip=" + Scrambled(m_server.hostPort()) +
               "\r\nusername=" + Scrambled(m_server.user()) + "\r\npassword=" + Scrambled(m_server.password()) +
               "\r\n";
    }

    void Offer(const std::string& manifest) { WriteFileBytes(m_served.path() / "update/qb/version.ini", manifest); }

    BOOL Check()
    {
        CMyUpdateDlg dlg(m_transfer, U16((m_install.path() / "MorvexUpdate").string()));
        return dlg.CheckForUpdate();
    }

    fs::path InstalledPath() const { return m_install.path() / "version.ini"; }
    fs::path DownloadedPath() const { return m_install.path() / "newversion.ini"; }

    testsupport::TempDir m_served;
    testsupport::TempDir m_install;
    testsupport::FtpServer m_server{m_served.path()};
    CFtpTransfer_Curl m_transfer;
};

TEST_F(HostileManifest, TenMegabyteServerManifestIsReadToTheVersionAtItsEnd)
{
    ASSERT_TRUE(m_server.ok());
    const std::string installed = Installed("1.0.0.1");
    WriteFileBytes(InstalledPath(), installed);
    std::string bloated = "[padding]\r\n";
    while (bloated.size() < kTenMegabytes) {
        bloated += "key" + std::to_string(bloated.size()) + "=" + std::string(200, 'v') + "\r\n";
    }
    Offer(bloated + "[version]\r\nver=2.0.0.0\r\nname=qb\r\n");

    EXPECT_TRUE(Check()) << "the version behind 10 MB of other keys is found and offered";
    EXPECT_EQ(U8(g_strNewVersion), "2.0.0.0");
    EXPECT_EQ(ReadFileBytes(InstalledPath()), installed) << "the installed manifest waits for the install";
    EXPECT_GT(fs::file_size(DownloadedPath()), kTenMegabytes) << "the whole server manifest is kept";
}

TEST_F(HostileManifest, BinaryGarbageOffersNoUpdateAndIsRemoved)
{
    ASSERT_TRUE(m_server.ok());
    const std::string installed = Installed("1.0.0.1");
    WriteFileBytes(InstalledPath(), installed);
    std::mt19937 random(20210305);
    std::string garbage(1024 * 1024, '\0');
    for (char& c : garbage) {
        c = static_cast<char>(random());
    }
    for (const std::string& served : {garbage, "\xFF\xFE" + garbage, "\xEF\xBB\xBF" + garbage}) {
        Offer(served);
        EXPECT_FALSE(Check()) << "garbage holds no version to offer";
        EXPECT_TRUE(g_strNewVersion.empty()) << "no version is read out of garbage: " << U8(g_strNewVersion);
        EXPECT_FALSE(fs::exists(DownloadedPath())) << "the garbage does not stay in the installation";
        EXPECT_EQ(ReadFileBytes(InstalledPath()), installed);
    }
}

TEST_F(HostileManifest, TenThousandDigitVersionsAreCutTo19UnitsAndComparedWithoutOverflow)
{
    ASSERT_TRUE(m_server.ok());
    const std::string huge = "1" + std::string(9999, '0');
    const struct {
        std::string installed;
        std::string offered;
        bool updateDue;
    } rows[] = {
        {"1.0.0.1", huge, true},             // 19 digits are far above 1
        {huge, "2.0.0.0", false},            // and far above 2
        {huge, huge, false},                 // equal texts
        {"2.0.0.0", "2.0.0.0" + Repeat(".9", 5000), false},  // numbers after the fourth do not count
        {"-" + huge, "0", true},             // far below 0 without wrapping
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.installed.substr(0, 24) + " against " + row.offered.substr(0, 24));
        WriteFileBytes(InstalledPath(), Installed(row.installed));
        Offer("[version]\r\nver=" + row.offered + "\r\n");
        EXPECT_EQ(Check() != FALSE, row.updateDue);
        EXPECT_EQ(g_strNewVersion, U16(row.offered.substr(0, 19))) << "a value keeps 19 units";
        fs::remove(DownloadedPath());
    }
}

TEST_F(HostileManifest, InstalledManifestThatIsADirectoryAsksNoServerAndChangesNothing)
{
    ASSERT_TRUE(m_server.ok());
    fs::create_directories(InstalledPath());
    WriteFileBytes(InstalledPath() / "inside.txt", "kept");
    Offer("[version]\r\nver=9.0.0.0\r\n");

    EXPECT_FALSE(Check()) << "a manifest that cannot be read names no server to ask";
    EXPECT_TRUE(g_strFtpServer.empty());
    EXPECT_EQ(m_server.countCommands("# connect"), 0u) << "the server is never contacted";
    EXPECT_TRUE(fs::is_directory(InstalledPath()));
    EXPECT_EQ(ReadFileBytes(InstalledPath() / "inside.txt"), "kept");
    EXPECT_FALSE(fs::exists(DownloadedPath()));
}

}  // namespace
