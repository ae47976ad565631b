// The check over FTP with TLS against a real TLS server: the right certificate
// works, a wrong one or a server without TLS is "no update" with nothing
// changed, never a fall back to clear text.
#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <filesystem>
#include <memory>
#include <string>
#include <vector>

#include "support/ftp_server.h"
#include "support/temp_dir.h"
#include "transfer/descramble.h"
#include "transfer/ftp_transfer_curl.h"
#include "updater/workflow/update_dlg.h"
#include "workflow_update/script_tools.h"
#include "workflow_update/update_fixture.h"

namespace {

using testsupport::FtpServer;
using testsupport::FtpServerOptions;
using testsupport::ReadFileBytes;
using testsupport::TempDir;
using testsupport::U16;
using testsupport::U8;
using testsupport::WriteFileBytes;

// A self-signed certificate for 127.0.0.1, made now.
void MakeCertificate(const std::filesystem::path& folder)
{
    std::filesystem::create_directories(folder);
    ASSERT_EQ(RunAndWait({"/usr/bin/openssl", "req", "-x509", "-newkey", "rsa:2048", "-nodes", "-days", "1",
                          "-subj", "/CN=127.0.0.1", "-addext", "subjectAltName=IP:127.0.0.1", "-keyout",
                          (folder / "key.pem").string(), "-out", (folder / "cert.pem").string()}),
              0);
}

class TlsCheck : public ::testing::Test {
protected:
    void SetUp() override
    {
        for (const char* folder : {"install", "server/update/qb"}) {
            std::filesystem::create_directories(m_dir.path() / folder);
        }
        MakeCertificate(m_dir.path() / "right");
        MakeCertificate(m_dir.path() / "wrong");
        g_strFtpPort.clear();
    }
    void TearDown() override
    {
        g_bFtpTls = false;
        g_strFtpCaFile.clear();
    }

    // Serves an offer of 1.0.0.2 to an installation of 1.0.0.1 that asks for TLS.
    std::unique_ptr<FtpServer> Serve(bool tls)
    {
        FtpServerOptions options;
        if (tls) {
            options.tlsCertificate = m_dir / "right/cert.pem";
            options.tlsKey = m_dir / "right/key.pem";
        }
        auto server = std::make_unique<FtpServer>(m_dir.path() / "server", options);
        EXPECT_TRUE(server->ok());
        WriteFileBytes(m_dir / "install/version.ini", Manifest(*server, "1.0.0.1"));
        WriteFileBytes(m_dir / "server/update/qb/version.ini", Manifest(*server, "1.0.0.2"));
        return server;
    }

    static std::string Manifest(const FtpServer& server, const std::string& version)
    {
        return "[version]\r\nver=" + version + "\r\nname=qb\r\n[ftp]\r\nip=" +
               U8(ScrambleField(U16(server.hostPort()))) + "\r\nusername=" + U8(ScrambleField(u"tester")) +
               "\r\npassword=" + U8(ScrambleField(u"secret")) + "\r\ntls=1\r\n";
    }

    BOOL Check(const std::string& caFolder)
    {
        std::filesystem::copy_file(m_dir.path() / caFolder / "cert.pem", m_dir.path() / "install/MorvexUpdate.ca.pem",
                                   std::filesystem::copy_options::overwrite_existing);
        CMyUpdateDlg dlg(m_transfer, U16(m_dir / "install/MorvexUpdate"));
        const std::string installed = ReadFileBytes(m_dir / "install/version.ini");
        const BOOL due = dlg.CheckForUpdate();
        EXPECT_EQ(ReadFileBytes(m_dir / "install/version.ini"), installed);
        if (due == FALSE) {
            EXPECT_FALSE(std::filesystem::exists(m_dir / "install/newversion.ini"));
        }
        return due;
    }

    TempDir m_dir;
    CFtpTransfer_Curl m_transfer;
};

TEST_F(TlsCheck, TheServersOwnCertificateProtectsTheSession)
{
    auto server = Serve(true);
    EXPECT_NE(Check("right"), FALSE);
    EXPECT_GE(server->countCommands("AUTH TLS"), 1u);
    EXPECT_GE(server->countCommands("PROT P"), 1u) << "the data connection is protected too";
}

TEST_F(TlsCheck, AnotherCertificateIsNoUpdate)
{
    auto server = Serve(true);
    EXPECT_EQ(Check("wrong"), FALSE);
    EXPECT_EQ(server->countCommands("USER"), 0u) << "no login before the certificate is verified";
}

TEST_F(TlsCheck, AServerWithoutTlsIsNoUpdateAndGetsNoPassword)
{
    auto server = Serve(false);
    EXPECT_EQ(Check("right"), FALSE);
    EXPECT_EQ(server->countCommands("PASS"), 0u) << "no fall back to clear text";
}

}  // namespace

namespace {

bool HasCall(const std::vector<std::string>& calls, const std::string& call)
{
    return std::find(calls.begin(), calls.end(), call) != calls.end();
}

TEST(TlsUpdate, ASignedUpdateOverTlsInstalls)
{
    UpdateSceneOptions options;
    options.tls = true;
    options.signedUpdate = true;
    UpdateScene scene(options);
    auto dlg = scene.MakeDialog();
    scene.RunToTheEnd(*dlg);
    EXPECT_EQ(scene.InstalledVersion(), "1.0.0.12");
    EXPECT_GE(scene.Server().countCommands("PROT P"), 4u) << "manifest, archive and both signatures";
    EXPECT_EQ(scene.Server().countCommands("AUTH TLS"), scene.Server().countCommands("USER "));
}

TEST(TlsUpdate, ADownloadThatMeetsAnotherCertificateFailsAndChangesNothing)
{
    UpdateSceneOptions options;
    options.tls = true;
    UpdateScene scene(options);
    auto dlg = scene.MakeDialog();
    dlg->OnInitDialog();
    ASSERT_FALSE(dlg->HasEnded()) << "the check over TLS offers the update";

    // Between the check and the download someone else answers for the server.
    TempDir other;
    MakeCertificate(other.path());
    std::filesystem::copy_file(other.path() / "cert.pem", scene.Install() / "MorvexUpdate.ca.pem",
                               std::filesystem::copy_options::overwrite_existing);
    dlg->AttachWindow(&scene.Window());
    ASSERT_TRUE(dlg->WaitForWorker(std::chrono::minutes(2)));
    EXPECT_TRUE(HasCall(scene.Window().Calls(), "box 升级失败|升级包下载或解压失败，请稍后再试！"));
    EXPECT_EQ(scene.InstalledVersion(), "1.0.0.1");
    EXPECT_EQ(scene.PeopleInDatabase(), std::vector<std::string>{"老员工"});
    EXPECT_FALSE(std::filesystem::exists(scene.Install() / "payload.bin"));
    g_bFtpTls = false;
    g_strFtpCaFile.clear();
}

}  // namespace
