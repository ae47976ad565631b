// The check of a pinned installation (update scenes on a real FTP server):
// which manifest signatures are refused, and FTP over TLS with the right and
// a wrong certificate.
#include "updater/workflow/update_signature.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <filesystem>
#include <string>

#include "support/temp_dir.h"
#include "updater/workflow/manifest.h"
#include "support/script_tools.h"
#include "updater/workflow/update/update_fixture.h"

namespace {

using testsupport::ReadFileBytes;
using testsupport::WriteFileBytes;

std::string Sign(const std::string& secretKeyFile, const std::string& message, const std::string& comment,
                 bool prehashed = true)
{
    std::string error;
    const auto key = minisign::ParseSecretKey(secretKeyFile, "", &error);
    minisign::FileDigest digest;
    digest.Update(message.data(), message.size());
    return prehashed ? minisign::SignDigest(*key, digest.Final(), comment)
                     : minisign::SignLegacy(*key, message, comment);
}

// Runs the check; a refused offer leaves only the installed manifest.
bool Offered(UpdateScene& scene)
{
    const std::string installed = ReadFileBytes(scene.Install() / "version.ini");
    const bool due = scene.MakeDialog()->CheckForUpdate() != FALSE;
    EXPECT_EQ(ReadFileBytes(scene.Install() / "version.ini"), installed);
    EXPECT_FALSE(std::filesystem::exists(scene.Install() / "newversion.ini.minisig"));
    if (due) {
        DiscardNewManifest(testsupport::U16((scene.Install() / "").string()));
    }
    EXPECT_FALSE(std::filesystem::exists(scene.Install() / "newversion.ini"));
    return due;
}

TEST(SignedCheck, OnlyThisManifestsSignatureByThePinnedKeyIsAccepted)
{
    UpdateSceneOptions options;
    options.signedUpdate = true;
    UpdateScene scene(options);
    const std::string ours = ReadFileBytes(scene.KeysFolder() / "MorvexUpdate.key");
    const std::string manifest = ReadFileBytes(scene.ServerFolder() / "version.ini");
    const std::string comment = "morvex code=zt_e version=1.0.0.12 file=version.ini";
    std::string damaged = Sign(ours, manifest, comment);
    char& changed = damaged[damaged.rfind('\n') - 5];  // inside the trusted comment's signature
    changed = changed == 'A' ? 'B' : 'A';
    std::string edited = Sign(ours, manifest, "morvex code=zt_e version=1.0.0.19 file=version.ini");
    edited.replace(edited.find("1.0.0.19"), 8, "1.0.0.12");
    const struct {
        const char* what;
        std::string signature;
        bool accepted;
    } rows[] = {
        {"prehashed", Sign(ours, manifest, comment), true},
        {"legacy", Sign(ours, manifest, comment, false), true},
        {"another product", Sign(ours, manifest, "morvex code=zt_p version=1.0.0.12 file=version.ini"), false},
        {"another manifest", Sign(ours, manifest + "\r\n", comment), false},
        {"comment edited after signing", edited, false},
        {"damaged", damaged, false},
        {"over 4 KiB", std::string(5000, 'A'), false},
    };
    for (const auto& row : rows) {
        WriteFileBytes(scene.ServerFolder() / "version.ini.minisig", row.signature);
        EXPECT_EQ(Offered(scene), row.accepted) << row.what;
    }
    WriteFileBytes(scene.Install() / "MorvexUpdate.pub", "untrusted comment: minisign public key\nRWQ=\n");
    EXPECT_FALSE(Offered(scene)) << "an unreadable pinned key refuses every offer";
}

TEST(SignedCheck, ANewKeyInASignedUpdateCountsFromTheNextUpdateOn)
{
    testsupport::TempDir newKeys;
    ASSERT_EQ(RunAndWait({PublishTool(), "keygen", "--out", newKeys.path().string(), "--no-password"}), 0);
    UpdateSceneOptions options;
    options.signedUpdate = true;
    options.newPublicKey = ReadFileBytes(newKeys.path() / "MorvexUpdate.pub");
    UpdateScene scene(options);
    auto dlg = scene.MakeDialog();
    scene.RunToTheEnd(*dlg);
    ASSERT_EQ(scene.InstalledVersion(), "1.0.0.12");
    EXPECT_EQ(ReadFileBytes(scene.Install() / "MorvexUpdate.pub"), options.newPublicKey);

    // The next manifest counts when the new key signed it, not the old one.
    std::string manifest = ReadFileBytes(scene.ServerFolder() / "version.ini");
    manifest.replace(manifest.find("ver=1.0.0.12"), 12, "ver=1.0.0.13");
    WriteFileBytes(scene.ServerFolder() / "version.ini", manifest);
    const std::string comment = "morvex code=zt_e version=1.0.0.13 file=version.ini";
    WriteFileBytes(scene.ServerFolder() / "version.ini.minisig",
                   Sign(ReadFileBytes(newKeys.path() / "MorvexUpdate.key"), manifest, comment));
    EXPECT_TRUE(Offered(scene)) << "signed by the new key";
    WriteFileBytes(scene.ServerFolder() / "version.ini.minisig",
                   Sign(ReadFileBytes(scene.KeysFolder() / "MorvexUpdate.key"), manifest, comment));
    EXPECT_FALSE(Offered(scene)) << "signed by the replaced key";
}

TEST(TlsCheck, TheRightCertificateProtectsTheSessionAnotherIsNoUpdate)
{
    UpdateSceneOptions options;
    options.tls = true;
    UpdateScene scene(options);
    EXPECT_TRUE(Offered(scene));
    EXPECT_GE(scene.Server().countCommands("PROT P"), 1u) << "the data connection is protected too";
    EXPECT_EQ(scene.Server().countCommands("AUTH TLS"), scene.Server().countCommands("USER "));

    const std::size_t logins = scene.Server().countCommands("USER ");
    testsupport::TempDir other;
    MakeCertificate(other.path());
    std::filesystem::copy_file(other.path() / "cert.pem", scene.Install() / "MorvexUpdate.ca.pem",
                               std::filesystem::copy_options::overwrite_existing);
    EXPECT_FALSE(Offered(scene)) << "another certificate";
    EXPECT_EQ(scene.Server().countCommands("USER "), logins) << "no login before the certificate is verified";
}

TEST(TlsCheck, AServerWithoutTlsGetsNoPassword)
{
    UpdateScene scene;
    WriteFileBytes(scene.Install() / "version.ini", ReadFileBytes(scene.Install() / "version.ini") + "tls=1\r\n");
    EXPECT_FALSE(Offered(scene));
    EXPECT_EQ(scene.Server().countCommands("PASS "), 0u) << "no fall back to clear text";
}

TEST(TlsCheck, ADownloadThatMeetsAnotherCertificateFailsAndChangesNothing)
{
    UpdateSceneOptions options;
    options.tls = true;
    UpdateScene scene(options);
    auto dlg = scene.MakeDialog();
    dlg->OnInitDialog();
    ASSERT_FALSE(dlg->HasEnded()) << "the check over TLS offers the update";
    // Between the check and the download the scene's certificate stops counting.
    WriteFileBytes(scene.Install() / "MorvexUpdate.ca.pem", ReadFileBytes("/etc/ssl/certs/ca-certificates.crt"));
    dlg->AttachWindow(&scene.Window());
    ASSERT_TRUE(dlg->WaitForWorker(std::chrono::minutes(2)));
    const auto calls = scene.Window().Calls();
    EXPECT_NE(std::find(calls.begin(), calls.end(), "box 升级失败|升级包下载或解压失败，请稍后再试！"), calls.end());
    EXPECT_EQ(scene.InstalledVersion(), "1.0.0.1");
    EXPECT_EQ(scene.PeopleInDatabase(), std::vector<std::string>{"老员工"});
}

}  // namespace
