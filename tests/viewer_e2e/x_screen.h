// The test's view of the X display the viewer runs on: screenshots read back
// from the server, top-level windows and their titles, selection owners, and
// input sent through xdotool.
#pragma once

#include <cstdint>
#include <string>
#include <sys/types.h>
#include <vector>

struct _XDisplay;

namespace e2e {

// An X window id.
using XWindowId = unsigned long;

struct Rgb {
    int r = 0;
    int g = 0;
    int b = 0;
};

struct Box {
    int left = 0;
    int top = 0;
    int width = 0;
    int height = 0;
    bool operator==(const Box&) const = default;
};

std::string Describe(const Box& box);
std::string Describe(const Rgb& colour);

// One screenshot of the whole screen.
class Image {
public:
    Image() = default;
    Image(int width, int height, std::vector<std::uint8_t> rgb);

    int width() const { return m_width; }
    int height() const { return m_height; }
    Rgb At(int x, int y) const;

    // Pixels inside `area` within `tolerance` of `colour` on every channel.
    int Count(const Box& area, Rgb colour, int tolerance) const;
    // The smallest box holding every such pixel; zero size when there is none.
    Box Bounds(const Box& area, Rgb colour, int tolerance) const;
    // True when the two images hold the same pixels inside `area`.
    bool SameAs(const Image& other, const Box& area) const;

    // Writes the image as PNG (through ImageMagick), for people to look at.
    void SavePng(const std::string& path) const;

private:
    int m_width = 0;
    int m_height = 0;
    std::vector<std::uint8_t> m_rgb;
};

struct TopLevel {
    XWindowId id = 0;
    Box box;
    std::string title;  // _NET_WM_NAME, UTF-8
};

class XScreen {
public:
    XScreen();  // opens $DISPLAY; ok() tells whether that worked
    ~XScreen();
    XScreen(const XScreen&) = delete;
    XScreen& operator=(const XScreen&) = delete;

    bool ok() const { return m_display != nullptr; }
    Image Shot();

    // The viewable top-level windows of a process (by _NET_WM_PID).
    std::vector<TopLevel> WindowsOf(pid_t pid);
    // How many top-level windows are viewable, whoever owns them.
    int ViewableTopLevelCount();
    // The owner of a selection ("PRIMARY", "CLIPBOARD"); 0 when unowned.
    XWindowId SelectionOwner(const char* selection);

private:
    std::string Property(XWindowId window, const char* name);
    long PidOf(XWindowId window);

    _XDisplay* m_display = nullptr;
};

// Runs xdotool with the arguments (a shell word list); true on success.
bool Xdo(const std::string& arguments);

}  // namespace e2e
