#include "updater/install/archive_paths.h"

#include <gtest/gtest.h>

#include "support/temp_dir.h"

namespace {

using testsupport::U16;
using testsupport::U8;

struct SanitizeCase {
    const char* stored;
    const char* expected;
};

TEST(ArchiveEntryNames, AreCutToARelativePath)
{
    const SanitizeCase cases[] = {
        {"C:\\Prog\\a.txt", "Prog\\a.txt"},
        {"//srv/x", "srv/x"},
        {"tmp/../ini/update.sql", "ini/update.sql"},
        {"C:", ""},
        {"C:\\Windows\\x.dll", "Windows\\x.dll"},
        {"plain/name.txt", "plain/name.txt"},
        {"a\\..\\b", "b"},
        {"a\\../b", "b"},
        {"a/..\\b", "b"},
        // every occurrence goes, one at a time from the front
        {"a/../b/../c/../d", "d"},
        // a drive prefix uncovered by dropping a separator goes too
        {"\\C:\\x", "x"},
        // rules restart from the first after each cut, so the drive prefix
        // goes before the second "/../" is seen; the climb that is left is
        // refused when the entry is written
        {"x/../C:/../y", "../y"},
        // separators inside the rest stay as they stand
        {"bin\\new/a.dll", "bin\\new/a.dll"},
        // two dots at the very start have no separator before them
        {"../up.txt", "../up.txt"},
        {"..\\up.txt", "..\\up.txt"},
        {"a/b..c/d", "a/b..c/d"},
        {"", ""},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(U8(archive::SanitizeEntryName(U16(c.stored))), c.expected) << "stored name: " << c.stored;
    }
}

struct NameCase {
    const char* name;
    bool absolute;
    bool climbs;
};

TEST(ArchiveTargetNames, RecognisesAbsoluteAndClimbingNames)
{
    const NameCase cases[] = {
        {"a/b.txt", false, false},      {"/etc/passwd", true, false},   {"\\x", true, false},
        {"D:x", true, false},           {"../x", false, true},          {"..\\x", false, true},
        {"a/../x", false, true},        {"a\\..", false, true},         {"..", false, true},
        {"a/..b/x", false, false},      {"a/b../x", false, false},      {"./x", false, false},
        {"a/.../x", false, false},      {"/../x", true, true},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(archive::IsAbsoluteName(U16(c.name)), c.absolute) << c.name << " absolute should be " << c.absolute;
        EXPECT_EQ(archive::HasParentComponent(U16(c.name)), c.climbs) << c.name << " climbing should be " << c.climbs;
    }
}

}  // namespace
