#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/resource.h>
#include <unistd.h>

#include <csignal>

#include <cstdlib>
#include <functional>
#include <ctime>

#include "updater/install/archive/zip_fixture.h"
#include "support/temp_dir.h"
#include "platform/file_input.h"
#include "updater/install/archive.h"

namespace {

using namespace ziptest;
using testsupport::ReadFileBytes;
using testsupport::U16;
using testsupport::U8;
using testsupport::WriteFileBytes;

const std::string kLocalSignature("PK\x03\x04", 4);
const std::string kCentralSignature("PK\x01\x02", 4);

void Put16(std::string& bytes, std::size_t at, std::uint16_t value)
{
    bytes[at] = static_cast<char>(value & 0xFF);
    bytes[at + 1] = static_cast<char>(value >> 8);
}

void Put32(std::string& bytes, std::size_t at, std::uint32_t value)
{
    for (int i = 0; i < 4; ++i) {
        bytes[at + static_cast<std::size_t>(i)] = static_cast<char>((value >> (8 * i)) & 0xFF);
    }
}

class DamagedArchive : public ::testing::Test {
protected:
    void SetUp() override { std::filesystem::create_directory(base); }

    // Builds the archive, lets `edit` change its bytes, and writes it back.
    template <typename Edit>
    void MakeDamaged(const std::vector<Item>& items, Edit edit)
    {
        MakeZip(zip, items);
        std::string bytes = ReadFileBytes(zip);
        edit(bytes);
        WriteFileBytes(zip, bytes);
    }

