// Screen capture under a private Xvfb server: a window drawn in known colours comes back with
// the right pixels, parts off the screen come back black, and bad windows are refused.
#include <gtest/gtest.h>
// Xlib after gtest: its macros (None, Bool) clash with gtest's names.
#include <X11/Xlib.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <filesystem>
#include <string>
#include <thread>

#include "imaging/lumoutil.h"

extern char** environ;

namespace {

class Xvfb : public ::testing::Test {
protected:
    static void SetUpTestSuite() {
        const char* candidates[] = {"/usr/bin/Xvfb", "/usr/local/bin/Xvfb"};
        std::string exe;
        for (const char* c : candidates)
            if (access(c, X_OK) == 0) exe = c;
        if (exe.empty()) return;
        found_ = true;
        for (int n = 93; n < 140 && !display_; ++n) {
            if (std::filesystem::exists("/tmp/.X" + std::to_string(n) + "-lock") ||
                std::filesystem::exists("/tmp/.X11-unix/X" + std::to_string(n)))
                continue;
            const std::string name = ":" + std::to_string(n);
            const char* argv[] = {exe.c_str(), name.c_str(), "-screen", "0", "1024x768x24", "-nolisten", "tcp", nullptr};
            if (posix_spawn(&pid_, exe.c_str(), nullptr, nullptr, const_cast<char**>(argv), environ) != 0) continue;
            for (int i = 0; i < 100 && !display_; ++i) {
                std::this_thread::sleep_for(std::chrono::milliseconds(50));
                display_ = XOpenDisplay(name.c_str());
            }
            if (display_) {
                setenv("DISPLAY", name.c_str(), 1);
            } else {
                kill(pid_, SIGTERM);
                waitpid(pid_, nullptr, 0);
                pid_ = 0;
            }
        }
    }
    static void TearDownTestSuite() {
        if (display_) XCloseDisplay(display_);
        display_ = nullptr;
        if (pid_ > 0) {
            kill(pid_, SIGTERM);
            waitpid(pid_, nullptr, 0);
        }
        pid_ = 0;
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

    static inline Display* display_ = nullptr;
    static inline pid_t pid_ = 0;
    static inline bool found_ = false;
};

uint32_t at(LumoHBITMAP b, int x, int y) { return b->lpPixels[size_t(y) * b->nWidth + x]; }

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
