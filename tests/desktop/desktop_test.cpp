// The desktop layer against a private Xvfb: windows of known geometry and properties, capture of
// pixels drawn in known colours (a wrong offset or channel order fails), the view frame's ring
// shape and its input transparency, synthetic mouse, pointer and cursor, and the answers without
// a display.
#include <gtest/gtest.h>
// Xlib after gtest: its macros (None, Bool) clash with gtest's names.
#include <X11/extensions/shape.h>
#include <stdlib.h>

#include <atomic>
#include <memory>
#include <thread>
#include <vector>

#include "platform/desktop/desktop.h"
#include "tests/support/x_helpers.h"
#include "tests/support/wait.h"
#include "tests/support/xvfb.h"

using namespace tavik::test;
namespace dt = tavik::desktop;

namespace {

class DesktopLayer : public ::testing::Test {
protected:
    static void SetUpTestSuite() {
        xvfb_ = std::make_unique<Xvfb>();
        if (xvfb_->display().empty()) return;
        setenv("DISPLAY", xvfb_->display().c_str(), 1);
        d_ = XOpenDisplay(xvfb_->display().c_str());
    }
    static void TearDownTestSuite() {
        if (d_) XCloseDisplay(d_);
        d_ = nullptr;
        xvfb_.reset();
    }
    void SetUp() override {
        if (!dt::desktopBuiltWithX11()) GTEST_SKIP() << "built without X11";
        if (!d_) GTEST_SKIP() << "no Xvfb";
        root_ = DefaultRootWindow(d_);
    }
    void TearDown() override {
        for (Window w : made_) XDestroyWindow(d_, w);
        if (d_) XSync(d_, False);
    }
    Window make(Window parent, int x, int y, int w, int h, unsigned long rgb, int border = 0, long events = 0) {
        made_.push_back(makeWindow(d_, parent, x, y, w, h, rgb, border, events));
        return made_.back();
    }

    static inline std::unique_ptr<Xvfb> xvfb_;
    static inline Display* d_ = nullptr;
    Window root_ = 0;
    std::vector<Window> made_;
};

bool inside(const std::vector<XRectangle>& rects, int x, int y) {
    for (const XRectangle& r : rects)
        if (x >= r.x && y >= r.y && x < r.x + r.width && y < r.y + r.height) return true;
    return false;
}

std::vector<XRectangle> shapeOf(Display* d, Window w, int kind) {
    int count = 0, ordering = 0;
    XRectangle* r = XShapeGetRectangles(d, w, kind, &count, &ordering);
    std::vector<XRectangle> out(r, r + count);
    if (r) XFree(r);
    return out;
}

}  // namespace

TEST_F(DesktopLayer, WindowsRectanglesAndProperties) {
    dt::Desktop desk;
    // A top-level "frame" with a 3-pixel border holding the client window.
    const Window frame = make(root_, 100, 50, 300, 200, 0x404040, 3);
    const Window client = make(frame, 10, 20, 200, 100, 0x123456);

    EXPECT_EQ(desk.topLevelFrame(client), dt::WindowId{frame});
    EXPECT_EQ(desk.topLevelFrame(frame), dt::WindowId{frame});
    EXPECT_EQ(desk.windowRect(client), (dt::Rect{100, 50, 306, 206}));
    EXPECT_EQ(desk.clientRect(client), (dt::Rect{113, 73, 200, 100}));
    EXPECT_EQ(desk.clientRect(frame), (dt::Rect{103, 53, 300, 200}));
    EXPECT_EQ(desk.screenSize(), (dt::Size{1024, 768}));

    EXPECT_TRUE(desk.windowExists(client));
    EXPECT_FALSE(desk.windowExists(0x7FFFFFF));
    EXPECT_FALSE(desk.windowExists(0));
    EXPECT_FALSE(desk.windowExists(uint64_t{1} << 40));  // not an X id at all
    EXPECT_EQ(desk.windowRect(0x7FFFFFF), std::nullopt);
    EXPECT_EQ(desk.clientRect(0x7FFFFFF), std::nullopt);
    EXPECT_EQ(desk.topLevelFrame(0x7FFFFFF), std::nullopt);

    EXPECT_EQ(desk.activeWindow(), std::nullopt);
    setActive(d_, client);
    EXPECT_EQ(desk.activeWindow(), dt::WindowId{client});
    EXPECT_EQ(desk.windowProcess(client), std::nullopt);
    setPid(d_, client, 4242);
    EXPECT_EQ(desk.windowProcess(client), 4242);
    setPid(d_, client, 0x80000000ul);  // beyond a process id
    EXPECT_EQ(desk.windowProcess(client), std::nullopt);

    // A window that vanishes: every query fails, none ends the process.
    XDestroyWindow(d_, client);
    XSync(d_, False);
    made_.pop_back();
    EXPECT_FALSE(desk.windowExists(client));
    EXPECT_EQ(desk.windowRect(client), std::nullopt);
    EXPECT_EQ(desk.windowProcess(client), std::nullopt);
    setActive(d_, 0);
}

