#include "support/x_screen.h"

#include <X11/Xatom.h>
#include <X11/Xlib.h>
#include <X11/Xutil.h>

#include <algorithm>
#include <cstdlib>
#include <fstream>
#include <sstream>

#include "support/child_process.h"
#include "support/wait.h"

namespace testsupport {

std::string Describe(const Box& box)
{
    return std::to_string(box.width) + "x" + std::to_string(box.height) + "+" + std::to_string(box.left) + "+" +
           std::to_string(box.top);
}

std::string Describe(const Rgb& colour)
{
    return "rgb(" + std::to_string(colour.r) + "," + std::to_string(colour.g) + "," + std::to_string(colour.b) + ")";
}

Image::Image(Box area, std::vector<Rgb> pixels) : m_area(area), m_pixels(std::move(pixels)) {}

Rgb Image::At(int x, int y) const
{
    if (x < 0 || y < 0 || x >= m_area.width || y >= m_area.height) {
        return {-1, -1, -1};
    }
    return m_pixels[static_cast<std::size_t>(y) * static_cast<std::size_t>(m_area.width) +
                    static_cast<std::size_t>(x)];
}

namespace {

bool Near(Rgb a, Rgb b, int tolerance)
{
    return std::abs(a.r - b.r) <= tolerance && std::abs(a.g - b.g) <= tolerance && std::abs(a.b - b.b) <= tolerance;
}

}  // namespace

int Image::Count(const Box& area, Rgb colour, int tolerance) const
{
    int count = 0;
    for (int y = area.top; y < area.top + area.height; ++y) {
        for (int x = area.left; x < area.left + area.width; ++x) {
            count += Near(At(x, y), colour, tolerance) ? 1 : 0;
        }
    }
    return count;
}

Box Image::Bounds(const Box& area, Rgb colour, int tolerance) const
{
    int left = area.left + area.width, top = area.top + area.height, right = -1, bottom = -1;
    for (int y = area.top; y < area.top + area.height; ++y) {
        for (int x = area.left; x < area.left + area.width; ++x) {
            if (Near(At(x, y), colour, tolerance)) {
                left = std::min(left, x);
                top = std::min(top, y);
                right = std::max(right, x);
                bottom = std::max(bottom, y);
            }
        }
    }
    if (right < 0) {
        return {};
    }
    return {left, top, right - left + 1, bottom - top + 1};
}

bool Image::SameAs(const Image& other) const
{
    return m_area.width == other.m_area.width && m_area.height == other.m_area.height &&
           SameAs(other, {0, 0, m_area.width, m_area.height});
}

bool Image::SameAs(const Image& other, const Box& area) const
{
    for (int y = area.top; y < area.top + area.height; ++y) {
        for (int x = area.left; x < area.left + area.width; ++x) {
            if (!Near(At(x, y), other.At(x, y), 0)) {
                return false;
            }
        }
    }
    return true;
}

void Image::SavePng(const std::filesystem::path& path) const
{
    std::filesystem::create_directories(path.parent_path());
    const std::filesystem::path ppm = path.string() + ".ppm";
    {
        std::ofstream out(ppm, std::ios::binary);
        out << "P6\n" << m_area.width << " " << m_area.height << "\n255\n";
        for (const Rgb& pixel : m_pixels) {
            out.put(static_cast<char>(pixel.r)).put(static_cast<char>(pixel.g)).put(static_cast<char>(pixel.b));
        }
    }
    RunAndWait({"convert", ppm.string(), path.string()});
    std::filesystem::remove(ppm);
}

namespace {

// Windows come and go while we look at them: one that vanished between listing
// and asking about it is skipped, not a reason to end the test process (which is
// what Xlib's own handler does).
int IgnoreXError(Display*, XErrorEvent*)
{
    return 0;
}

// Whatever the server's visual, 0..255 per channel.
int Channel(unsigned long pixel, unsigned long mask)
{
    if (mask == 0) {
        return 0;
    }
    const unsigned long value = (pixel & mask) >> __builtin_ctzl(mask);
    const unsigned long top = mask >> __builtin_ctzl(mask);
    return static_cast<int>(value * 255 / top);
}

}  // namespace

XScreen::XScreen() : m_display(XOpenDisplay(nullptr))
{
    XSetErrorHandler(IgnoreXError);
}

XScreen::~XScreen()
{
    if (m_display != nullptr) {
        XCloseDisplay(m_display);
    }
}

Image XScreen::Shot()
{
    XWindowAttributes attributes{};
    XGetWindowAttributes(m_display, DefaultRootWindow(m_display), &attributes);
    return Capture({0, 0, attributes.width, attributes.height});
}

Image XScreen::Capture(const Box& area)
{
    XImage* image = XGetImage(m_display, DefaultRootWindow(m_display), area.left, area.top,
                              static_cast<unsigned>(area.width), static_cast<unsigned>(area.height), AllPlanes,
                              ZPixmap);
    if (image == nullptr) {
        return {};
    }
    std::vector<Rgb> pixels;
    pixels.reserve(static_cast<std::size_t>(area.width) * static_cast<std::size_t>(area.height));
    for (int y = 0; y < area.height; ++y) {
        for (int x = 0; x < area.width; ++x) {
            const unsigned long pixel = XGetPixel(image, x, y);
            pixels.push_back({Channel(pixel, image->red_mask), Channel(pixel, image->green_mask),
                              Channel(pixel, image->blue_mask)});
        }
    }
    XDestroyImage(image);
    return {area, std::move(pixels)};
}

std::string XScreen::Property(Window window, const char* name)
{
    const Atom property = XInternAtom(m_display, name, False);
    Atom type = None;
    int format = 0;
    unsigned long count = 0, after = 0;
    unsigned char* data = nullptr;
    if (XGetWindowProperty(m_display, window, property, 0, 4096, False, AnyPropertyType, &type, &format, &count,
                           &after, &data) != Success ||
        data == nullptr) {
        return {};
    }
    std::string value;
    if (format == 8) {
        value.assign(reinterpret_cast<const char*>(data), count);
    } else if (format == 32 && count > 0) {
        value = std::to_string(*reinterpret_cast<const long*>(data));
    }
    XFree(data);
    return value;
}

std::vector<TopLevel> XScreen::WindowsOf(pid_t pid)
{
    std::vector<TopLevel> found;
    Window root = 0, parent = 0;
    Window* children = nullptr;
    unsigned int count = 0;
    XSync(m_display, False);
    if (XQueryTree(m_display, DefaultRootWindow(m_display), &root, &parent, &children, &count) == 0) {
        return found;
    }
    for (unsigned int i = 0; i < count; ++i) {
        XWindowAttributes attributes{};
        if (XGetWindowAttributes(m_display, children[i], &attributes) == 0 || attributes.map_state != IsViewable) {
            continue;
        }
        const std::string owner = Property(children[i], "_NET_WM_PID");
        if (pid != kAnyProcess && (owner.empty() || std::atol(owner.c_str()) != pid)) {
            continue;
        }
        found.push_back({children[i],
                         {attributes.x, attributes.y, attributes.width, attributes.height},
                         Property(children[i], "_NET_WM_NAME")});
    }
    if (children != nullptr) {
        XFree(children);
    }
    return found;
}

XWindowId XScreen::FindWindow(pid_t pid, const std::string& title)
{
    for (const TopLevel& window : WindowsOf(pid)) {
        if (window.title == title) {
            return window.id;
        }
    }
    return 0;
}

XWindowId XScreen::WaitForWindow(pid_t pid, const std::string& title, std::chrono::milliseconds bound)
{
    XWindowId found = 0;
    WaitUntil([&] { return (found = FindWindow(pid, title)) != 0; }, bound);
    return found;
}

int XScreen::ViewableTopLevelCount()
{
    Window root = 0, parent = 0;
    Window* children = nullptr;
    unsigned int count = 0;
    XSync(m_display, False);
    if (XQueryTree(m_display, DefaultRootWindow(m_display), &root, &parent, &children, &count) == 0) {
        return -1;
    }
    int viewable = 0;
    for (unsigned int i = 0; i < count; ++i) {
        XWindowAttributes attributes{};
        if (XGetWindowAttributes(m_display, children[i], &attributes) != 0 && attributes.map_state == IsViewable) {
            ++viewable;
        }
    }
    if (children != nullptr) {
        XFree(children);
    }
    return viewable;
}

Window XScreen::SelectionOwner(const char* selection)
{
    return XGetSelectionOwner(m_display, XInternAtom(m_display, selection, False));
}

Box XScreen::Geometry(XWindowId window)
{
    XWindowAttributes attributes{};
    XGetWindowAttributes(m_display, window, &attributes);
    int x = 0;
    int y = 0;
    Window child = 0;
    XTranslateCoordinates(m_display, window, DefaultRootWindow(m_display), 0, 0, &x, &y, &child);
    return {x, y, attributes.width, attributes.height};
}

void XScreen::RequestClose(XWindowId window)
{
    XEvent event{};
    event.xclient.type = ClientMessage;
    event.xclient.window = window;
    event.xclient.message_type = XInternAtom(m_display, "WM_PROTOCOLS", False);
    event.xclient.format = 32;
    event.xclient.data.l[0] = static_cast<long>(XInternAtom(m_display, "WM_DELETE_WINDOW", False));
    event.xclient.data.l[1] = CurrentTime;
    XSendEvent(m_display, window, False, NoEventMask, &event);
    XFlush(m_display);
}

bool Xdo(const std::string& command)
{
    std::vector<std::string> argv{"xdotool"};
    std::istringstream words(command);
    for (std::string word; words >> word;) {
        argv.push_back(word);
    }
    return RunAndWait(argv, {.stdoutFile = "/dev/null", .stderrFile = "/dev/null"}) == 0;
}

bool PressKey(XWindowId window, const std::string& key)
{
    const std::string id = std::to_string(window);
    return Xdo("windowfocus --sync " + id) && Xdo("key " + key);
}

}  // namespace testsupport
