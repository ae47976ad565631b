#include "viewer/caption_buttons.h"

namespace {

// The zone where the band hands the mouse to the buttons instead of dragging:
// rows 0 to 17, columns w - 117 to w - 5.
constexpr int kZoneBottom = 18;
constexpr int kZoneLeftFromRight = 118;
constexpr int kZoneRightFromRight = 4;

constexpr int kTitleGap = 6;  // between the title's end and the first button

bool IsHighSurrogate(char16_t c) { return c >= 0xD800 && c <= 0xDBFF; }

}  // namespace

CString FitTitle(const CString& title, int maxWidth, const std::function<int(const CString&)>& measure)
{
    if (measure(title) <= maxWidth) {
        return title;
    }
    static const CString ellipsis = u"\u2026";
    // The widths of a text's starts grow with their length: search for the
    // longest start that still fits with the ellipsis.
    std::size_t fits = 0;
    std::size_t tooLong = title.size();
    while (tooLong - fits > 1) {
        const std::size_t mid = fits + (tooLong - fits) / 2;
        if (measure(title.substr(0, mid) + ellipsis) <= maxWidth) {
            fits = mid;
        } else {
            tooLong = mid;
        }
    }
    if (fits > 0 && IsHighSurrogate(title[fits - 1])) {
        --fits;
    }
    if (fits == 0 && measure(ellipsis) > maxWidth) {
        return CString();
    }
    return title.substr(0, fits) + ellipsis;
}

CRect HtmlViewRect(int windowWidth, int windowHeight)
{
    return {1, BAND_BOTTOM, windowWidth - 1, windowHeight - 1};
}

void CCaptionButtons::LayoutCaptionButtons(int windowWidth)
{
    m_rcClose = {windowWidth - 50, 1, windowWidth - 4, 19};
    m_rcMax = {m_rcClose.left - MAX_IMAGE_WIDTH, 1, m_rcClose.left, 19};
    m_rcMin = {m_rcMax.left - MIN_IMAGE_WIDTH, 1, m_rcMax.left, 19};
}

CaptionHit CCaptionButtons::HitTest(CPoint p, int clientWidth, int clientHeight)
{
    if (p.y > BAND_BOTTOM) {
        return CaptionHit::Client;
    }
    if (p.y < kZoneBottom && p.x > clientWidth - kZoneLeftFromRight &&
        p.x < clientWidth - kZoneRightFromRight) {
        return CaptionHit::Client;
    }
    m_nHotButton = BTN_NONE;
    const CRect client{0, 0, clientWidth, clientHeight};
    return client.PtInRect(p) ? CaptionHit::Caption : CaptionHit::Nowhere;
}

int CCaptionButtons::ButtonAt(CPoint p) const
{
    if (m_rcClose.PtInRect(p)) {
        return BTN_CLOSE;
    }
    if (m_rcMax.PtInRect(p)) {
        return BTN_MAXRESTORE;
    }
    if (m_rcMin.PtInRect(p)) {
        return BTN_MIN;
    }
    return BTN_NONE;
}

bool CCaptionButtons::OnMouseMove(CPoint p)
{
    const int previous = m_nHotButton;
    m_nHotButton = ButtonAt(p);
    return m_nHotButton != previous;
}

bool CCaptionButtons::OnMouseLeave()
{
    const int previous = m_nHotButton;
    m_nHotButton = BTN_NONE;
    return previous != BTN_NONE;
}

CaptionAction CCaptionButtons::OnLButtonUp(CPoint p)
{
    switch (ButtonAt(p)) {
    case BTN_CLOSE:
        return CaptionAction::Close;
    case BTN_MAXRESTORE:
        m_bMaximized = !m_bMaximized;
        return m_bMaximized ? CaptionAction::Maximize : CaptionAction::Restore;
    case BTN_MIN:
        return CaptionAction::Minimize;
    default:
        return CaptionAction::None;
    }
}

int CCaptionButtons::ImageIndex(int button) const
{
    return m_nHotButton == button ? IMAGE_HOT : IMAGE_NORMAL;
}

CRect CCaptionButtons::ButtonStrip() const
{
    return {m_rcMin.left, m_rcClose.top, m_rcClose.right, m_rcClose.bottom};
}

int CCaptionButtons::TitleMaxWidth() const { return m_rcMin.left - kTitleGap - TITLE_X; }
