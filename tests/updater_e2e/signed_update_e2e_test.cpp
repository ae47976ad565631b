// Signed updates through the built program: what a pinned installation
// installs, what it refuses, and that a refusal leaves it exactly as it was.
#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <functional>
#include <map>
#include <string>

#include "platform/named_event.h"
#include "support/private_shm.h"
#include "support/temp_dir.h"
#include "updater/install/minisign.h"
#include "updater_e2e/program_run.h"
#include "updater_e2e/x11_screen.h"
#include "workflow_update/script_tools.h"
#include "workflow_update/update_fixture.h"

namespace {

using testsupport::ReadFileBytes;
using testsupport::WriteFileBytes;

// Every file below the installation with its size and hash; the installation
// lock, which every run leaves, aside.
std::map<std::string, std::string> Contents(const std::filesystem::path& folder)
{
    std::map<std::string, std::string> files;
    for (const auto& entry : std::filesystem::recursive_directory_iterator(folder)) {
        const std::string name = std::filesystem::relative(entry.path(), folder).string();
        if (entry.is_regular_file() && name != "MorvexUpdate.lock") {
            const std::string bytes = ReadFileBytes(entry.path());
            files[name] = std::to_string(bytes.size()) + ":" + std::to_string(std::hash<std::string>{}(bytes));
        } else if (!entry.is_regular_file()) {
            files[name + "/"] = "";
        }
    }
    return files;
}

// A signature of the server's update.zip by the secret key file `key`.
std::string SignArchive(UpdateScene& scene, const std::string& key, const std::string& comment)
{
    std::string error;
    minisign::Digest digest{};
    const auto secret = minisign::ParseSecretKey(key, "", &error);
    EXPECT_TRUE(secret && minisign::DigestOfFile((scene.ServerFolder() / "update.zip").string(), &digest, &error));
    return minisign::SignDigest(*secret, digest, comment);
}

class SignedUpdateProgram : public ::testing::Test {
protected:
    // Runs the program in the scene's installation; with a caption, confirms
    // the message box titled so and closes the dialog. Returns the exit status.
    int Run(UpdateScene& scene, const char* caption)
    {
        for (const char* file : {"MorvexUpdate", "libMorvexUpdateUi.so"}) {
            std::filesystem::copy_file(std::filesystem::path(MORVEX_BINARY_DIR) / "bin" / file,
                                       scene.Install() / file);
        }
        m_stderr = scene.Install().parent_path() / "stderr.txt";
        m_before = Contents(scene.Install());
        ProgramRun run(scene.Install() / "MorvexUpdate", {}, caption != nullptr, m_stderr);
        if (caption != nullptr) {
            const unsigned long box = m_screen.WaitForWindow(run.pid(), caption, 60);
            EXPECT_NE(box, 0u) << "no message box " << caption << "; stderr: " << ReadFileBytes(m_stderr);
            RunAndWait({"/usr/bin/xdotool", "windowfocus", "--sync", std::to_string(box)});
            RunAndWait({"/usr/bin/xdotool", "key", "Return"});
            const unsigned long dialog = m_screen.WaitForWindow(run.pid(), "自动升级程序", 10);
            if (dialog != 0 && run.Running()) {
                return run.CloseWhenAllowed([&] { m_screen.RequestClose(dialog); });
            }
        }
        return run.WaitForExit(30);
    }
    void SetUp() override
    {
        if (std::getenv("DISPLAY") == nullptr || !m_screen.ok()) {
            GTEST_SKIP() << "needs a display (ctest runs under xvfb-run -a)";
        }
    }
    std::string Err() const { return ReadFileBytes(m_stderr); }

