// Screen capture under a private Xvfb server: a window drawn in known colours comes back with
// the right pixels, parts off the screen come back black, and bad windows are refused.
#include <gtest/gtest.h>
// Xlib after gtest: its macros (None, Bool) clash with gtest's names.
#include <X11/Xlib.h>
#include <X11/Xutil.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <cstring>
#include <random>
#include <filesystem>
#include <memory>
#include <string>
#include <thread>
#include <tuple>
#include <vector>

#include "imaging/lumoutil.h"
#include "tests/support/xvfb.h"

namespace {

class Xvfb : public ::testing::Test {
protected:
    static void SetUpTestSuite() {
        found_ = std::filesystem::exists("/usr/bin/Xvfb");
        if (!found_) return;
        server_ = std::make_unique<tavik::test::Xvfb>("1024x768x24");
        if (server_->display().empty()) return;
        display_ = XOpenDisplay(server_->display().c_str());
        if (display_) setenv("DISPLAY", server_->display().c_str(), 1);
    }
    static void TearDownTestSuite() {
        if (display_) XCloseDisplay(display_);
        display_ = nullptr;
        server_.reset();
    }
    void SetUp() override {
        if (!found_) GTEST_SKIP() << "Xvfb is not installed";
        ASSERT_NE(display_, nullptr) << "Xvfb is installed but did not start";
    }

    // A mapped 200 x 100 window at (x, y): left half red, right half blue, a green 10 x 10 square
    // at (50, 40).
    static Window drawWindow(int x, int y) {
        Display* d = display_;
        const int s = DefaultScreen(d);
        XSetWindowAttributes attrs{};
        attrs.override_redirect = True;
        attrs.background_pixel = 0xFF0000;
        const Window w = XCreateWindow(d, RootWindow(d, s), x, y, 200, 100, 0, CopyFromParent, InputOutput,
                                       CopyFromParent, CWOverrideRedirect | CWBackPixel, &attrs);
        XMapRaised(d, w);
        XSync(d, False);
        GC gc = XCreateGC(d, w, 0, nullptr);
        XSetForeground(d, gc, 0x0000FF);
        XFillRectangle(d, w, gc, 100, 0, 100, 100);
        XSetForeground(d, gc, 0x00FF00);
        XFillRectangle(d, w, gc, 50, 40, 10, 10);
        XFreeGC(d, gc);
        XSync(d, False);
        return w;
    }

    static inline std::unique_ptr<tavik::test::Xvfb> server_;
    static inline Display* display_ = nullptr;
    static inline bool found_ = false;
};

uint32_t at(LumoHBITMAP b, int x, int y) { return b->lpPixels[size_t(y) * b->nWidth + x]; }

// A mapped window of varied content: random pixels, runs of greys as text gives them, flat
// colour areas. Leaves nothing to chance in the comparisons below.
Window drawVariedWindow(Display* d, int x, int y, int w, int h) {
    const int s = DefaultScreen(d);
    XSetWindowAttributes attrs{};
    attrs.override_redirect = True;
    attrs.background_pixel = 0x808080;
    const Window win = XCreateWindow(d, RootWindow(d, s), x, y, unsigned(w), unsigned(h), 0, CopyFromParent,
                                     InputOutput, CopyFromParent, CWOverrideRedirect | CWBackPixel, &attrs);
    XMapRaised(d, win);
    XSync(d, False);
    auto* data = static_cast<uint32_t*>(std::malloc(size_t(w) * h * 4));  // XDestroyImage frees it
    std::mt19937 rng(3);
    for (int r = 0; r < h; ++r)
        for (int c = 0; c < w; ++c) {
            uint32_t v;
            if (r < h / 3) v = rng() & 0xFFFFFF;
            else if (r < 2 * h / 3) v = ((c / 5 + r / 9) % 3 == 0) ? 0x141414 : 0xF0F0F0;
            else v = c < w / 2 ? 0xC02020 : 0x2040E0;
            data[size_t(r) * w + c] = v;
        }
    XImage* img = XCreateImage(d, DefaultVisual(d, s), unsigned(DefaultDepth(d, s)), ZPixmap, 0,
                               reinterpret_cast<char*>(data), unsigned(w), unsigned(h), 32, 0);
    GC gc = XCreateGC(d, win, 0, nullptr);
    XPutImage(d, win, gc, img, 0, 0, 0, 0, unsigned(w), unsigned(h));
    XFreeGC(d, gc);
    XDestroyImage(img);
    XSync(d, False);
    return win;
}

// Header and pixel rows of an open DIB.
std::vector<uint8_t> dibBytes(const DibHandle& d) {
    const size_t pixels = size_t(d.nStride) * size_t(d.nHeight);
    std::vector<uint8_t> out(sizeof(LumoBitmapInfoHeader) + pixels);
    std::memcpy(out.data(), d.lpbi, sizeof(LumoBitmapInfoHeader));
    std::memcpy(out.data() + sizeof(LumoBitmapInfoHeader), d.lpBits, pixels);
    return out;
}

std::vector<int64_t> areaFields(const CaptureArea& a) {
    return {int64_t(a.hWnd), a.x, a.y, a.cx, a.cy, a.nFitX, a.nFitY, a.fClient, a.nMarginLeft, a.nMarginRight,
            a.nMarginTop, a.nMarginBottom};
}

std::vector<int64_t> conditionFields(const BinCondition& c) {
    std::vector<int64_t> v{c.bMode, c.fAutoThreshfold, c.bThreshfold, c.bThreshfoldMin, c.bThreshfoldMax,
                           c.dwPixelCount, c.dwPeakCount};
    v.insert(v.end(), std::begin(c.adwHistogram), std::end(c.adwHistogram));
    return v;
}

struct CaptureFree {
    void operator()(LumoCapture* c) const { lumoFreeCapture(c); }
};

}  // namespace