TEST_F(DesktopLayer, CaptureReturnsTheDrawnPixelsAtTheirPlace) {
    dt::Desktop desk;
    const Window w = make(root_, 30, 40, 64, 32, 0x123456);
    fill(d_, w, 5, 7, 1, 1, 0xABCDEF);
    fill(d_, w, 32, 0, 32, 32, 0x0000FF);

    // Stride wider than the area: the gap is left alone.
    const size_t stride = 70;
    std::vector<uint32_t> px(stride * 32, 0xDEADBEEF);
    ASSERT_EQ(desk.capture({30, 40, 64, 32}, px, stride), dt::DesktopStatus::Ok);
    EXPECT_EQ(px[0], 0x123456u);
    EXPECT_EQ(px[7 * stride + 5], 0xABCDEFu);
    EXPECT_EQ(px[7 * stride + 4], 0x123456u);
    EXPECT_EQ(px[8 * stride + 5], 0x123456u);
    EXPECT_EQ(px[31 * stride + 63], 0x0000FFu);
    EXPECT_EQ(px[31 * stride + 31], 0x123456u);
    EXPECT_EQ(px[64], 0xDEADBEEFu);

    // A second capture of another size reuses or regrows the segment.
    std::vector<uint32_t> one(1);
    ASSERT_EQ(desk.capture({35, 47, 1, 1}, one, 1), dt::DesktopStatus::Ok);
    EXPECT_EQ(one[0], 0xABCDEFu);

    // Partly off the screen: those pixels are black.
    const Window corner = make(root_, 0, 0, 8, 8, 0x00FF00);
    std::vector<uint32_t> off(16 * 16, 0xDEADBEEF);
    ASSERT_EQ(desk.capture({-8, -8, 16, 16}, off, 16), dt::DesktopStatus::Ok);
    EXPECT_EQ(off[0], 0u);
    EXPECT_EQ(off[7 * 16 + 15], 0u);
    EXPECT_EQ(off[8 * 16 + 8], 0x00FF00u);
    EXPECT_EQ(off[15 * 16 + 15], 0x00FF00u);
    std::vector<uint32_t> far(4, 0xDEADBEEF);
    ASSERT_EQ(desk.capture({5000, 5000, 2, 2}, far, 2), dt::DesktopStatus::Ok);
    EXPECT_EQ(far, std::vector<uint32_t>(4, 0u));
    (void)corner;

    // Buffers that cannot hold the area are refused before anything is written.
    std::vector<uint32_t> small(64 * 32 - 1);
    EXPECT_EQ(desk.capture({30, 40, 64, 32}, small, 64), dt::DesktopStatus::Failed);
    EXPECT_EQ(desk.capture({30, 40, 64, 32}, px, 63), dt::DesktopStatus::Failed);
    EXPECT_EQ(desk.capture({0, 0, INT32_MAX, 2}, px, size_t(INT32_MAX)), dt::DesktopStatus::Failed);
    EXPECT_EQ(desk.capture({0, 0, -1, 2}, px, stride), dt::DesktopStatus::Failed);
}

