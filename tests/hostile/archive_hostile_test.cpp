// ZIP bombs against the archive component: an entry that inflates far beyond
// the size its headers announce, and an archive of 100 000 tiny entries. The
// archives are made by Python's zipfile and byte-edited where they lie.
#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <string>

#include "support/temp_dir.h"
#include "updater/install/archive.h"

namespace fs = std::filesystem;
using testsupport::ReadFileBytes;
using testsupport::U16;
using testsupport::WriteFileBytes;

namespace {

void MakeArchive(const std::string& arguments)
{
    const std::string command = std::string(MORVEX_PYTHON) + " '" + MORVEX_SOURCE_DIR +
                                "/tests/hostile/make_archive.py' " + arguments;
    ASSERT_EQ(std::system(command.c_str()), 0) << command;
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
        MakeArchive("bomb '" + archive.string() + "' " + row.method + " 1000 " + row.inflated);
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
    MakeArchive("many '" + archive.string() + "' " + std::to_string(kEntries));
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

}  // namespace
