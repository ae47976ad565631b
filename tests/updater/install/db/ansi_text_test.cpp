#include "updater/install/ansi_text.h"

#include <gtest/gtest.h>

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

}  // namespace
