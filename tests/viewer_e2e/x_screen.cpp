#include "x_screen.h"

#include <X11/Xlib.h>
#include <X11/Xatom.h>
#include <X11/Xutil.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <memory>

namespace e2e {

std::string Describe(const Box& box)
{
    return std::to_string(box.width) + "x" + std::to_string(box.height) + "+" +
           std::to_string(box.left) + "+" + std::to_string(box.top);
}

std::string Describe(const Rgb& colour)
{
    return "rgb(" + std::to_string(colour.r) + "," + std::to_string(colour.g) + "," +
           std::to_string(colour.b) + ")";
}

Image::Image(int width, int height, std::vector<std::uint8_t> rgb)
    : m_width(width), m_height(height), m_rgb(std::move(rgb))
{
}

Rgb Image::At(int x, int y) const
{
    if (x < 0 || y < 0 || x >= m_width || y >= m_height) {
        return {-1, -1, -1};
    }
    const std::size_t at = (static_cast<std::size_t>(y) * static_cast<std::size_t>(m_width) +
                            static_cast<std::size_t>(x)) * 3;
    return {m_rgb[at], m_rgb[at + 1], m_rgb[at + 2]};
}

namespace {

bool Near(Rgb a, Rgb b, int tolerance)
{
    return std::abs(a.r - b.r) <= tolerance && std::abs(a.g - b.g) <= tolerance &&
           std::abs(a.b - b.b) <= tolerance;
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

bool Image::SameAs(const Image& other, const Box& area) const
{
    for (int y = area.top; y < area.top + area.height; ++y) {
        for (int x = area.left; x < area.left + area.width; ++x) {
            const Rgb a = At(x, y);
            const Rgb b = other.At(x, y);
            if (a.r != b.r || a.g != b.g || a.b != b.b) {
                return false;
            }
        }
    }
    return true;
}

void Image::SavePng(const std::string& path) const
{
    const std::string command = "convert -size " + std::to_string(m_width) + "x" +
                                std::to_string(m_height) + " -depth 8 rgb:- '" + path + "'";
    FILE* pipe = popen(command.c_str(), "w");
    if (pipe == nullptr) {
        return;
    }
    std::fwrite(m_rgb.data(), 1, m_rgb.size(), pipe);
    pclose(pipe);
}

namespace {

// Windows come and go while we look at them: one that vanished between listing
// and asking about it is skipped, not a reason to end the test process (which is
// what Xlib's own handler does).
int IgnoreXError(Display*, XErrorEvent*)
{
    return 0;
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
    const Window root = DefaultRootWindow(m_display);
    XWindowAttributes attributes{};
    XGetWindowAttributes(m_display, root, &attributes);
    XImage* image = XGetImage(m_display, root, 0, 0, static_cast<unsigned>(attributes.width),
                              static_cast<unsigned>(attributes.height), AllPlanes, ZPixmap);
    if (image == nullptr) {
        return {};
    }
    std::vector<std::uint8_t> rgb(static_cast<std::size_t>(attributes.width) *
                                  static_cast<std::size_t>(attributes.height) * 3);
    std::size_t at = 0;
    for (int y = 0; y < attributes.height; ++y) {
        for (int x = 0; x < attributes.width; ++x) {
            const unsigned long pixel = XGetPixel(image, x, y);
            rgb[at++] = static_cast<std::uint8_t>((pixel & image->red_mask) >> 16);
            rgb[at++] = static_cast<std::uint8_t>((pixel & image->green_mask) >> 8);
            rgb[at++] = static_cast<std::uint8_t>(pixel & image->blue_mask);
        }
    }
    XDestroyImage(image);
    return Image(attributes.width, attributes.height, std::move(rgb));
}

std::string XScreen::Property(Window window, const char* name)
{
    const Atom property = XInternAtom(m_display, name, False);
    Atom type = None;
    int format = 0;
    unsigned long count = 0, after = 0;
    unsigned char* data = nullptr;
    if (XGetWindowProperty(m_display, window, property, 0, 4096, False, AnyPropertyType, &type,
                           &format, &count, &after, &data) != Success || data == nullptr) {
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

long XScreen::PidOf(Window window)
{
    const std::string pid = Property(window, "_NET_WM_PID");
    return pid.empty() ? 0 : std::atol(pid.c_str());
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
        if (XGetWindowAttributes(m_display, children[i], &attributes) == 0 ||
            attributes.map_state != IsViewable || PidOf(children[i]) != pid) {
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
        if (XGetWindowAttributes(m_display, children[i], &attributes) != 0 &&
            attributes.map_state == IsViewable) {
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

bool Xdo(const std::string& arguments)
{
    const std::string command = "xdotool " + arguments + " >/dev/null 2>&1";
    return std::system(command.c_str()) == 0;
}

}  // namespace e2e
