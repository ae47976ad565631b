#include <gtest/gtest.h>

#include "tools/docvert/text_encoding.h"

namespace {

using docvert::CanonicalCharset;
using docvert::ConvertToUtf8;
using docvert::DecodeToUtf8;

// "张喆": the second character exists in code page 936 but not in GB 2312.
constexpr char kZhangZheGbk[] = "\xD5\xC5\x86\xB4";
constexpr char kZhangZheUtf8[] = "张喆";

TEST(CharsetLabels, EverySimplifiedChineseLabelMeansGbk)
{
    for (const char* label : {"gb2312", "GB2312", "\"gb2312\"", " gbk ", "x-gbk", "cp936", "CP936", "euc-cn",
                              "EUC-CN", "csGB2312", "'GBK'"}) {
        EXPECT_EQ(CanonicalCharset(label), "GBK") << "label " << label << " should read as GBK";
    }
}

TEST(CharsetLabels, OtherLabelsAreOnlyTidied)
{
    EXPECT_EQ(CanonicalCharset(" \"utf-8\" "), "UTF-8");
    EXPECT_EQ(CanonicalCharset("big5"), "BIG5");
    EXPECT_EQ(CanonicalCharset("gb18030"), "GB18030") << "GB 18030 is a charset of its own, not GBK";
    EXPECT_EQ(CanonicalCharset(""), "");
}

TEST(CharsetConversion, TextLabelledGb2312KeepsItsCodePage936Characters)
{
    EXPECT_EQ(ConvertToUtf8(kZhangZheGbk, "gb2312"), kZhangZheUtf8);
}

TEST(CharsetConversion, BrokenBytesBecomeReplacementCharactersAndTheRestSurvives)
{
    struct Case {
        const char* bytes;
        const char* charset;
        const char* expected;
    };
    const Case cases[] = {
        {"ab\xFF" "cd", "utf-8", "ab\xEF\xBF\xBD" "cd"},
        {"\xD5\xC5\x81", "gbk", "张\xEF\xBF\xBD"},          // a lead byte cut off at the end
        {"\xD5\xC5\xFF\xD5\xC5", "gbk", "张\xEF\xBF\xBD张"},  // a byte no character starts with
    };
    for (const Case& c : cases) {
        EXPECT_EQ(ConvertToUtf8(c.bytes, c.charset), c.expected) << "bytes in " << c.charset;
    }
}

TEST(CharsetConversion, UnknownCharsetIsReportedNotGuessed)
{
    EXPECT_FALSE(ConvertToUtf8("abc", "x-no-such-charset").has_value());
    EXPECT_FALSE(ConvertToUtf8("abc", "").has_value());
}

TEST(CharsetDecoding, OrderOfEvidence)
{
    struct Case {
        const char* what;
        std::string bytes;
        std::vector<std::string> labels;
        std::string expected;
    };
    const Case cases[] = {
        {"a byte-order mark wins over a label", "\xEF\xBB\xBF" "张", {"gbk"}, "张"},
        {"UTF-16 with its mark", std::string("\xFF\xFE\x20\x5F", 4), {"gbk"}, "张"},
        {"the first label iconv knows", kZhangZheGbk, {"x-unknown", "gb2312"}, kZhangZheUtf8},
        {"no label, valid UTF-8", "张喆", {}, kZhangZheUtf8},
        {"no label, not UTF-8: GBK", kZhangZheGbk, {}, kZhangZheUtf8},
        {"a UTF-8 mark is dropped under a UTF-8 label", "\xEF\xBB\xBF" "x", {"utf-8"}, "x"},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(DecodeToUtf8(c.bytes, c.labels), c.expected) << c.what;
    }
}

}  // namespace
