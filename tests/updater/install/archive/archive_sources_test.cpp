#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include "updater/install/archive/zip_fixture.h"
#include "platform/file_input.h"
#include "support/temp_dir.h"
#include "updater/install/archive.h"
#include "updater/install/archive_reader.h"

namespace {

using namespace ziptest;
using testsupport::ReadFileBytes;
using testsupport::U16;
using testsupport::U8;
using testsupport::WriteFileBytes;

class ArchiveSources : public ::testing::Test {
protected:
    void SetUp() override { std::filesystem::create_directory(base); }

    testsupport::TempDir temp;
    std::filesystem::path zip = temp.path() / "update.zip";
    std::filesystem::path base = temp.path() / "app";
};

// Reads entry `index` into memory in chunks of `chunk` bytes; returns the
// codes of every call and appends the data to `out`.
std::vector<ARCRESULT> ReadToMemory(ArchiveHandle* handle, std::int32_t index, std::size_t chunk,
                                    std::int64_t unpacked, std::string& out)
{
    std::vector<ARCRESULT> codes;
    std::string buffer(chunk, '\0');
    std::int64_t remaining = unpacked;
    for (int guard = 0; guard < 1000; ++guard) {
        const ARCRESULT code = ArchiveExtractEntry(handle, index, buffer.data(), static_cast<std::uint32_t>(chunk),
                                                   ARC_KIND_MEMORY);
        codes.push_back(code);
        if (code == ARC_MORE_DATA) {
            out.append(buffer, 0, chunk);
            remaining -= static_cast<std::int64_t>(chunk);
            continue;
        }
        if (code == ARC_OK) {
            out.append(buffer, 0, static_cast<std::size_t>(remaining));
        }
        break;
    }
    return codes;
}

TEST_F(ArchiveSources, DescriptorSourceCountsFromItsPositionAndStaysOpen)
{
    const std::string content = Pattern(30000);
    MakeZip(zip, {File("inner/a.txt", content), File("b.txt", "bee", 0)});
    // The archive follows 777 bytes of something else in the same file.
    const auto combined = temp.path() / "combined.bin";
    WriteFileBytes(combined, std::string(777, 'P') + ReadFileBytes(zip));
    const int fd = ::open(combined.c_str(), O_RDONLY);
    ASSERT_GE(fd, 0);
    ASSERT_EQ(::lseek(fd, 777, SEEK_SET), 777);

    platform::FileHandle handle = fd;
    ArchiveHandle* archive = ArchiveOpenSource(&handle, 0, ARC_KIND_HANDLE, nullptr);
    ASSERT_NE(archive, nullptr) << "offsets should count from the descriptor's position";
    EXPECT_EQ(ExtractAll(archive, base), (std::vector<ARCRESULT> {ARC_OK, ARC_OK}));
    EXPECT_EQ(ArchiveClose(archive), ARC_OK);
    EXPECT_EQ(ReadFileBytes(base / "inner/a.txt"), content);
    EXPECT_EQ(ReadFileBytes(base / "b.txt"), "bee");
    EXPECT_NE(::fcntl(fd, F_GETFD), -1) << "the caller's descriptor must stay open";
    ::close(fd);
}

TEST_F(ArchiveSources, OpeningReportsWhyASourceCannotBeRead)
{
    MakeZip(zip, {File("a", "1")});
    int pipeEnds[2];
    ASSERT_EQ(::pipe(pipeEnds), 0);
    platform::FileHandle readEnd = pipeEnds[0];
    const std::u16string missing = U16((temp.path() / "missing.zip").string());
    const std::u16string directory = U16(temp.path().string());
    const std::string text = "PK but not really an archive";
    const std::string bytes = ReadFileBytes(zip);
    const struct {
        const char* what;
        const void* source;
        std::uint32_t length;
        std::int32_t kind;
        ARCRESULT expected;
    } cases[] = {
        {"a pipe", &readEnd, 0, ARC_KIND_HANDLE, ARC_NOT_SEEKABLE},
        {"a missing file", missing.c_str(), 0, ARC_KIND_FILE, ARC_CANT_OPEN_FILE},
        {"a directory", directory.c_str(), 0, ARC_KIND_FILE, ARC_CANT_OPEN_FILE},
        {"text in memory", text.data(), static_cast<std::uint32_t>(text.size()), ARC_KIND_MEMORY, ARC_CANT_OPEN_FILE},
        {"an archive cut short in memory", bytes.data(), static_cast<std::uint32_t>(bytes.size() - 5),
         ARC_KIND_MEMORY, ARC_CANT_OPEN_FILE},
        {"kind 4", bytes.data(), static_cast<std::uint32_t>(bytes.size()), 4, ARC_BAD_ARGUMENT},
        {"kind 0", bytes.data(), static_cast<std::uint32_t>(bytes.size()), 0, ARC_BAD_ARGUMENT},
        {"a null source", nullptr, 0, ARC_KIND_MEMORY, ARC_BAD_ARGUMENT},
        {"the whole archive in memory", bytes.data(), static_cast<std::uint32_t>(bytes.size()), ARC_KIND_MEMORY,
         ARC_OK},
    };
    for (const auto& c : cases) {
        CArchiveReader reader(nullptr);
        EXPECT_EQ(reader.Open(c.source, c.length, c.kind), c.expected) << c.what;
        ArchiveHandle* handle = ArchiveOpenSource(c.source, c.length, c.kind, nullptr);
        EXPECT_EQ(handle != nullptr, c.expected == ARC_OK) << c.what;
        ArchiveClose(handle);
    }
    ::close(pipeEnds[0]);
    ::close(pipeEnds[1]);
}

TEST_F(ArchiveSources, MemoryTargetContinuesChunkByChunk)
{
    const std::string big = Pattern(40000, 3);
    MakeZip(zip, {File("big.bin", big), File("small.txt", "tiny", 0)});
    const std::string bytes = ReadFileBytes(zip);
    ArchiveHandle* archive =
        ArchiveOpenSource(bytes.data(), static_cast<std::uint32_t>(bytes.size()), ARC_KIND_MEMORY, nullptr);
    ASSERT_NE(archive, nullptr);

    std::string out;
    EXPECT_EQ(ReadToMemory(archive, 0, 16000, 40000, out),
              (std::vector<ARCRESULT> {ARC_MORE_DATA, ARC_MORE_DATA, ARC_OK}));
    EXPECT_EQ(out, big);
    char buffer[16];
    EXPECT_EQ(ArchiveExtractEntry(archive, 0, buffer, sizeof buffer, ARC_KIND_MEMORY), ARC_OK)
        << "a call after the end finds the end again";

    // A query in between closes the streamed entry: reading starts over.
    std::string first(100, '\0');
    ASSERT_EQ(ArchiveExtractEntry(archive, 0, first.data(), 100, ARC_KIND_MEMORY), ARC_MORE_DATA);
    ArchiveEntry entry;
    ASSERT_EQ(ArchiveGetEntry(archive, 1, &entry), ARC_OK);
    std::string again(100, '\0');
    ASSERT_EQ(ArchiveExtractEntry(archive, 0, again.data(), 100, ARC_KIND_MEMORY), ARC_MORE_DATA);
    EXPECT_EQ(again, big.substr(0, 100));

    // Another index starts that entry.
    std::string small;
    EXPECT_EQ(ReadToMemory(archive, 1, 64, 4, small), std::vector<ARCRESULT> {ARC_OK});
    EXPECT_EQ(small, "tiny");

    EXPECT_EQ(ArchiveExtractEntry(archive, 2, buffer, sizeof buffer, ARC_KIND_MEMORY), ARC_BAD_ARGUMENT);
    EXPECT_EQ(ArchiveExtractEntry(archive, -1, buffer, sizeof buffer, ARC_KIND_MEMORY), ARC_BAD_ARGUMENT);
    EXPECT_EQ(ArchiveExtractEntry(archive, 0, buffer, 0, ARC_KIND_MEMORY), ARC_BAD_ARGUMENT);
    EXPECT_EQ(ArchiveExtractEntry(archive, 0, buffer, sizeof buffer, 9), ARC_BAD_ARGUMENT);
    EXPECT_EQ(ArchiveClose(archive), ARC_OK);
}

TEST_F(ArchiveSources, MemoryTargetReportsACrcMismatchAtTheEnd)
{
    const std::string content = Pattern(20000, 5);
    MakeZip(zip, {File("x.bin", content, 0)});
    std::string bytes = ReadFileBytes(zip);
    bytes[bytes.find(content.substr(19000, 64)) + 10] ^= 1;
    ArchiveHandle* archive =
        ArchiveOpenSource(bytes.data(), static_cast<std::uint32_t>(bytes.size()), ARC_KIND_MEMORY, nullptr);
    ASSERT_NE(archive, nullptr);
    std::string out;
    EXPECT_EQ(ReadToMemory(archive, 0, 8192, 20000, out),
              (std::vector<ARCRESULT> {ARC_MORE_DATA, ARC_MORE_DATA, ARC_INFLATE_FAILED}));
    ArchiveClose(archive);
}

TEST_F(ArchiveSources, DescriptorTargetIsWrittenAtItsPositionAndStaysOpen)
{
    Item item = File("payload", Pattern(50000, 9));
    item.extra = ExtendedTimestamp(1, {1300000000});
    MakeZip(zip, {item, Directory("dir/")});
    auto archive = Open(zip);
    ASSERT_TRUE(archive);
    const auto target = temp.path() / "out.bin";
    const int fd = ::open(target.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    ASSERT_GE(fd, 0);
    ASSERT_EQ(::write(fd, "HEAD", 4), 4);
    platform::FileHandle handle = fd;
    EXPECT_EQ(ArchiveExtractEntry(archive.get(), 0, &handle, 0, ARC_KIND_HANDLE), ARC_OK);
    EXPECT_EQ(ArchiveExtractEntry(archive.get(), 1, &handle, 0, ARC_KIND_HANDLE), ARC_OK)
        << "a directory entry writes nothing to a descriptor";
    EXPECT_NE(::fcntl(fd, F_GETFD), -1) << "the descriptor must stay open";
    ::close(fd);
    EXPECT_EQ(ReadFileBytes(target), "HEAD" + item.data);
    EXPECT_EQ(MTimeOf(target), 1300000000);
}

TEST_F(ArchiveSources, InfoZipEncryptedEntriesNeedTheirPassword)
{
    const std::string text = Pattern(60000, 11);
    for (bool store : {false, true}) {
        SCOPED_TRACE(store ? "stored" : "deflated");
        std::filesystem::remove(zip);
        MakeEncryptedZip(zip, {{"secret/a.txt", text}, {"b.txt", "short secret"}}, "s3cret!", store);
        std::filesystem::remove_all(base);

        {
            auto archive = Open(zip, "s3cret!");
            ASSERT_TRUE(archive);
            EXPECT_EQ(ExtractAll(archive.get(), base), (std::vector<ARCRESULT> {ARC_OK, ARC_OK}));
            EXPECT_EQ(ReadFileBytes(base / "secret/a.txt"), text);
            EXPECT_EQ(ReadFileBytes(base / "b.txt"), "short secret");
        }

        WriteFileBytes(base / "b.txt", "installed");
        {
            auto archive = Open(zip, nullptr);
            ASSERT_TRUE(archive);
            EXPECT_EQ(ArchiveExtractToFile(archive.get(), 1, u"b.txt"), ARC_BAD_PASSWORD) << "no password given";
        }
        // The header check lets one wrong password in 256 through; the CRC
        // then catches it. Either way the installed file must survive.
        int refusedByHeader = 0;
        for (int i = 0; i < 10; ++i) {
            const std::string wrong = "wrong" + std::to_string(i);
            auto archive = Open(zip, wrong.c_str());
            ASSERT_TRUE(archive);
            ArchiveSetBaseDir(archive.get(), U16(base.string()));
            const ARCRESULT code = ArchiveExtractToFile(archive.get(), 1, u"b.txt");
            EXPECT_TRUE(code == ARC_BAD_PASSWORD || code == ARC_INFLATE_FAILED) << wrong << " gave " << code;
            refusedByHeader += code == ARC_BAD_PASSWORD;
        }
        EXPECT_GE(refusedByHeader, 8) << "wrong passwords should fail the header check";
        EXPECT_EQ(ReadFileBytes(base / "b.txt"), "installed");
        EXPECT_EQ(ListTree(base), (std::set<std::string> {"b.txt", "secret", "secret/a.txt"}));
    }
}

TEST_F(ArchiveSources, EncryptedEntryCheckedAgainstTheCrcReadsIntoMemory)
{
    Item item = File("crc-checked.txt", Pattern(30000, 13), 0);
    item.password = "pw";
    MakeZip(zip, {item});
    const std::string bytes = ReadFileBytes(zip);
    for (const char* password : std::initializer_list<const char*> {"pw", "PW", nullptr}) {
        ArchiveHandle* archive =
            ArchiveOpenSource(bytes.data(), static_cast<std::uint32_t>(bytes.size()), ARC_KIND_MEMORY, password);
        ASSERT_NE(archive, nullptr);
        std::string out;
        const auto codes = ReadToMemory(archive, 0, 7000, 30000, out);
        if (password != nullptr && std::string(password) == "pw") {
            EXPECT_EQ(codes, (std::vector<ARCRESULT> {ARC_MORE_DATA, ARC_MORE_DATA, ARC_MORE_DATA, ARC_MORE_DATA,
                                                      ARC_OK}));
            EXPECT_EQ(out, item.data);
        } else {
            EXPECT_EQ(codes, std::vector<ARCRESULT> {ARC_BAD_PASSWORD}) << (password ? password : "(none)");
        }
        ArchiveClose(archive);
    }
}

}  // namespace

// File sources read through a window of recent bytes: headers and data that
// straddle its edges, reads bigger than it, and an archive that does not start
// at the file's beginning must all come out byte for byte.
TEST_F(ArchiveSources, FileSourcesGiveEveryByteOfManyEntriesOfMixedSizes)
{
    std::vector<Item> items;
    std::vector<std::string> contents;
    for (unsigned i = 0; i < 300; ++i) {
        const std::size_t size = i == 150 ? 200000 : (i * 37u) % 1500;
        contents.push_back(Pattern(size, i + 1));
        items.push_back(File("dir" + std::to_string(i % 7) + "/entry" + std::to_string(i) + ".bin", contents.back(),
                             i % 3 == 0 ? 0 : 8));
    }
    MakeZip(zip, items);
    const std::string prefix(70001, 'P');
    const auto combined = temp.path() / "combined.bin";
    WriteFileBytes(combined, prefix + ReadFileBytes(zip));

    const auto check = [&](ArchiveHandle* archive, const std::string& what) {
        SCOPED_TRACE(what);
        ASSERT_NE(archive, nullptr);
        ArchiveEntry entry;
        ASSERT_EQ(ArchiveGetEntry(archive, -1, &entry), ARC_OK);
        ASSERT_EQ(entry.number, static_cast<std::int32_t>(items.size()));
        // Backwards, so that every query moves the reading position back.
        for (std::int32_t i = entry.number - 1; i >= 0; --i) {
            ASSERT_EQ(ArchiveGetEntry(archive, i, &entry), ARC_OK);
            std::string out;
            ReadToMemory(archive, i, 4099, entry.unpackedSize, out);
            ASSERT_EQ(out, contents[static_cast<std::size_t>(i)]) << "entry " << i;
        }
        EXPECT_EQ(ArchiveClose(archive), ARC_OK);
    };
    check(ArchiveOpen(U16(zip.string()), nullptr), "file by name");

    const int fd = ::open(combined.c_str(), O_RDONLY);
    ASSERT_GE(fd, 0);
    ASSERT_EQ(::lseek(fd, static_cast<off_t>(prefix.size()), SEEK_SET), static_cast<off_t>(prefix.size()));
    platform::FileHandle handle = fd;
    check(ArchiveOpenSource(&handle, 0, ARC_KIND_HANDLE, nullptr), "descriptor after a prefix");
    ::close(fd);
}
