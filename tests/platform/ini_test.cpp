#include "platform/ini.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <random>
#include <string>

#include "platform/codepage.h"
#include "support/system.h"
#include "support/temp_dir.h"

namespace {

using testsupport::TempDir;
using testsupport::U16;
using testsupport::U8;

constexpr std::size_t kBuffer = 20;

struct IniRow {
    const char* what;
    std::string file;  // bytes as stored
    const char16_t* section;
    const char16_t* key;
    const char16_t* expected;  // nullptr: the default comes back
};

void CheckRows(const IniRow* begin, const IniRow* end)
{
    TempDir dir;
    const CString path = U16(dir / "test.ini");
    for (const IniRow* row = begin; row != end; ++row) {
        if (const char* quirk = testsupport::system::KnownQuirk(row->what)) {
            std::printf("known quirk, not checked: %s: %s\n", row->what, quirk);
            continue;
        }
        testsupport::WriteFileBytes(dir / "test.ini", row->file);
        const CString got = platform::GetPrivateProfileStringW(row->section, row->key, u"<default>",
                                                               kBuffer, path);
        const CString want = row->expected ? CString(row->expected) : CString(u"<default>");
        EXPECT_EQ(U8(got), U8(want)) << row->what;
    }
}

TEST(IniReader, FollowsTheProfileReaderRules)
{
    const IniRow rows[] = {
        {"plain value", "[version]\r\nver=1.0.0.12\r\n", u"version", u"ver", u"1.0.0.12"},
        {"names ignore ASCII case", "[Version]\nVER=1\n", u"vErSiOn", u"vEr", u"1"},
        {"requested names are trimmed", "[version]\nver=1\n", u" \tversion ", u" ver\t", u"1"},
        {"blanks and 0x1A around key, = and value", "[s]\n \t k \t= \x1A v a l \t\x1A\n", u"s",
         u"k", u"v a l"},
        {"blanks inside the brackets", "[ \tSec\t ]\nk=1\n", u"Sec", u"k", u"1"},
        {"an empty value is not the default", "[s]\nk=\n", u"s", u"k", u""},
        {"double quotes are removed", "[s]\nk = \"a b\" \n", u"s", u"k", u"a b"},
        {"single quotes are removed", "[s]\nk='a b'\n", u"s", u"k", u"a b"},
        {"blanks inside quotes stay", "[s]\nk=\" a \"\n", u"s", u"k", u" a "},
        {"mismatched quotes stay", "[s]\nk=\"a'\n", u"s", u"k", u"\"a'"},
        {"a quote only at the start stays", "[s]\nk=\"a\"b\n", u"s", u"k", u"\"a\"b"},
        {"a lone quote stays", "[s]\nk=\"\n", u"s", u"k", u"\""},
        {"a pair of quotes is empty", "[s]\nk=\"\"\n", u"s", u"k", u""},
        {"a ; line is a key, not a comment", "[s]\n;c=x\n", u"s", u";c", u"x"},
        {"a # line is a key, not a comment", "[s]\n#c=x\n", u"s", u"#c", u"x"},
        {"a ; line does not define the key after it", "[s]\n;c=x\n", u"s", u"c", nullptr},
        {"a trailing ; note is part of the value", "[s]\nk=v ; note\n", u"s", u"k", u"v ; note"},
        {"=v is the key \"\"", "[s]\n=v\n", u"s", u"", u"v"},
        {"split at the first =", "[s]\na=b=c\n", u"s", u"a", u"b=c"},
        {"a line without = is no key", "[s]\nk\n", u"s", u"k", nullptr},
        {"a line without = does not hide a later key", "[s]\nk\nk=2\n", u"s", u"k", u"2"},
        {"the first duplicate key wins", "[s]\nk=1\nk=2\n", u"s", u"k", u"1"},
        {"the first duplicate section wins", "[s]\na=1\n[t]\n[S]\na=2\n", u"s", u"a", u"1"},
        {"a later duplicate section is not merged", "[s]\na=1\n[t]\n[s]\nb=3\n", u"s", u"b",
         nullptr},
        {"text after the bracket is ignored", "[Trail] junk\nk=1\n", u"Trail", u"k", u"1"},
        {"the last ] ends the name", "[a]b] c\nk=1\n", u"a]b", u"k", u"1"},
        {"an unclosed header is no section", "[NoClose\nk=1\n", u"NoClose", u"k", nullptr},
        {"an unclosed header keeps the current section", "[s]\n[NoClose\nk=1\n", u"s", u"k", u"1"},
        {"keys before any section are in section \"\"", "k=1\n[s]\nk=2\n", u"", u"k", u"1"},
        {"section after the unnamed one", "k=1\n[s]\nk=2\n", u"s", u"k", u"2"},
        {"a missing section", "[s]\nk=1\n", u"t", u"k", nullptr},
        {"a missing key", "[s]\nk=1\n", u"s", u"j", nullptr},
        {"a key of another section", "[s]\nk=1\n[t]\nj=2\n", u"s", u"j", nullptr},
        {"LF line breaks", "[s]\nk=1\nj=2", u"s", u"j", u"2"},
        {"CR line breaks", "[s]\rk=1\rj=2\r", u"s", u"j", u"2"},
        {"CR LF line breaks without a final one", "[s]\r\nk=1\r\nj=2", u"s", u"j", u"2"},
        {"a value is cut to 19 units", "[s]\nk=1234567890123456789012345\n", u"s", u"k",
         u"1234567890123456789"},
        {"a NUL ends the value", std::string("[s]\nk=ab\0cd\n", 12), u"s", u"k", u"ab"},
        {"an empty file", "", u"s", u"k", nullptr},
    };
    CheckRows(std::begin(rows), std::end(rows));
}

TEST(IniReader, DecodesByTheByteOrderMarkElseCodePage936)
{
    const IniRow rows[] = {
        {"code page 936 without a mark", "[s]\nk=\xC4\xE3\xBA\xC3\n", u"s", u"k", u"\u4F60\u597D"},
        {"UTF-8 with a mark", "\xEF\xBB\xBF[s]\nk=\xE4\xBD\xA0\xE5\xA5\xBD\n", u"s", u"k",
         u"\u4F60\u597D"},
        {"UTF-16LE with a mark", std::string("\xFF\xFE[\0s\0]\0\n\0k\0=\0\x60\x4F\x7D\x59", 18),
         u"s", u"k", u"\u4F60\u597D"},
        {"UTF-16BE with a mark", std::string("\xFE\xFF\0[\0s\0]\0\n\0k\0=\x4F\x60\x59\x7D", 18),
         u"s", u"k", u"\u4F60\u597D"},
        {"UTF-16LE with an odd last byte", std::string("\xFF\xFEk\0=\0v\0w", 9), u"", u"k", u"v"},
        {"names compare case-insensitively for ASCII only",
         "\xEF\xBB\xBF[s]\n\xEF\xBC\xA1=1\n", u"s", u"\uFF41", nullptr},
        {"U+3000 and U+00A0 are not blanks",
         "\xEF\xBB\xBF[s]\nk=\xE3\x80\x80v\xC2\xA0\n", u"s", u"k", u"\u3000v\u00A0"},
        {"a lead byte swallows the line break after it", "[s]\nk=a\x81\nj=2\n", u"s", u"k",
         u"a?j=2"},
    };
    CheckRows(std::begin(rows), std::end(rows));

    // UTF-8 without a mark is taken for code page 936 bytes.
    TempDir dir;
    testsupport::WriteFileBytes(dir / "u.ini", "[s]\nk=\xC3\xA9\n");
    EXPECT_EQ(U8(platform::GetPrivateProfileStringW(u"s", u"k", u"", kBuffer, U16(dir / "u.ini"))),
              U8(platform::AnsiToUtf16("\xC3\xA9")));
}

TEST(IniReader, DefaultIsCutAndLosesTrailingSpaces)
{
    TempDir dir;
    const CString missing = U16(dir / "missing.ini");
    EXPECT_EQ(platform::GetPrivateProfileStringW(u"s", u"k", u"", kBuffer, missing), u"");
    EXPECT_EQ(platform::GetPrivateProfileStringW(u"s", u"k", u"abc  ", kBuffer, missing), u"abc");
    EXPECT_EQ(platform::GetPrivateProfileStringW(u"s", u"k", u"abcdef", 4, missing), u"abc");
    EXPECT_EQ(platform::GetPrivateProfileStringW(u"s", u"k", u"abc", 0, missing), u"");
    EXPECT_EQ(platform::GetPrivateProfileStringW(u"s", u"k", u"dir", kBuffer, U16(dir / "")), u"dir")
        << "a directory reads as a missing file";
}

TEST(IniReader, ReadsWindowsStylePaths)
{
    TempDir dir;
    std::filesystem::create_directory(dir.path() / "ini");
    testsupport::WriteFileBytes(dir / "ini/a.ini", "[s]\nk=1\n");
    const CString path = U16(dir.path().string()) + u"\\ini\\a.ini";
    EXPECT_EQ(platform::GetPrivateProfileStringW(u"s", u"k", u"", kBuffer, path), u"1");
}

TEST(IniReader, SurvivesAMegabyteLine)
{
    TempDir dir;
    const std::string huge(1 << 20, 'x');
    testsupport::WriteFileBytes(dir / "big.ini",
                                "[s]\nk=" + huge + "\n" + huge + "\n[" + huge + "\nj=2\n");
    const CString path = U16(dir / "big.ini");
    EXPECT_EQ(platform::GetPrivateProfileStringW(u"s", u"k", u"", kBuffer, path),
              CString(19, u'x'));
    EXPECT_EQ(platform::GetPrivateProfileStringW(u"s", u"j", u"", kBuffer, path), u"2");
    EXPECT_EQ(platform::GetPrivateProfileStringW(u"s", u"k", u"", 1 << 21, path).size(), huge.size())
        << "a large enough buffer holds the whole value";
}

TEST(IniReader, GarbageBeforeASectionDoesNotHideIt)
{
    TempDir dir;
    std::mt19937 random(20240611);
    for (int round = 0; round < 20; ++round) {
        std::string garbage(64 * 1024, '\0');
        for (char& c : garbage) {
            c = static_cast<char>(random() & 0xFF);
        }
        // A lead byte at the end may swallow one line break, never two.
        testsupport::WriteFileBytes(dir / "g.ini", garbage + "\r\n\r\n[mine]\r\nk=found\r\n");
        const CString path = U16(dir / "g.ini");
        EXPECT_EQ(platform::GetPrivateProfileStringW(u"mine", u"k", u"", kBuffer, path), u"found")
            << "round " << round;
        EXPECT_LE(platform::GetPrivateProfileStringW(u"s", u"", u"", kBuffer, path).size(), 19u);
    }
}

}  // namespace
