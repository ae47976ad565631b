#include "updater/install/ansi_text.h"

#include "platform/codepage.h"
#include "transfer/text_convert.h"

#include <gtest/gtest.h>

#include <random>
#include <string>
#include <vector>

namespace {

TEST(AnsiTextTest, AnsiToUtf8FollowsTheCodePageAndEndsAtNul)
{
    struct Case {
        std::string ansi;
        std::string utf8;
    };
    const std::vector<Case> cases{
        {"", ""},
        {"plain ASCII", "plain ASCII"},
        {"\xd5\xc5\xc8\xfd", "\xe5\xbc\xa0\xe4\xb8\x89"},     // 张三
        {std::string("ab\0cd", 5), "ab"},
        {"\x80", "\xe2\x82\xac"},                             // the euro sign
        {"x\xd5", "x?"},                                      // a lead byte at the end
        {"\xef\xbb\xbf", "\xe9\x94\x98?"},                    // a UTF-8 byte-order mark read as GBK
    };
    for (const Case& c : cases) {
        EXPECT_EQ(AnsiToUtf8(c.ansi), c.utf8) << "for the bytes of " << c.ansi;
    }
}

// AnsiToUtf8 skips the detour through UTF-16 for ASCII runs; whatever the bytes,
// it must give what the detour gives.
TEST(AnsiTextTest, AnsiToUtf8AgreesWithTheWayThroughWideText)
{
    std::mt19937 random(20240601);
    // Bytes weighted towards the ones with special meaning in GBK.
    const std::string interesting("\0\n\r\x40\x7e\x7f\x80\x81\xa1\xa3\xd5\xfe\xff", 13);
    for (int round = 0; round < 2000; ++round) {
        std::string bytes(random() % 40, '\0');
        for (char& b : bytes) {
            b = random() % 2 == 0 ? interesting[random() % interesting.size()] : static_cast<char>(random() % 256);
        }
        const std::string expected = platform::Utf16ToUtf8(AnsiToWide(bytes));
        ASSERT_EQ(AnsiToUtf8(bytes), expected) << "round " << round;
    }
}

}  // namespace