TEST_F(Xvfb, WindowCaptureReturnsTheDrawnPixels) {
    const Window w = drawWindow(100, 150);
    CaptureArea a{};
    a.hWnd = w;
    a.fClient = 1;
    a.x = 40;
    a.y = 30;
    a.cx = 100;
    a.cy = 50;
    a.nMarginLeft = 5;
    a.nMarginTop = 5;
    a.nMarginRight = 5;
    a.nMarginBottom = 5;
    LumoHBITMAP bm = lumoGetBmp(&a);
    ASSERT_NE(bm, nullptr);
    EXPECT_EQ(bm->nWidth, 110);
    EXPECT_EQ(bm->nHeight, 60);
    // Area origin inside the bitmap is (margin left, margin top) = window pixel (40, 30).
    EXPECT_EQ(at(bm, 5, 5), 0xFF0000u);
    EXPECT_EQ(at(bm, 5 + 10, 5 + 10), 0x00FF00u);  // window (50, 40)
    EXPECT_EQ(at(bm, 5 + 60, 5), 0x0000FFu);       // window (100, 30)
    EXPECT_EQ(at(bm, 0, 0), 0xFF0000u);            // margin: window (35, 25)
    lumoDeleteBitmap(bm);

    uint8_t bgr[3] = {};
    ASSERT_EQ(lumoGetPixel(bgr, w, 55, 45, 1), 1);
    EXPECT_EQ(bgr[0], 0);
    EXPECT_EQ(bgr[1], 255);
    EXPECT_EQ(bgr[2], 0);
    ASSERT_EQ(lumoGetPixel(bgr, 0, 100 + 150, 150 + 1, 0), 1);  // screen coordinates: blue half
    EXPECT_EQ(bgr[0], 255);
    EXPECT_EQ(bgr[2], 0);

    a.x = 200;  // at the window's width
    EXPECT_EQ(lumoGetBmp(&a), nullptr);
    XDestroyWindow(display_, w);
    XSync(display_, False);
}

TEST_F(Xvfb, PartsOffTheScreenAreBlack) {
    const Window w = drawWindow(900, 700);  // 124 x 68 of it on the 1024 x 768 screen
    CaptureArea a{};
    a.hWnd = w;
    a.fClient = 1;
    a.cx = -1;
    a.cy = -1;
    LumoHBITMAP bm = lumoGetBmp(&a);
    ASSERT_NE(bm, nullptr);
    EXPECT_EQ(bm->nWidth, 200);
    EXPECT_EQ(bm->nHeight, 100);
    EXPECT_EQ(a.cx, 200);
    EXPECT_EQ(at(bm, 10, 10), 0xFF0000u);
    EXPECT_EQ(at(bm, 110, 60), 0x0000FFu);
    EXPECT_EQ(at(bm, 130, 10), 0u);  // right of the screen
    EXPECT_EQ(at(bm, 10, 80), 0u);   // below the screen
    lumoDeleteBitmap(bm);
    XDestroyWindow(display_, w);
    XSync(display_, False);
}

