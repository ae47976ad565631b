#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include "updater/install/archive/zip_fixture.h"
#include "support/temp_dir.h"
#include "updater/install/archive.h"

namespace {

using namespace ziptest;
using testsupport::ReadFileBytes;
using testsupport::U16;
using testsupport::U8;
using testsupport::WriteFileBytes;

// The base sits two levels down, so that a name climbing one or two levels
// would land somewhere the test can see.
class HostileArchive : public ::testing::Test {
protected:
    void SetUp() override { std::filesystem::create_directories(base); }

    // Everything outside the base, as it is now.
    std::set<std::string> Outside() const
    {
        std::set<std::string> outside;
        for (const auto& path : ListTree(temp.path())) {
            if (path != "outer" && path != "outer/app" && path.rfind("outer/app/", 0) != 0) {
                outside.insert(path);
            }
        }
        return outside;
    }

    testsupport::TempDir temp;
    std::filesystem::path zip = temp.path() / "hostile.zip";
    std::filesystem::path base = temp.path() / "outer/app";
};

TEST_F(HostileArchive, NoEntryLandsOutsideTheBase)
{
    // Each stored name, and where it lands under the base once cut down; null
    // where it still climbs (or names the base itself) and must be refused.
    const std::pair<const char*, const char*> corpus[] = {
        {"../evil1.txt", nullptr},
        {"..\\evil2.txt", nullptr},
        {"a/../../evil4.txt", nullptr},
        {"a\\..\\..\\evil5.txt", nullptr},
        {"C:\\..\\evil8.txt", nullptr},
        {"C:../evil10.txt", nullptr},
        {"/../evil11.txt", nullptr},
        {"\\..\\evil12.txt", nullptr},
        {"a/./../../evil14.txt", nullptr},
        {"D:\\x\\..\\..\\evil15.txt", nullptr},
        {"..", nullptr},
        {"a/..", nullptr},
        {"sub/../..", nullptr},
        {"..\\/evil17", nullptr},
        {"..//evil18", nullptr},
        {"a/../", nullptr},
        {"../../in3.txt", "in3.txt"},
        {"a/b/../../../in6.txt", "in6.txt"},
        {"a/..\\..\\in7.txt", "in7.txt"},
        {"C:/../../in9.txt", "in9.txt"},
        {"./../in13.txt", "in13.txt"},
        {"..\\..\\..\\..\\..\\..\\..\\..\\tmp\\in16.txt", "tmp/in16.txt"},
        {"/abs/in20.txt", "abs/in20.txt"},
        {"//server/share/in21.txt", "server/share/in21.txt"},
        {"\\\\server\\share\\in22.txt", "server/share/in22.txt"},
        {"C:\\Windows\\in23.dll", "Windows/in23.dll"},
        {"x:/in24.txt", "in24.txt"},
        {"mixed\\sep/in25.txt", "mixed/sep/in25.txt"},
        {"....//in26.txt", "..../in26.txt"},
        {"tmp/../ini/in27.sql", "ini/in27.sql"},
        {"a/b\\..\\in28.txt", "in28.txt"},
    };
    std::vector<Item> items;
    for (const auto& [name, where] : corpus) {
        items.push_back(File(name, std::string("payload of ") + name));
    }
    MakeZip(zip, items);
    const auto outsideBefore = Outside();

    auto archive = Open(zip);
    ASSERT_TRUE(archive);
    const auto codes = ExtractAll(archive.get(), base);
    ASSERT_EQ(codes.size(), items.size());

    EXPECT_EQ(Outside(), outsideBefore) << "no file may appear outside the base";
    std::set<std::string> landed;
    for (std::size_t i = 0; i < std::size(corpus); ++i) {
        const auto& [name, where] = corpus[i];
        if (where == nullptr) {
            EXPECT_EQ(codes[i], ARC_CANT_OPEN_FILE) << name << " must be refused";
            continue;
        }
        EXPECT_EQ(codes[i], ARC_OK) << name;
        EXPECT_EQ(ReadFileBytes(base / where), std::string("payload of ") + name) << name << " should land at " << where;
        landed.insert(where);
    }
    std::set<std::string> files;
    for (const auto& path : ListTree(base)) {
        if (std::filesystem::is_regular_file(base / path)) {
            files.insert(path);
        }
    }
    EXPECT_EQ(files, landed) << "refused names must leave nothing behind";
}

TEST_F(HostileArchive, CallerTargetsThatLeaveTheBaseAreRefused)
{
    MakeZip(zip, {File("a.txt", "x")});
    auto archive = Open(zip);
    ASSERT_TRUE(archive);
    ASSERT_EQ(ArchiveSetBaseDir(archive.get(), U16(base.string())), ARC_OK);
    const std::string absolute = (temp.path() / "abs.txt").string();
    for (const std::string& target : {absolute, std::string("../up.txt"), std::string("x/../../up.txt"),
                                      std::string("C:\\up.txt")}) {
        EXPECT_EQ(ArchiveExtractToFile(archive.get(), 0, U16(target)), ARC_CANT_OPEN_FILE) << target;
    }
    EXPECT_FALSE(std::filesystem::exists(absolute));
    EXPECT_FALSE(std::filesystem::exists(temp.path() / "outer/up.txt"));
    EXPECT_TRUE(ListTree(base).empty());
}

TEST_F(HostileArchive, SymbolicLinkEntriesNeverBecomeLinks)
{
    Item toParent = File("link", "../../outside");
    toParent.externalAttr = 0120777U << 16;
    toParent.method = 0;
    Item toRoot = File("rootlink", "/");
    toRoot.externalAttr = 0120777U << 16;
    MakeZip(zip, {toParent, File("link/through.txt", "via the link"), toRoot, File("rootlink/etc/evil", "x")});
    std::filesystem::create_directory(temp.path() / "outside");
    const auto outsideBefore = Outside();

    auto archive = Open(zip);
    ASSERT_TRUE(archive);
    const auto codes = ExtractAll(archive.get(), base);
    EXPECT_EQ(codes, (std::vector<ARCRESULT> {ARC_OK, ARC_CANT_OPEN_FILE, ARC_OK, ARC_CANT_OPEN_FILE}));
    for (const char* name : {"link", "rootlink"}) {
        struct stat st {};
        ASSERT_EQ(::lstat((base / name).c_str(), &st), 0) << name;
        EXPECT_TRUE(S_ISREG(st.st_mode)) << name << " should be a plain file holding the link text";
    }
    EXPECT_EQ(ReadFileBytes(base / "link"), "../../outside");
    EXPECT_EQ(Outside(), outsideBefore);
}

TEST_F(HostileArchive, ExistingLinkInTheBaseIsReplacedNotWrittenThrough)
{
    const auto victim = temp.path() / "victim.txt";
    WriteFileBytes(victim, "precious");
    std::filesystem::create_symlink(victim, base / "conf.ini");
    MakeZip(zip, {File("conf.ini", "from the archive")});

    auto archive = Open(zip);
    ASSERT_TRUE(archive);
    EXPECT_EQ(ExtractAll(archive.get(), base), std::vector<ARCRESULT> {ARC_OK});
    EXPECT_EQ(ReadFileBytes(victim), "precious") << "the file the link pointed at must not change";
    EXPECT_FALSE(std::filesystem::is_symlink(base / "conf.ini"));
    EXPECT_EQ(ReadFileBytes(base / "conf.ini"), "from the archive");
}

}  // namespace
