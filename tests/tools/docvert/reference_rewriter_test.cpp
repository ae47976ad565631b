#include <gtest/gtest.h>

#include "tools/docvert/reference_rewriter.h"

namespace {

using docvert::RewriteCssReferences;
using docvert::RewriteHtmlReferences;

// Knows "a.png" and "b c.css"; everything else is unknown.
std::optional<std::string> Known(const std::string& reference)
{
    if (reference == "a.png") {
        return "data:image/png;base64,QQ==";
    }
    if (reference == "b c.css") {
        return "data:text/css;base64,Qg==";
    }
    return std::nullopt;
}

TEST(HtmlReferences, EveryReferringAttributeInEveryQuotingStyle)
{
    struct Case {
        const char* page;
        const char* expected;
    };
    const Case cases[] = {
        {"<img src=\"a.png\">", "<img src=\"data:image/png;base64,QQ==\">"},
        {"<img src='a.png'>", "<img src=\"data:image/png;base64,QQ==\">"},
        {"<img SRC=a.png alt=a.png>", "<img SRC=\"data:image/png;base64,QQ==\" alt=a.png>"},
        {"<img src=\" a.png \">", "<img src=\"data:image/png;base64,QQ==\">"},
        {"<link href=\"b c.css\">", "<link href=\"data:text/css;base64,Qg==\">"},
        {"<td background=a.png>", "<td background=\"data:image/png;base64,QQ==\">"},
        {"<v:imagedata src=\"a.png\"/>", "<v:imagedata src=\"data:image/png;base64,QQ==\"/>"},
        {"<a href=\"http://x/a.png\">", "<a href=\"http://x/a.png\">"},
        {"<img src=\"missing.png\">", "<img src=\"missing.png\">"},
        {"<script>x = '<img src=a.png>';</script>", "<script>x = '<img src=a.png>';</script>"},
        {"<!--[if gte vml 1]><v:imagedata src=\"a.png\"/><![endif]-->",
         "<!--[if gte vml 1]><v:imagedata src=\"data:image/png;base64,QQ==\"/><![endif]-->"},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(RewriteHtmlReferences(c.page, Known), c.expected) << c.page;
    }
}

TEST(HtmlReferences, StyleAttributesAndStyleElements)
{
    EXPECT_EQ(RewriteHtmlReferences("<div style=\"background:url(&quot;a.png&quot;)\">", Known),
              "<div style=\"background:url(data:image/png;base64,QQ==)\">");
    EXPECT_EQ(RewriteHtmlReferences("<div style='background:url(a.png) no-repeat'>", Known),
              "<div style='background:url(data:image/png;base64,QQ==) no-repeat'>");
    EXPECT_EQ(RewriteHtmlReferences("<style>\n<!--\np{background:url(\"a.png\")}\n-->\n</style>", Known),
              "<style>\n<!--\np{background:url(data:image/png;base64,QQ==)}\n-->\n</style>");
}

TEST(CssReferences, UrlsAndImportsButNotCommentsOrLookalikes)
{
    struct Case {
        const char* css;
        const char* expected;
    };
    const Case cases[] = {
        {"p{background:url(a.png)}", "p{background:url(data:image/png;base64,QQ==)}"},
        {"p{background:URL( 'a.png' )}", "p{background:url(data:image/png;base64,QQ==)}"},
        {"@import \"b c.css\";", "@import url(data:text/css;base64,Qg==);"},
        {"@import url('b c.css') screen;", "@import url(data:text/css;base64,Qg==) screen;"},
        {"/* url(a.png) */p{}", "/* url(a.png) */p{}"},
        {"p{content:\"url(a.png)\"}", "p{content:\"url(a.png)\"}"},
        {"p{background:myurl(a.png)}", "p{background:myurl(a.png)}"},
        {"p{background:url(missing.png)}", "p{background:url(missing.png)}"},
        {"p{background:url(a.png", "p{background:url(a.png"},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(RewriteCssReferences(c.css, Known, false), c.expected) << c.css;
    }
}

}  // namespace
