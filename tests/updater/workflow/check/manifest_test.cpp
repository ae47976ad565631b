#include "updater/workflow/manifest.h"

#include <gtest/gtest.h>

#include <string>

#include "platform/codepage.h"
#include "platform/module_path.h"
#include "support/temp_dir.h"
#include "transfer/descramble.h"

namespace {

using testsupport::TempDir;
using testsupport::U16;
using testsupport::U8;

struct VersionRow {
    const char* installed;
    const char* relation;  // "<": update due; ">=" : current
    const char* offered;
};

TEST(CompareVersions, FirstDifferingPositionDecides)
{
    const VersionRow rows[] = {
        {"1.2.3.4", "<", "1.2.3.5"},
        {"1.2.3.5", ">=", "1.2.3.4"},
        {"1.2.3.4", ">=", "1.2.3.4"},
        {"2.0.0.0", ">=", "1.5.0.0"},  // no silent downgrade
        {"1.0.0.9", ">=", "1.0.0.8"},
        {"1.9.9.9", "<", "2.0.0.0"},
        {"1.0.0.10", ">=", "1.0.0.9"},  // numbers, not text
        {"1.0", ">=", "1.0.0.0"},       // missing components are 0
        {"1.2", "<", "1.2.0.1"},
        {"1.2", ">=", "1.1.9.9"},
        {"7", "<", "7.0.0.1"},
        {"1.2.", ">=", "1.2.0.0"},
        {"1.2.3.4.5", ">=", "1.2.3.4.9"},  // after the fourth: ignored
        {"", "<", "1.0.0.1"},
        {"", ">=", ""},
        {"1.0.0.1", ">=", ""},
        {"-1.0.0.0", "<", "0.0.0.0"},
        {" 1.x.2.3", "<", "1.0.2.4"},      // blanks skipped, "x" is 0
        {"1.0.0.99999999999", ">=", "1.0.0.2147483647"},  // saturates, no wrap
        {"1.00.0.1", ">=", "1.0.0.1"},
        {"1.0.0.1b", ">=", "1.0.0.1"},  // digits up to the first non-digit
    };
    for (const VersionRow& row : rows) {
        const bool current = CompareVersions(U16(row.installed), U16(row.offered));
        EXPECT_EQ(current, std::string(row.relation) == ">=")
            << "installed " << row.installed << " " << row.relation << " offered " << row.offered;
    }
}

TEST(Products, NameSelectsIndexFolderAndProgram)
{
    struct Row {
        const char16_t* name;
        std::int32_t index;
        const char16_t* folder;
        const char16_t* program;
    };
    const Row rows[] = {
        {u"qb", 0, u"qb", u"Quenby.exe"},
        {u"zt_e", 1, u"zt_e", u"Zentora.exe"},
        {u"zt_p", 2, u"zt_p", u"Zentora.exe"},
        {u"ZT_E", 2, u"zt_p", u"Zentora.exe"},
        {u"Qb", 2, u"zt_p", u"Zentora.exe"},
        {u"qb ", 2, u"zt_p", u"Zentora.exe"},
        {u"", 2, u"zt_p", u"Zentora.exe"},
    };
    for (const Row& row : rows) {
        const std::int32_t index = ProductIndexFromName(row.name);
        EXPECT_EQ(index, row.index) << "name \"" << U8(row.name) << "\"";
        EXPECT_EQ(U8(GetProductInfo(index).folderCode), U8(row.folder));
        EXPECT_EQ(U8(GetProductInfo(index).program), U8(row.program));
    }
    EXPECT_EQ(U8(GetProductInfo(7).folderCode), "zt_p") << "an unknown index is the last product";
    EXPECT_EQ(U8(GetProductInfo(-1).folderCode), "zt_p");
}

TEST(Products, RemoteLocationsAreConcatenatedAsTheyStand)
{
    EXPECT_EQ(U8(RemoteUpdateUrl(u"S", 2, u"version.ini")), "ftp://S/update/zt_p/version.ini");
    EXPECT_EQ(U8(RemoteUpdateUrl(u"10.0.0.5:2121", 0, u"update.zip")),
              "ftp://10.0.0.5:2121/update/qb/update.zip");
    EXPECT_EQ(U8(RemoteUpdateUrl(u"", 2, u"version.ini")), "ftp:///update/zt_p/version.ini");
    EXPECT_EQ(U8(RemoteUpdateUrl(u" h ", 1, u"version.ini")), "ftp:// h /update/zt_e/version.ini");
}

TEST(InstallDir, IsTheFolderOfAnExecutableNamedExactlyMorvexUpdate)
{
    // The program's file name on this system ("MorvexUpdate.exe" on Windows).
    const std::string own = "MorvexUpdate" + U8(platform::kProgramSuffix);
    const struct {
        std::string modulePath;
        std::string installDir;
    } rows[] = {
        {"/opt/app/" + own, "/opt/app/"},
        {"/" + own, "/"},
        {"C:\\app\\" + own, "C:\\app\\"},
        {own, ""},
        {"/opt/app/morvexupdate" + U8(platform::kProgramSuffix), ""},
        {"/opt/app/" + own + ".bak", ""},
        {"/opt/app/MorvexUpdate2" + U8(platform::kProgramSuffix), ""},
        {"/opt/" + own + "/bin/other", ""},  // a folder of that name is not the program
        {"/opt/" + own + "/" + own, "/opt/" + own + "/"},
        {"/opt/app/" + own + "/", ""},
        {"Error", ""},
        {"", ""},
    };
    for (const auto& row : rows) {
        EXPECT_EQ(U8(InstallDirFromModulePath(U16(row.modulePath))), row.installDir)
            << "executable " << row.modulePath;
    }
}

TEST(ManifestReading, ReadsPlainAndScrambledValuesWithTheirLimits)
{
    TempDir dir;
    const std::string manifest =
        "[version]\r\n"
        "ver=1.0.0.1234567890123456789\r\n"  // 25 characters
        "NAME=qb\r\n"
        "url=" + U8(ScrambleField(u"ftp://x/update.zip")) + "\r\n"
        "[FTP]\r\n"
        "ip=" + U8(ScrambleField(u"127.0.0.1")) + "\r\n"
        "username = \"" + U8(ScrambleField(u"updater")) + "\"\r\n"
        "password=" + U8(ScrambleField(u"s3cret")) + "\r\n";
    // The manifest is code page 936 text; these values are ASCII throughout.
    testsupport::WriteFileBytes(dir / "version.ini", manifest);

    const InstalledManifest read = ReadInstalledManifest(U16(dir / "version.ini"));
    EXPECT_EQ(U8(read.version), "1.0.0.1234567890123") << "cut to 19 characters";
    EXPECT_EQ(U8(read.name), "qb");
    EXPECT_EQ(U8(read.server), "127.0.0.1");
    EXPECT_EQ(U8(read.user), "updater");
    EXPECT_EQ(U8(read.password), "s3cret");
    EXPECT_EQ(U8(ReadManifestVersion(U16(dir / "version.ini"))), "1.0.0.1234567890123");

    const InstalledManifest missing = ReadInstalledManifest(U16(dir / "none.ini"));
    EXPECT_TRUE(missing.version.empty() && missing.name.empty() && missing.server.empty() &&
                missing.user.empty() && missing.password.empty());
}

TEST(ManifestReading, DescramblesChineseLoginValuesFromACodePageFile)
{
    TempDir dir;
    const CString user = u"\u7BA1\u7406\u5458";  // three double-byte characters
    ASSERT_TRUE(ScrambledValueSurvivesManifest(user));
    const std::string stored = platform::Utf16ToAnsi(ScrambleField(user));
    testsupport::WriteFileBytes(dir / "version.ini", "[ftp]\nusername=" + stored + "\n");
    EXPECT_EQ(U8(ReadInstalledManifest(U16(dir / "version.ini")).user), U8(user));
}

TEST(ManifestFiles, CommitReplacesTheInstalledManifestAndDiscardRemovesTheNewOne)
{
    TempDir dir;
    const CString installDir = U16(dir.path().string() + "/");
    testsupport::WriteFileBytes(dir / "version.ini", "old");
    testsupport::WriteFileBytes(dir / "newversion.ini", "new");

    EXPECT_TRUE(CommitNewManifest(installDir));
    EXPECT_EQ(testsupport::ReadFileBytes(dir / "version.ini"), "new");
    EXPECT_FALSE(std::filesystem::exists(dir.path() / "newversion.ini"));

    EXPECT_FALSE(CommitNewManifest(installDir)) << "nothing to commit";
    EXPECT_EQ(testsupport::ReadFileBytes(dir / "version.ini"), "new")
        << "a failed commit must keep the installed manifest";

    testsupport::WriteFileBytes(dir / "newversion.ini", "offer");
    EXPECT_TRUE(DiscardNewManifest(installDir));
    EXPECT_FALSE(std::filesystem::exists(dir.path() / "newversion.ini"));
    EXPECT_EQ(testsupport::ReadFileBytes(dir / "version.ini"), "new");
    EXPECT_TRUE(DiscardNewManifest(installDir)) << "nothing left to discard is success";
}

}  // namespace
