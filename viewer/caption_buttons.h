// The viewer's own title band: geometry of its three caption buttons, hit
// testing, hover and click logic. No drawing here; the window paints what this
// state says.
#pragma once

#include <cstdint>
#include <functional>

#include "platform/types.h"

struct CPoint {
    int x = 0;
    int y = 0;
};

// A rectangle whose right and bottom edges are outside it.
struct CRect {
    int left = 0;
    int top = 0;
    int right = 0;
    int bottom = 0;

    int Width() const { return right - left; }
    int Height() const { return bottom - top; }
    bool PtInRect(CPoint p) const { return p.x >= left && p.x < right && p.y >= top && p.y < bottom; }
    bool operator==(const CRect&) const = default;
};

// The button under the mouse.
enum : int {
    BTN_NONE = 0,
    BTN_CLOSE = 1,
    BTN_MAXRESTORE = 2,
    BTN_MIN = 3,
};

// Look of the band.
constexpr std::uint8_t BAND_RED = 21;
constexpr std::uint8_t BAND_GREEN = 96;
constexpr std::uint8_t BAND_BLUE = 165;
constexpr int BAND_BOTTOM = 30;  // the band fills rows 1 to 29; the view starts at row 30
constexpr int TITLE_X = 15;
constexpr int TITLE_Y = 8;
constexpr int TITLE_FONT_HEIGHT = 14;

// Caption button images: a strip of three, image 1 lit, image 2 normal.
constexpr int CLOSE_IMAGE_WIDTH = 46;
constexpr int MAX_IMAGE_WIDTH = 34;
constexpr int MIN_IMAGE_WIDTH = 33;
constexpr int RESTORE_IMAGE_WIDTH = 34;
constexpr int BUTTON_IMAGE_HEIGHT = 18;
constexpr int IMAGE_HOT = 1;
constexpr int IMAGE_NORMAL = 2;

// Where a point of the window falls, for a window that has no frame of its own.
enum class CaptionHit {
    Client,   // ordinary client area: the buttons, the HTML view
    Caption,  // the band outside the buttons: dragging it moves the window
    Nowhere,  // outside the window
};

// What a released click on the band asks the window to do.
enum class CaptionAction {
    None,
    Close,
    Maximize,
    Restore,
    Minimize,
};

// The title as drawn on the band: whole when measure(title) is at most
// maxWidth pixels, else the longest start of it that fits with "…" after it
// (just "…", or nothing, when even that is too wide). A character made of two
// code units is never cut in half.
CString FitTitle(const CString& title, int maxWidth, const std::function<int(const CString&)>& measure);

// The HTML view's place in a window of the given size: below the band, inside
// the outline.
CRect HtmlViewRect(int windowWidth, int windowHeight);

class CCaptionButtons {
public:
    // Puts the three buttons right-aligned in rows 1 to 18 of a window
    // windowWidth pixels wide.
    void LayoutCaptionButtons(int windowWidth);

    // Classifies a point given relative to the client area of a w x h client.
    // A point on the band outside the button zone also clears the hover state.
    CaptionHit HitTest(CPoint p, int clientWidth, int clientHeight);

    // Mouse moved to p (client coordinates). Returns true when the lit button
    // changed, so the button strip must be repainted.
    bool OnMouseMove(CPoint p);

    // Mouse left the window: nothing is lit any more. Returns true when that
    // changed the look.
    bool OnMouseLeave();

    // Left button released at p. Maximise and restore flip m_bMaximized.
    CaptionAction OnLButtonUp(CPoint p);

    // Which image of its strip a button shows now.
    int ImageIndex(int button) const;

    // The widest the title may be drawn at TITLE_X so that it ends before the
    // first button, with a small gap.
    int TitleMaxWidth() const;

    // The band area the three buttons occupy, for repainting them.
    CRect ButtonStrip() const;

    // The button whose rectangle holds p, BTN_NONE when none; tested in the
    // order close, maximise/restore, minimise.
    int ButtonAt(CPoint p) const;

    CRect m_rcMin;
    CRect m_rcMax;
    CRect m_rcClose;
    int m_nHotButton = BTN_NONE;
    bool m_bMaximized = false;
};