TEST_F(Xvfb, AreaCheckAndBadWindows) {
    const Window w = drawWindow(10, 10);
    CaptureArea a{};
    a.hWnd = w;
    a.fClient = 1;
    a.x = 150;
    a.cx = 80;
    a.cy = 10;
    a.nFitX = 2;
    ASSERT_EQ(lumoAreaCheck(&a), 1);
    EXPECT_EQ(a.x, 120);
    EXPECT_EQ(a.nFitX, 258);

    CaptureArea screen{};
    screen.x = 1030;  // fit mode 1 moves only an area that starts past the edge
    screen.cx = 100;
    screen.nFitX = 1;
    ASSERT_EQ(lumoAreaCheck(&screen), 1);
    EXPECT_EQ(screen.x, 924);

    CaptureArea bad{};
    bad.hWnd = 0x7FFFFFF;  // no such window
    bad.cx = bad.cy = 10;
    EXPECT_EQ(lumoAreaCheck(&bad), 0);
    EXPECT_EQ(lumoGetBmp(&bad), nullptr);
    uint8_t bgr[3];
    EXPECT_EQ(lumoGetPixel(bgr, 0x7FFFFFF, 0, 0, 1), 0);

    // The whole screen, through the window-less path.
    CaptureArea whole{};
    whole.cx = -1;
    whole.cy = -1;
    LumoHBITMAP bm = lumoGetBmp(&whole);
    ASSERT_NE(bm, nullptr);
    EXPECT_EQ(bm->nWidth, 1024);
    EXPECT_EQ(bm->nHeight, 768);
    EXPECT_EQ(at(bm, 10 + 120, 10 + 5), 0x0000FFu);
    lumoDeleteBitmap(bm);
    XDestroyWindow(display_, w);
    XSync(display_, False);
}

