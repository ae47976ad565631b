// ZIP bombs against the archive component: an entry that inflates far beyond
// the size its headers announce, and an archive of 100 000 tiny entries;
// archives the unpacking refuses before it writes anything (the updater's own
// names, sizes past the free space); modes stored by Unix archivers. The
// archives are made by Python's zipfile and byte-edited where they lie.
#include <gtest/gtest.h>

#include <filesystem>
#include <string>
#include <vector>

#include <sys/stat.h>

#include "platform/codepage.h"
#include "support/child_process.h"
#include "support/temp_dir.h"
#include "updater/install/archive.h"
#include "updater/workflow/update_session.h"

namespace fs = std::filesystem;
using testsupport::ReadFileBytes;
using testsupport::U16;
using testsupport::WriteFileBytes;

namespace {

void MakeArchive(const std::vector<std::string>& arguments)
{
    std::vector<std::string> argv{MORVEX_PYTHON, std::string(MORVEX_SOURCE_DIR) + "/tests/hostile/make_archive.py"};
    argv.insert(argv.end(), arguments.begin(), arguments.end());
    ASSERT_EQ(testsupport::RunAndWait(argv), 0) << "make_archive.py " << arguments.front() << " failed";
}

std::size_t RegularFilesBelow(const fs::path& folder)
{
    std::size_t count = 0;
    for (const auto& item : fs::recursive_directory_iterator(folder)) {
        count += item.is_regular_file() ? 1u : 0u;
    }
    return count;
}

class ZipBomb : public ::testing::Test {
protected:
    ArchiveHandle* Open(const fs::path& archive)
    {
        ArchiveHandle* handle = ArchiveOpen(U16(archive.string()), nullptr);
        EXPECT_NE(handle, nullptr) << "the archive opens";
        if (handle != nullptr) {
            EXPECT_EQ(ArchiveSetBaseDir(handle, U16(Base().string())), ARC_OK);
        }
        return handle;
    }

    fs::path Base() const { return m_dir.path() / "install"; }

