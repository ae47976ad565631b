#include "updater_e2e/x11_screen.h"

#include <X11/Xatom.h>
#include <X11/Xlib.h>
#include <X11/Xutil.h>

#include <chrono>
#include <cstring>
#include <fstream>
#include <thread>

namespace {

// A window property of 8 or 32 bit items; empty when missing.
std::vector<unsigned char> Property(Display* display, Window window, const char* name, Atom type)
{
    const Atom atom = XInternAtom(display, name, False);
    Atom actualType = None;
    int format = 0;
    unsigned long items = 0;
    unsigned long after = 0;
    unsigned char* data = nullptr;
    std::vector<unsigned char> bytes;
    if (XGetWindowProperty(display, window, atom, 0, 4096, False, type, &actualType, &format, &items,
                           &after, &data) == Success &&
        data != nullptr) {
        // 32-bit items come as longs.
        const std::size_t size = format == 32 ? items * sizeof(long) : items * static_cast<unsigned long>(format) / 8;
        bytes.assign(data, data + size);
        XFree(data);
    }
    return bytes;
}

}  // namespace

Rgb Snapshot::at(int x, int y) const
{
    return m_pixels[static_cast<std::size_t>(y) * static_cast<std::size_t>(m_area.width) +
                    static_cast<std::size_t>(x)];
}

bool Snapshot::SameAs(const Snapshot& other) const
{
    if (m_area.width != other.m_area.width || m_area.height != other.m_area.height ||
        m_pixels.size() != other.m_pixels.size()) {
        return false;
    }
    for (std::size_t i = 0; i < m_pixels.size(); ++i) {
        const Rgb& a = m_pixels[i];
        const Rgb& b = other.m_pixels[i];
        if (a.r != b.r || a.g != b.g || a.b != b.b) {
            return false;
        }
    }
    return true;
}

void Snapshot::Save(const std::filesystem::path& path) const
{
    std::filesystem::create_directories(path.parent_path());
    std::ofstream out(path, std::ios::binary);
    out << "P6\n" << m_area.width << " " << m_area.height << "\n255\n";
    for (const Rgb& pixel : m_pixels) {
        out.put(static_cast<char>(pixel.r)).put(static_cast<char>(pixel.g)).put(static_cast<char>(pixel.b));
    }
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

X11Screen::X11Screen() : m_display(XOpenDisplay(nullptr))
{
    XSetErrorHandler(IgnoreXError);
}

X11Screen::~X11Screen()
{
    if (m_display != nullptr) {
        XCloseDisplay(m_display);
    }
}

unsigned long X11Screen::FindWindow(int pid, const std::string& title)
{
    Window root = DefaultRootWindow(m_display);
    Window parent = 0;
    Window* children = nullptr;
    unsigned int count = 0;
    unsigned long found = 0;
    if (XQueryTree(m_display, root, &root, &parent, &children, &count) == 0) {
        return 0;
    }
    for (unsigned int i = 0; i < count && found == 0; ++i) {
        XWindowAttributes attributes{};
        if (XGetWindowAttributes(m_display, children[i], &attributes) == 0 ||
            attributes.map_state != IsViewable) {
            continue;
        }
        const auto pidBytes = Property(m_display, children[i], "_NET_WM_PID", XA_CARDINAL);
        long windowPid = 0;
        if (pidBytes.size() >= sizeof(long)) {
            std::memcpy(&windowPid, pidBytes.data(), sizeof(long));
        }
        const auto name = Property(m_display, children[i], "_NET_WM_NAME",
                                   XInternAtom(m_display, "UTF8_STRING", False));
        if (windowPid == pid && std::string(name.begin(), name.end()) == title) {
            found = children[i];
        }
    }
    XFree(children);
    return found;
}

unsigned long X11Screen::WaitForWindow(int pid, const std::string& title, double seconds)
{
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::duration<double>(seconds);
    while (std::chrono::steady_clock::now() < deadline) {
        if (unsigned long window = FindWindow(pid, title)) {
            return window;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(50));
    }
    return 0;
}

ScreenRect X11Screen::Geometry(unsigned long window)
{
    XWindowAttributes attributes{};
    XGetWindowAttributes(m_display, window, &attributes);
    int x = 0;
    int y = 0;
    Window child = 0;
    XTranslateCoordinates(m_display, window, DefaultRootWindow(m_display), 0, 0, &x, &y, &child);
    return {x, y, attributes.width, attributes.height};
}

void X11Screen::RequestClose(unsigned long window)
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

Snapshot X11Screen::Capture(const ScreenRect& area)
{
    XImage* image = XGetImage(m_display, DefaultRootWindow(m_display), area.x, area.y,
                              static_cast<unsigned int>(area.width), static_cast<unsigned int>(area.height),
                              AllPlanes, ZPixmap);
    if (image == nullptr) {
        return {};
    }
    const auto channel = [](unsigned long pixel, unsigned long mask) {
        if (mask == 0) {
            return 0;
        }
        const unsigned long value = (pixel & mask) >> __builtin_ctzl(mask);
        const unsigned long top = mask >> __builtin_ctzl(mask);
        return static_cast<int>(value * 255 / top);
    };
    std::vector<Rgb> pixels;
    pixels.reserve(static_cast<std::size_t>(area.width) * static_cast<std::size_t>(area.height));
    for (int y = 0; y < area.height; ++y) {
        for (int x = 0; x < area.width; ++x) {
            const unsigned long pixel = XGetPixel(image, x, y);
            pixels.push_back({channel(pixel, image->red_mask), channel(pixel, image->green_mask),
                              channel(pixel, image->blue_mask)});
        }
    }
    XDestroyImage(image);
    return {area, std::move(pixels)};
}
