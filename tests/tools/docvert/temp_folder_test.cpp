#include <gtest/gtest.h>

#include <stdlib.h>

#include <filesystem>
#include <optional>

#include "support/scoped_env.h"
#include "support/temp_dir.h"
#include "tools/docvert/temp_folder.h"

namespace {

namespace fs = std::filesystem;
using namespace std::chrono_literals;

class TempFolders : public ::testing::Test {
protected:
    fs::path Folder(const std::string& name, fs::file_time_type::duration age)
    {
        const fs::path path = m_tmp.path() / name;
        fs::create_directories(path / "office-profile");
        testsupport::WriteFileBytes(path / "document.doc", "x");
        fs::last_write_time(path, fs::file_time_type::clock::now() - age);
        return path;
    }

    testsupport::TempDir m_tmp;
    testsupport::ScopedEnv m_tmpdir{"TMPDIR", m_tmp.path().string()};
};

TEST_F(TempFolders, FoldersAbandonedByAnEndedHostGoOthersStay)
{
    const fs::path abandoned = Folder("docvert-aB3xYz", 2h);
    const fs::path running = Folder("docvert-Qw7ErT", 1min);
    const fs::path otherName = Folder("docverter-aB3xYz", 2h);
    const fs::path notOurs = Folder("office-aB3xYz", 2h);
    {
        docvert::TempFolder folder;
        ASSERT_TRUE(folder.valid());
        EXPECT_EQ(folder.path().parent_path(), m_tmp.path()) << "the folder belongs in $TMPDIR";
        EXPECT_FALSE(fs::exists(abandoned)) << "a conversion folder hours old belongs to nobody";
        EXPECT_TRUE(fs::exists(running)) << "a recent folder may belong to a conversion in progress";
        EXPECT_TRUE(fs::exists(otherName));
        EXPECT_TRUE(fs::exists(notOurs));
    }
}

TEST_F(TempFolders, EverythingInsideIsRemovedEvenWhatIsReadOnly)
{
    fs::path path;
    {
        docvert::TempFolder folder;
        ASSERT_TRUE(folder.valid());
        path = folder.path();
        fs::create_directories(path / "a" / "b");
        testsupport::WriteFileBytes(path / "a" / "b" / "c.txt", "c");
        fs::permissions(path / "a" / "b" / "c.txt", fs::perms::owner_read);
        fs::permissions(path / "a" / "b", fs::perms::owner_read | fs::perms::owner_exec);
        fs::create_symlink("/etc", path / "link");
    }
    EXPECT_FALSE(fs::exists(path)) << "the folder should be gone with everything in it";
    EXPECT_TRUE(fs::exists("/etc/hostname") || fs::exists("/etc/passwd")) << "a link is removed, never followed";
}

}  // namespace