    testsupport::TempDir m_dir;
};

TEST_F(ZipBomb, EntryInflatingPastItsAnnouncedSizeFailsAndKeepsTheOldFile)
{
    const struct {
        const char* method;
        const char* inflated;
    } rows[] = {{"8", "200000000"}, {"0", "10000000"}};
    for (const auto& row : rows) {
        SCOPED_TRACE(std::string("method ") + row.method);
        const fs::path archive = m_dir.path() / "bomb.zip";
        MakeArchive({"bomb", archive.string(), row.method, "1000", row.inflated});
        fs::remove_all(Base());
        fs::create_directories(Base());
        WriteFileBytes(Base() / "bomb.bin", "the installed file");
        ArchiveHandle* handle = Open(archive);
        ASSERT_NE(handle, nullptr);

        ArchiveEntry entry;
        ASSERT_EQ(ArchiveGetEntry(handle, 0, &entry), ARC_OK);
        EXPECT_EQ(entry.unpackedSize, 1000);
        EXPECT_EQ(ArchiveExtractToFile(handle, 0, entry.path), ARC_INFLATE_FAILED)
            << "the data goes on past the announced size";
        EXPECT_EQ(ReadFileBytes(Base() / "bomb.bin"), "the installed file") << "the old file keeps its content";
        EXPECT_EQ(RegularFilesBelow(Base()), 1u) << "no partial or temporary file is left";

        // Memory extraction stops at the announced size as well.
        char buffer[64];
        int chunks = 0;
        ARCRESULT result = ARC_MORE_DATA;
        while (result == ARC_MORE_DATA && chunks <= 1000) {
            result = ArchiveExtractEntry(handle, 0, buffer, sizeof buffer, ARC_KIND_MEMORY);
            chunks += result == ARC_MORE_DATA ? 1 : 0;
        }
        EXPECT_EQ(result, ARC_INFLATE_FAILED);
        EXPECT_LE(chunks, 1000 / 64 + 1) << "no more than the announced 1000 bytes arrive";

        // The install loop goes on with the next entry.
        ASSERT_EQ(ArchiveGetEntry(handle, 1, &entry), ARC_OK);
        EXPECT_EQ(ArchiveExtractToFile(handle, 1, entry.path), ARC_OK);
        EXPECT_EQ(ReadFileBytes(Base() / "after.txt"), "after the bomb");
        EXPECT_EQ(ArchiveClose(handle), ARC_OK);
    }
}

TEST_F(ZipBomb, HundredThousandTinyEntriesAreAllQueriedAndExtracted)
{
    // Every entry is queried and read; files are written for the first and
    // the last entries, where a walk that starts over from the first entry
    // each time would show (writing all 100 000 only measures the disk).
    constexpr int kEntries = 100000;
    constexpr int kFilesAtEachEnd = 1000;
    const fs::path archive = m_dir.path() / "many.zip";
    MakeArchive({"many", archive.string(), std::to_string(kEntries)});
    ArchiveHandle* handle = Open(archive);
    ASSERT_NE(handle, nullptr);

    ArchiveEntry count;
    ASSERT_EQ(ArchiveGetEntry(handle, -1, &count), ARC_OK);
    ASSERT_EQ(count.number, kEntries);
    int failures = 0;
    std::size_t written = 0;
    for (int index = 0; index < count.number; ++index) {
        ArchiveEntry entry;
        char buffer[32] = {};
        if (ArchiveGetEntry(handle, index, &entry) != ARC_OK ||
            ArchiveExtractEntry(handle, index, buffer, sizeof buffer, ARC_KIND_MEMORY) != ARC_OK ||
            std::string(buffer) != testsupport::U8(entry.path)) {
            ++failures;
        }
        if (index < kFilesAtEachEnd || index >= kEntries - kFilesAtEachEnd) {
            failures += ArchiveExtractToFile(handle, index, entry.path) == ARC_OK ? 0 : 1;
            ++written;
        }
    }
    EXPECT_EQ(failures, 0) << "every entry is described, read and written";
    EXPECT_EQ(ArchiveClose(handle), ARC_OK);
    EXPECT_EQ(RegularFilesBelow(Base()), written);
    for (const char* name : {"d000/f000000.txt", "d000/f000999.txt", "d099/f099000.txt", "d099/f099999.txt"}) {
        EXPECT_EQ(ReadFileBytes(Base() / name), name);
    }
}

unsigned ModeOf(const fs::path& path)
{
    struct stat st {};
    EXPECT_EQ(::stat(path.c_str(), &st), 0) << path;
    return st.st_mode & 07777;
}

TEST_F(ZipBomb, ArchivesNamingTheUpdatersOwnFilesAreRefusedBeforeAnythingIsWritten)
{
    // However the name is spelt, it lands on the same file.
    const std::string archive = (m_dir.path() / "reserved.zip").string();
    for (const char* name : {"MorvexUpdate.journal/journal.log", "./MorvexUpdate.journal/phase",
                             "MorvexUpdate.journal.old/kept/1", "morvexupdate.JOURNAL/x", "MorvexUpdate.lock",
                             ".\\MORVEXUPDATE.LOCK", "sub/../newversion.ini", "/update.zip", ".//update.zip",
                             "MorvexUpdate.journal/"}) {
        fs::remove(m_dir.path() / "reserved.zip");
        fs::create_directories(Base());
        MakeArchive({"add", archive, "first.txt", "written first"});
        MakeArchive({"add", archive, name, "planted"});
        EXPECT_FALSE(UnpackArchive(m_dir.path() / "reserved.zip", Base(), nullptr)) << name;
        EXPECT_TRUE(fs::is_empty(Base())) << name << ": nothing is written";
    }
}

TEST_F(ZipBomb, AnArchiveAnnouncingMoreThanTheFreeSpaceIsRefusedBeforeAnythingIsWritten)
{
    // Entries of 16 bytes announcing almost 4 GiB each, enough of them to
    // exceed what the test's file system has free.
    const std::uint64_t count = fs::space(m_dir.path()).available / 0xFFFFFFF0u + 2;
    MakeArchive({"announce", (m_dir.path() / "big.zip").string(), std::to_string(count), "4294967280"});
    fs::create_directories(Base());
    EXPECT_FALSE(UnpackArchive(m_dir.path() / "big.zip", Base(), nullptr));
    EXPECT_TRUE(fs::is_empty(Base())) << "not even the honest first entry is written";
}

TEST_F(ZipBomb, NewFilesTakeOnlyThePermissionBitsAUnixArchiveStores)
{
    const std::string archive = (m_dir.path() / "modes.zip").string();
    MakeArchive({"add", archive, "bin/run.sh", "echo hi", "104755"});  // set-user-id
    MakeArchive({"add", archive, "bin/tool", "x", "2750"});            // set-group-id, no file type
    MakeArchive({"add", archive, "link", "target", "120777"});         // a symbolic link's mode
    MakeArchive({"add", archive, "old.sh", "new content", "100700"});
    fs::create_directories(Base());
    WriteFileBytes(Base() / "old.sh", "old content");
    fs::permissions(Base() / "old.sh", fs::perms(0604));
    ASSERT_TRUE(UnpackArchive(m_dir.path() / "modes.zip", Base(), nullptr));
    EXPECT_EQ(ModeOf(Base() / "bin" / "run.sh"), 0755u);
    EXPECT_EQ(ModeOf(Base() / "bin" / "tool"), 0750u);
    EXPECT_TRUE(fs::is_regular_file(fs::symlink_status(Base() / "link")));
    EXPECT_NE(ModeOf(Base() / "link"), 0777u) << "the mode of another file type is not taken";
    EXPECT_EQ(ModeOf(Base() / "old.sh"), 0604u) << "a replaced file keeps its own bits";
}

}  // namespace
