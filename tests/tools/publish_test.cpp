#include <gtest/gtest.h>

#include <filesystem>
#include <string>
#include <vector>

#include "platform/codepage.h"
#include "platform/ini.h"
#include "support/child_process.h"
#include "support/temp_dir.h"
#include "transfer/descramble.h"

using testsupport::BuiltProgram;
using testsupport::ProgramRun;
using testsupport::ReadFileBytes;
using testsupport::RunProgram;
using testsupport::TempDir;
using testsupport::U16;
using testsupport::U8;
using testsupport::WriteFileBytes;

namespace {

// What the updater reads: 20-unit buffers for the values it uses.
std::string ReadValue(const std::filesystem::path& manifest, const char* section, const char* key,
                      std::size_t units = 20)
{
    return U8(platform::GetPrivateProfileStringW(U16(section), U16(key), u"<missing>", units,
                                                 U16(manifest.string())));
}

std::string ReadScrambled(const std::filesystem::path& manifest, const char* section, const char* key,
                          std::size_t units = 20)
{
    const CString stored = U16(ReadValue(manifest, section, key, units));
    std::vector<char16_t> plain(256 + stored.size(), u'\0');
    EXPECT_TRUE(DescrambleField(stored.c_str(), plain.data()));
    return U8(CString(plain.data()));
}

class PublishTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        const auto& u = m_update.path();
        std::filesystem::create_directories(u / "ini");
        std::filesystem::create_directories(u / "bin");
        std::filesystem::create_directories(u / "数据");
        std::filesystem::create_directories(u / "d");
        WriteFileBytes(u / "ini" / "update.sql", "CREATE TABLE jobs(title TEXT);\r\n");
        WriteFileBytes(u / "update.txt", "release notes\r\n");
        WriteFileBytes(u / "bin" / "Zentora", std::string(100000, 'z'));
        WriteFileBytes(u / "数据" / "说明.txt", "\xd5\xc5\xc8\xfd");
    }

    ProgramRun Publish(const std::string& mode, std::vector<std::string> extra = {},
                       const std::string& code = "zt_e", const std::string& password = "secret")
    {
        std::vector<std::string> args{mode,   "--code",     code,     "--version", "1.0.0.12",
                                      "--host", "127.0.0.1:2121", "--user", "tester",
                                      "--password", password, "--out", m_out.path().string()};
        if (mode == "server") {
            args.insert(args.end(), {"--update-dir", m_update.path().string()});
        }
        args.insert(args.end(), extra.begin(), extra.end());
        return RunProgram(BuiltProgram("morvex-publish"), args);
    }

    std::filesystem::path Remote(const std::string& code = "zt_e") const
    {
        return m_out.path() / "update" / code;
    }

    TempDir m_update;
    TempDir m_out;
};

TEST_F(PublishTest, ServerManifestReadsBackAsTheUpdaterSeesIt)
{
    const ProgramRun run = Publish("server");
    ASSERT_EQ(run.exitCode, 0) << run.err;
    EXPECT_NE(run.out.find("/update/zt_e/version.ini"), std::string::npos) << run.out;
    EXPECT_NE(run.out.find("/update/zt_e/update.zip"), std::string::npos) << run.out;

    const auto manifest = Remote() / "version.ini";
    EXPECT_EQ(ReadValue(manifest, "version", "ver"), "1.0.0.12");
    EXPECT_EQ(ReadValue(manifest, "version", "name"), "zt_e");
    EXPECT_EQ(ReadValue(manifest, "version", "size", 64),
              std::to_string(std::filesystem::file_size(Remote() / "update.zip")));
    EXPECT_EQ(ReadScrambled(manifest, "version", "url", 256), "ftp://127.0.0.1:2121/update/zt_e/update.zip");
    EXPECT_EQ(ReadScrambled(manifest, "ftp", "ip"), "127.0.0.1:2121");
    EXPECT_EQ(ReadScrambled(manifest, "ftp", "username"), "tester");
    EXPECT_EQ(ReadScrambled(manifest, "ftp", "password"), "secret");
    EXPECT_NE(ReadValue(manifest, "ftp", "password"), "secret") << "the stored password must be scrambled";
}

TEST_F(PublishTest, ArchiveHoldsTheUpdateFolder)
{
    ASSERT_EQ(Publish("server").exitCode, 0);
    const std::string zip = (Remote() / "update.zip").string();
    const ProgramRun list = RunProgram("/usr/bin/unzip", {"-l", zip});
    ASSERT_EQ(list.exitCode, 0) << list.err;
    for (const char* name : {"ini/update.sql", "update.txt", "bin/Zentora", "数据/说明.txt", "d/"}) {
        EXPECT_NE(list.out.find(name), std::string::npos) << name << " missing from:\n" << list.out;
    }
    EXPECT_EQ(list.out.find("ini/\n"), std::string::npos) << "folders with files need no entry of their own";
    const ProgramRun script = RunProgram("/usr/bin/unzip", {"-p", zip, "ini/update.sql"});
    EXPECT_EQ(script.out, "CREATE TABLE jobs(title TEXT);\r\n");
    const ProgramRun test = RunProgram("/usr/bin/unzip", {"-t", zip});
    EXPECT_EQ(test.exitCode, 0) << "the archive must pass unzip's CRC test:\n" << test.out;
}

