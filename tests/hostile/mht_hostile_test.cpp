// MHT archives whose parts refer to each other over and over: each frame page
// refers twice to the next, so embedding every reference doubles the page at
// every level. The converter must fail such an archive, not exhaust memory.
#include <gtest/gtest.h>

#include <glib.h>

#include <algorithm>
#include <optional>
#include <string>

#include "tools/docvert/mht_converter.h"

namespace {

// `depth` HTML parts, part i referring twice to part i + 1 (by Content-ID),
// and a last part that refers to `image` `imageReferences` times.
std::string Archive(int depth, int imageReferences = 0)
{
    std::string mht = "MIME-Version: 1.0\r\nContent-Type: multipart/related; boundary=\"B\"\r\n\r\n";
    for (int i = 0; i < depth; ++i) {
        std::string body;
        if (i + 1 < depth) {
            body = "<iframe src=\"cid:p" + std::to_string(i + 1) + "\"></iframe><img src=\"cid:p" +
                   std::to_string(i + 1) + "\">";
        } else {
            for (int r = 0; r < imageReferences; ++r) {
                body += "<img src=\"cid:photo\">";
            }
        }
        mht += "--B\r\nContent-Type: text/html; charset=utf-8\r\nContent-ID: <p" + std::to_string(i) +
               ">\r\n\r\n<html><body>" + body + "</body></html>\r\n";
    }
    mht += "--B\r\nContent-Type: image/png\r\nContent-ID: <photo>\r\nContent-Transfer-Encoding: base64\r\n\r\n";
    mht += std::string(13000, 'A') + "\r\n--B--\r\n";  // about 10 KB of picture
    return mht;
}

std::size_t Occurrences(const std::string& text, const std::string& what)
{
    std::size_t count = 0;
    for (std::size_t at = text.find(what); at != std::string::npos; at = text.find(what, at + 1)) {
        ++count;
    }
    return count;
}

TEST(HostileMht, FramesThatDoubleAtEveryLevelFailInsteadOfExhaustingMemory)
{
    // 2^24 copies of the last page: about 2 KB of archive asking for terabytes.
    const std::string archive = Archive(24);
    ASSERT_LT(archive.size(), 20000u);
    EXPECT_EQ(docvert::ConvertMhtToHtml(archive), std::nullopt) << "a page beyond the embedding bound is no page";
}

TEST(HostileMht, PartsReferredToManyTimesStillConvertWithinTheBound)
{
    // A hundred references to one picture, and a few levels of frames.
    const std::optional<std::string> single = docvert::ConvertMhtToHtml(Archive(1, 100));
    ASSERT_TRUE(single.has_value());
    EXPECT_EQ(Occurrences(*single, "data:image/png;base64,"), 100u) << "every reference gets the picture";

    const std::optional<std::string> nested = docvert::ConvertMhtToHtml(Archive(4, 1));
    ASSERT_TRUE(nested.has_value()) << "frames within frames are fine while the page stays small";
    EXPECT_EQ(Occurrences(*nested, "data:text/html;charset=utf-8;base64,"), 2u)
        << "the root embeds its next frame twice (the deeper ones sit inside, encoded)";
}

// A page labelled utf-8 that holds sequences UTF-8 does not allow: beyond
// U+10FFFF, a surrogate, an overlong form, a cut-off sequence. The page the
// viewer is given declares utf-8, so it must be UTF-8.
TEST(HostileMht, BytesThatAreNoUtf8BecomeReplacementCharacters)
{
    const std::string mht =
        "MIME-Version: 1.0\r\nContent-Type: multipart/related; boundary=\"B\"\r\n\r\n"
        "--B\r\nContent-Type: text/html; charset=utf-8\r\nContent-Transfer-Encoding: 8bit\r\n\r\n"
        "<html><body>a\xF4\x97\xAA\x88" "b\xED\xA0\x80" "c\xC0\xAF" "d\xE4\xB8" "</body></html>\r\n--B--\r\n";
    const std::optional<std::string> page = docvert::ConvertMhtToHtml(mht);
    ASSERT_TRUE(page.has_value());
    std::string checked = *page;
    std::replace(checked.begin(), checked.end(), '\0', ' ');
    EXPECT_TRUE(g_utf8_validate_len(checked.data(), checked.size(), nullptr)) << "the page is UTF-8: " << *page;
    EXPECT_NE(page->find("a\xEF\xBF\xBD"), std::string::npos) << "broken bytes show as U+FFFD: " << *page;
    EXPECT_NE(page->find("b"), std::string::npos);
    EXPECT_NE(page->find("d"), std::string::npos) << "the text after broken bytes stays";
}

}  // namespace
