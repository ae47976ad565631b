#include "updater/workflow/update_dlg.h"

#include <gtest/gtest.h>

#include <fstream>
#include <vector>

#include "platform/files.h"
#include "platform/module_path.h"
#include "support/temp_dir.h"
#include "transfer/descramble.h"
#include "updater/workflow/manifest.h"

namespace {

using testsupport::ReadFileBytes;
using testsupport::TempDir;
using testsupport::U16;
using testsupport::U8;
using testsupport::WriteFileBytes;

// Serves files from a local "server" folder: the URL's path below ftp://host/
// names the file. Like the FTP download it creates the local file first and
// appends to whatever is there already.
class CLocalFolderTransfer : public CFtpTransfer {
public:
    explicit CLocalFolderTransfer(std::filesystem::path root) : m_root(std::move(root)) {}

    BOOL DownloadFile(CString url, CString localPath) override
    {
        m_urls.push_back(U8(url));
        std::ofstream out(platform::NativePath(localPath), std::ios::binary | std::ios::app);
        const std::string text = U8(url);
        const std::size_t pathStart = text.find('/', std::string("ftp://").size());
        if (!out || !text.starts_with("ftp://") || pathStart == std::string::npos ||
            pathStart == std::string("ftp://").size()) {
            return FALSE;  // no host: nothing to connect to
        }
        const std::filesystem::path source = m_root / text.substr(pathStart + 1);
        if (!std::filesystem::is_regular_file(source)) {
            return FALSE;
        }
        const std::string bytes = ReadFileBytes(source);
        out.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
        return out ? TRUE : FALSE;
    }

    std::vector<std::string> m_urls;

private:
    std::filesystem::path m_root;
};

std::string Manifest(const std::string& version, const std::string& name,
                     const std::string& server = "127.0.0.1")
{
    return "[version]\r\nver=" + version + "\r\nname=" + name + "\r\nurl=" +
           U8(ScrambleField(u"ftp://" + U16(server) + u"/update.zip")) + "\r\nsize=1024\r\n[ftp]\r\nip=" +
           U8(ScrambleField(U16(server))) + "\r\nusername=" + U8(ScrambleField(u"updater")) +
           "\r\npassword=" + U8(ScrambleField(u"pa55")) + "\r\n";
}

class UpdateCheck : public ::testing::Test {
protected:
    void SetUp() override
    {
        std::filesystem::create_directories(m_dir.path() / "install");
        std::filesystem::create_directories(m_dir.path() / "server/update/qb");
        std::filesystem::create_directories(m_dir.path() / "server/update/zt_p");
        g_strFtpServer.clear();
        g_strFtpUser.clear();
        g_strFtpPassword.clear();
        g_strNewVersion = u"unset";
    }

    std::string Installed(const std::string& name) { return m_dir / ("install/" + name); }
    std::string Server(const std::string& name) { return m_dir / ("server/update/" + name); }
    CString Executable() { return U16(m_dir / "install/MorvexUpdate") + platform::kProgramSuffix; }