// The kept capture gives what lumoGetBmp and lumoOpenDib give (area write-back, header, every
// byte, parts off the screen black), through growing and shrinking sizes; the fused capture and
// pre-scan gives what lumoPreScan gives on that DIB for grey, colour-box, effect and range
// conditions, with one scan thread and with two.
TEST_F(Xvfb, KeptCaptureMatchesTheBitmapCaptureAndPreScan) {
    const Window w = drawVariedWindow(display_, 850, 640, 301, 190);  // 174 x 128 on the screen
    std::unique_ptr<LumoCapture, CaptureFree> cap(lumoNewCapture());
    ASSERT_NE(cap, nullptr);
    DibHandle none{};
    EXPECT_EQ(lumoCaptureDib(cap.get(), &none), 0);  // nothing planned
    EXPECT_EQ(none.hDib, nullptr);

    std::vector<CaptureArea> areas;
    CaptureArea a{};
    a.hWnd = w;
    a.fClient = 1;
    a.x = 13;
    a.y = 7;
    a.cx = 257;  // odd width: padded rows
    a.cy = 150;
    a.nMarginLeft = a.nMarginRight = 30;
    a.nMarginTop = a.nMarginBottom = 20;
    areas.push_back(a);  // partly off the screen, margins cut on the left and top
    a.x = 120;
    a.y = 60;
    a.cx = 21;
    a.cy = 17;
    areas.push_back(a);  // smaller: the kept block is replaced
    CaptureArea screen{};
    screen.x = 801;
    screen.y = 600;
    screen.cx = 223;
    screen.cy = 300;  // beyond the bottom
    screen.nMarginLeft = screen.nMarginRight = 30;
    screen.nMarginTop = screen.nMarginBottom = 20;
    areas.push_back(screen);

    struct Mode {
        uint16_t bits;
        bool automatic;
    };
    const Mode modes[] = {{0, true},
                          {BIN_RED | BIN_DARK, false},
                          {BIN_ERASE_GRID | BIN_DARK, true},
                          {BIN_OUTLINE | BIN_DARK, false},
                          {BIN_CHARACTER | BIN_RANGE | BIN_EQUAL, false}};
    for (size_t k = 0; k < areas.size(); ++k) {
        CaptureArea byBitmap = areas[k], byKept = areas[k];
        LumoHBITMAP bm = lumoGetBmp(&byBitmap);
        ASSERT_NE(bm, nullptr);
        DibHandle ref{};
        ref.hBitmap = bm;
        ASSERT_EQ(lumoOpenDib(&ref), 1);
        ASSERT_EQ(lumoPlanCapture(cap.get(), &byKept), 1);
        EXPECT_EQ(areaFields(byBitmap), areaFields(byKept)) << "area " << k;
        DibHandle kept{};
        ASSERT_EQ(lumoCaptureDib(cap.get(), &kept), 1);
        EXPECT_EQ(kept.nWidth, ref.nWidth);
        EXPECT_EQ(kept.nHeight, ref.nHeight);
        EXPECT_EQ(kept.nStride, ref.nStride);
        EXPECT_TRUE(dibBytes(kept) == dibBytes(ref)) << "area " << k;
        lumoCloseDib(&kept);  // releases the handle only: the next capture reuses the block
        EXPECT_EQ(kept.hDib, nullptr);
        lumoCloseDib(&ref);

        for (size_t m = 0; m < std::size(modes); ++m) {
            lumoSetScanThreads(m % 2 ? 2 : 1);
            BinCondition c1{}, c2{};
            c1.bMode = modes[m].bits;
            c1.fAutoThreshfold = modes[m].automatic;
            c1.bThreshfold = 100;
            c1.bThreshfoldMin = 60;
            c1.bThreshfoldMax = 200;
            c2 = c1;
            ScanContext s1{}, s2{};
            s1.lpCondition = &c1;
            s1.nOriginX = s1.nHistLeft = byBitmap.nMarginLeft;
            s1.nOriginY = s1.nHistTop = byBitmap.nMarginTop;
            s1.nLimitX = s1.nHistRight = byBitmap.nMarginLeft + byBitmap.cx;
            s1.nLimitY = s1.nHistBottom = byBitmap.nMarginTop + byBitmap.cy;
            s1.nCellWidth = 3;
            s1.nCellHeight = 4;
            s1.nLineThickness = 2;
            s1.nHLineLength = 30;
            s1.nVLineLength = 20;
            s1.nDepthLimit = 10;
            s2 = s1;
            s2.lpCondition = &c2;
            s1.dib.hBitmap = bm;
            ASSERT_EQ(lumoOpenDib(&s1.dib), 1);
            const int32_t r1 = lumoPreScan(&s1);
            ASSERT_EQ(lumoPlanCapture(cap.get(), &byKept), 1);
            const int32_t r2 = lumoCapturePreScan(cap.get(), &s2);
            ASSERT_NE(s2.dib.hDib, nullptr);
            EXPECT_EQ(r1, r2) << "area " << k << " mode " << m;
            EXPECT_EQ(conditionFields(c1), conditionFields(c2)) << "area " << k << " mode " << m;
            EXPECT_EQ(std::tie(s1.nOriginX, s1.nLimitX, s1.nOriginY, s1.nLimitY, s1.nHistRight, s1.nHistBottom),
                      std::tie(s2.nOriginX, s2.nLimitX, s2.nOriginY, s2.nLimitY, s2.nHistRight, s2.nHistBottom));
            EXPECT_TRUE(dibBytes(s1.dib) == dibBytes(s2.dib)) << "area " << k << " mode " << m;
            lumoCloseDib(&s1.dib);
            lumoCloseDib(&s2.dib);
        }
        lumoSetScanThreads(1);
        lumoDeleteBitmap(bm);
    }

    CaptureArea bad{};
    bad.hWnd = 0x7FFFFFF;  // no such window: no plan, and the plan before is dropped
    bad.cx = bad.cy = 10;
    EXPECT_EQ(lumoPlanCapture(cap.get(), &bad), 0);
    DibHandle after{};
    EXPECT_EQ(lumoCaptureDib(cap.get(), &after), 0);
    XDestroyWindow(display_, w);
    XSync(display_, False);
}
