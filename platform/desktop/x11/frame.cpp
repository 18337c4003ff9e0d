// The view frame on X11: an override-redirect window shaped to a ring (XShape), red, raised
// above the others, with an empty input shape so the pointer goes through it.
#include <X11/extensions/shape.h>

#include <array>

#include "platform/desktop/x11/x11_desktop_impl.h"

namespace tavik::desktop {

namespace {

unsigned long redPixel(Display* d) {
    const int s = DefaultScreen(d);
    XColor c{};
    c.red = 0xFFFF;
    c.flags = DoRed | DoGreen | DoBlue;
    if (XAllocColor(d, DefaultColormap(d, s), &c)) return c.pixel;
    return WhitePixel(d, s);
}

void setRing(Display* d, Window w, int32_t width, int32_t height, int32_t t) {
    const auto uw = static_cast<unsigned short>(width), uh = static_cast<unsigned short>(height);
    const auto ut = static_cast<unsigned short>(t);
    std::array<XRectangle, 4> ring{{
        {0, 0, uw, ut},
        {0, static_cast<short>(height - t), uw, ut},
        {0, static_cast<short>(t), ut, static_cast<unsigned short>(uh - 2 * ut)},
        {static_cast<short>(width - t), static_cast<short>(t), ut, static_cast<unsigned short>(uh - 2 * ut)},
    }};
    XShapeCombineRectangles(d, w, ShapeBounding, 0, 0, ring.data(), static_cast<int>(ring.size()), ShapeSet,
                            Unsorted);
}

}  // namespace

void X11Desktop::destroyFrame(Display* d) {
    if (!frame) return;
    x11::ErrorTrap trap(d);
    XDestroyWindow(d, frame);
    trap.sync();
    frame = 0;
    frameMapped = false;
}

DesktopStatus X11Desktop::showFrameLocked(Display* d, Rect outer, int32_t t) {
    // X rectangles are 16-bit; a frame stays within that.
    if (t < 1 || outer.width <= 2 * t || outer.height <= 2 * t || outer.width > 32767 || outer.height > 32767 ||
        outer.left < -32768 || outer.left > 32767 || outer.top < -32768 || outer.top > 32767)
        return DesktopStatus::Failed;
    if (!hasShape) return DesktopStatus::Failed;
    x11::ErrorTrap trap(d);
    if (!frame) {
        XSetWindowAttributes a{};
        a.override_redirect = True;
        a.background_pixel = redPixel(d);
        a.border_pixel = 0;
        a.save_under = True;
        frame = XCreateWindow(d, root, outer.left, outer.top, static_cast<unsigned>(outer.width),
                              static_cast<unsigned>(outer.height), 0, CopyFromParent, InputOutput, CopyFromParent,
                              CWOverrideRedirect | CWBackPixel | CWBorderPixel | CWSaveUnder, &a);
        XStoreName(d, frame, "view frame");
        // No input region: clicks and the pointer go to the windows beneath.
        XShapeCombineRectangles(d, frame, ShapeInput, 0, 0, nullptr, 0, ShapeSet, Unsorted);
        setRing(d, frame, outer.width, outer.height, t);
        frameRect = outer;
        frameThickness = t;
        frameMapped = false;
    } else if (outer.width != frameRect.width || outer.height != frameRect.height || t != frameThickness) {
        // Shape first, then move: the window never shows a filled rectangle.
        setRing(d, frame, outer.width, outer.height, t);
        XMoveResizeWindow(d, frame, outer.left, outer.top, static_cast<unsigned>(outer.width),
                          static_cast<unsigned>(outer.height));
    } else if (outer.left != frameRect.left || outer.top != frameRect.top) {
        XMoveWindow(d, frame, outer.left, outer.top);
    }
    frameRect = outer;
    frameThickness = t;
    if (!frameMapped) {
        XMapRaised(d, frame);
        frameMapped = true;
    } else {
        XRaiseWindow(d, frame);
    }
    if (!trap.sync()) {
        destroyFrame(d);
        return DesktopStatus::Failed;
    }
    return DesktopStatus::Ok;
}

}  // namespace tavik::desktop