    X11Screen m_screen;
    std::filesystem::path m_stderr;
    std::map<std::string, std::string> m_before;
};

TEST_F(SignedUpdateProgram, SignedWithThePinnedKeyOrWithoutAnyKeyTheUpdateInstalls)
{
    for (const bool pinned : {true, false}) {
        SCOPED_TRACE(pinned ? "signed" : "no key");
        UpdateSceneOptions options;
        options.signedUpdate = pinned;
        UpdateScene scene(options);
        EXPECT_EQ(Run(scene, "升级成功"), 0);
        EXPECT_EQ(scene.InstalledVersion(), "1.0.0.12");
        EXPECT_EQ(scene.PeopleInDatabase(), (std::vector<std::string>{"老员工", "新同事"}));
        const std::string err = Err();
        const std::size_t said = err.find("the update source is not verified");
        EXPECT_EQ(said == std::string::npos, pinned) << err;
        EXPECT_EQ(err.find("the update source is not verified", said + 1), std::string::npos) << "one line";
    }
}

TEST_F(SignedUpdateProgram, AnArchiveThatFailsItsSignatureChangesNothing)
{
    const std::string comment = "morvex code=zt_e version=1.0.0.12 file=update.zip";
    std::string error;
    const std::string otherKey = minisign::GenerateKeyPair(false, "", &error)->secretKeyFile;
    const std::map<std::string, std::function<void(UpdateScene&)>> spoilers = {
        {"archive replaced after signing",
         [](UpdateScene& scene) {
             std::string bytes = ReadFileBytes(scene.ServerFolder() / "update.zip");
             bytes[bytes.size() / 2] = static_cast<char>(bytes[bytes.size() / 2] ^ 0x20);
             WriteFileBytes(scene.ServerFolder() / "update.zip", bytes);
         }},
        {"signed by another key",
         [&](UpdateScene& scene) {
             WriteFileBytes(scene.ServerFolder() / "update.zip.minisig", SignArchive(scene, otherKey, comment));
         }},
        {"signature for another version",
         [](UpdateScene& scene) {
             WriteFileBytes(scene.ServerFolder() / "update.zip.minisig",
                            SignArchive(scene, ReadFileBytes(scene.KeysFolder() / "MorvexUpdate.key"),
                                        "morvex code=zt_e version=1.0.0.11 file=update.zip"));
         }},
        {"signature for the other file",
         [](UpdateScene& scene) {
             std::filesystem::copy_file(scene.ServerFolder() / "version.ini.minisig",
                                        scene.ServerFolder() / "update.zip.minisig",
                                        std::filesystem::copy_options::overwrite_existing);
         }},
    };
    for (const auto& [what, spoil] : spoilers) {
        SCOPED_TRACE(what);
        UpdateSceneOptions options;
        options.signedUpdate = true;
        UpdateScene scene(options);
        spoil(scene);
        EXPECT_EQ(Run(scene, "升级失败"), 0);
        EXPECT_EQ(Contents(scene.Install()), m_before) << "the installation must be exactly as it was";
        EXPECT_EQ(scene.ProcessControlCalls(),
                  (std::vector<std::string>{"-k Zentora.exe", "-s Zentora.exe -nonupdate"}));
        EXPECT_NE(Err().find("the update package is not verified"), std::string::npos) << Err();
    }
}

TEST_F(SignedUpdateProgram, AManifestWithoutItsSignatureIsNoUpdate)
{
    // The event's name is machine-wide (see WithNoUpdateItSignalsTheProductWithoutAnyDisplay).
    MORVEX_RUN_WITH_PRIVATE_SHM();
    UpdateSceneOptions options;
    options.signedUpdate = true;
    UpdateScene scene(options);
    std::filesystem::remove(scene.ServerFolder() / "version.ini.minisig");
    platform::DeleteEvent(u"MORVEX_UPDATE_COMPLETE");
    platform::HEVENT event = platform::CreateEventW(u"MORVEX_UPDATE_COMPLETE");
    ASSERT_NE(event, nullptr);

    EXPECT_EQ(Run(scene, nullptr), 0) << "no update: no display is needed";
    EXPECT_EQ(platform::GetEventCount(event), 1) << "the product starts as after any check without update";
    EXPECT_EQ(Contents(scene.Install()), m_before);
    EXPECT_EQ(scene.ProcessControlCalls().size(), 0u);
    EXPECT_NE(Err().find("manifest is not verified"), std::string::npos) << Err();
    platform::CloseEventHandle(event);
    platform::DeleteEvent(u"MORVEX_UPDATE_COMPLETE");
}

}  // namespace
