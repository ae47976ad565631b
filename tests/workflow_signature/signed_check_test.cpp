// The check of a pinned installation against a real FTP server: which signed
// manifests are offered and which are refused.
#include "updater/workflow/update_signature.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <memory>
#include <string>

#include "support/ftp_server.h"
#include "support/temp_dir.h"
#include "transfer/descramble.h"
#include "transfer/ftp_transfer_curl.h"
#include "updater/install/minisign.h"
#include "updater/workflow/manifest.h"
#include "updater/workflow/update_dlg.h"

namespace {

using testsupport::FtpServer;
using testsupport::ReadFileBytes;
using testsupport::TempDir;
using testsupport::U16;
using testsupport::U8;
using testsupport::WriteFileBytes;

struct TestKey {
    std::string publicKeyFile;
    minisign::SecretKey secret;
};

TestKey MakeKey()
{
    std::string error;
    const auto files = minisign::GenerateKeyPair(false, "", &error);
    EXPECT_TRUE(files.has_value()) << error;
    const auto secret = minisign::ParseSecretKey(files->secretKeyFile, "", &error);
    EXPECT_TRUE(secret.has_value()) << error;
    return {files->publicKeyFile, *secret};
}

std::string Sign(const TestKey& key, const std::string& message, const std::string& comment, bool prehashed = true)
{
    minisign::FileDigest digest;
    digest.Update(message.data(), message.size());
    return prehashed ? minisign::SignDigest(key.secret, digest.Final(), comment)
                     : minisign::SignLegacy(key.secret, message, comment);
}

class SignedCheck : public ::testing::Test {
protected:
    void SetUp() override
    {
        std::filesystem::create_directories(m_dir.path() / "install");
        std::filesystem::create_directories(m_dir.path() / "server/update/qb");
        m_server = std::make_unique<FtpServer>(m_dir.path() / "server");
        ASSERT_TRUE(m_server->ok());
        g_strFtpPort.clear();
        WriteFileBytes(m_dir / "install/version.ini", Manifest("1.0.0.1"));
    }

    std::string Manifest(const std::string& version)
    {
        return "[version]\r\nver=" + version + "\r\nname=qb\r\n[ftp]\r\nip=" +
               U8(ScrambleField(U16(m_server->hostPort()))) + "\r\nusername=" + U8(ScrambleField(u"tester")) +
               "\r\npassword=" + U8(ScrambleField(u"secret")) + "\r\n";
    }

    void Pin(const TestKey& key) { WriteFileBytes(m_dir / "install/MorvexUpdate.pub", key.publicKeyFile); }
    void Offer(const std::string& manifest) { WriteFileBytes(m_dir / "server/update/qb/version.ini", manifest); }
    void OfferSignature(const std::string& signature)
    {
        WriteFileBytes(m_dir / "server/update/qb/version.ini.minisig", signature);
    }

    // Runs the check; a refused offer must leave only the installed manifest.
    BOOL Check()
    {
        CMyUpdateDlg dlg(m_transfer, U16(m_dir / "install/MorvexUpdate"));
        const BOOL due = dlg.CheckForUpdate();
        EXPECT_FALSE(std::filesystem::exists(m_dir / "install/newversion.ini.minisig"));
        if (due == FALSE) {
            EXPECT_FALSE(std::filesystem::exists(m_dir / "install/newversion.ini"));
        }
        EXPECT_EQ(ReadFileBytes(m_dir / "install/version.ini"), Manifest("1.0.0.1"));
        return due;
    }

    TempDir m_dir;
    std::unique_ptr<FtpServer> m_server;
    CFtpTransfer_Curl m_transfer;
    TestKey m_key = MakeKey();
};

constexpr char kComment[] = "morvex code=qb version=1.0.0.2 file=version.ini";

TEST_F(SignedCheck, ManifestSignedForThisProductAndVersionIsOffered)
{
    Pin(m_key);
    Offer(Manifest("1.0.0.2"));
    OfferSignature(Sign(m_key, Manifest("1.0.0.2"), kComment));
    EXPECT_NE(Check(), FALSE);

    // Legacy signatures (over the file itself) are accepted as well.
    OfferSignature(Sign(m_key, Manifest("1.0.0.2"), kComment, false));
    EXPECT_NE(Check(), FALSE);
}

TEST_F(SignedCheck, EveryOtherSignatureIsRefusedAndNothingChanges)
{
    Pin(m_key);
    const std::string offered = Manifest("1.0.0.2");
    const TestKey other = MakeKey();
    std::string tampered = Sign(m_key, offered, kComment);
    char& changed = tampered[tampered.rfind('\n') - 5];  // inside the trusted comment's signature
    changed = changed == 'A' ? 'B' : 'A';
    const struct {
        const char* what;
        std::string signature;  // empty: none on the server
    } rows[] = {
        {"no signature", ""},
        {"another key", Sign(other, offered, kComment)},
        {"another version", Sign(m_key, offered, "morvex code=qb version=1.0.0.1 file=version.ini")},
        {"another file", Sign(m_key, offered, "morvex code=qb version=1.0.0.2 file=update.zip")},
        {"another product", Sign(m_key, offered, "morvex code=zt_e version=1.0.0.2 file=version.ini")},
        {"another manifest", Sign(m_key, Manifest("1.0.0.3"), kComment)},
        {"damaged", tampered},
        {"not a signature", std::string(5000, 'A')},
    };
    Offer(offered);
    for (const auto& row : rows) {
        std::filesystem::remove(m_dir / "server/update/qb/version.ini.minisig");
        if (!row.signature.empty()) {
            OfferSignature(row.signature);
        }
        EXPECT_EQ(Check(), FALSE) << row.what;
    }
}

TEST_F(SignedCheck, ACommentEditedAfterSigningIsRefused)
{
    Pin(m_key);
    Offer(Manifest("1.0.0.2"));
    std::string signature = Sign(m_key, Manifest("1.0.0.2"), "morvex code=qb version=1.0.0.9 file=version.ini");
    signature.replace(signature.find("1.0.0.9"), 7, "1.0.0.2");
    OfferSignature(signature);
    EXPECT_EQ(Check(), FALSE);
}

TEST_F(SignedCheck, UnreadablePinnedKeyRefusesEveryOffer)
{
    WriteFileBytes(m_dir / "install/MorvexUpdate.pub", "untrusted comment: minisign public key\nRWQ=\n");
    Offer(Manifest("1.0.0.2"));
    OfferSignature(Sign(m_key, Manifest("1.0.0.2"), kComment));
    EXPECT_EQ(Check(), FALSE);
}

TEST_F(SignedCheck, WithoutAPinnedKeyTheUnsignedOfferStands)
{
    Offer(Manifest("1.0.0.2"));
    testing::internal::CaptureStderr();
    const BOOL due = Check();
    const std::string err = testing::internal::GetCapturedStderr();
    EXPECT_NE(due, FALSE);
    EXPECT_NE(err.find("the update source is not verified"), std::string::npos) << err;
}

}  // namespace
