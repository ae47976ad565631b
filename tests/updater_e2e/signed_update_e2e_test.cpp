// Signed updates through the built program: what a pinned installation
// installs, what it refuses, and that a refusal leaves it exactly as it was.
#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <functional>
#include <map>
#include <string>

#include "platform/named_event.h"
#include "support/temp_dir.h"
#include "updater/install/minisign.h"
#include "updater/workflow/manifest.h"
#include "updater_e2e/program_run.h"
#include "updater_e2e/x11_screen.h"
#include "workflow_update/script_tools.h"
#include "workflow_update/update_fixture.h"

namespace {

using testsupport::ReadFileBytes;
using testsupport::U16;
using testsupport::WriteFileBytes;

// Every file below the installation, by relative path, with its size and hash;
// the installation lock, which every run leaves, aside.
std::map<std::string, std::string> Contents(const std::filesystem::path& folder)
{
    std::map<std::string, std::string> files;
    for (const auto& entry : std::filesystem::recursive_directory_iterator(folder)) {
        if (entry.path().filename() == "MorvexUpdate.lock") {
            continue;
        }
        if (entry.is_regular_file()) {
            const std::string bytes = ReadFileBytes(entry.path());
            files[std::filesystem::relative(entry.path(), folder).string()] =
                std::to_string(bytes.size()) + ":" + std::to_string(std::hash<std::string>{}(bytes));
        } else {
            files[std::filesystem::relative(entry.path(), folder).string() + "/"] = "";
        }
    }
    return files;
}

minisign::SecretKey SecretKeyIn(const std::filesystem::path& file)
{
    std::string error;
    const auto key = minisign::ParseSecretKey(ReadFileBytes(file), "", &error);
    EXPECT_TRUE(key.has_value()) << error;
    return key.value_or(minisign::SecretKey{});
}

std::string SignFile(const minisign::SecretKey& key, const std::filesystem::path& file, const std::string& comment)
{
    minisign::Digest digest{};
    std::string error;
    EXPECT_TRUE(minisign::DigestOfFile(file.string(), &digest, &error)) << error;
    return minisign::SignDigest(key, digest, comment);
}

class SignedUpdateProgram : public ::testing::Test {
protected:
    std::unique_ptr<ProgramRun> Start(UpdateScene& scene, bool withDisplay)
    {
        for (const char* file : {"MorvexUpdate", "libMorvexUpdateUi.so"}) {
            std::filesystem::copy_file(std::filesystem::path(MORVEX_BINARY_DIR) / "bin" / file,
                                       scene.Install() / file);
        }
        m_stderr = scene.Install().parent_path() / "stderr.txt";
        m_before = Contents(scene.Install());
        auto run = std::make_unique<ProgramRun>(scene.Install() / "MorvexUpdate", std::vector<std::string>{},
                                                withDisplay, m_stderr);
        EXPECT_GT(run->pid(), 0) << "the program could not be started";
        return run;
    }
    bool HaveDisplay() { return std::getenv("DISPLAY") != nullptr && m_screen.ok(); }

    // Waits for the message box titled `caption`, confirms it and closes the
    // dialog; the program must then end normally.
    void ConfirmAndClose(ProgramRun& run, const std::string& caption)
    {
        const unsigned long box = m_screen.WaitForWindow(run.pid(), caption, 60);
        ASSERT_NE(box, 0u) << "no message box titled " << caption << "; stderr: " << ReadFileBytes(m_stderr);
        RunAndWait({"/usr/bin/xdotool", "windowfocus", "--sync", std::to_string(box)});
        RunAndWait({"/usr/bin/xdotool", "key", "Return"});
        const unsigned long dialog = m_screen.WaitForWindow(run.pid(), "自动升级程序", 10);
        if (dialog != 0 && run.Running()) {
            m_screen.RequestClose(dialog);
        }
        EXPECT_EQ(run.WaitForExit(30), 0);
    }