TEST_F(DesktopLayer, FrameIsARedRingThatTakesNoInput) {
    dt::Desktop desk;
    const Window under = make(root_, 150, 100, 300, 250, 0x00FF00, 0, ButtonPressMask | ButtonReleaseMask);
    ASSERT_EQ(desk.showFrame({200, 150, 100, 80}, 2), dt::DesktopStatus::Ok);
    const dt::WindowId frame = desk.frameWindow();
    ASSERT_NE(frame, 0u);

    XWindowAttributes a{};
    ASSERT_TRUE(XGetWindowAttributes(d_, frame, &a));
    EXPECT_TRUE(a.override_redirect);
    EXPECT_EQ(a.map_state, IsViewable);
    EXPECT_EQ(desk.windowRect(frame), (dt::Rect{200, 150, 100, 80}));

    auto ring = shapeOf(d_, frame, ShapeBounding);
    for (auto [x, y] : {std::pair{0, 0}, {1, 1}, {99, 79}, {98, 40}, {50, 78}, {0, 40}})
        EXPECT_TRUE(inside(ring, x, y)) << x << "," << y;
    for (auto [x, y] : {std::pair{2, 2}, {50, 40}, {97, 77}, {97, 40}, {50, 77}})
        EXPECT_FALSE(inside(ring, x, y)) << x << "," << y;
    EXPECT_TRUE(shapeOf(d_, frame, ShapeInput).empty());

    // On the screen: red on the ring, the window beneath through the hole.
    std::vector<uint32_t> px(100 * 80);
    ASSERT_EQ(desk.capture({200, 150, 100, 80}, px, 100), dt::DesktopStatus::Ok);
    EXPECT_EQ(px[0], 0xFF0000u);
    EXPECT_EQ(px[1 * 100 + 1], 0xFF0000u);
    EXPECT_EQ(px[79 * 100 + 99], 0xFF0000u);
    EXPECT_EQ(px[2 * 100 + 2], 0x00FF00u);
    EXPECT_EQ(px[40 * 100 + 50], 0x00FF00u);

    // A click on the ring reaches the window beneath.
    ASSERT_EQ(desk.movePointer({201, 151}), dt::DesktopStatus::Ok);
    EXPECT_EQ(desk.pointer(), (dt::Point{201, 151}));
    ASSERT_EQ(desk.pressButton(1, true), dt::DesktopStatus::Ok);
    ASSERT_EQ(desk.pressButton(1, false), dt::DesktopStatus::Ok);
    XEvent ev{};
    ASSERT_TRUE(waitUntil([&] { return XCheckTypedWindowEvent(d_, under, ButtonPress, &ev); }));
    EXPECT_EQ(ev.xbutton.button, 1u);
    EXPECT_EQ(ev.xbutton.x, 51);
    EXPECT_EQ(ev.xbutton.y, 51);
    EXPECT_EQ(desk.pressButton(9, true), dt::DesktopStatus::Failed);

    // Moved and resized: the ring follows; a ring too thick for its size is refused.
    ASSERT_EQ(desk.showFrame({300, 200, 60, 40}, 3), dt::DesktopStatus::Ok);
    EXPECT_EQ(desk.frameWindow(), frame);
    EXPECT_EQ(desk.windowRect(frame), (dt::Rect{300, 200, 60, 40}));
    ring = shapeOf(d_, frame, ShapeBounding);
    EXPECT_TRUE(inside(ring, 59, 39));
    EXPECT_TRUE(inside(ring, 57, 20));
    EXPECT_FALSE(inside(ring, 56, 20));
    EXPECT_FALSE(inside(ring, 60, 39));
    EXPECT_EQ(desk.showFrame({300, 200, 6, 40}, 3), dt::DesktopStatus::Failed);

    desk.hideFrame();
    ASSERT_TRUE(XGetWindowAttributes(d_, frame, &a));
    EXPECT_EQ(a.map_state, IsUnmapped);
    ASSERT_EQ(desk.capture({300, 200, 60, 40}, px, 60), dt::DesktopStatus::Ok);
    EXPECT_EQ(px[0], 0x00FF00u);
    ASSERT_EQ(desk.showFrame({300, 200, 60, 40}, 3), dt::DesktopStatus::Ok);
    ASSERT_TRUE(XGetWindowAttributes(d_, frame, &a));
    EXPECT_EQ(a.map_state, IsViewable);
}

