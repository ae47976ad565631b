#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdlib>
#include <ctime>
#include <optional>

#include "updater/install/archive/zip_fixture.h"
#include "support/scoped_env.h"
#include "support/temp_dir.h"
#include "updater/install/archive.h"
#include "updater/install/archive_reader.h"

namespace {

using namespace ziptest;
using testsupport::ReadFileBytes;
using testsupport::U16;
using testsupport::U8;
using testsupport::WriteFileBytes;

class ArchiveExtract : public ::testing::Test {
protected:
    void SetUp() override
    {
        // Entry times are local times; fix the zone so expectations are exact.
        m_zone.emplace("TZ", "UTC0");
        ::tzset();
        std::filesystem::create_directory(base);
    }
    void TearDown() override
    {
        m_zone.reset();
        ::tzset();
    }

    std::optional<testsupport::ScopedEnv> m_zone;

    testsupport::TempDir temp;
    std::filesystem::path zip = temp.path() / "update.zip";
    std::filesystem::path base = temp.path() / "app";
};

std::size_t OpenDescriptors()
{
    std::size_t count = 0;
    for ([[maybe_unused]] const auto& entry : std::filesystem::directory_iterator("/proc/self/fd")) {
        ++count;
    }
    return count;
}

mode_t ModeOf(const std::filesystem::path& path)
{
    struct stat st {};
    EXPECT_EQ(::lstat(path.c_str(), &st), 0) << path << " should exist";
    return st.st_mode;
}

TEST_F(ArchiveExtract, InstallLoopUnpacksEveryEntryUnderTheBase)
{
    const std::string big = Pattern(100000);
    MakeZip(zip, {Directory("data/"), File("data/a.txt", "alpha"), File("bin\\new\\b.dll", big),
                  File("top.txt", "stored text", 0)});
    auto archive = Open(zip);
    ASSERT_TRUE(archive) << "a zipfile archive should open";

    const std::uint32_t attributes[] = {0x30, 0x20, 0x20, 0x20};  // Unix modes 0755 dir, 0644 files
    for (std::int32_t i = 0; i < 4; ++i) {
        ArchiveEntry entry;
        ASSERT_EQ(ArchiveGetEntry(archive.get(), i, &entry), ARC_OK);
        EXPECT_EQ(entry.attributes, attributes[i]) << "entry " << i;
    }
    const auto codes = ExtractAll(archive.get(), base);
    EXPECT_EQ(codes, (std::vector<ARCRESULT>(4, ARC_OK)));
    EXPECT_EQ(ReadFileBytes(base / "data/a.txt"), "alpha");
    EXPECT_EQ(ReadFileBytes(base / "bin/new/b.dll"), big) << "backslashes should become directories";
    EXPECT_EQ(ReadFileBytes(base / "top.txt"), "stored text");
    EXPECT_EQ(ListTree(base), (std::set<std::string> {"bin", "bin/new", "bin/new/b.dll", "data", "data/a.txt",
                                                      "top.txt"}))
        << "nothing else (no temporary file) should be left";
}

TEST_F(ArchiveExtract, QueryOfMinusOneGivesOnlyTheCount)
{
    MakeZip(zip, {File("a", "1"), File("b", "22"), File("c", "333")});
    auto archive = Open(zip);
    ASSERT_TRUE(archive);

    ArchiveEntry entry;
    entry.attributes = 7;
    entry.writeTime = 9;
    entry.packedSize = 5;
    ASSERT_EQ(ArchiveGetEntry(archive.get(), -1, &entry), ARC_OK);
    EXPECT_EQ(entry.number, 3);
    EXPECT_EQ(entry.path[0], u'\0');
    EXPECT_EQ(entry.attributes, 0U);
    EXPECT_EQ(entry.writeTime, 0U);
    EXPECT_EQ(entry.packedSize, 0);

    EXPECT_EQ(ArchiveGetEntry(archive.get(), 3, &entry), ARC_BAD_ARGUMENT) << "index = count is out of range";
    EXPECT_EQ(ArchiveGetEntry(archive.get(), -2, &entry), ARC_BAD_ARGUMENT);
    ASSERT_EQ(ArchiveGetEntry(archive.get(), 2, &entry), ARC_OK);
    EXPECT_EQ(entry.number, 2);
    EXPECT_EQ(U8(entry.path), "c");
    EXPECT_EQ(entry.unpackedSize, 3);
    // going back to an earlier entry restarts the walk
    ASSERT_EQ(ArchiveGetEntry(archive.get(), 0, &entry), ARC_OK);
    EXPECT_EQ(U8(entry.path), "a");
}

TEST_F(ArchiveExtract, NullAndForeignHandlesAreRefusedAndLeaveACountOfZero)
{
    ArchiveEntry entry;
    entry.number = 99;
    entry.unpackedSize = 5;
    entry.path[0] = u'x';
    EXPECT_EQ(ArchiveGetEntry(nullptr, -1, &entry), ARC_BAD_ARGUMENT);
    EXPECT_EQ(entry.number, 0) << "a loop over entries must run zero times";
    EXPECT_EQ(entry.path[0], u'\0');
    EXPECT_EQ(entry.unpackedSize, 0);

    ArchiveHandle foreign;
    foreign.kind = 2;
    EXPECT_EQ(ArchiveGetEntry(&foreign, -1, &entry), ARC_WRONG_HANDLE);
    EXPECT_EQ(ArchiveSetBaseDir(&foreign, u"x"), ARC_WRONG_HANDLE);
    EXPECT_EQ(ArchiveExtractToFile(&foreign, 0, u"x"), ARC_WRONG_HANDLE);
    EXPECT_EQ(ArchiveClose(&foreign), ARC_WRONG_HANDLE);
    EXPECT_EQ(ArchiveClose(nullptr), ARC_BAD_ARGUMENT);
    EXPECT_EQ(ArchiveSetBaseDir(nullptr, u"x"), ARC_BAD_ARGUMENT);
    EXPECT_EQ(ArchiveExtractToFile(nullptr, 0, u"x"), ARC_BAD_ARGUMENT);

    EXPECT_EQ(ArchiveOpen(U16((temp.path() / "missing.zip").string()), nullptr), nullptr);
    WriteFileBytes(temp.path() / "text.zip", "this is not an archive");
    EXPECT_EQ(ArchiveOpen(U16((temp.path() / "text.zip").string()), nullptr), nullptr);
}

TEST_F(ArchiveExtract, TheWriteHookHearsOfEveryWriteBeforehandAndCanRefuseIt)
{
    MakeZip(zip, {File("keep.txt", "new"), File("sub\\deep/new.txt", "fresh"), File("refused.txt", "never")});
    WriteFileBytes(base / "keep.txt", "old");
    WriteFileBytes(base / "refused.txt", "old refused");
    auto archive = Open(zip);
    ASSERT_TRUE(archive);
    ASSERT_EQ(ArchiveSetBaseDir(archive.get(), U16(base.string())), ARC_OK);
    std::vector<std::string> heard;
    ASSERT_EQ(ArchiveSetWriteHook(archive.get(),
                                  [&](const ArchiveWrite& write) {
                                      heard.push_back((write.directory ? "dir " : "file ") +
                                                      write.path.lexically_relative(base).string() +
                                                      (write.exists ? " (exists)" : ""));
                                      return write.path.filename() != "refused.txt";
                                  }),
              ARC_OK);

    const std::vector<std::string> writes {"file keep.txt (exists)", "dir sub", "dir sub/deep",
                                           "file sub/deep/new.txt", "file refused.txt (exists)"};
    const char16_t* names[] = {u"keep.txt", u"sub\\deep/new.txt", u"refused.txt"};
    for (std::int32_t i = 0; i < 3; ++i) {
        EXPECT_EQ(ArchivePlanToFile(archive.get(), i, names[i]), i == 2 ? ARC_CANT_OPEN_FILE : ARC_OK);
    }
    EXPECT_EQ(heard, writes) << "planning names every write";
    EXPECT_EQ(ListTree(base), (std::set<std::string> {"keep.txt", "refused.txt"})) << "planning writes nothing";

    heard.clear();
    for (std::int32_t i = 0; i < 3; ++i) {
        EXPECT_EQ(ArchiveExtractToFile(archive.get(), i, names[i]), i == 2 ? ARC_CANT_OPEN_FILE : ARC_OK);
    }
    EXPECT_EQ(heard, writes);
    EXPECT_EQ(ReadFileBytes(base / "sub/deep/new.txt"), "fresh");
    EXPECT_EQ(ReadFileBytes(base / "refused.txt"), "old refused") << "a refused write does not happen";
    EXPECT_EQ(ListTree(base), (std::set<std::string> {"keep.txt", "refused.txt", "sub", "sub/deep",
                                                      "sub/deep/new.txt"}));
}

TEST_F(ArchiveExtract, ReplacesAnExistingFileAndGivesItTheEntrysTimes)
{
    const std::int32_t mtime = 1500000000;
    Item item = File("ini/conf.ini", "new content");
    item.extra = ExtendedTimestamp(1, {mtime});
    item.dateTime = {2019, 3, 4, 5, 6, 8};
    MakeZip(zip, {item});
    std::filesystem::create_directories(base / "ini");
    WriteFileBytes(base / "ini/conf.ini", "old content that is longer than the new");
    ::chmod((base / "ini/conf.ini").c_str(), 0750);

    auto archive = Open(zip);
    ASSERT_TRUE(archive);
    ArchiveEntry entry;
    ASSERT_EQ(ArchiveGetEntry(archive.get(), 0, &entry), ARC_OK);
    EXPECT_EQ(entry.writeTime, FileTimeOf(mtime)) << "UT flags 1 give the write time";
    EXPECT_EQ(entry.creationTime, FileTimeOf(1551675968)) << "creation time stays the DOS date's";
    EXPECT_EQ(entry.accessTime, FileTimeOf(1551675968));
    EXPECT_EQ(ExtractAll(archive.get(), base), std::vector<ARCRESULT> {ARC_OK});
    // Times first: reading the file may move its access time.
    struct stat st {};
    ASSERT_EQ(::stat((base / "ini/conf.ini").c_str(), &st), 0);
    EXPECT_EQ(st.st_mtim.tv_sec, mtime) << "last write time comes from the UT block";
    EXPECT_EQ(st.st_atim.tv_sec, 1551675968) << "last access time comes from the DOS date (2019-03-04 05:06:08)";
    EXPECT_EQ(st.st_mode & 07777, 0750U) << "a replaced file keeps its permission bits";
    EXPECT_EQ(ReadFileBytes(base / "ini/conf.ini"), "new content") << "the old file should be replaced whole";
}

TEST_F(ArchiveExtract, ReadOnlyTargetIsLeftUnchangedEvenForTheSuperuser)
{
    MakeZip(zip, {File("locked.txt", "new")});
    WriteFileBytes(base / "locked.txt", "old");
    ::chmod((base / "locked.txt").c_str(), 0444);

    auto archive = Open(zip);
    ASSERT_TRUE(archive);
    EXPECT_EQ(ExtractAll(archive.get(), base), std::vector<ARCRESULT> {ARC_CANT_OPEN_FILE});
    EXPECT_EQ(ReadFileBytes(base / "locked.txt"), "old");
    EXPECT_EQ(ListTree(base), std::set<std::string> {"locked.txt"});
}

TEST_F(ArchiveExtract, ReadOnlyEntryBecomesAFileWithoutWriteBits)
{
    Item dosReadOnly = File("ro.txt", "frozen");
    dosReadOnly.createSystem = 0;
    dosReadOnly.externalAttr = 0x21;
    MakeZip(zip, {dosReadOnly});
    auto archive = Open(zip);
    ASSERT_TRUE(archive);

    ArchiveEntry entry;
    ASSERT_EQ(ArchiveGetEntry(archive.get(), 0, &entry), ARC_OK);
    EXPECT_EQ(entry.attributes, 0x21U);
    EXPECT_EQ(ExtractAll(archive.get(), base), std::vector<ARCRESULT> {ARC_OK});
    EXPECT_EQ(ReadFileBytes(base / "ro.txt"), "frozen");
    EXPECT_EQ(ModeOf(base / "ro.txt") & 0222, 0U) << "read-only means no write permission bits";
    EXPECT_EQ(ArchiveExtractToFile(archive.get(), 0, u"ro.txt"), ARC_CANT_OPEN_FILE)
        << "a second extraction meets a read-only target";
}

TEST_F(ArchiveExtract, ZeroByteEntriesYieldEmptyFilesWithTheirTimes)
{
    Item stored = File("empty-stored", "", 0);
    Item deflated = File("empty-deflated", "", 8);
    stored.dateTime = deflated.dateTime = {2010, 10, 10, 10, 10, 10};
    MakeZip(zip, {stored, deflated});
    auto archive = Open(zip);
    ASSERT_TRUE(archive);
    EXPECT_EQ(ExtractAll(archive.get(), base), (std::vector<ARCRESULT> {ARC_OK, ARC_OK}));
    for (const char* name : {"empty-stored", "empty-deflated"}) {
        EXPECT_TRUE(std::filesystem::is_regular_file(base / name)) << name;
        EXPECT_EQ(std::filesystem::file_size(base / name), 0U) << name;
        EXPECT_EQ(MTimeOf(base / name), 1286705410) << name << " should carry the entry's time";
    }
}

TEST_F(ArchiveExtract, ChineseUtf8NameIsWrittenUnderThatName)
{
    const std::string name = "资料/简历模板.txt";
    MakeZip(zip, {File(name, "内容")});
    auto archive = Open(zip);
    ASSERT_TRUE(archive);
    ArchiveEntry entry;
    ASSERT_EQ(ArchiveGetEntry(archive.get(), 0, &entry), ARC_OK);
    EXPECT_EQ(CString(entry.path), U16(name));
    EXPECT_EQ(ExtractAll(archive.get(), base), std::vector<ARCRESULT> {ARC_OK});
    EXPECT_EQ(ReadFileBytes(base / name), "内容");
}

TEST_F(ArchiveExtract, DirectoryNameWithoutDirectoryAttributesFailsAsAFile)
{
    Item notADirectory = File("data/", "");
    notADirectory.method = 0;
    MakeZip(zip, {notADirectory});
    auto archive = Open(zip);
    ASSERT_TRUE(archive);
    EXPECT_EQ(ExtractAll(archive.get(), base), std::vector<ARCRESULT> {ARC_CANT_OPEN_FILE});
    EXPECT_TRUE(std::filesystem::is_directory(base / "data")) << "the directory is made and stays";
    EXPECT_EQ(ListTree(base), std::set<std::string> {"data"});
}

TEST_F(ArchiveExtract, DirectoryEntryOverAnExistingFileIsReportedAsFailure)
{
    MakeZip(zip, {Directory("conf/")});
    WriteFileBytes(base / "conf", "a file where the directory should go");
    auto archive = Open(zip);
    ASSERT_TRUE(archive);
    EXPECT_EQ(ExtractAll(archive.get(), base), std::vector<ARCRESULT> {ARC_CANT_OPEN_FILE});
    EXPECT_EQ(ReadFileBytes(base / "conf"), "a file where the directory should go");
}

TEST_F(ArchiveExtract, RepeatedQueryIsAnsweredFromTheCache)
{
    MakeZip(zip, {File("first.txt", "1111", 0), File("second.txt", "2222", 0)});
    // Held in memory, which the archive reads straight from, so that a change
    // behind its back shows whether it looked again.
    std::string bytes = testsupport::ReadFileBytes(zip);
    ArchiveHandle* handle = ArchiveOpenSource(bytes.data(), static_cast<std::uint32_t>(bytes.size()),
                                              ARC_KIND_MEMORY, nullptr);
    ASSERT_NE(handle, nullptr);
    std::unique_ptr<ArchiveHandle, decltype(&ArchiveClose)> archive(handle, &ArchiveClose);
    ArchiveEntry entry;
    ASSERT_EQ(ArchiveGetEntry(archive.get(), 0, &entry), ARC_OK);

    // Break the first local header behind the open archive's back.
    bytes[0] = 'X';
    EXPECT_EQ(ArchiveGetEntry(archive.get(), 0, &entry), ARC_OK) << "the cached record needs no archive access";
    EXPECT_EQ(U8(entry.path), "first.txt");
    ASSERT_EQ(ArchiveGetEntry(archive.get(), 1, &entry), ARC_OK);
    EXPECT_EQ(ArchiveGetEntry(archive.get(), 0, &entry), ARC_CORRUPT)
        << "after another query the broken header must be read and found";
}

TEST_F(ArchiveExtract, BaseDefaultsToTheCurrentDirectoryAndAnEmptyBaseStaysThere)
{
    MakeZip(zip, {File("here.txt", "cwd")});
    const auto previous = std::filesystem::current_path();
    std::filesystem::current_path(base);
    {
        auto archive = Open(zip);
        ASSERT_TRUE(archive);
        EXPECT_EQ(ArchiveExtractToFile(archive.get(), 0, u"here.txt"), ARC_OK);
        ASSERT_EQ(ArchiveSetBaseDir(archive.get(), u""), ARC_OK);
        EXPECT_EQ(ArchiveExtractToFile(archive.get(), 0, u"sub/again.txt"), ARC_OK);
    }
    std::filesystem::current_path(previous);
    EXPECT_EQ(ReadFileBytes(base / "here.txt"), "cwd");
    EXPECT_EQ(ReadFileBytes(base / "sub/again.txt"), "cwd") << "an empty base is the current directory, not the root";
}

TEST_F(ArchiveExtract, PathsBeyondTheLengthBoundAreRefusedWhole)
{
    const std::string longName(300, 'n');
    MakeZip(zip, {File("ok.txt", "fits"), File(longName, "too long"), File(std::string(259, 'm'), "just fits")});
    auto archive = Open(zip);
    ASSERT_TRUE(archive);
    ArchiveEntry entry;
    EXPECT_EQ(ArchiveGetEntry(archive.get(), 1, &entry), ARC_CANT_OPEN_FILE)
        << "a name longer than 259 bytes must not be cut to a different name";
    EXPECT_EQ(entry.number, 0);

    // With a base, the 259-unit name no longer fits in a built path.
    EXPECT_EQ(ExtractAll(archive.get(), base), (std::vector<ARCRESULT> {ARC_OK, ARC_CANT_OPEN_FILE, ARC_CANT_OPEN_FILE}));
    EXPECT_EQ(ListTree(base), std::set<std::string> {"ok.txt"});

    // A base that leaves exactly room for the name: 259 units in all.
    const std::string fitting = (base / "x").string();
    const std::string name(259 - fitting.size() - 1, 'k');
    EXPECT_EQ(ArchiveSetBaseDir(archive.get(), U16(fitting)), ARC_OK);
    EXPECT_EQ(ArchiveExtractToFile(archive.get(), 0, U16(name)), ARC_OK);
    EXPECT_EQ(ArchiveExtractToFile(archive.get(), 0, U16(name + "k")), ARC_CANT_OPEN_FILE);
    EXPECT_EQ(ListTree(base / "x"), std::set<std::string> {name});

    // An over-long base is reported and nothing lands anywhere else.
    const std::string tooLong = (base / std::string(260, 'b')).string();
    EXPECT_EQ(ArchiveSetBaseDir(archive.get(), U16(tooLong)), ARC_BAD_ARGUMENT);
    EXPECT_EQ(ArchiveExtractToFile(archive.get(), 0, u"ok.txt"), ARC_CANT_OPEN_FILE);
    EXPECT_EQ(ListTree(base), (std::set<std::string> {"ok.txt", "x", "x/" + name}));
}

TEST_F(ArchiveExtract, ClosingReleasesTheArchiveFile)
{
    MakeZip(zip, {File("a", "1")});
    const auto before = OpenDescriptors();
    ArchiveHandle* handle = ArchiveOpen(U16(zip.string()), nullptr);
    ASSERT_NE(handle, nullptr);
    EXPECT_EQ(OpenDescriptors(), before + 1) << "the open archive holds one descriptor";
    EXPECT_EQ(ArchiveClose(handle), ARC_OK);
    EXPECT_EQ(OpenDescriptors(), before) << "closing must release it";

    WriteFileBytes(temp.path() / "junk.zip", std::string(100, 'j'));
    EXPECT_EQ(ArchiveOpen(U16((temp.path() / "junk.zip").string()), nullptr), nullptr);
    EXPECT_EQ(OpenDescriptors(), before) << "a failed open must not leak its descriptor";
}

}  // namespace
