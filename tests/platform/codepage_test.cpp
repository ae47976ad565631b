#include "platform/codepage.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <random>
#include <string>

#include "support/system.h"

namespace {

std::string Hex(std::u16string_view text)
{
    std::string out;
    char buf[8];
    for (char16_t u : text) {
        std::snprintf(buf, sizeof buf, "%04X ", static_cast<unsigned>(u));
        out += buf;
    }
    return out;
}

std::string Hex(std::string_view bytes)
{
    std::string out;
    char buf[8];
    for (char b : bytes) {
        std::snprintf(buf, sizeof buf, "%02X ", static_cast<unsigned>(static_cast<unsigned char>(b)));
        out += buf;
    }
    return out;
}

struct DecodeRow {
    const char* what;
    std::string bytes;
    std::u16string text;
};

TEST(CodePage, DecodesBytesAsTheSystemCodePageDoes)
{
    const DecodeRow rows[] = {
        {"ASCII passes through", "abc", u"abc"},
        {"a double-byte pair", "\xC4\xE3\xBA\xC3", u"\u4F60\u597D"},
        {"a lead byte at the end", "A\x81", u"A?"},
        {"a lone lead byte", "\xB0", u"?"},
        {"a lead byte before a space swallows it", std::string("\x81 B"), u"?B"},
        {"a lead byte before 0x7F swallows it", "\x81\x7F" "B", u"?B"},
        {"a lead byte before 0xFF swallows it", "\x81\xFF" "B", u"?B"},
        {"a lead byte keeps a following NUL", std::string("\x81\0B", 3), std::u16string(u"?\0B", 3)},
        {"0x80 is the euro sign", "\x80", u"\u20AC"},
        {"0xFF is U+F8F5", "\xFF", u"\uF8F5"},
        {"a pair without a character continues the private-use range", "\xA2\xAB", u"\uE766"},
        {"the last pair without a character", "\xFE\xA0", u"\uE864"},
        {"first user-defined code", "\xAA\xA1", u"\uE000"},
        {"last code of the first user area", "\xAF\xFE", u"\uE233"},
        {"first code of the second user area", "\xF8\xA1", u"\uE234"},
        {"last code of the second user area", "\xFE\xFE", u"\uE4C5"},
        {"first code of the third user area", "\xA1\x40", u"\uE4C6"},
        {"third user area skips 0x7F", "\xA1\x80", u"\uE505"},
        {"third user area, second row", "\xA2\x40", u"\uE526"},
        {"last code of the third user area", "\xA7\xA0", u"\uE765"},
        {"a NUL is converted like other bytes", std::string("a\0b", 3), std::u16string(u"a\0b", 3)},
    };
    for (const DecodeRow& row : rows) {
        EXPECT_EQ(Hex(platform::AnsiToUtf16(row.bytes)), Hex(row.text)) << row.what;
    }
}

struct EncodeRow {
    const char* what;
    std::u16string text;
    std::string bytes;
};

TEST(CodePage, EncodesTextAsTheSystemCodePageDoes)
{
    const EncodeRow rows[] = {
        {"ASCII passes through", u"abc", "abc"},
        {"Chinese characters", u"\u4F60\u597D", "\xC4\xE3\xBA\xC3"},
        {"the euro sign is 0x80", u"\u20AC", "\x80"},
        {"U+F8F5 is 0xFF", u"\uF8F5", "\xFF"},
        {"private use maps into the user areas", u"\uE000\uE4C5\uE765", "\xAA\xA1\xFE\xFE\xA7\xA0"},
        {"a character outside the BMP gives one ? per unit", u"\U0001F600", "??"},
        {"an unpaired surrogate", u"a\xD800z", "a?z"},
        {"a character the code page lacks", u"\u0E01", "?"},
        {"private use beyond the user areas", u"\uE766\uE864", "\xA2\xAB\xFE\xA0"},
        {"best fit: an accented capital as the small letter the code page has", u"\u00C0", "\xA8\xA4"},
        {"best fit: a superscript digit", u"\u00B2", "2"},
        {"best fit: a compatibility ideograph as its unified form", u"\uF900", "\xD8\x4D"},
        {"NUL is kept", std::u16string(u"a\0b", 3), std::string("a\0b", 3)},
    };
    for (const EncodeRow& row : rows) {
        EXPECT_EQ(Hex(platform::Utf16ToAnsi(row.text)), Hex(row.bytes)) << row.what;
    }
}

TEST(CodePage, EveryMappedPairRoundTripsAndTheTableIsComplete)
{
    int mapped = 0;
    for (unsigned lead = 0x81; lead <= 0xFE; ++lead) {
        for (unsigned trail = 0x40; trail <= 0xFE; ++trail) {
            if (trail == 0x7F) {
                continue;
            }
            const std::string pair{static_cast<char>(lead), static_cast<char>(trail)};
            const std::u16string text = platform::AnsiToUtf16(pair);
            ASSERT_EQ(text.size(), 1u) << "pair " << Hex(pair) << " must give one unit";
            if (text == u"?") {
                continue;
            }
            ++mapped;
            EXPECT_EQ(Hex(platform::Utf16ToAnsi(text)), Hex(pair)) << "pair must encode back";
        }
    }
    // The code page's 21791 assigned pairs, the 1894 user-defined ones and the
    // 255 others, which map to private use as well: every pair.
    EXPECT_EQ(mapped, 21791 + 1894 + 255);
}

TEST(CodePage, RoundTripCheckFindsBytesThatChangeOnTheWay)
{
    EXPECT_TRUE(platform::IsAnsiRoundTrip("plain ascii"));
    EXPECT_TRUE(platform::IsAnsiRoundTrip("\xC4\xE3\x80\xFF"));
    EXPECT_FALSE(platform::IsAnsiRoundTrip("\x81")) << "a lone lead byte comes back as ?";
    EXPECT_FALSE(platform::IsAnsiRoundTrip("\x81\x20")) << "an invalid trail is swallowed";
    EXPECT_TRUE(platform::IsAnsiRoundTrip("\xA2\xAB")) << "a pair without a character survives as private use";
}

TEST(Utf8, ConvertsValidTextBothWays)
{
    const std::string utf8 = "a\xC3\xA9\xE4\xBD\xA0\xF0\x9F\x98\x80";
    const std::u16string utf16 = u"a\u00E9\u4F60\U0001F600";
    EXPECT_EQ(Hex(platform::Utf8ToUtf16(utf8)), Hex(utf16));
    EXPECT_EQ(Hex(platform::Utf16ToUtf8(utf16)), Hex(utf8));
}

TEST(Utf8, ReplacesInvalidInputWithTheReplacementCharacter)
{
    const DecodeRow rows[] = {
        {"a stray continuation byte", "a\x80z", u"a\uFFFDz"},
        {"a byte that never starts a sequence", "\xFF", u"\uFFFD"},
        {"a truncated sequence gives one replacement", "\xE4\xBD", u"\uFFFD"},
        {"a truncated sequence before ASCII", "\xE4\xBDz", u"\uFFFDz"},
        {"an overlong form", "\xC0\xAF", u"\uFFFD\uFFFD"},
        {"an encoded surrogate", "\xED\xA0\x80", u"\uFFFD\uFFFD\uFFFD"},
        {"beyond U+10FFFF", "\xF4\x90\x80\x80", u"\uFFFD\uFFFD\uFFFD\uFFFD"},
    };
    for (const DecodeRow& row : rows) {
        if (const char* quirk = testsupport::system::KnownQuirk(row.what)) {
            std::printf("known quirk, not checked: %s: %s\n", row.what, quirk);
            continue;
        }
        EXPECT_EQ(Hex(platform::Utf8ToUtf16(row.bytes)), Hex(row.text)) << row.what;
    }
    EXPECT_EQ(Hex(platform::Utf16ToUtf8(u"a\xDC00z")), Hex("a\xEF\xBF\xBDz"))
        << "an unpaired surrogate becomes U+FFFD";
}

// The straight ANSI-to-UTF-8 path skips UTF-16 for ASCII runs; whatever the
// bytes, it must give what the detour gives.
TEST(CodePage, AnsiToUtf8AgreesWithTheWayThroughUtf16)
{
    std::mt19937 random(20240601);
    // Bytes weighted towards the ones with special meaning in GBK.
    const std::string interesting("\0\n\r\x40\x7e\x7f\x80\x81\xa1\xa3\xd5\xfe\xff", 13);
    for (int round = 0; round < 2000; ++round) {
        std::string bytes(random() % 40, '\0');
        for (char& b : bytes) {
            b = random() % 2 == 0 ? interesting[random() % interesting.size()] : static_cast<char>(random() % 256);
        }
        ASSERT_EQ(Hex(platform::AnsiToUtf8(bytes)), Hex(platform::Utf16ToUtf8(platform::AnsiToUtf16(bytes))))
            << "round " << round;
    }
}

}  // namespace
