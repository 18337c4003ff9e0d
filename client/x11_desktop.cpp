// The desktop on X11: screen and pointer through Xlib, window rectangles
// through the window tree, synthetic pointer input through XTest. One display
// connection per process, used under one lock.
#include "client/desktop.h"

#include <X11/Xlib.h>
#include <X11/extensions/XTest.h>

#include <memory>
#include <mutex>

namespace tavik::client {
namespace {

// Xlib's default error handler ends the process; a bad window id from the
// application must only make the call fail.
thread_local bool xErrorSeen = false;
int ignoreXError(Display*, XErrorEvent*) {
    xErrorSeen = true;
    return 0;
}

// Installs the ignoring handler for the duration of one call and puts the
// application's own handler back afterwards.
class ErrorTrap {
public:
    ErrorTrap() : previous_(XSetErrorHandler(ignoreXError)) { xErrorSeen = false; }
    ~ErrorTrap() { XSetErrorHandler(previous_); }
    ErrorTrap(const ErrorTrap&) = delete;
    ErrorTrap& operator=(const ErrorTrap&) = delete;

private:
    XErrorHandler previous_;
};

class X11Desktop final : public Desktop {
public:
    explicit X11Desktop(Display* d) : dpy_(d) {}
    ~X11Desktop() override { XCloseDisplay(dpy_); }

    std::optional<ScreenRect> screen() override {
        std::lock_guard lock(m_);
        const int s = DefaultScreen(dpy_);
        return ScreenRect{0, 0, DisplayWidth(dpy_, s), DisplayHeight(dpy_, s)};
    }

    std::optional<ScreenPoint> pointer() override {
        std::lock_guard lock(m_);
        Window root = 0, child = 0;
        int rx = 0, ry = 0, wx = 0, wy = 0;
        unsigned mask = 0;
        if (!XQueryPointer(dpy_, DefaultRootWindow(dpy_), &root, &child, &rx, &ry, &wx, &wy, &mask))
            return std::nullopt;
        return ScreenPoint{rx, ry};
    }

    std::optional<ScreenRect> clientRect(unsigned long window) override {
        std::lock_guard lock(m_);
        ErrorTrap trap;
        XWindowAttributes a{};
        int x = 0, y = 0;
        if (!attributes(window, a) || !origin(window, x, y)) return std::nullopt;
        return ScreenRect{x, y, a.width, a.height};
    }

    std::optional<ScreenRect> windowRect(unsigned long window) override {
        std::lock_guard lock(m_);
        ErrorTrap trap;
        // The outer rectangle is that of the top-level ancestor (the window
        // manager's frame when there is one), borders included.
        Window top = window;
        for (;;) {
            Window root = 0, parent = 0, *children = nullptr;
            unsigned n = 0;
            xErrorSeen = false;
            const Status ok = XQueryTree(dpy_, top, &root, &parent, &children, &n);
            if (children) XFree(children);
            if (!ok || xErrorSeen) return std::nullopt;
            if (parent == root || parent == 0) break;
            top = parent;
        }
        XWindowAttributes a{};
        int x = 0, y = 0;
        if (!attributes(top, a) || !origin(top, x, y)) return std::nullopt;
        return ScreenRect{x - a.border_width, y - a.border_width, a.width + 2 * a.border_width,
                          a.height + 2 * a.border_width};
    }

    bool send(uint32_t flags, AbsolutePoint at) override {
        std::lock_guard lock(m_);
        const int s = DefaultScreen(dpy_);
        const int px = absoluteToPixel(at.x, DisplayWidth(dpy_, s));
        const int py = absoluteToPixel(at.y, DisplayHeight(dpy_, s));
        bool ok = XTestFakeMotionEvent(dpy_, s, px, py, CurrentTime) != 0;
        // Presses before releases, left before right, as one event reads.
        if (flags & kMouseLeftDown) ok = XTestFakeButtonEvent(dpy_, 1, True, CurrentTime) && ok;
        if (flags & kMouseRightDown) ok = XTestFakeButtonEvent(dpy_, 3, True, CurrentTime) && ok;
        if (flags & kMouseLeftUp) ok = XTestFakeButtonEvent(dpy_, 1, False, CurrentTime) && ok;
        if (flags & kMouseRightUp) ok = XTestFakeButtonEvent(dpy_, 3, False, CurrentTime) && ok;
        XSync(dpy_, False);
        return ok;
    }

private:
    bool attributes(Window w, XWindowAttributes& a) {
        if (w == 0) return false;
        xErrorSeen = false;
        const Status ok = XGetWindowAttributes(dpy_, w, &a);
        return ok && !xErrorSeen;
    }
    bool origin(Window w, int& x, int& y) {
        Window child = 0;
        xErrorSeen = false;
        const Bool ok = XTranslateCoordinates(dpy_, w, DefaultRootWindow(dpy_), 0, 0, &x, &y, &child);
        return ok && !xErrorSeen;
    }

    Display* dpy_;
    std::mutex m_;
};

}  // namespace

Desktop* x11Desktop() {
    static std::unique_ptr<X11Desktop> desktop = []() -> std::unique_ptr<X11Desktop> {
        Display* d = XOpenDisplay(nullptr);
        if (!d) return nullptr;
        int ev = 0, err = 0, major = 0, minor = 0;
        if (!XTestQueryExtension(d, &ev, &err, &major, &minor)) {
            XCloseDisplay(d);
            return nullptr;
        }
        return std::make_unique<X11Desktop>(d);
    }();
    return desktop.get();
}

}  // namespace tavik::client
