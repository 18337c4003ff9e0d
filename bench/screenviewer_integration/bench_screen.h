// The screen of the screen viewer's integration benchmarks: a private 1024 x 768 Xvfb, set as
// $DISPLAY, whose root shows rows of short dark strokes on a light ground (text-like pixels).
#pragma once

#include <cstdlib>

#include "tests/support/x_helpers.h"
#include "tests/support/xvfb.h"

namespace lumo_bench {

constexpr int kW = 1024, kH = 768;

struct Screen {
    tavik::test::Xvfb xvfb{"1024x768x24"};
    Display* dpy = nullptr;
    Screen() {
        if (xvfb.display().empty()) return;
        ::setenv("DISPLAY", xvfb.display().c_str(), 1);
        dpy = XOpenDisplay(xvfb.display().c_str());
        if (!dpy) return;
        const Window root = DefaultRootWindow(dpy);
        tavik::test::fill(dpy, root, 0, 0, kW, kH, 0xF0F0F0);
        for (int y = 4; y < kH; y += 13)
            for (int x = 3; x < kW; x += 7) tavik::test::fill(dpy, root, x, y, 3 + (x * y) % 3, 8, 0x101010);
        XSync(dpy, False);
    }
    ~Screen() {
        if (dpy) XCloseDisplay(dpy);
    }
    Screen(const Screen&) = delete;
    Screen& operator=(const Screen&) = delete;
};

}  // namespace lumo_bench
