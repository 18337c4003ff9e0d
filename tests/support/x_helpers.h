// Drawing helpers of the tests on the test's own X connection: windows of known
// geometry and colours, properties.
#pragma once

#include <X11/Xatom.h>
#include <X11/Xlib.h>

namespace tavik::test {

// A mapped override-redirect window filled with `rgb`.
inline Window makeWindow(Display* d, Window parent, int x, int y, int w, int h, unsigned long rgb, int border = 0,
                         long events = 0) {
    XSetWindowAttributes a{};
    a.override_redirect = True;
    a.background_pixel = rgb;
    a.border_pixel = 0x808080;
    a.event_mask = events | ExposureMask;
    const Window win =
        XCreateWindow(d, parent, x, y, static_cast<unsigned>(w), static_cast<unsigned>(h), static_cast<unsigned>(border),
                      CopyFromParent, InputOutput, CopyFromParent,
                      CWOverrideRedirect | CWBackPixel | CWBorderPixel | CWEventMask, &a);
    XMapRaised(d, win);
    XSync(d, False);
    return win;
}

inline void fill(Display* d, Window w, int x, int y, int width, int height, unsigned long rgb) {
    GC gc = XCreateGC(d, w, 0, nullptr);
    XSetForeground(d, gc, rgb);
    XFillRectangle(d, w, gc, x, y, static_cast<unsigned>(width), static_cast<unsigned>(height));
    XFreeGC(d, gc);
    XSync(d, False);
}

inline void setCardinal(Display* d, Window w, const char* name, Atom type, unsigned long value) {
    const Atom a = XInternAtom(d, name, False);
    XChangeProperty(d, w, a, type, 32, PropModeReplace, reinterpret_cast<unsigned char*>(&value), 1);
    XSync(d, False);
}

inline void setActive(Display* d, Window w) { setCardinal(d, DefaultRootWindow(d), "_NET_ACTIVE_WINDOW", XA_WINDOW, w); }
inline void setPid(Display* d, Window w, unsigned long pid) { setCardinal(d, w, "_NET_WM_PID", XA_CARDINAL, pid); }

}  // namespace tavik::test
