#include "platform/files.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <system_error>

#include "platform/module_path.h"
#include "platform/path.h"
#include "support/system.h"
#include "support/temp_dir.h"

namespace {

using testsupport::TempDir;
using testsupport::U16;
using testsupport::system::NativeSeparators;

TEST(Files, NativePathHasTheSystemsSeparatorsAndUtf8Text)
{
    EXPECT_EQ(platform::NativePath(u"/opt/app\\ini\\update.sql"), NativeSeparators("/opt/app/ini/update.sql"));
    EXPECT_EQ(platform::NativePath(u"\u7B80\u5386\\a"), NativeSeparators("\xE7\xAE\x80\xE5\x8E\x86/a"));
}

TEST(Files, DeleteRemovesFilesOnly)
{
    TempDir dir;
    testsupport::WriteFileBytes(dir / "a.txt", "x");
    std::filesystem::create_directory(dir.path() / "sub");
    EXPECT_TRUE(platform::DeleteFileW(U16(dir / "a.txt")));
    EXPECT_FALSE(std::filesystem::exists(dir.path() / "a.txt")) << "the file must be gone";
    EXPECT_FALSE(platform::DeleteFileW(U16(dir / "a.txt"))) << "a missing file is a failure";
    EXPECT_FALSE(platform::DeleteFileW(U16(dir / "sub"))) << "a directory is not a file";
    EXPECT_TRUE(std::filesystem::is_directory(dir.path() / "sub"));
}

TEST(Files, CopyNeverReplacesAnExistingTarget)
{
    TempDir dir;
    testsupport::WriteFileBytes(dir / "from", std::string("new\0content", 11));
    testsupport::WriteFileBytes(dir / "old", "old");

    EXPECT_FALSE(platform::CopyFileNoReplace(U16(dir / "from"), U16(dir / "old")));
    EXPECT_EQ(testsupport::ReadFileBytes(dir / "old"), "old") << "the target must stay untouched";

    EXPECT_TRUE(platform::CopyFileNoReplace(U16(dir / "from"), U16(dir / "to")));
    EXPECT_EQ(testsupport::ReadFileBytes(dir / "to"), std::string("new\0content", 11));

    EXPECT_FALSE(platform::CopyFileNoReplace(U16(dir / "missing"), U16(dir / "to2")));
    EXPECT_FALSE(std::filesystem::exists(dir.path() / "to2")) << "no target for a missing source";
}

// The transfers and the signature check open their files as C streams by the
// UTF-8 name the programs carry; the name must reach the file system whole.
TEST(Files, StreamsOpenNamesTheAnsiCodePageCannotSpell)
{
    TempDir dir;
    // "ß" and the emoji have no place in code page 936, the Chinese word has.
    const platform::Path file =
        dir.path() / platform::Utf8ToPath("Stra\xc3\x9f" "e \xf0\x9f\x98\x80 \xe7\xae\x80\xe5\x8e\x86.bin");
    const platform::Path asCarried = platform::Utf8ToPath(platform::PathUtf8(file));
    for (const char* part : {"ab", "cd"}) {
        std::FILE* out = platform::OpenFileStream(asCarried, "ab+");
        ASSERT_NE(out, nullptr) << "appending must create or extend the file";
        EXPECT_EQ(std::fwrite(part, 1, 2, out), 2u);
        EXPECT_EQ(std::fclose(out), 0);
    }
    std::FILE* in = platform::OpenFileStream(asCarried, "rb");
    ASSERT_NE(in, nullptr);
    char buffer[8] = {};
    EXPECT_EQ(std::fread(buffer, 1, sizeof buffer, in), 4u);
    std::fclose(in);
    EXPECT_EQ(std::string(buffer, 4), "abcd");
    EXPECT_EQ(testsupport::ReadFileBytes(file), "abcd") << "the file under its real name holds the bytes";
    EXPECT_EQ(platform::OpenFileStream(dir.path() / "missing", "rb"), nullptr);
}

TEST(Files, DirectoriesAndTrees)
{
    TempDir dir;
    const CString sub = U16(dir / "sub");
    EXPECT_TRUE(platform::CreateDirectoryW(sub));
    EXPECT_FALSE(platform::CreateDirectoryW(sub)) << "it exists already";
    EXPECT_TRUE(platform::IsDirectory(sub));
    EXPECT_TRUE(platform::PathExists(sub));

    testsupport::WriteFileBytes(dir / "sub/f", "x");
    EXPECT_FALSE(platform::RemoveDirectoryW(sub)) << "not empty";

    // A link inside the tree must be removed, not followed.
    std::filesystem::create_directory(dir.path() / "outside");
    testsupport::WriteFileBytes(dir / "outside/keep", "x");
    std::error_code linkError;
    std::filesystem::create_directory_symlink(dir.path() / "outside", dir.path() / "sub/link", linkError);
    if (linkError) {
        // Windows gives links only to privileged accounts, and Wine none.
        std::printf("no link in the tree: the system refused one (%s)\n", linkError.message().c_str());
    }
    EXPECT_TRUE(platform::RemoveTree(sub));
    EXPECT_FALSE(platform::PathExists(sub));
    EXPECT_TRUE(std::filesystem::exists(dir.path() / "outside/keep"));
    EXPECT_TRUE(platform::RemoveTree(sub)) << "a missing tree is no error";
}

TEST(Files, CurrentDirectoryHasNoTrailingSeparator)
{
    TempDir dir;
    const auto previous = std::filesystem::current_path();
    std::filesystem::current_path(dir.path());
    const CString cwd = platform::GetCurrentDirectoryW();
    std::filesystem::current_path(previous);
    EXPECT_EQ(testsupport::U8(cwd), std::filesystem::canonical(dir.path()).string());
}

TEST(ModulePath, IsTheRunningTestProgram)
{
    const std::string path = testsupport::U8(platform::GetModulePath());
    EXPECT_TRUE(path.ends_with(NativeSeparators("/platform_tests") + testsupport::system::kProgramSuffix)) << path;
    EXPECT_TRUE(std::filesystem::is_regular_file(platform::ToPath(platform::GetModulePath())))
        << path << " must be this executable";
}

}  // namespace

TEST(PathTest, ProgramPathsBecomeNativePathsWithoutTheAnsiCodePage)
{
    // Either separator becomes the system's own, and characters outside code
    // page 936 survive.
    const platform::Path p = platform::ToPath(u"/srv/Stra\u00dfe \u2713\\ini\\update.sql");
    EXPECT_EQ(platform::PathUtf8(p), NativeSeparators("/srv/Stra\xc3\x9f" "e \xe2\x9c\x93/ini/update.sql"));
    EXPECT_EQ(testsupport::U8(platform::PathText(p)), NativeSeparators("/srv/Stra\xc3\x9f" "e \xe2\x9c\x93/ini/update.sql"));
    EXPECT_EQ(p.filename().string(), "update.sql");
    // An unpaired surrogate cannot reach the file system as garbage bytes.
    EXPECT_EQ(platform::PathUtf8(platform::ToPath(std::u16string(u"a") + char16_t(0xD800))), "a\xef\xbf\xbd");
}
