// Desktop on X11: the window in front and its process, window and client rectangles through
// one walk to the top-level frame, screen size, synthetic mouse (XTest), pointer and cursor.
#include <X11/Xatom.h>
#include <X11/extensions/XTest.h>
#include <X11/extensions/Xfixes.h>
#include <X11/extensions/shape.h>

#include <climits>

#include "platform/desktop/x11/x11_desktop_impl.h"

namespace tavik::desktop {

void X11Desktop::resetConnectionState() {
    // The server objects went with the old connection; only client memory is left to free.
    if (shm.image) {
        shm.image->data = nullptr;
        XDestroyImage(shm.image);
        shm.image = nullptr;
    }
    if (shm.bytes) {
        shmdt(shm.info.shmaddr);
        shm.bytes = 0;
        shm.info = {};
    }
    frame = 0;
    frameMapped = false;
    root = 0;
}

Display* X11Desktop::ready() {
    Display* d = conn.get();
    if (!d) {
        if (generation != 0 && root != 0) resetConnectionState();
        return nullptr;
    }
    if (conn.generation() == generation) return d;
    resetConnectionState();
    generation = conn.generation();
    root = DefaultRootWindow(d);
    netActiveWindow = XInternAtom(d, "_NET_ACTIVE_WINDOW", False);
    netWmPid = XInternAtom(d, "_NET_WM_PID", False);
    int ev = 0, err = 0, major = 0, minor = 0;
    hasXTest = XTestQueryExtension(d, &ev, &err, &major, &minor) == True;
    hasXFixes = XFixesQueryExtension(d, &ev, &err) == True;
    hasShape = XShapeQueryExtension(d, &ev, &err) == True;
    Bool pixmaps = False;
    hasShm = XShmQueryVersion(d, &major, &minor, &pixmaps) == True;
    if (conn.lost()) return nullptr;
    return d;
}

namespace {

bool attributes(Display* d, Window w, XWindowAttributes& a) {
    x11::ErrorTrap trap(d);
    return w != 0 && XGetWindowAttributes(d, w, &a) && !trap.failed();
}

bool origin(Display* d, Window w, Window root, int& x, int& y) {
    x11::ErrorTrap trap(d);
    Window child = 0;
    return XTranslateCoordinates(d, w, root, 0, 0, &x, &y, &child) && !trap.failed();
}

// The ancestor of `w` whose parent is the root (w itself when it is top-level); 0 when `w` names
// no window. The depth is bounded so a broken server cannot keep us walking.
Window walkToFrame(Display* d, Window w) {
    if (w == 0) return 0;
    x11::ErrorTrap trap(d);
    for (int depth = 0; depth < 64; ++depth) {
        Window rootRet = 0, parent = 0, *children = nullptr;
        unsigned n = 0;
        const Status ok = XQueryTree(d, w, &rootRet, &parent, &children, &n);
        if (children) XFree(children);
        if (!ok || trap.failed()) return 0;
        if (parent == 0 || parent == rootRet) return w;
        w = parent;
    }
    return 0;
}

bool fitsWindowId(WindowId w) { return w != 0 && w <= 0x1FFFFFFFu; }  // X ids have 29 bits

}  // namespace

X11Desktop::~X11Desktop() {
    held([this](Display* d) {
        if (d) {
            destroyFrame(d);
            releaseShm(d);
        }
        resetConnectionState();
    });
}

bool X11Desktop::connected() {
    return call(false, [](Display*) { return true; });
}

std::optional<WindowId> X11Desktop::activeWindow() {
    return query<WindowId>([this](Display* d, x11::ErrorTrap&) -> std::optional<WindowId> {
        unsigned long w = 0;
        if (!x11::readLongProperty(d, root, netActiveWindow, XA_WINDOW, w) || w == 0)
            return std::nullopt;
        return WindowId{w};
    });
}

std::optional<int32_t> X11Desktop::windowProcess(WindowId window) {
    if (!fitsWindowId(window)) return std::nullopt;
    return query<int32_t>([&](Display* d, x11::ErrorTrap&) -> std::optional<int32_t> {
        unsigned long pid = 0;
        if (!x11::readLongProperty(d, static_cast<Window>(window), netWmPid, XA_CARDINAL, pid))
            return std::nullopt;
        if (pid == 0 || pid > INT32_MAX) return std::nullopt;
        return static_cast<int32_t>(pid);
    });
}

bool X11Desktop::windowExists(WindowId window) {
    if (!fitsWindowId(window)) return false;
    return call(false, [&](Display* d) {
        XWindowAttributes a{};
        return attributes(d, static_cast<Window>(window), a);
    });
}

std::optional<WindowId> X11Desktop::topLevelFrame(WindowId window) {
    if (!fitsWindowId(window)) return std::nullopt;
    return call(std::optional<WindowId>{}, [&](Display* d) -> std::optional<WindowId> {
        const Window top = walkToFrame(d, static_cast<Window>(window));
        if (!top) return std::nullopt;
        return WindowId{top};
    });
}

std::optional<Rect> X11Desktop::windowRect(WindowId window) {
    if (!fitsWindowId(window)) return std::nullopt;
    return call(std::optional<Rect>{}, [&](Display* d) -> std::optional<Rect> {
        const Window top = walkToFrame(d, static_cast<Window>(window));
        XWindowAttributes a{};
        int x = 0, y = 0;
        if (!top || !attributes(d, top, a) || !origin(d, top, root, x, y)) return std::nullopt;
        return Rect{x - a.border_width, y - a.border_width, a.width + 2 * a.border_width,
                    a.height + 2 * a.border_width};
    });
}

std::optional<Rect> X11Desktop::clientRect(WindowId window) {
    if (!fitsWindowId(window)) return std::nullopt;
    return call(std::optional<Rect>{}, [&](Display* d) -> std::optional<Rect> {
        XWindowAttributes a{};
        int x = 0, y = 0;
        const auto w = static_cast<Window>(window);
        if (!attributes(d, w, a) || !origin(d, w, root, x, y)) return std::nullopt;
        return Rect{x, y, a.width, a.height};
    });
}

std::optional<Size> X11Desktop::screenSize() {
    return query<Size>([this](Display* d, x11::ErrorTrap&) -> std::optional<Size> {
        Window rootRet = 0;
        int x = 0, y = 0;
        unsigned w = 0, h = 0, border = 0, depth = 0;
        if (!XGetGeometry(d, root, &rootRet, &x, &y, &w, &h, &border, &depth)) return std::nullopt;
        return Size{static_cast<int32_t>(w), static_cast<int32_t>(h)};
    });
}

DesktopStatus X11Desktop::capture(Rect area, std::span<uint32_t> pixels, size_t stride) {
    return act([&](Display* d) { return captureLocked(d, area, pixels, stride); });
}

DesktopStatus X11Desktop::captureView(Rect area, const std::function<void(const CapturedView&)>& use) {
    return act([&](Display* d) { return captureViewLocked(d, area, use); });
}

DesktopStatus X11Desktop::showFrame(Rect outer, int32_t thickness) {
    return act([&](Display* d) { return showFrameLocked(d, outer, thickness); });
}

void X11Desktop::hideFrame() {
    held([this](Display* d) {
        if (!d || !frame || !frameMapped) return;
        x11::ErrorTrap trap(d);
        XUnmapWindow(d, frame);
        trap.sync();
        frameMapped = false;
    });
}

WindowId X11Desktop::frameWindow() {
    return held([this](Display* d) { return d ? frame : WindowId{0}; });
}

DesktopStatus X11Desktop::movePointer(Point to) {
    return act([&](Display* d) {
        if (!hasXTest) return DesktopStatus::Failed;
        x11::ErrorTrap trap(d);
        const bool sent = XTestFakeMotionEvent(d, DefaultScreen(d), to.x, to.y, CurrentTime) != 0;
        return trap.sync() && sent ? DesktopStatus::Ok : DesktopStatus::Failed;
    });
}

DesktopStatus X11Desktop::pressButton(int button, bool down) {
    if (button < 1 || button > 5) return DesktopStatus::Failed;
    return act([&](Display* d) {
        if (!hasXTest) return DesktopStatus::Failed;
        x11::ErrorTrap trap(d);
        const bool sent = XTestFakeButtonEvent(d, static_cast<unsigned>(button), down ? True : False, CurrentTime) != 0;
        return trap.sync() && sent ? DesktopStatus::Ok : DesktopStatus::Failed;
    });
}

std::optional<Point> X11Desktop::pointer() {
    return query<Point>([this](Display* d, x11::ErrorTrap&) -> std::optional<Point> {
        Window rootRet = 0, child = 0;
        int rx = 0, ry = 0, wx = 0, wy = 0;
        unsigned mask = 0;
        if (!XQueryPointer(d, root, &rootRet, &child, &rx, &ry, &wx, &wy, &mask)) return std::nullopt;
        return Point{rx, ry};
    });
}

std::optional<CursorImage> X11Desktop::cursorImage() {
    return call(std::optional<CursorImage>{}, [this](Display* d) -> std::optional<CursorImage> {
        if (!hasXFixes) return std::nullopt;
        x11::ErrorTrap trap(d);
        XFixesCursorImage* img = XFixesGetCursorImage(d);
        if (!img || trap.failed()) {
            if (img) XFree(img);
            return std::nullopt;
        }
        CursorImage out;
        out.width = img->width;
        out.height = img->height;
        out.hotSpot = {img->xhot, img->yhot};
        out.serial = img->cursor_serial;
        const size_t n = size_t(img->width) * size_t(img->height);
        out.pixels.resize(n);
        // Xlib hands the 32-bit pixels out in unsigned longs.
        for (size_t i = 0; i < n; ++i) out.pixels[i] = static_cast<uint32_t>(img->pixels[i]);
        XFree(img);
        return out;
    });
}

std::unique_ptr<backend::DesktopBackend> backend::makeX11Desktop() { return std::make_unique<X11Desktop>(); }

}  // namespace tavik::desktop