    testsupport::TempDir temp;
    std::filesystem::path zip = temp.path() / "damaged.zip";
    std::filesystem::path base = temp.path() / "app";
};

TEST_F(DamagedArchive, BadLocalHeaderIsCorruptAndWritesNothingForThatEntry)
{
    const struct {
        const char* what;
        std::size_t offset;  // within the second local header
        char value;
    } damages[] = {
        {"signature", 0, 'X'},
        {"compression method", 8, 8},  // stored in the central record, deflate here
        {"name length", 26, 3},
    };
    for (const auto& damage : damages) {
        MakeDamaged({File("one.txt", "1", 0), File("two.txt", "2", 0), File("three.txt", "3", 0)},
                    [&](std::string& bytes) {
                        const auto header = FindNth(bytes, kLocalSignature, 1);
                        ASSERT_NE(header, std::string::npos);
                        bytes[header + damage.offset] = damage.value;
                    });
        std::filesystem::remove_all(base);
        auto archive = Open(zip);
        ASSERT_TRUE(archive) << damage.what;
        ArchiveEntry entry;
        EXPECT_EQ(ArchiveGetEntry(archive.get(), 1, &entry), ARC_CORRUPT) << damage.what;
        EXPECT_EQ(entry.number, 0) << damage.what;
        EXPECT_EQ(ExtractAll(archive.get(), base), (std::vector<ARCRESULT> {ARC_OK, ARC_CORRUPT, ARC_OK}))
            << damage.what;
        EXPECT_EQ(ListTree(base), (std::set<std::string> {"one.txt", "three.txt"})) << damage.what;
    }
}

TEST_F(DamagedArchive, UnsupportedCompressionMethodIsCorrupt)
{
    MakeDamaged({File("bz.txt", "data", 0)}, [](std::string& bytes) {
        // method 12 in both headers: consistent, but not one the component reads
        Put16(bytes, FindNth(bytes, kLocalSignature, 0) + 8, 12);
        Put16(bytes, FindNth(bytes, kCentralSignature, 0) + 10, 12);
    });
    auto archive = Open(zip);
    ASSERT_TRUE(archive);
    ArchiveEntry entry;
    EXPECT_EQ(ArchiveGetEntry(archive.get(), 0, &entry), ARC_CORRUPT);
    EXPECT_EQ(ExtractAll(archive.get(), base), std::vector<ARCRESULT> {ARC_CORRUPT});
    EXPECT_TRUE(ListTree(base).empty());
}

TEST_F(DamagedArchive, DataFailuresKeepTheOldTargetAndLeaveNoTemporaryFile)
{
    const std::string content = Pattern(70000, 7);
    const struct {
        const char* what;
        int method;
        std::function<void(std::string&)> edit;
    } damages[] = {
        {"a stored byte flipped (CRC mismatch)", 0,
         [&](std::string& bytes) { bytes[bytes.find(content.substr(1000, 64)) + 5] ^= 0x20; }},
        {"the CRC in both headers", 8,
         [](std::string& bytes) {
             Put32(bytes, FindNth(bytes, kLocalSignature, 0) + 14, 0x12345678);
             Put32(bytes, FindNth(bytes, kCentralSignature, 0) + 16, 0x12345678);
         }},
        {"deflated data overwritten", 8,
         [](std::string& bytes) {
             const auto data = FindNth(bytes, kLocalSignature, 0) + 30 + 12;  // after "lib/core.dll"
             for (std::size_t i = 0; i < 64; ++i) {
                 bytes[data + 100 + i] = static_cast<char>(0xFF);
             }
         }},
        {"uncompressed size claimed smaller than the data", 8,
         [](std::string& bytes) {
             Put32(bytes, FindNth(bytes, kLocalSignature, 0) + 22, 1000);
             Put32(bytes, FindNth(bytes, kCentralSignature, 0) + 24, 1000);
         }},
        {"uncompressed size claimed larger than the data", 8,
         [](std::string& bytes) {
             Put32(bytes, FindNth(bytes, kLocalSignature, 0) + 22, 90000);
             Put32(bytes, FindNth(bytes, kCentralSignature, 0) + 24, 90000);
         }},
    };
    for (const auto& damage : damages) {
        MakeDamaged({File("lib/core.dll", content, damage.method)}, damage.edit);
        std::filesystem::create_directories(base / "lib");
        WriteFileBytes(base / "lib/core.dll", "the installed version");

        auto archive = Open(zip);
        ASSERT_TRUE(archive) << damage.what;
        EXPECT_EQ(ExtractAll(archive.get(), base), std::vector<ARCRESULT> {ARC_INFLATE_FAILED}) << damage.what;
        EXPECT_EQ(ReadFileBytes(base / "lib/core.dll"), "the installed version")
            << damage.what << ": the old file must survive a failed extraction";
        EXPECT_EQ(ListTree(base), (std::set<std::string> {"lib", "lib/core.dll"})) << damage.what;
    }
}

TEST_F(DamagedArchive, TruncatedArchiveDoesNotOpenAndTheLoopRunsZeroTimes)
{
    MakeZip(zip, {File("a.txt", Pattern(5000)), File("b.txt", Pattern(5000, 2))});
    const std::string whole = ReadFileBytes(zip);
    for (std::size_t keep : {whole.size() - 10, whole.size() / 2, std::size_t {30}, std::size_t {0}}) {
        WriteFileBytes(zip, whole.substr(0, keep));
        ArchiveHandle* handle = ArchiveOpen(U16(zip.string()), nullptr);
        EXPECT_EQ(handle, nullptr) << "an archive cut to " << keep << " bytes has no entry directory";
        ArchiveEntry entry;
        entry.number = 5;
        EXPECT_EQ(ArchiveGetEntry(handle, -1, &entry), ARC_BAD_ARGUMENT);
        EXPECT_EQ(entry.number, 0);
        ArchiveClose(handle);
    }
}

TEST_F(DamagedArchive, DamagedCentralDirectoryEndsEveryWalkWithCorrupt)
{
    MakeDamaged({File("a", "1", 0), File("b", "2", 0), File("c", "3", 0), File("d", "4", 0)},
                [](std::string& bytes) { bytes[FindNth(bytes, kCentralSignature, 2)] = 'Q'; });
    auto archive = Open(zip);
    ASSERT_TRUE(archive) << "only the end record is needed to open";
    ArchiveEntry entry;
    EXPECT_EQ(ArchiveGetEntry(archive.get(), 1, &entry), ARC_OK);
    EXPECT_EQ(ArchiveGetEntry(archive.get(), 2, &entry), ARC_CORRUPT);
    EXPECT_EQ(ArchiveGetEntry(archive.get(), 3, &entry), ARC_CORRUPT) << "the walk cannot pass the damage";
    EXPECT_EQ(ArchiveGetEntry(archive.get(), 0, &entry), ARC_OK) << "going back to the start still works";
    EXPECT_EQ(U8(entry.path), "a");
    EXPECT_EQ(ExtractAll(archive.get(), base), (std::vector<ARCRESULT> {ARC_OK, ARC_OK, ARC_CORRUPT, ARC_CORRUPT}));
    EXPECT_EQ(ListTree(base), (std::set<std::string> {"a", "b"}));
}

TEST_F(DamagedArchive, InvalidDosDateGivesUnknownTimesAndTheFileKeepsItsWriteTime)
{
    MakeDamaged({File("when.txt", "sometime", 0)}, [](std::string& bytes) {
        // 2021-02-30: not a calendar date
        const std::uint16_t date = static_cast<std::uint16_t>(((2021 - 1980) << 9) | (2 << 5) | 30);
        Put16(bytes, FindNth(bytes, kLocalSignature, 0) + 12, date);
        Put16(bytes, FindNth(bytes, kCentralSignature, 0) + 14, date);
    });
    auto archive = Open(zip);
    ASSERT_TRUE(archive);
    ArchiveEntry entry;
    ASSERT_EQ(ArchiveGetEntry(archive.get(), 0, &entry), ARC_OK);
    EXPECT_EQ(entry.writeTime, 0U);
    EXPECT_EQ(entry.accessTime, 0U);
    EXPECT_EQ(entry.creationTime, 0U);
    const std::int64_t before = std::time(nullptr);
    EXPECT_EQ(ExtractAll(archive.get(), base), std::vector<ARCRESULT> {ARC_OK});
    EXPECT_EQ(ReadFileBytes(base / "when.txt"), "sometime");
    EXPECT_GE(MTimeOf(base / "when.txt"), before - 1) << "an unknown time must not be written as 1601";
}

// Lowers the file-size limit of the process for one scope, so that writes past
// it fail (with EFBIG rather than the signal).
class FileSizeLimit {
public:
    explicit FileSizeLimit(rlim_t bytes)
    {
        m_oldHandler = std::signal(SIGXFSZ, SIG_IGN);
        ::getrlimit(RLIMIT_FSIZE, &m_old);
        rlimit lowered = m_old;
        lowered.rlim_cur = bytes;
        ::setrlimit(RLIMIT_FSIZE, &lowered);
    }
    ~FileSizeLimit()
    {
        ::setrlimit(RLIMIT_FSIZE, &m_old);
        std::signal(SIGXFSZ, m_oldHandler);
    }

private:
    rlimit m_old {};
    void (*m_oldHandler)(int) = nullptr;
};

TEST_F(DamagedArchive, AFailingWriteAtAnyPointKeepsTheOldTarget)
{
    const std::string content = Pattern(50000, 17);
    MakeZip(zip, {File("prog.exe", content)});
    for (rlim_t limit : {rlim_t {0}, rlim_t {1}, rlim_t {16383}, rlim_t {16384}, rlim_t {16385}, rlim_t {49999}}) {
        WriteFileBytes(base / "prog.exe", "installed");
        auto archive = Open(zip);
        ASSERT_TRUE(archive);
        ARCRESULT code;
        {
            FileSizeLimit scoped(limit);
            code = ExtractAll(archive.get(), base).at(0);
        }
        EXPECT_EQ(code, ARC_WRITE_FAILED) << "writes stopped after " << limit << " bytes";
        EXPECT_EQ(ReadFileBytes(base / "prog.exe"), "installed") << "limit " << limit;
        EXPECT_EQ(ListTree(base), std::set<std::string> {"prog.exe"}) << "limit " << limit;
    }
    // With room for the whole entry it goes through.
    {
        FileSizeLimit scoped(50000);
        auto archive = Open(zip);
        ASSERT_TRUE(archive);
        EXPECT_EQ(ExtractAll(archive.get(), base), std::vector<ARCRESULT> {ARC_OK});
    }
    EXPECT_EQ(ReadFileBytes(base / "prog.exe"), content);
}

TEST_F(DamagedArchive, AFullDeviceAsTargetGivesWriteFailed)
{
    MakeZip(zip, {File("a.bin", Pattern(1000))});
    auto archive = Open(zip);
    ASSERT_TRUE(archive);
    const int fd = ::open("/dev/full", O_WRONLY);
    ASSERT_GE(fd, 0);
    platform::FileHandle handle = fd;
    EXPECT_EQ(ArchiveExtractEntry(archive.get(), 0, &handle, 0, ARC_KIND_HANDLE), ARC_WRITE_FAILED);
    ::close(fd);
}

}  // namespace