    X11Screen m_screen;
    std::filesystem::path m_stderr;
    std::map<std::string, std::string> m_before;
};

TEST_F(SignedUpdateProgram, ASignedUpdateInstalls)
{
    if (!HaveDisplay()) {
        GTEST_SKIP() << "needs a display (ctest runs under xvfb-run -a)";
    }
    UpdateSceneOptions options;
    options.signedUpdate = true;
    UpdateScene scene(options);
    auto run = Start(scene, true);
    ConfirmAndClose(*run, "升级成功");
    EXPECT_EQ(scene.InstalledVersion(), "1.0.0.12");
    EXPECT_EQ(scene.PeopleInDatabase(), (std::vector<std::string>{"老员工", "新同事"}));
    EXPECT_EQ(ReadFileBytes(m_stderr).find("not verified"), std::string::npos) << ReadFileBytes(m_stderr);
}

TEST_F(SignedUpdateProgram, WithoutAKeyTheUnsignedUpdateInstallsAndSaysSo)
{
    if (!HaveDisplay()) {
        GTEST_SKIP() << "needs a display (ctest runs under xvfb-run -a)";
    }
    UpdateScene scene;
    auto run = Start(scene, true);
    ConfirmAndClose(*run, "升级成功");
    EXPECT_EQ(scene.InstalledVersion(), "1.0.0.12");
    EXPECT_NE(ReadFileBytes(m_stderr).find("the update source is not verified"), std::string::npos);
}

TEST_F(SignedUpdateProgram, AnArchiveThatFailsItsSignatureChangesNothing)
{
    if (!HaveDisplay()) {
        GTEST_SKIP() << "needs a display (ctest runs under xvfb-run -a)";
    }
    const std::string archiveComment = "morvex code=zt_e version=1.0.0.12 file=update.zip";
    const struct {
        const char* what;
        // Changes the server's files after signing.
        void (*spoil)(UpdateScene& scene, const std::string& comment);
    } rows[] = {
        {"archive replaced after signing",
         [](UpdateScene& scene, const std::string&) {
             std::string bytes = ReadFileBytes(scene.ServerFolder() / "update.zip");
             bytes[bytes.size() / 2] = static_cast<char>(bytes[bytes.size() / 2] ^ 0x20);
             WriteFileBytes(scene.ServerFolder() / "update.zip", bytes);
         }},
        {"archive signed by another key",
         [](UpdateScene& scene, const std::string& comment) {
             std::string error;
             const auto other = minisign::GenerateKeyPair(false, "", &error);
             const auto key = minisign::ParseSecretKey(other->secretKeyFile, "", &error);
             WriteFileBytes(scene.ServerFolder() / "update.zip.minisig",
                            SignFile(*key, scene.ServerFolder() / "update.zip", comment));
         }},
        {"signature for another version",
         [](UpdateScene& scene, const std::string&) {
             WriteFileBytes(scene.ServerFolder() / "update.zip.minisig",
                            SignFile(SecretKeyIn(scene.KeysFolder() / "MorvexUpdate.key"),
                                     scene.ServerFolder() / "update.zip",
                                     "morvex code=zt_e version=1.0.0.11 file=update.zip"));
         }},
        {"signature for the other file",
         [](UpdateScene& scene, const std::string&) {
             std::filesystem::copy_file(scene.ServerFolder() / "version.ini.minisig",
                                        scene.ServerFolder() / "update.zip.minisig",
                                        std::filesystem::copy_options::overwrite_existing);
         }},
        {"archive signature missing",
         [](UpdateScene& scene, const std::string&) {
             std::filesystem::remove(scene.ServerFolder() / "update.zip.minisig");
         }},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.what);
        UpdateSceneOptions options;
        options.signedUpdate = true;
        UpdateScene scene(options);
        row.spoil(scene, archiveComment);
        auto run = Start(scene, true);
        ConfirmAndClose(*run, "升级失败");
        EXPECT_EQ(Contents(scene.Install()), m_before) << "the installation must be exactly as it was";
        EXPECT_EQ(scene.ProcessControlCalls(),
                  (std::vector<std::string>{"-k Zentora.exe", "-s Zentora.exe -nonupdate"}))
            << "the product is started again";
        EXPECT_NE(ReadFileBytes(m_stderr).find("the update package is not verified"), std::string::npos)
            << ReadFileBytes(m_stderr);
    }
}

