// What the test sees of the program's windows on the X display: finding them
// by process and title, closing them the way a window manager does, and
// reading the screen's pixels.
#pragma once

#include <cstdint>
#include <filesystem>
#include <string>
#include <vector>

struct ScreenRect {
    int x = 0;
    int y = 0;
    int width = 0;
    int height = 0;
};

struct Rgb {
    int r = 0;
    int g = 0;
    int b = 0;
};

// A copy of part of the screen.
class Snapshot {
public:
    Snapshot() = default;
    Snapshot(ScreenRect area, std::vector<Rgb> pixels) : m_area(area), m_pixels(std::move(pixels)) {}
    bool empty() const { return m_pixels.empty(); }
    const ScreenRect& area() const { return m_area; }
    // Coordinates relative to the area's top left corner.
    Rgb at(int x, int y) const;
    bool SameAs(const Snapshot& other) const;
    // Writes a binary PPM picture (convert it with ImageMagick to look at it).
    void Save(const std::filesystem::path& path) const;

private:
    ScreenRect m_area;
    std::vector<Rgb> m_pixels;
};

class X11Screen {
public:
    // Connects to $DISPLAY; ok() is false when there is none.
    X11Screen();
    ~X11Screen();
    X11Screen(const X11Screen&) = delete;
    X11Screen& operator=(const X11Screen&) = delete;
    bool ok() const { return m_display != nullptr; }

    // A viewable top-level window of process `pid` whose title (_NET_WM_NAME)
    // is exactly `title`; 0 when there is none.
    unsigned long FindWindow(int pid, const std::string& title);
    // Polls for such a window for up to `seconds`.
    unsigned long WaitForWindow(int pid, const std::string& title, double seconds);

    // The window's client area in screen coordinates.
    ScreenRect Geometry(unsigned long window);
    // The window manager's close request (WM_DELETE_WINDOW), as the close box
    // and Alt+F4 send it.
    void RequestClose(unsigned long window);
    Snapshot Capture(const ScreenRect& area);

private:
    struct _XDisplay* m_display = nullptr;
};