    TempDir m_dir;
    CLocalFolderTransfer m_transfer{m_dir.path() / "server"};
};

TEST_F(UpdateCheck, NewerServerVersionKeepsTheDownloadedManifestUntilCommitted)
{
    const std::string installed = Manifest("1.0.0.1", "qb");
    const std::string offered = Manifest("1.0.0.2", "qb");
    WriteFileBytes(Installed("version.ini"), installed);
    WriteFileBytes(Server("qb/version.ini"), offered);

    CMyUpdateDlg dlg(m_transfer, Executable());
    EXPECT_TRUE(dlg.m_bCancelLocked);
    EXPECT_NE(dlg.CheckForUpdate(), FALSE) << "1.0.0.1 installed, 1.0.0.2 offered: update due";

    EXPECT_EQ(U8(dlg.m_strInstallDir), (m_dir.path() / "install" / "").string());
    EXPECT_EQ(dlg.m_nProduct, 0);
    EXPECT_EQ(U8(g_strFtpServer), "127.0.0.1");
    EXPECT_EQ(U8(g_strFtpUser), "updater");
    EXPECT_EQ(U8(g_strFtpPassword), "pa55");
    EXPECT_EQ(U8(g_strNewVersion), "1.0.0.2");
    EXPECT_EQ(m_transfer.m_urls, std::vector<std::string>{"ftp://127.0.0.1/update/qb/version.ini"});
    EXPECT_EQ(ReadFileBytes(Installed("version.ini")), installed)
        << "the installed manifest changes only when the install commits it";
    EXPECT_EQ(ReadFileBytes(Installed("newversion.ini")), offered);

    EXPECT_TRUE(CommitNewManifest(dlg.m_strInstallDir));
    EXPECT_EQ(ReadFileBytes(Installed("version.ini")), offered);
    EXPECT_FALSE(std::filesystem::exists(Installed("newversion.ini")));
}

TEST_F(UpdateCheck, CurrentVersionLeavesTheInstalledManifestAlone)
{
    const struct {
        const char* installed;
        const char* offered;
    } rows[] = {{"1.0.0.2", "1.0.0.2"}, {"2.0.0.0", "1.5.0.0"}, {"1.0", "1.0.0.0"}};
    for (const auto& row : rows) {
        const std::string installed = Manifest(row.installed, "qb");
        WriteFileBytes(Installed("version.ini"), installed);
        WriteFileBytes(Server("qb/version.ini"), Manifest(row.offered, "qb"));

        CMyUpdateDlg dlg(m_transfer, Executable());
        EXPECT_EQ(dlg.CheckForUpdate(), FALSE)
            << "installed " << row.installed << ", offered " << row.offered << ": no update";
        EXPECT_EQ(ReadFileBytes(Installed("version.ini")), installed);
        EXPECT_FALSE(std::filesystem::exists(Installed("newversion.ini")));
        EXPECT_EQ(U8(g_strNewVersion), row.offered);
    }
}

TEST_F(UpdateCheck, LeftoverDownloadFromAnInterruptedRunIsDeletedFirst)
{
    WriteFileBytes(Installed("version.ini"), Manifest("1.0.0.1", "qb"));
    WriteFileBytes(Server("qb/version.ini"), Manifest("1.0.0.1", "qb"));
    // Appended to, this would make its own version the one read.
    WriteFileBytes(Installed("newversion.ini"), "[version]\r\nver=9.9.9.9\r\n");

    CMyUpdateDlg dlg(m_transfer, Executable());
    EXPECT_EQ(dlg.CheckForUpdate(), FALSE) << "the server offers the installed version";
    EXPECT_EQ(U8(g_strNewVersion), "1.0.0.1");
    EXPECT_FALSE(std::filesystem::exists(Installed("newversion.ini")));
}

TEST_F(UpdateCheck, FailedDownloadIsNoUpdate)
{
    // The installed version has a negative component, so even the empty
    // offer (0.0.0.0) would compare as newer.
    const std::string installed = Manifest("-1.0.0.0", "qb");
    WriteFileBytes(Installed("version.ini"), installed);

    CMyUpdateDlg dlg(m_transfer, Executable());
    EXPECT_EQ(dlg.CheckForUpdate(), FALSE) << "nothing on the server: no update";
    EXPECT_EQ(U8(g_strNewVersion), "");
    EXPECT_EQ(ReadFileBytes(Installed("version.ini")), installed);
    EXPECT_FALSE(std::filesystem::exists(Installed("newversion.ini")));
}

TEST_F(UpdateCheck, MissingInstalledManifestAsksAServerWithoutHost)
{
    CMyUpdateDlg dlg(m_transfer, Executable());
    EXPECT_EQ(dlg.CheckForUpdate(), FALSE);
    EXPECT_EQ(dlg.m_nProduct, 2);
    EXPECT_EQ(m_transfer.m_urls, std::vector<std::string>{"ftp:///update/zt_p/version.ini"});
    EXPECT_TRUE(g_strFtpServer.empty() && g_strFtpUser.empty() && g_strFtpPassword.empty());
    EXPECT_FALSE(std::filesystem::exists(Installed("newversion.ini")));
    EXPECT_FALSE(std::filesystem::exists(Installed("version.ini")));
}

TEST_F(UpdateCheck, EmptyInstalledVersionTakesAnyOffer)
{
    WriteFileBytes(Installed("version.ini"), Manifest("", "other"));
    WriteFileBytes(Server("zt_p/version.ini"), Manifest("1.0.0.1", "zt_p"));

    CMyUpdateDlg dlg(m_transfer, Executable());
    EXPECT_NE(dlg.CheckForUpdate(), FALSE);
    EXPECT_EQ(dlg.m_nProduct, 2);
    EXPECT_EQ(m_transfer.m_urls, std::vector<std::string>{"ftp://127.0.0.1/update/zt_p/version.ini"});
    EXPECT_TRUE(DiscardNewManifest(dlg.m_strInstallDir));
    EXPECT_FALSE(std::filesystem::exists(Installed("newversion.ini")));
}

TEST_F(UpdateCheck, OtherExecutableNameWorksInTheCurrentDirectory)
{
    WriteFileBytes(Installed("version.ini"), Manifest("1.0.0.1", "qb"));
    WriteFileBytes(Server("qb/version.ini"), Manifest("1.0.0.3", "qb"));
    const auto previous = std::filesystem::current_path();
    std::filesystem::current_path(m_dir.path() / "install");

    CMyUpdateDlg dlg(m_transfer, U16(m_dir / "install/morvexupdate"));
    const BOOL result = dlg.CheckForUpdate();
    const bool downloadedHere = std::filesystem::exists("newversion.ini");
    std::filesystem::current_path(previous);

    EXPECT_EQ(U8(dlg.m_strInstallDir), "");
    EXPECT_NE(result, FALSE) << "the manifest in the current directory offers an update";
    EXPECT_TRUE(downloadedHere);
}

}  // namespace