TEST_F(SignedUpdateProgram, ANewKeyInASignedUpdateCountsFromTheNextUpdateOn)
{
    if (!HaveDisplay()) {
        GTEST_SKIP() << "needs a display (ctest runs under xvfb-run -a)";
    }
    testsupport::TempDir newKeys;
    ASSERT_EQ(RunAndWait({PublishTool(), "keygen", "--out", newKeys.path().string(), "--no-password"}), 0);
    UpdateSceneOptions options;
    options.signedUpdate = true;
    options.newPublicKey = ReadFileBytes(newKeys.path() / "MorvexUpdate.pub");
    UpdateScene scene(options);
    auto run = Start(scene, true);
    ConfirmAndClose(*run, "升级成功");
    ASSERT_EQ(scene.InstalledVersion(), "1.0.0.12");
    EXPECT_EQ(ReadFileBytes(scene.Install() / "MorvexUpdate.pub"), options.newPublicKey);

    // The next update, signed by the new key, is offered; the old key's
    // signature no longer counts.
    std::filesystem::create_directories(newKeys.path() / "content");
    WriteFileBytes(newKeys.path() / "content" / "readme.txt", "next");
    ASSERT_EQ(RunAndWait({PublishTool(), "server", "--code", "zt_e", "--version", "1.0.0.13", "--host",
                          scene.Server().hostPort(), "--user", scene.Server().user(), "--password",
                          scene.Server().password(), "--update-dir", (newKeys.path() / "content").string(),
                          "--out", scene.ServerFolder().parent_path().parent_path().string(), "--sign",
                          (newKeys.path() / "MorvexUpdate.key").string()}),
              0);
    EXPECT_NE(scene.MakeDialog()->CheckForUpdate(), FALSE) << "signed by the new key";
    DiscardNewManifest(U16((scene.Install() / "").string()));
    WriteFileBytes(scene.ServerFolder() / "version.ini.minisig",
                   SignFile(SecretKeyIn(scene.KeysFolder() / "MorvexUpdate.key"), scene.ServerFolder() / "version.ini",
                            "morvex code=zt_e version=1.0.0.13 file=version.ini"));
    EXPECT_EQ(scene.MakeDialog()->CheckForUpdate(), FALSE) << "signed by the replaced key";
}

TEST_F(SignedUpdateProgram, AManifestWithoutItsSignatureIsNoUpdate)
{
    UpdateSceneOptions options;
    options.signedUpdate = true;
    UpdateScene scene(options);
    std::filesystem::remove(scene.ServerFolder() / "version.ini.minisig");
    platform::DeleteEvent(u"MORVEX_UPDATE_COMPLETE");
    platform::HEVENT event = platform::CreateEventW(u"MORVEX_UPDATE_COMPLETE");
    ASSERT_NE(event, nullptr);

    auto run = Start(scene, false);
    EXPECT_EQ(run->WaitForExit(30), 0) << "no update: no display is needed";
    EXPECT_EQ(platform::GetEventCount(event), 1) << "the product starts as after any check without update";
    EXPECT_EQ(Contents(scene.Install()), m_before);
    EXPECT_EQ(scene.ProcessControlCalls().size(), 0u);
    EXPECT_NE(ReadFileBytes(m_stderr).find("manifest is not verified"), std::string::npos) << ReadFileBytes(m_stderr);
    platform::CloseEventHandle(event);
    platform::DeleteEvent(u"MORVEX_UPDATE_COMPLETE");
}

}  // namespace
