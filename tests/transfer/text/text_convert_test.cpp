#include "transfer/text_convert.h"

#include <gtest/gtest.h>

namespace {

TEST(TextConvert, EmptyTextGivesEmptyResult)
{
    EXPECT_EQ(WideToAnsi(u""), "");
    EXPECT_EQ(AnsiToWide(""), u"");
}

TEST(TextConvert, ResultEndsAtTheFirstNul)
{
    EXPECT_EQ(WideToAnsi(CString(u"ab\0cd", 5)), "ab");
    EXPECT_EQ(AnsiToWide(std::string("ab\0cd", 5)), u"ab");
    EXPECT_EQ(AnsiToWide(std::string("\0x", 2)), u"");
}

TEST(TextConvert, UsesCodePage936)
{
    EXPECT_EQ(WideToAnsi(u"\u7B80\u5386.doc"), "\xBC\xF2\xC0\xFA.doc");
    EXPECT_EQ(AnsiToWide("\xBC\xF2\xC0\xFA.doc"), u"\u7B80\u5386.doc");
    EXPECT_EQ(WideToAnsi(u"\U0001F600"), "??");
}

}  // namespace
