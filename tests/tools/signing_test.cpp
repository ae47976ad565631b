// Signed updates against the standard minisign command, both ways: what the
// publishing tool writes, minisign accepts, and what minisign writes, the
// updater's check accepts.
#include <gtest/gtest.h>

#include <filesystem>
#include <string>

#include "support/child_process.h"
#include "support/temp_dir.h"
#include "updater/install/minisign.h"

using testsupport::BuiltProgram;
using testsupport::ProgramRun;
using testsupport::ReadFileBytes;
using testsupport::RunProgram;
using testsupport::TempDir;
using testsupport::WriteFileBytes;

namespace {

constexpr char kMinisign[] = "/usr/bin/minisign";

// Runs a shell line with `input` on standard input (the way passwords arrive).
ProgramRun RunWithInput(const std::string& input, const std::string& program, const std::string& args)
{
    return RunProgram("/bin/sh", {"-c", "printf '%s\\n' \"$0\" | \"$1\" " + args, input, program});
}

bool CheckWithOurCode(const std::filesystem::path& publicKey, const std::filesystem::path& file,
                      const std::string& expectedComment, std::string* error)
{
    const auto key = minisign::ParsePublicKey(ReadFileBytes(publicKey), error);
    const auto signature = minisign::ParseSignature(ReadFileBytes(file.string() + ".minisig"), error);
    minisign::Digest digest{};
    if (!key || !signature || !minisign::DigestOfFile(file.string(), &digest, error)) {
        return false;
    }
    if (signature->trustedComment != expectedComment) {
        *error = "comment " + signature->trustedComment;
        return false;
    }
    return minisign::Verify(*key, *signature, digest, file.string(), error);
}

class MinisignInterop : public ::testing::Test {
protected:
    void SetUp() override
    {
        ASSERT_TRUE(std::filesystem::exists(kMinisign)) << "the minisign package is missing (scripts/setup.sh)";
        std::filesystem::create_directories(m_dir.path() / "content/bin");
        WriteFileBytes(m_dir / "content/bin/program.dat", std::string(70000, 'x') + "end");
    }

    ProgramRun PublishSigned(const std::filesystem::path& secretKey, const std::string& password = "")
    {
        const std::string args = "server --code qb --version 1.2.3.4 --host 127.0.0.1 --user u --password p "
                                 "--update-dir " + (m_dir / "content") + " --out " + (m_dir / "out") +
                                 " --sign " + secretKey.string();
        return RunWithInput(password, BuiltProgram("morvex-publish"), args);
    }

    TempDir m_dir;
};

TEST_F(MinisignInterop, MinisignAcceptsWhatThePublishingToolSigns)
{
    const ProgramRun keygen = RunProgram(BuiltProgram("morvex-publish"), {"keygen", "--out", m_dir / "keys",
                                                                        "--no-password"});
    ASSERT_EQ(keygen.exitCode, 0) << keygen.err;
    const ProgramRun again = RunProgram(BuiltProgram("morvex-publish"), {"keygen", "--out", m_dir / "keys",
                                                                       "--no-password"});
    EXPECT_NE(again.exitCode, 0) << "an existing key pair is never overwritten";

    const ProgramRun publish = PublishSigned(m_dir.path() / "keys/MorvexUpdate.key");
    ASSERT_EQ(publish.exitCode, 0) << publish.err;
    for (const char* file : {"version.ini", "update.zip"}) {
        const ProgramRun check = RunProgram(kMinisign, {"-V", "-p", m_dir / "keys/MorvexUpdate.pub", "-m",
                                                        m_dir / ("out/update/qb/" + std::string(file))});
        EXPECT_EQ(check.exitCode, 0) << file << ": " << check.err;
        EXPECT_NE(check.out.find(std::string("morvex code=qb version=1.2.3.4 file=") + file), std::string::npos)
            << check.out;
    }
}

TEST_F(MinisignInterop, OurCheckAcceptsWhatMinisignSigns)
{
    const std::string pub = m_dir / "mk.pub";
    const std::string sec = m_dir / "mk.key";
    ASSERT_EQ(RunProgram(kMinisign, {"-G", "-W", "-p", pub, "-s", sec}).exitCode, 0);
    const std::string file = m_dir / "content/bin/program.dat";
    const std::string comment = "morvex code=qb version=1.2.3.4 file=program.dat";
    std::string error;

    // Prehashed (minisign's default), then legacy.
    for (const bool legacy : {false, true}) {
        std::vector<std::string> args = {"-S", "-s", sec, "-m", file, "-t", comment};
        if (legacy) {
            args.push_back("-l");
        }
        const ProgramRun sign = RunProgram(kMinisign, args);
        ASSERT_EQ(sign.exitCode, 0) << sign.err;
        EXPECT_TRUE(CheckWithOurCode(pub, file, comment, &error)) << (legacy ? "legacy: " : "prehashed: ") << error;
    }

    WriteFileBytes(file, std::string(70000, 'x') + "End");
    EXPECT_FALSE(CheckWithOurCode(pub, file, comment, &error)) << "the file changed after signing";
}

TEST_F(MinisignInterop, PasswordProtectedKeysOpenOnBothSides)
{
    // Our encrypted key signs with the right password only, and minisign opens it.
    const ProgramRun keygen = RunWithInput("correct horse", BuiltProgram("morvex-publish"),
                                           "keygen --out " + (m_dir / "keys"));
    ASSERT_EQ(keygen.exitCode, 0) << keygen.err;
    EXPECT_NE(ReadFileBytes(m_dir / "keys/MorvexUpdate.key").find("encrypted"), std::string::npos);
    EXPECT_NE(PublishSigned(m_dir.path() / "keys/MorvexUpdate.key", "wrong horse").exitCode, 0);
    EXPECT_FALSE(std::filesystem::exists(m_dir / "out/update/qb/update.zip.minisig"));

    const std::string file = m_dir / "content/bin/program.dat";
    const std::string comment = "morvex code=qb version=1.2.3.4 file=program.dat";
    const ProgramRun sign = RunWithInput("correct horse", kMinisign,
                                         "-S -s " + (m_dir / "keys/MorvexUpdate.key") + " -m " + file + " -t '" +
                                             comment + "'");
    ASSERT_EQ(sign.exitCode, 0) << sign.err;
    std::string error;
    EXPECT_TRUE(CheckWithOurCode(m_dir.path() / "keys/MorvexUpdate.pub", file, comment, &error)) << error;
}

}  // namespace
