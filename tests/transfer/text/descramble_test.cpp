#include "transfer/descramble.h"

#include <gtest/gtest.h>

#include <array>
#include <cstring>
#include <string>

#include "platform/codepage.h"
#include "support/temp_dir.h"

namespace {

using testsupport::U8;

// The plain text of a stored value, read through a generous buffer.
CString Descramble(const CString& stored)
{
    std::array<char16_t, 2048> out{};
    EXPECT_TRUE(DescrambleField(stored.c_str(), out.data(), out.size())) << U8(stored);
    return out.data();
}

TEST(Descramble, ReadsStoredValues)
{
    struct Row {
        const char* what;
        CString stored;
        CString plain;
    };
    const Row rows[] = {
        {"acc reads as abc", u"acc", u"abc"},
        {"empty stays empty", u"", u""},
        {"a single byte loses 2", u"x", u"v"},
        {"a byte that turns into 0 ends the text", u"a\x02", u""},
        {"a zero at the second position", u"\x01" u"a", u"_"},
        {"the third position is XOR 2", u"cba", u"_aa"},
    };
    for (const Row& row : rows) {
        EXPECT_EQ(U8(Descramble(row.stored)), U8(row.plain)) << row.what;
    }
}

TEST(Descramble, ScramblesAbcIntoAcc) { EXPECT_EQ(ScrambleField(u"abc"), u"acc"); }

TEST(Descramble, TransformsDoubleByteCharactersBytewise)
{
    // U+4F60 U+597D are C4 E3 BA C3; reversed C3 BA E3 C4; then -2, -1, ^2, -2.
    const std::string expectedBytes = "\xC1\xB9\xE1\xC2";
    EXPECT_EQ(U8(Descramble(u"\u4F60\u597D")), U8(platform::AnsiToUtf16(expectedBytes)));

    char out[8] = {};
    ASSERT_TRUE(DescrambleAnsi("\xC4\xE3\xBA\xC3", out));
    EXPECT_EQ(std::string(out), expectedBytes);
}

TEST(Descramble, RoundTripsOnBytesForEveryValue)
{
    // Every byte value at every position modulo 3, and Chinese text.
    std::string plain;
    for (int b = 1; b < 256; ++b) {
        plain += static_cast<char>(b);
    }
    for (std::size_t shift = 0; shift < 3; ++shift) {
        std::string value = std::string(shift, 'a') + plain;
        std::string scrambled;
        for (std::size_t i = 0; i < value.size(); ++i) {
            const auto b = static_cast<unsigned char>(value[i]);
            scrambled += static_cast<char>(i % 3 == 0 ? b + 2 : i % 3 == 1 ? b + 1 : b ^ 2);
        }
        std::reverse(scrambled.begin(), scrambled.end());
        if (scrambled.find('\0') != std::string::npos) {
            continue;  // a zero in the middle ends the stored C string
        }
        std::array<char, SCRAMBLE_BUFFER_BYTES> out{};
        ASSERT_TRUE(DescrambleAnsi(scrambled.c_str(), out.data()));
        EXPECT_EQ(std::string(out.data()), value) << "shift " << shift;
    }
    for (const CString& plainText : {CString(u"ftp.example.cn"), CString(u"\u7BA1\u7406\u5458")}) {
        ASSERT_TRUE(ScrambledValueSurvivesManifest(plainText)) << U8(plainText);
        EXPECT_EQ(U8(Descramble(ScrambleField(plainText))), U8(plainText));
    }
    EXPECT_EQ(U8(Descramble(ScrambleField(u"user_01"))), "user_01");
}

TEST(Descramble, NullPointersAreRefusedWithoutWriting)
{
    char16_t out[4] = {u'k', u'k', u'k', u'k'};
    EXPECT_FALSE(DescrambleField(nullptr, out));
    EXPECT_FALSE(DescrambleField(u"acc", nullptr));
    char narrow[4] = {'k', 'k', 'k', 'k'};
    EXPECT_FALSE(DescrambleAnsi(nullptr, narrow));
    EXPECT_FALSE(DescrambleAnsi("acc", nullptr));
    EXPECT_EQ(out[0], u'k');
    EXPECT_EQ(narrow[0], 'k');
    ReverseString(nullptr);
}

TEST(Descramble, ReverseStringHandlesShortAndOddLengths)
{
    for (const auto& [in, out] : {std::pair<std::string, std::string>{"", ""}, {"a", "a"},
                                  {"ab", "ba"}, {"abc", "cba"}, {"abcd", "dcba"}}) {
        std::string text = in;
        ReverseString(text.data());
        EXPECT_EQ(text, out) << "reversing \"" << in << "\"";
    }
}

TEST(Descramble, RefusesValuesLongerThanTheWorkingBuffers)
{
    const std::string fits(1023, 'd');
    const std::string tooLong(1024, 'd');
    std::string out(2048, 'k');
    EXPECT_TRUE(DescrambleAnsi(fits.c_str(), out.data()));
    EXPECT_EQ(std::strlen(out.c_str()), 1023u);
    out.assign(2048, 'k');
    EXPECT_FALSE(DescrambleAnsi(tooLong.c_str(), out.data()));
    EXPECT_EQ(out[0], 'k') << "nothing may be written for a refused value";

    // 512 double-byte characters are 1024 bytes: one too many.
    const CString wideTooLong(512, u'\u4F60');
    std::vector<char16_t> wideOut(4096, u'\0');
    EXPECT_FALSE(DescrambleField(wideTooLong.c_str(), wideOut.data(), wideOut.size()));
    EXPECT_EQ(wideOut[0], u'\0');
    EXPECT_TRUE(DescrambleField(CString(511, u'\u4F60').c_str(), wideOut.data(), wideOut.size()));
    EXPECT_FALSE(ScrambledValueSurvivesManifest(CString(1024, u'a')));
}

TEST(Descramble, NeverWritesPastTheDocumentedOutputSize)
{
    // U+4E02 is 81 40; reversed 40 81 descrambles to 3E 80: ">" and the euro
    // sign, two characters out of one.
    std::array<char16_t, 4> out{};
    out[2] = u'#';
    EXPECT_FALSE(DescrambleField(u"\u4E02", out.data()))
        << "the plain text needs 2 units + terminator, the caller promised 2";
    EXPECT_EQ(out[0], u'\0');
    EXPECT_EQ(out[2], u'#');
    ASSERT_TRUE(DescrambleField(u"\u4E02", out.data(), 3));
    EXPECT_EQ(CString(out.data(), 2), u">\u20AC");
}

TEST(Descramble, FlagsValuesThatAManifestWouldChange)
{
    struct Row {
        const char* what;
        CString plain;
        bool survives;
    };
    const Row rows[] = {
        {"plain ASCII", u"ftp.example.cn", true},
        {"an empty value", u"", true},
        {"a password with signs", u"p@ss=w;rd#1", true},
        {"a final quote becomes a leading stored blank", u"ab\"", false},
        {"a final space becomes a harmless quote", u"ab ", true},
        {"scrambles to a stored value with a line break", CString(1, u'\x08'), false},
        {"a character the code page lacks", u"\U0001F600", false},
        {"Chinese text whose scrambled bytes are valid text", u"\u4F60\u597D", true},
        {"scrambled bytes in pairs the code page maps to private use", u"ab\u4E10", true},
        {"too long for the working buffers", CString(1024, u'a'), false},
    };
    for (const Row& row : rows) {
        EXPECT_EQ(ScrambledValueSurvivesManifest(row.plain), row.survives) << row.what;
    }
}

}  // namespace
