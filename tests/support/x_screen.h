// The test's view of an X display (the private Xvfb of the test run): the
// top-level windows of a process and their titles, screenshots read back
// from the server, selection owners, the window manager's close request, and
// keys and pointer input sent through xdotool.
#pragma once

#include <sys/types.h>

#include <chrono>
#include <cstdint>
#include <filesystem>
#include <string>
#include <vector>

struct _XDisplay;

namespace testsupport {

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

// Pixels read back from the screen. Coordinates are relative to the top left
// corner of the part of the screen taken (the screen's own for a whole shot).
class Image {
public:
    Image() = default;
    Image(Box area, std::vector<Rgb> pixels);

    bool empty() const { return m_pixels.empty(); }
    // Where on the screen the image was taken.
    const Box& area() const { return m_area; }
    int width() const { return m_area.width; }
    int height() const { return m_area.height; }
    // {-1, -1, -1} outside the image.
    Rgb At(int x, int y) const;

    // Pixels inside `area` within `tolerance` of `colour` on every channel.
    int Count(const Box& area, Rgb colour, int tolerance) const;
    // The smallest box holding every such pixel; zero size when there is none.
    Box Bounds(const Box& area, Rgb colour, int tolerance) const;
    // True when the two images hold the same pixels, everywhere or inside `area`.
    bool SameAs(const Image& other) const;
    bool SameAs(const Image& other, const Box& area) const;

    // Writes the image as PNG (through ImageMagick), for people to look at.
    void SavePng(const std::filesystem::path& path) const;

private:
    Box m_area;
    std::vector<Rgb> m_pixels;
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
    // The whole screen, or a part of it.
    Image Shot();
    Image Capture(const Box& area);

    // The viewable top-level windows of a process (by _NET_WM_PID); kAnyProcess:
    // of every process (a program started through a launcher or as another
    // user, whose process id the test does not know).
    static constexpr pid_t kAnyProcess = 0;
    std::vector<TopLevel> WindowsOf(pid_t pid);
    // A viewable top-level window of `pid` titled exactly `title`; 0 when
    // there is none (yet, or any more after `bound`).
    XWindowId FindWindow(pid_t pid, const std::string& title);
    XWindowId WaitForWindow(pid_t pid, const std::string& title, std::chrono::milliseconds bound);
    // How many top-level windows are viewable, whoever owns them.
    int ViewableTopLevelCount();
    // The owner of a selection ("PRIMARY", "CLIPBOARD"); 0 when unowned.
    XWindowId SelectionOwner(const char* selection);

    // The window's client area in screen coordinates.
    Box Geometry(XWindowId window);
    // The window manager's close request (WM_DELETE_WINDOW), as the close box
    // and Alt+F4 send it.
    void RequestClose(XWindowId window);

private:
    std::string Property(XWindowId window, const char* name);

    _XDisplay* m_display = nullptr;
};

// Runs xdotool with the words of `command` (separated by spaces); true on
// success.
bool Xdo(const std::string& command);
// Focuses `window` and types `key` (an xdotool key name) into it.
bool PressKey(XWindowId window, const std::string& key);

}  // namespace testsupport
