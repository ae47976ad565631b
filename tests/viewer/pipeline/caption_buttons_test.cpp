#include <gtest/gtest.h>

#include "viewer/caption_buttons.h"

namespace {

::testing::AssertionResult SameRect(const CRect& actual, const CRect& expected)
{
    if (actual == expected) {
        return ::testing::AssertionSuccess();
    }
    return ::testing::AssertionFailure()
           << "expected (" << expected.left << "," << expected.top << ")-(" << expected.right << ","
           << expected.bottom << "), got (" << actual.left << "," << actual.top << ")-("
           << actual.right << "," << actual.bottom << ")";
}

CCaptionButtons LaidOut(int width)
{
    CCaptionButtons buttons;
    buttons.LayoutCaptionButtons(width);
    return buttons;
}

TEST(CaptionButtons, OpeningWidthPutsTheButtonsAtTheRightEnd)
{
    const CCaptionButtons b = LaidOut(800);
    EXPECT_TRUE(SameRect(b.m_rcClose, {750, 1, 796, 19}));
    EXPECT_TRUE(SameRect(b.m_rcMax, {716, 1, 750, 19}));
    EXPECT_TRUE(SameRect(b.m_rcMin, {683, 1, 716, 19}));
    EXPECT_TRUE(SameRect(b.ButtonStrip(), {683, 1, 796, 19}));
}

TEST(CaptionButtons, RelayoutFollowsTheRightEdge)
{
    const CCaptionButtons b = LaidOut(1280);
    EXPECT_TRUE(SameRect(b.m_rcClose, {1230, 1, 1276, 19}));
    EXPECT_TRUE(SameRect(b.m_rcMin, {1163, 1, 1196, 19}));
}

TEST(CaptionButtons, HitTestSendsTheBandToDraggingAndTheRestToTheClient)
{
    const struct {
        int x, y;
        CaptionHit hit;
    } rows[] = {
        {10, 10, CaptionHit::Caption},    // band, left
        {400, 0, CaptionHit::Caption},    // top outline row
        {400, 30, CaptionHit::Caption},   // last band row
        {400, 31, CaptionHit::Client},    // below the band
        {700, 10, CaptionHit::Client},    // button zone
        {682, 10, CaptionHit::Caption},   // left of the zone
        {683, 10, CaptionHit::Client},
        {795, 17, CaptionHit::Client},    // zone's last column and row
        {796, 10, CaptionHit::Caption},
        {700, 18, CaptionHit::Caption},   // under the zone, still on a button image
        {-1, 10, CaptionHit::Nowhere},
        {800, 10, CaptionHit::Nowhere},
    };
    for (const auto& row : rows) {
        CCaptionButtons b = LaidOut(800);
        EXPECT_EQ(b.HitTest({row.x, row.y}, 800, 600), row.hit) << "(" << row.x << "," << row.y << ")";
    }
}

TEST(CaptionButtons, HoverLightsTheButtonUnderTheMouseAndTheBandPutsItOut)
{
    CCaptionButtons b = LaidOut(800);
    EXPECT_TRUE(b.OnMouseMove({760, 10}));
    EXPECT_EQ(b.m_nHotButton, BTN_CLOSE);
    EXPECT_EQ(b.ImageIndex(BTN_CLOSE), IMAGE_HOT);
    EXPECT_EQ(b.ImageIndex(BTN_MIN), IMAGE_NORMAL);
    EXPECT_FALSE(b.OnMouseMove({761, 11})) << "same button: no repaint needed";
    EXPECT_TRUE(b.OnMouseMove({720, 10}));
    EXPECT_EQ(b.m_nHotButton, BTN_MAXRESTORE);
    EXPECT_TRUE(b.OnMouseMove({690, 10}));
    EXPECT_EQ(b.m_nHotButton, BTN_MIN);

    EXPECT_EQ(b.HitTest({300, 10}, 800, 600), CaptionHit::Caption);
    EXPECT_EQ(b.m_nHotButton, BTN_NONE);
    EXPECT_EQ(b.ImageIndex(BTN_MIN), IMAGE_NORMAL);

    b.OnMouseMove({760, 10});
    EXPECT_TRUE(b.OnMouseLeave());
    EXPECT_EQ(b.m_nHotButton, BTN_NONE);
}

TEST(CaptionButtons, ReleaseActsOnTheButtonUnderTheMouseOnly)
{
    CCaptionButtons b = LaidOut(800);
    EXPECT_EQ(b.OnLButtonUp({300, 10}), CaptionAction::None) << "released over the band";
    EXPECT_EQ(b.OnLButtonUp({796, 10}), CaptionAction::None) << "right of the close image";
    EXPECT_EQ(b.OnLButtonUp({690, 10}), CaptionAction::Minimize);
    EXPECT_FALSE(b.m_bMaximized) << "minimising leaves the maximised state alone";
    EXPECT_EQ(b.OnLButtonUp({760, 10}), CaptionAction::Close);
}

TEST(CaptionButtons, MaximiseButtonAlternatesBetweenMaximiseAndRestore)
{
    CCaptionButtons b = LaidOut(800);
    EXPECT_EQ(b.OnLButtonUp({720, 10}), CaptionAction::Maximize);
    EXPECT_TRUE(b.m_bMaximized);
    b.LayoutCaptionButtons(1280);
    EXPECT_EQ(b.OnLButtonUp({1200, 10}), CaptionAction::Restore);
    EXPECT_FALSE(b.m_bMaximized);
}

// Every code unit 10 pixels wide, the ellipsis included.
int TenPerUnit(const CString& text) { return static_cast<int>(text.size()) * 10; }

TEST(CaptionButtons, ALongTitleEndsWithAnEllipsisBeforeTheFirstButton)
{
    const CCaptionButtons b = LaidOut(800);
    ASSERT_GT(b.TitleMaxWidth(), 0);
    EXPECT_LE(TITLE_X + b.TitleMaxWidth(), b.m_rcMin.left) << "the title may not reach the buttons";

    EXPECT_EQ(FitTitle(u"张伟的简历", 50, TenPerUnit), u"张伟的简历") << "a title that fits stays whole";
    EXPECT_EQ(FitTitle(u"abcdefgh", 50, TenPerUnit), u"abcd\u2026");
    EXPECT_EQ(FitTitle(u"abcdefgh", 5, TenPerUnit), u"") << "not even the ellipsis fits";
    // "😀" is two code units; the cut must not leave half of it.
    EXPECT_EQ(FitTitle(u"ab\U0001F600cd", 40, TenPerUnit), u"ab\u2026");
    EXPECT_EQ(FitTitle(CString(500, u'长'), b.TitleMaxWidth(), TenPerUnit).size(),
              static_cast<std::size_t>(b.TitleMaxWidth() / 10)) << "as much of the title as fits";
}

}  // namespace