TEST_F(PublishTest, BackslashSeparatorIsStoredAsGiven)
{
    ASSERT_EQ(Publish("server", {"--separator", "\\"}).exitCode, 0);
    const ProgramRun names = RunProgram(
        "/usr/bin/python3",
        {"-c", "import sys, zipfile; print('\\n'.join(sorted(zipfile.ZipFile(sys.argv[1]).namelist())))",
         (Remote() / "update.zip").string()});
    ASSERT_EQ(names.exitCode, 0) << names.err;
    EXPECT_EQ(names.out, "bin\\Zentora\nd\\\nini\\update.sql\nupdate.txt\n数据\\说明.txt\n");
}

TEST_F(PublishTest, InstalledManifestIsCodePage936Text)
{
    // A Chinese password whose scrambled bytes happen to be valid GBK.
    std::string password;
    for (const char* candidate : {"密码", "口令", "人才", "招聘", "简历", "求职"}) {
        if (ScrambledValueSurvivesManifest(U16(candidate))) {
            password = candidate;
            break;
        }
    }
    ASSERT_FALSE(password.empty()) << "no candidate password survives scrambling";
    const ProgramRun run = Publish("installed", {}, "qb", password);
    ASSERT_EQ(run.exitCode, 0) << run.err;

    const auto manifest = m_out.path() / "version.ini";
    const std::string bytes = ReadFileBytes(manifest);
    const std::string stored = platform::Utf16ToAnsi(ScrambleField(U16(password)));
    EXPECT_NE(bytes.find("\r\npassword=" + stored + "\r\n"), std::string::npos)
        << "the password line must hold the GBK bytes of the scrambled value";
    EXPECT_EQ(ReadScrambled(manifest, "ftp", "password"), password);
    EXPECT_EQ(ReadValue(manifest, "version", "name"), "qb");
    EXPECT_EQ(ReadValue(manifest, "version", "size"), "<missing>") << "an installation has no archive size";
    EXPECT_FALSE(std::filesystem::exists(m_out.path() / "update")) << "no server layout for an installation";
}

TEST_F(PublishTest, RefusesValuesTheUpdaterCouldNotReadBack)
{
    // "\x7f" scrambles to a lone GBK lead byte; "ab\"" to a stored form that starts
    // with a blank, which the profile reader would drop.
    ASSERT_FALSE(ScrambledValueSurvivesManifest(u"\x7f"));
    ASSERT_FALSE(ScrambledValueSurvivesManifest(u"ab\""));
    struct Case {
        std::vector<std::string> args;
        const char* message;
    };
    const std::vector<Case> cases{
        {{"--code", "zt_x"}, "product code"},
        {{"--version", "1.0.0.0.1"}, "version"},
        {{"--version", "1.0a"}, "version"},
        {{"--version", "1..2"}, "version"},
        {{"--version", "1."}, "version"},
        {{"--password", "abcdefghijklmnopqrst"}, "longer than"},
        {{"--password", "\x7f"}, "cannot be stored scrambled"},
        {{"--user", "ab\""}, "cannot be stored scrambled"},
        {{"--user", "a-user-name-of-20-ch"}, "longer than"},
        {{"--host", ""}, "FTP host"},
        {{"--update-dir", "/nonexistent/update"}, "not a folder"},
    };
    for (const Case& c : cases) {
        const ProgramRun run = Publish("server", c.args);  // a repeated option overrides the default
        EXPECT_EQ(run.exitCode, 1) << c.args[0] << " " << c.args[1];
        EXPECT_NE(run.err.find(c.message), std::string::npos)
            << "expected \"" << c.message << "\" in: " << run.err;
        EXPECT_FALSE(std::filesystem::exists(Remote() / "version.ini")) << c.args[0] << " " << c.args[1];
        EXPECT_FALSE(std::filesystem::exists(Remote() / "update.zip")) << c.args[0] << " " << c.args[1];
    }
}

TEST_F(PublishTest, ArchiveStoresUnixModesAndRefusesTheUpdatersOwnNames)
{
    std::filesystem::permissions(m_update.path() / "bin" / "Zentora", std::filesystem::perms(04755));
    ASSERT_EQ(Publish("server").exitCode, 0);
    const ProgramRun mode = RunProgram(
        "/usr/bin/python3", {"-c",
                             "import sys, zipfile; i = zipfile.ZipFile(sys.argv[1]).getinfo('bin/Zentora'); "
                             "print(i.create_system, oct(i.external_attr >> 16))",
                             (Remote() / "update.zip").string()});
    EXPECT_EQ(mode.out, "3 0o100755\n") << "made on Unix, without the set-id bit";

    for (const char* name : {"MorvexUpdate.journal/phase", "morvexupdate.lock", "newversion.ini", "update.zip"}) {
        std::filesystem::remove_all(m_update.path());
        std::filesystem::create_directories((m_update.path() / name).parent_path());
        WriteFileBytes(m_update.path() / name, "x");
        std::filesystem::remove(Remote() / "update.zip");
        const ProgramRun run = Publish("server");
        EXPECT_EQ(run.exitCode, 1) << name;
        EXPECT_NE(run.err.find("refuses archives holding it"), std::string::npos) << run.err;
        EXPECT_FALSE(std::filesystem::exists(Remote() / "update.zip")) << name;
    }
}

}  // namespace
