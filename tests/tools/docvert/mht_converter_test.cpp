#include <gtest/gtest.h>

#include <algorithm>

#include "page_checks.h"
#include "tools/docvert/mht_archive.h"
#include "tools/docvert/mht_converter.h"

namespace {

using docvert::ConvertMhtToHtml;
using docverttest::EmbeddedImagesOf;
using docverttest::Fixture;
using docverttest::LocalReferencesOf;
using docverttest::ReferencesOf;

bool Contains(const std::string& text, const std::string& part) { return text.find(part) != std::string::npos; }

bool Holds(const std::vector<std::string>& images, const std::string& image)
{
    return std::find(images.begin(), images.end(), image) != images.end();
}

struct ArchiveCase {
    const char* file;
    std::vector<std::string> text;  // what the reader must see, in UTF-8
};

TEST(MhtFixtures, ReaderSeesTextTablePhotoAndNothingMissing)
{
    const ArchiveCase cases[] = {
        {"word_cp936.mht", {"个人简历", "张喆", "朱镕乡，堃昇村", "软件工程师", "大学英语六级"}},
        {"cid_start.mht", {"李娜的简历", "北京大学", "计算机科学"}},
        {"browser.mht", {"王芳", "工作经验", "面议", "联系我"}},
    };
    const std::string photo = Fixture("photo.png");
    const std::string paper = Fixture("paper.png");
    for (const ArchiveCase& c : cases) {
        SCOPED_TRACE(c.file);
        const std::optional<std::string> html = ConvertMhtToHtml(Fixture(c.file));
        ASSERT_TRUE(html.has_value()) << "the archive should convert";
        for (const std::string& text : c.text) {
            EXPECT_TRUE(Contains(*html, text)) << "the page should show " << text;
        }
        EXPECT_TRUE(Contains(*html, "<table")) << "the table should be kept";
        const std::vector<std::string> images = EmbeddedImagesOf(*html);
        EXPECT_TRUE(Holds(images, photo)) << "the photo should be embedded byte for byte";
        EXPECT_TRUE(Holds(images, paper)) << "the background picture should be embedded too";
        EXPECT_EQ(LocalReferencesOf(*html), std::vector<std::string>{})
            << "no reference should point at a file that is not there";
        EXPECT_TRUE(Contains(*html, "charset=\"utf-8\"") || Contains(*html, "charset=utf-8"))
            << "the page should declare the charset it is now in";
        EXPECT_FALSE(Contains(*html, "gb2312") || Contains(*html, "charset=\"gbk\""))
            << "no declaration of the old charset should remain";
    }
}

TEST(MhtFixtures, StartParameterChoosesTheRootOverAnEarlierPage)
{
    const std::optional<std::string> html = ConvertMhtToHtml(Fixture("cid_start.mht"));
    ASSERT_TRUE(html.has_value());
    EXPECT_TRUE(Contains(*html, "李娜的简历"));
    EXPECT_FALSE(Contains(*html, "decoy")) << "the decoy page comes first but is not the root";
}

TEST(MhtFixtures, StylesheetReferencesResolveAgainstTheStylesheetsOwnLocation)
{
    const std::optional<std::string> html = ConvertMhtToHtml(Fixture("browser.mht"));
    ASSERT_TRUE(html.has_value());
    EXPECT_TRUE(Contains(*html, "href=\"data:text/css;charset=utf-8;base64,"))
        << "the stylesheet part should be embedded";
    // ../img/paper.png seen from /static/cv.css is /img/paper.png, a part of the
    // archive; seen from the page it would be /u/img/paper.png, which is not.
    EXPECT_TRUE(Holds(EmbeddedImagesOf(*html), Fixture("paper.png")));
    EXPECT_TRUE(Contains(*html, "href=\"https://cv.example.com/contact\"")) << "a link to outside stays";
}

// A small archive around a page, with image parts (location, bytes).
std::string Archive(const std::string& pageHeaders, const std::string& page,
                    const std::vector<std::pair<std::string, std::string>>& parts, const std::string& start = "")
{
    std::string mht = "MIME-Version: 1.0\r\nContent-Type: multipart/related; boundary=\"B\"";
    if (!start.empty()) {
        mht += "; start=\"" + start + "\"";
    }
    mht += "\r\n\r\n--B\r\n" + pageHeaders + "\r\n\r\n" + page + "\r\n";
    for (const auto& [headers, body] : parts) {
        mht += "--B\r\n" + headers + "\r\n\r\n" + body + "\r\n";
    }
    return mht + "--B--\r\n";
}

TEST(MhtReferences, HowReferencesFindTheirParts)
{
    const std::string image = "Content-Type: image/gif\r\nContent-Transfer-Encoding: base64\r\n";
    struct Case {
        const char* what;
        std::string pageLocation;
        std::string reference;
        std::string partHeaders;
        bool embedded;
    };
    const Case cases[] = {
        {"relative against the page's location", "file:///C:/x/cv.htm", "cv.files/p.gif",
         "Content-Location: file:///C:/x/cv.files/p.gif", true},
        {"relative part location against the page's", "file:///C:/x/cv.htm", "cv.files/p.gif",
         "Content-Location: cv.files/p.gif", true},
        {"parent folder", "https://h/a/b/cv.html", "../img/p.gif", "Content-Location: https://h/a/img/p.gif", true},
        {"percent-escaped against raw UTF-8", "file:///C:/x/cv.htm", "%E7%85%A7%E7%89%87.gif",
         "Content-Location: file:///C:/x/照片.gif", true},
        {"file names that differ in case only", "file:///C:/x/cv.htm", "CV.FILES/P.GIF",
         "Content-Location: file:///C:/x/cv.files/p.gif", true},
        {"fragment ignored", "https://h/cv.html", "p.gif#top", "Content-Location: https://h/p.gif", true},
        {"no page location: as written", "", "p.gif", "Content-Location: p.gif", true},
        {"cid: by Content-ID", "", "cid:p@x", "Content-ID: <p@x>", true},
        {"unknown location stays", "file:///C:/x/cv.htm", "cv.files/missing.gif",
         "Content-Location: file:///C:/x/cv.files/p.gif", false},
        {"unknown cid stays", "", "cid:nobody@x", "Content-ID: <p@x>", false},
    };
    for (const Case& c : cases) {
        std::string pageHeaders = "Content-Type: text/html; charset=utf-8";
        if (!c.pageLocation.empty()) {
            pageHeaders += "\r\nContent-Location: " + c.pageLocation;
        }
        const std::string page = "<p>x</p><img src=\"" + c.reference + "\">";
        const std::optional<std::string> html =
            ConvertMhtToHtml(Archive(pageHeaders, page, {{image + c.partHeaders, "R0lGODlhAQABAAAAACw="}}));
        ASSERT_TRUE(html.has_value()) << c.what;
        if (c.embedded) {
            EXPECT_TRUE(Contains(*html, "src=\"data:image/gif;base64,R0lGODlhAQABAAAAACw=\"")) << c.what;
        } else {
            EXPECT_TRUE(Contains(*html, "src=\"" + c.reference + "\"")) << c.what << ": should be left alone";
        }
    }
}

TEST(MhtReferences, StylesheetThatImportsItselfEndsAndKeepsTheLoopReference)
{
    const std::string css = "Content-Type: text/css\r\nContent-Location: https://h/s.css";
    const std::optional<std::string> html =
        ConvertMhtToHtml(Archive("Content-Type: text/html\r\nContent-Location: https://h/cv.html",
                                 "<link rel=stylesheet href=s.css><a href=\"cv.html\">self</a>",
                                 {{css, "@import url(s.css); p { color: red }"}}));
    ASSERT_TRUE(html.has_value());
    bool sawLoop = false;
    for (const std::string& reference : ReferencesOf(*html)) {
        sawLoop = sawLoop || reference == "s.css";
    }
    EXPECT_TRUE(sawLoop) << "the stylesheet's reference to itself should stay as written";
    EXPECT_TRUE(Contains(*html, "<a href=\"cv.html\">")) << "the page's link to itself should stay";
}

TEST(MhtCharsets, PageWithoutCharsetParameterUsesItsMetaDeclaration)
{
    const std::string gbkPage = "<meta charset=\"gb2312\"><p>\xD5\xC5\x86\xB4</p>";
    const std::optional<std::string> html = ConvertMhtToHtml(Archive("Content-Type: text/html", gbkPage, {}));
    ASSERT_TRUE(html.has_value());
    EXPECT_TRUE(Contains(*html, "<p>张喆</p>"));
    EXPECT_TRUE(Contains(*html, "<meta charset=\"utf-8\">"));
}

TEST(MhtArchives, WhatIsRefused)
{
    struct Case {
        const char* what;
        std::string bytes;
    };
    const Case cases[] = {
        {"empty", ""},
        {"plain text", "just some words\nand more"},
        {"noise", std::string("\x00\x01\xFF\xFE garbage \x80", 15)},
        {"no HTML part", Archive("Content-Type: image/gif", "R0lGODlh", {})},
    };
    for (const Case& c : cases) {
        EXPECT_FALSE(ConvertMhtToHtml(c.bytes).has_value()) << c.what << " should not convert";
    }
}

TEST(MhtArchives, StartNamingNoPartFallsBackToTheFirstPage)
{
    const std::optional<docvert::MhtArchive> archive = docvert::ReadMhtArchive(
        Archive("Content-Type: text/html\r\nContent-ID: <a@x>", "<p>first</p>",
                {{"Content-Type: text/html\r\nContent-ID: <b@x>", "<p>second</p>"}}, "<nobody@x>"));
    ASSERT_TRUE(archive.has_value());
    EXPECT_EQ(archive->parts[archive->root].contentId, "a@x");
}

}  // namespace
