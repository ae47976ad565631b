#include <gtest/gtest.h>

#include "tools/docvert/html_markup.h"

namespace {

using namespace docvert;

TEST(HtmlTokens, TogetherTheyCoverEveryByteOnceEvenInBrokenMarkup)
{
    const char* pages[] = {
        "<html><head><title>a<b</title></head><body><p class=x>t</p></body></html>",
        "<p a='1' b=\"2\" c=3 d>text<!-- comment <img src=x> -->more",
        "<!DOCTYPE html><?xml version=\"1.0\"?><![if !vml]><img src=a.png><![endif]>",
        "<script>if (a < b) document.write('<img src=x>');</script><style>p{}</style>",
        "unterminated <p class=\"open",
        "<!-- never closed <p>",
        "<style>never closed",
        "a < b > c <3 </ >",
        "",
    };
    for (const char* page : pages) {
        const std::string_view text(page);
        std::size_t expected = 0;
        for (const HtmlToken& token : TokenizeHtml(text)) {
            EXPECT_EQ(token.begin, expected) << "gap or overlap in: " << page;
            expected = token.end;
        }
        EXPECT_EQ(expected, text.size()) << "tokens should reach the end of: " << page;
    }
}

TEST(HtmlAttributes, ValuesAsWrittenInEveryQuotingStyle)
{
    const std::string page = "<IMG SRC=a.png Alt='x y' title=\"&quot;t&quot; &amp; &#20013;&#x6587;\" ismap>";
    const std::vector<HtmlToken> tokens = TokenizeHtml(page);
    ASSERT_EQ(tokens.size(), 1u);
    const HtmlTag& tag = tokens[0].tag;
    EXPECT_EQ(tag.name, "img");
    EXPECT_EQ(tag.Find("src")->Value(), "a.png");
    EXPECT_EQ(tag.Find("alt")->Value(), "x y");
    EXPECT_EQ(tag.Find("title")->Value(), "\"t\" & 中文");
    ASSERT_NE(tag.Find("ismap"), nullptr);
    EXPECT_FALSE(tag.Find("ismap")->hasValue);
}

TEST(MetaCharset, FoundInEveryWayPagesDeclareIt)
{
    struct Case {
        const char* page;
        std::optional<std::string> expected;
    };
    const Case cases[] = {
        {"<meta charset=\"gbk\">", "gbk"},
        {"<META HTTP-EQUIV=\"Content-Type\" CONTENT=\"text/html; charset=GB2312\">", "GB2312"},
        {"<meta http-equiv=Content-Type content=\"text/html; charset=gb2312\">", "gb2312"},
        {"<meta content=\"text/html;charset='big5'\" http-equiv=\"content-type\">", "big5"},
        {"<!-- <meta charset=big5> --><p>", std::nullopt},
        {"<meta name=description content=\"charset=big5\">", std::nullopt},
        {"<p>no declaration</p>", std::nullopt},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(FindMetaCharset(c.page), c.expected) << c.page;
    }
}

TEST(MetaCharset, PagesEndUpDeclaringUtf8)
{
    struct Case {
        const char* page;
        const char* expected;
    };
    const Case cases[] = {
        {"<head><meta charset=gbk></head>", "<head><meta charset=\"utf-8\"></head>"},
        {"<head><meta http-equiv=Content-Type content=\"text/html; charset=gb2312\"></head>",
         "<head><meta http-equiv=Content-Type content=\"text/html; charset=utf-8\"></head>"},
        {"<html><head><title>t</title></head>",
         "<html><head><meta http-equiv=\"Content-Type\" content=\"text/html; charset=utf-8\"><title>t</title></head>"},
        {"<html><body>x", "<html><meta http-equiv=\"Content-Type\" content=\"text/html; charset=utf-8\"><body>x"},
        {"<!DOCTYPE html><p>x", "<!DOCTYPE html><meta http-equiv=\"Content-Type\" content=\"text/html; charset=utf-8\"><p>x"},
        {"<p>x", "<meta http-equiv=\"Content-Type\" content=\"text/html; charset=utf-8\"><p>x"},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(DeclareUtf8(c.page), c.expected) << c.page;
    }
}

TEST(TagRemoval, OnlyTheChosenStartTagsGo)
{
    const std::string page = "<p><img src=keep.png><img src=drop.png>text</p><script>'<img src=drop.png>'</script>"
                             "<!--[if gte vml 1]><img src=drop.png><![endif]-->";
    const std::string kept = DropTags(page, [](const HtmlTag& tag) {
        return tag.name == "img" && tag.Find("src")->Value() == "drop.png";
    });
    EXPECT_EQ(kept, "<p><img src=keep.png>text</p><script>'<img src=drop.png>'</script>"
                    "<!--[if gte vml 1]><![endif]-->");
}

TEST(StyleRules, AddedAfterThePagesOwnStylesheet)
{
    EXPECT_EQ(AppendStyleRules("<head><style>p{}</style></head><body>", "q{}"),
              "<head><style>p{}</style><style type=\"text/css\">q{}</style></head><body>");
    EXPECT_EQ(AppendStyleRules("<p>no head", "q{}"), "<p>no head<style type=\"text/css\">q{}</style>");
}

}  // namespace
