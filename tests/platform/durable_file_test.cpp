#include "platform/durable_file.h"

#include <gtest/gtest.h>

#include <unistd.h>

#include <filesystem>
#include <string>

#include "platform/files.h"
#include "support/temp_dir.h"

namespace {

using testsupport::TempDir;
using testsupport::U16;

// Replaces `path` the way the archive does: a new file renamed over it.
void ReplaceByRename(const std::filesystem::path& path, const std::string& content)
{
    const auto fresh = path.string() + ".new";
    testsupport::WriteFileBytes(fresh, content);
    std::filesystem::rename(fresh, path);
}

TEST(KeepFileAside, KeepsTheOldContentByLinkOnOneFileSystemAndByCopyAcrossTwo)
{
    TempDir dir;
    const auto original = dir.path() / "app.bin";
    testsupport::WriteFileBytes(original, "old content");

    bool linked = false;
    ASSERT_TRUE(platform::KeepFileAside(U16(original.string()), U16((dir.path() / "kept-here").string()), &linked));
    EXPECT_TRUE(linked) << "the same folder allows a hard link";

    // /dev/shm is another file system (tmpfs): no link across, so a copy.
    const std::filesystem::path elsewhere =
        "/dev/shm/morvex-kept-" + std::to_string(getpid());
    if (!std::filesystem::is_directory("/dev/shm")) {
        GTEST_SKIP() << "no /dev/shm";
    }
    std::filesystem::remove(elsewhere);
    ASSERT_TRUE(platform::KeepFileAside(U16(original.string()), U16(elsewhere.string()), &linked));
    EXPECT_FALSE(linked) << "a hard link cannot cross file systems";

    ReplaceByRename(original, "new content");
    EXPECT_EQ(testsupport::ReadFileBytes(dir.path() / "kept-here"), "old content");
    EXPECT_EQ(testsupport::ReadFileBytes(elsewhere), "old content");

    EXPECT_FALSE(platform::KeepFileAside(U16(original.string()), U16(elsewhere.string()), &linked))
        << "an existing target is never overwritten";
    EXPECT_EQ(testsupport::ReadFileBytes(elsewhere), "old content");
    std::filesystem::remove(elsewhere);
}

TEST(DurableLog, KeepsEveryLineAppendedAloneOrTogether)
{
    TempDir dir;
    const auto path = dir.path() / "journal.log";
    platform::DurableLog log;
    EXPECT_FALSE(log.Append("before open")) << "a log that is not open takes nothing";
    ASSERT_TRUE(log.Open(U16(path.string())));
    EXPECT_TRUE(log.Append("one"));
    EXPECT_TRUE(log.AppendAll({}));
    EXPECT_TRUE(log.AppendAll({"two", "three"}));
    log.Close();
    ASSERT_TRUE(log.Open(U16(path.string())));
    EXPECT_TRUE(log.Append("four")) << "reopening appends";
    log.Close();
    EXPECT_EQ(testsupport::ReadFileBytes(path), "one\ntwo\nthree\nfour\n");
}

}  // namespace