TEST_F(DesktopLayer, CursorImageIsTheShapeUnderThePointer) {
    dt::Desktop desk;
    // A 16 x 8 cursor: the left half drawn in the foreground colour, the right half transparent,
    // hot spot (3, 5).
    const Window w = make(root_, 500, 400, 100, 100, 0x000000);
    const Pixmap source = XCreatePixmap(d_, w, 16, 8, 1), mask = XCreatePixmap(d_, w, 16, 8, 1);
    GC gc = XCreateGC(d_, source, 0, nullptr);
    XSetForeground(d_, gc, 1);
    XFillRectangle(d_, source, gc, 0, 0, 16, 8);
    XSetForeground(d_, gc, 0);
    XFillRectangle(d_, mask, gc, 0, 0, 16, 8);
    XSetForeground(d_, gc, 1);
    XFillRectangle(d_, mask, gc, 0, 0, 8, 8);
    XFreeGC(d_, gc);
    XColor fg{}, bg{};
    fg.red = 0xFFFF;
    fg.flags = bg.flags = DoRed | DoGreen | DoBlue;
    const Cursor c = XCreatePixmapCursor(d_, source, mask, &fg, &bg, 3, 5);
    XDefineCursor(d_, w, c);
    XSync(d_, False);
    ASSERT_EQ(desk.movePointer({550, 450}), dt::DesktopStatus::Ok);

    std::optional<dt::CursorImage> img;
    ASSERT_TRUE(waitUntil([&] { return (img = desk.cursorImage()) && img->width == 16; }));
    EXPECT_EQ(img->height, 8);
    EXPECT_EQ(img->hotSpot, (dt::Point{3, 5}));
    ASSERT_EQ(img->pixels.size(), 16u * 8u);
    EXPECT_EQ(img->pixels[0], 0xFFFF0000u);          // opaque red
    EXPECT_EQ(img->pixels[7 * 16 + 7], 0xFFFF0000u);  // last of the drawn half
    EXPECT_EQ(img->pixels[7 * 16 + 8] >> 24, 0u);     // transparent
    const uint64_t serial = img->serial;

    ASSERT_EQ(desk.movePointer({10, 10}), dt::DesktopStatus::Ok);  // back over the root's cursor
    ASSERT_TRUE(waitUntil([&] { return (img = desk.cursorImage()) && img->serial != serial; }));
    XFreeCursor(d_, c);
    XFreePixmap(d_, source);
    XFreePixmap(d_, mask);
}

TEST_F(DesktopLayer, OneDesktopServesSeveralThreads) {
    dt::Desktop desk;
    const Window w = make(root_, 40, 40, 32, 16, 0x00A0B0);
    std::atomic<int> wrong{0};
    auto capturer = [&] {
        std::vector<uint32_t> px(32 * 16);
        for (int i = 0; i < 200; ++i)
            if (desk.capture({40, 40, 32, 16}, px, 32) != dt::DesktopStatus::Ok || px[3 * 32 + 17] != 0x00A0B0u)
                ++wrong;
    };
    auto asker = [&] {
        for (int i = 0; i < 200; ++i) {
            if (desk.clientRect(w) != dt::Rect{40, 40, 32, 16}) ++wrong;
            if (desk.showFrame({300 + i % 7, 300, 40, 40}) != dt::DesktopStatus::Ok) ++wrong;
        }
    };
    {
        std::jthread a(capturer), b(asker), c(capturer);
    }
    EXPECT_EQ(wrong.load(), 0);
}

namespace {
int gProgramErrors = 0;
int countErrors(Display*, XErrorEvent*) {
    ++gProgramErrors;
    return 0;
}
}  // namespace

TEST_F(DesktopLayer, ErrorsOfTheLayerNeverReachTheProgramsHandler) {
    XErrorHandler before = XSetErrorHandler(countErrors);
    gProgramErrors = 0;
    {
        dt::Desktop desk;
        ASSERT_TRUE(desk.connected());  // the layer installs its handler in front of ours
        EXPECT_EQ(desk.windowRect(0x7FFFFFF), std::nullopt);
        EXPECT_EQ(gProgramErrors, 0);
        // An error on the program's own connection still reaches the program's handler.
        XUnmapWindow(d_, 0x7FFFFFF);
        XSync(d_, False);
        EXPECT_EQ(gProgramErrors, 1);
    }
    XSetErrorHandler(before);
}

TEST(DesktopWithoutDisplay, EveryCallAnswersNoDisplay) {
    const char* saved = getenv("DISPLAY");
    const std::string keep = saved ? saved : "";
    setenv("DISPLAY", "", 1);
    dt::Desktop desk;
    EXPECT_FALSE(desk.connected());
    EXPECT_EQ(desk.activeWindow(), std::nullopt);
    EXPECT_EQ(desk.screenSize(), std::nullopt);
    EXPECT_EQ(desk.windowRect(1), std::nullopt);
    std::vector<uint32_t> px(4);
    EXPECT_EQ(desk.capture({0, 0, 2, 2}, px, 2), dt::DesktopStatus::NoDisplay);
    EXPECT_EQ(desk.showFrame({0, 0, 20, 20}), dt::DesktopStatus::NoDisplay);
    EXPECT_EQ(desk.movePointer({1, 1}), dt::DesktopStatus::NoDisplay);
    EXPECT_EQ(desk.pointer(), std::nullopt);
    EXPECT_EQ(desk.cursorImage(), std::nullopt);
    if (!keep.empty()) setenv("DISPLAY", keep.c_str(), 1);
}

TEST(DesktopOtherDepth, SixteenBitScreenComesBackAsEightBitChannels) {
    if (!dt::desktopBuiltWithX11()) GTEST_SKIP() << "built without X11";
    Xvfb x("320x200x16");
    if (x.display().empty()) GTEST_SKIP() << "no Xvfb";
    const char* saved = getenv("DISPLAY");
    const std::string keep = saved ? saved : "";
    setenv("DISPLAY", x.display().c_str(), 1);
    Display* d = XOpenDisplay(x.display().c_str());
    ASSERT_NE(d, nullptr);
    ASSERT_EQ(DefaultDepth(d, DefaultScreen(d)), 16);
    // Pixels in the screen's 5-6-5 format: red, green and blue side by side.
    auto pixelOf = [&](unsigned short r, unsigned short g, unsigned short b) {
        XColor c{};
        c.red = r;
        c.green = g;
        c.blue = b;
        c.flags = DoRed | DoGreen | DoBlue;
        XAllocColor(d, DefaultColormap(d, DefaultScreen(d)), &c);
        return c.pixel;
    };
    const Window red = makeWindow(d, DefaultRootWindow(d), 10, 10, 4, 4, pixelOf(0xFFFF, 0, 0));
    const Window green = makeWindow(d, DefaultRootWindow(d), 14, 10, 4, 4, pixelOf(0, 0xFFFF, 0));
    const Window blue = makeWindow(d, DefaultRootWindow(d), 18, 10, 4, 4, pixelOf(0, 0, 0xFFFF));
    {
        dt::Desktop desk;
        std::vector<uint32_t> px(12 * 4);
        ASSERT_EQ(desk.capture({10, 10, 12, 4}, px, 12), dt::DesktopStatus::Ok);
        EXPECT_EQ(px[0], 0xFF0000u);
        EXPECT_EQ(px[4], 0x00FF00u);
        EXPECT_EQ(px[3 * 12 + 11], 0x0000FFu);
    }
    (void)red, (void)green, (void)blue;
    XCloseDisplay(d);
    if (!keep.empty()) setenv("DISPLAY", keep.c_str(), 1);
}
