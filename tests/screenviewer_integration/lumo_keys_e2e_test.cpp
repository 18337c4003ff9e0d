// Lumo driven from the device, end to end under a private Xvfb with the real
// controller, the serial plug-in and padsim (64 x 48): navigation keys pan,
// zoom and jump the view (pins compared with the image library's panel of
// the same pixels), ShiftUp shows the histogram page (a short press latches
// it, a long one returns), the lock chord locks and unlocks the keys, and
// mouse emulation moves the real X pointer with the marker on the pins.
#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <csignal>
#include <cstdlib>
#include <filesystem>
#include <memory>
#include <optional>
#include <string>
#include <unistd.h>

#include "common/data_maps.h"
#include "imaging/lumoutil.h"
#include "platform/desktop/desktop.h"
#include "platform/process.h"
#include "platform/shared_section.h"
#include "screenviewer/pages/info_pages.h"
#include "screenviewer/pages/pin_canvas.h"
#include "screenviewer/pages/text_line.h"
#include "screenviewer/share_layout.h"
#include "tests/support/child.h"
#include "tests/support/files.h"
#include "tests/support/library_pins.h"
#include "tests/support/padsim.h"
#include "tests/support/processes.h"
#include "tests/support/suite_env.h"
#include "tests/support/temp_dir.h"
#include "tests/support/x_helpers.h"
#include "tests/support/wait.h"
#include "tests/support/xvfb.h"

using namespace tavik::test;

namespace {

constexpr int kCols = 64, kRows = 48;
using Grid = std::vector<std::string>;

int raisedCount(const Grid& rows) {
    int n = 0;
    for (auto& r : rows) n += int(std::count(r.begin(), r.end(), '#'));
    return n;
}

// Processes whose command line holds `arg` as one argument (the bitmap viewers started on this test's image).
std::vector<pid_t> processesWithArgument(const std::string& arg) {
    std::vector<pid_t> out;
    for (const auto& e : std::filesystem::directory_iterator("/proc")) {
        const std::string name = e.path().filename().string();
        if (name.find_first_not_of("0123456789") != std::string::npos) continue;
        const std::string cmd = readFile(e.path().string() + "/cmdline");
        size_t at = 0;
        while (at < cmd.size()) {
            const size_t end = cmd.find('\0', at);
            if (cmd.compare(at, (end == std::string::npos ? cmd.size() : end) - at, arg) == 0) {
                out.push_back(pid_t(std::stoi(name)));
                break;
            }
            if (end == std::string::npos) break;
            at = end + 1;
        }
    }
    return out;
}

class LumoKeys : public ::testing::Test {
protected:
    // One server for the suite: the image library keeps its display connection for the process.
    static void SetUpTestSuite() {
        xvfb_ = new tavik::test::Xvfb("640x480x24");
        if (xvfb_->display().empty()) return;
        ::setenv("DISPLAY", xvfb_->display().c_str(), 1);  // the test's own captures and pointer
        dpy_ = XOpenDisplay(xvfb_->display().c_str());
    }
    static void TearDownTestSuite() {
        if (dpy_) XCloseDisplay(dpy_);
        dpy_ = nullptr;
        delete xvfb_;
        xvfb_ = nullptr;
    }
    void SetUp() override {
        const std::string bin = binDir();
        for (const char* f : {"TAVIK", "Padrik.so", "padsim", "Lumo"})
            if (!std::filesystem::exists(bin + "/" + f)) GTEST_SKIP() << f << " not built";
        if (!xvfb_ || xvfb_->display().empty()) GTEST_SKIP() << "no Xvfb";
        ASSERT_NE(dpy_, nullptr);
        tmp_.emplace("lumo-keys-e2e");
        dir_ = tmp_->path();
        port_ = 20 + (::getpid() % 40);
        pad_ = std::make_unique<Padsim>(dir_);
        const std::string cfg = dir_ + "/config/Orvane/TAVIK200_J/";
        writePortMap(dir_, port_, pad_->link());
        writeFile(cfg + "Lumo.ini", "[Connection]\nPort=" + std::to_string(port_) +
                                        "\nHardware=2\n[Browse]\nScanningMode=1\nRefresh=1\nViewFrame=0\n"
                                        "[OperationFilter]\nOperationLock=1\n");
        writeFile(dir_ + "/fg", "0\n");

        // A new window per test: a record of its own in the share section that outlives each viewer.
        using namespace tavik::test;
        window_ = makeWindow(dpy_, DefaultRootWindow(dpy_), kWindowX, kWindowY, 200, 150, 0xFFFFFF);
        fill(dpy_, window_, 10, 6, 24, 12, 0x000000);
        fill(dpy_, window_, 40, 30, 8, 30, 0x202020);
        fill(dpy_, window_, 90, 50, 40, 40, 0x000000);
        fill(dpy_, window_, 150, 100, 30, 40, 0x000000);
        fill(dpy_, window_, 60, 110, 12, 30, 0x000000);
        setPid(dpy_, window_, 4242);
        setActive(dpy_, window_);
    }
    void TearDown() override {
        if (app_) {
            app_->kill(SIGKILL);
            app_.reset();
        }
        // The bitmap viewers started on this test's image (their controller client ends with them).
        // Each is ended once it has entered the port (or ended by itself): one killed in the middle
        // of its entry leaves an entry without a slot, which keeps the controller, and the display
        // it identified, for the 30 s the controller gives an entry that is under way.
        if (!dir_.empty()) {
            for (pid_t p : processesWithArgument(dir_ + "/Documents/WindowImage.bmp"))
                waitUntil([&] { return hasSlot(p) || !tavik::platform::processAlive(p); });
            waitUntil([&] {
                const auto left = processesWithArgument(dir_ + "/Documents/WindowImage.bmp");
                for (pid_t p : left) ::kill(p, SIGKILL);
                return left.empty();
            });
        }
        if (pad_) {
            // The next test starts on a port nobody serves; one that is still served fails here.
            EXPECT_TRUE(waitUntil([&] { return controllerPids(binDir() + "/TAVIK", port_).empty(); }))
                << "the controller of port " << port_ << " did not end with its clients";
            pad_.reset();
        }
        if (dpy_ && window_) {
            XDestroyWindow(dpy_, window_);
            XSync(dpy_, False);
        }
    }

    // `row`: the connect dialog's device row (2: the 64 x 48 model, 1: "Pinora PX-2").
    void startLumo(int row = 2) {
        const std::string bin = binDir();
        writeFile(dir_ + "/script", "connect||" + std::to_string(row) + "|ok\n");
        app_ = std::make_unique<Child>(
            bin + "/Lumo", std::vector<std::string>{},
            suiteEnv(dir_, {"DISPLAY=" + xvfb_->display(), "QT_QPA_PLATFORM=offscreen", "LANG=C",
                            "TAVIK_UI_SCRIPT=" + dir_ + "/script", "TAVIK_UI_LOG=" + dir_ + "/ui.log",
                            "HOME=" + dir_}));
        writeFile(dir_ + "/fg", std::to_string(app_->pid()) + "\n");  // the viewer's slot is shown
    }
    bool waitPins(const Grid& expected) {
        return pad_->waitState([&](const std::string& st) { return Padsim::grid(st, "plane1") == expected; });
    }
    // Starts the viewer and waits for the window's top left at one pixel per pin.
    void startAtTopLeft() {
        startLumo();
        top_ = libraryPins(window_, 0, 0, 1);
        ASSERT_TRUE(mixed(top_));
        ASSERT_TRUE(waitPins(top_)) << pad_->state();
    }
    // The window's record as the viewer keeps it.
    std::optional<lumo::ViewRecord> record() {
        auto s = tavik::platform::SharedSection::open(lumo::kShareName, tavik::platform::SharedSection::Access::ReadWrite,
                                                      lumo::kShareSize);
        if (!s) return std::nullopt;
        const auto* share = static_cast<const lumo::ViewerShare*>(s->data());
        for (const auto& r : share->records)
            if (r.useStamp != 0 && r.keyWindow == window_) return r;
        return std::nullopt;
    }
    // True when process `pid` holds a slot on the test's port.
    bool hasSlot(pid_t pid) const {
        auto pm = tavik::PortMap::openExisting(port_, false);
        if (!pm) return false;
        for (const auto& slot : pm->map().slots)
            if (slot.notifyThreadId != 0 && slot.processId == pid) return true;
        return false;
    }
    void key(int group, int k, int m) {
        pad_->command("key " + std::to_string(group) + " " + std::to_string(k) + " " + std::to_string(m));
    }

    static constexpr int kWindowX = 100, kWindowY = 80;
    static inline tavik::test::Xvfb* xvfb_ = nullptr;
    static inline Display* dpy_ = nullptr;
    Window window_ = 0;
    std::optional<TempDir> tmp_;  // goes last: the processes above end first
    std::string dir_;
    int port_ = 0;
    std::unique_ptr<Padsim> pad_;
    std::unique_ptr<Child> app_;
    Grid top_;
};

TEST_F(LumoKeys, NavigationKeysPanZoomAndJumpTheView) {
    startAtTopLeft();
    // Right and Down pan by the long steps: half the pins (32, 24).
    key(4, 0x04, 0);
    const Grid right = libraryPins(window_, 32, 0, 1);
    ASSERT_TRUE(mixed(right));
    ASSERT_NE(right, top_);
    ASSERT_TRUE(waitPins(right)) << pad_->state();
    key(4, 0x02, 0);
    const Grid down = libraryPins(window_, 32, 24, 1);
    ASSERT_NE(down, right);
    ASSERT_TRUE(waitPins(down)) << pad_->state();

    // Increase zooms out about the centre: two pixels per pin.
    key(4, 0x80, 0);
    ASSERT_TRUE(waitUntil([&] {
        const auto r = record();
        return r && r->cellWidth == 2;
    }));
    const auto r = record();
    const Grid zoomed = libraryPins(window_, r->baseX, r->baseY, 2);
    ASSERT_TRUE(mixed(zoomed));
    ASSERT_TRUE(waitPins(zoomed)) << pad_->state() << " base " << r->baseX << "," << r->baseY;

    // Numbered keys with modifier 8 jump: 3 to the bottom right, 7 to the top left.
    key(1, 3, 8);
    ASSERT_TRUE(waitUntil([&] {
        const auto j = record();
        return j && j->baseX > 0 && j->baseY > 0 && j->cellWidth == 2;
    }));
    const auto j = record();
    EXPECT_GT(j->baseX + kCols * 2, 198);  // the view reaches the right and bottom edges
    EXPECT_GT(j->baseY + kRows * 2, 148);
    const Grid bottomRight = libraryPins(window_, j->baseX, j->baseY, 2);
    ASSERT_TRUE(waitPins(bottomRight)) << pad_->state();
    key(1, 7, 8);
    const Grid topLeft2 = libraryPins(window_, 0, 0, 2);
    ASSERT_NE(topLeft2, bottomRight);
    ASSERT_TRUE(waitPins(topLeft2)) << pad_->state();
    // Decrease zooms back in about the centre of the view (64, 48): base (32, 24).
    key(4, 0x10, 0);
    const Grid centre = libraryPins(window_, 32, 24, 1);
    ASSERT_NE(centre, top_);
    ASSERT_TRUE(waitPins(centre)) << pad_->state();
}

TEST_F(LumoKeys, ShortShiftUpLatchesTheHistogramPageAndALongOneReturns) {
    startAtTopLeft();
    pad_->command("broadcast 64 0 0 0");  // ShiftUp down
    // The histogram page of the record's condition (the viewer's histogram of this view).
    Grid page;
    ASSERT_TRUE(pad_->waitState([&](const std::string& st) {
        const auto r = record();
        if (!r) return false;
        DotPanel* panel = lumoNewPanel(kCols, kRows);
        tavik::lumo::PinCanvas canvas(*panel);
        tavik::lumo::drawHistogramPage(canvas, r->condition, false);
        page = panelRows(*panel, kCols, kRows);
        lumoFreePanel(panel);
        return Padsim::grid(st, "plane1") == page;
    })) << pad_->state();
    ASSERT_NE(page, top_);
    // A short press (0.3 s) keeps the page; the same short press again returns to the image.
    pad_->command("broadcast 0 30 0 0");
    pad_->command("broadcast 64 0 0 0");
    pad_->command("broadcast 0 30 0 0");
    ASSERT_TRUE(waitPins(top_)) << pad_->state();
    // A long press (2 s) shows the page while held and returns at release.
    pad_->command("broadcast 64 0 0 0");
    ASSERT_TRUE(waitPins(page)) << pad_->state();
    pad_->command("broadcast 0 200 0 0");
    ASSERT_TRUE(waitPins(top_)) << pad_->state();
}

TEST_F(LumoKeys, TheLockChordLocksEveryOtherKeyAndUnlocks) {
    startAtTopLeft();
    key(4, 0x0E, 0x20);  // lock (OperationLock is on in Lumo.ini)
    key(4, 0x04, 0);     // Right: ignored while locked
    key(4, 0x0E, 0x20);  // unlock
    key(4, 0x02, 0);     // Down acts again
    const Grid down = libraryPins(window_, 0, 24, 1);
    ASSERT_TRUE(mixed(down));
    ASSERT_NE(down, libraryPins(window_, 32, 24, 1));
    ASSERT_TRUE(waitPins(down)) << pad_->state();
}

TEST_F(LumoKeys, MouseEmulationMovesTheRealPointerAndShowsTheMarker) {
    startAtTopLeft();
    tavik::desktop::Desktop desk;
    ASSERT_TRUE(desk.movePointer({5, 5}) == tavik::desktop::DesktopStatus::Ok);
    key(4, 0x0C, 0);  // Right+Left: start the emulation at the centre of the view
    std::optional<tavik::desktop::Point> p0;
    ASSERT_TRUE(waitUntil([&] {
        p0 = desk.pointer();
        return p0 && p0->x >= kWindowX && p0->x < kWindowX + kCols && p0->y >= kWindowY && p0->y < kWindowY + kRows;
    })) << (p0 ? std::to_string(p0->x) + "," + std::to_string(p0->y) : "no pointer");
    // The marker: an 11-pin cross on the second layer, centred on the pin under the mouse.
    const int cx = p0->x - kWindowX, cy = p0->y - kWindowY;
    ASSERT_TRUE(pad_->waitState([&](const std::string& st) {
        const Grid g = Padsim::grid(st, "plane2");
        return g.size() == size_t(kRows) && raisedCount(g) == 21 && g[size_t(cy)][size_t(cx)] == '#' &&
               g[size_t(cy)][size_t(cx - 5)] == '#' && g[size_t(cy - 5)][size_t(cx)] == '#' &&
               g[size_t(cy)][size_t(cx - 6)] == '.';
    })) << pad_->state();
    // Right moves the mouse by the long step (32 pixels) and the view along with it.
    key(4, 0x04, 0);
    std::optional<tavik::desktop::Point> p1;
    ASSERT_TRUE(waitUntil([&] {
        p1 = desk.pointer();
        return p1 && p1->x == p0->x + 32 && p1->y == p0->y;
    })) << (p1 ? std::to_string(p1->x) + "," + std::to_string(p1->y) : "no pointer");
    // ShiftCenter with Left clicks the left button at the mouse, over the test window.
    XSelectInput(dpy_, window_, ButtonPressMask | ButtonReleaseMask);
    XSync(dpy_, False);
    key(4, 0x08, 0x20);
    bool pressed = false, released = false;
    ASSERT_TRUE(waitUntil([&] {
        XEvent e;
        while (XCheckWindowEvent(dpy_, window_, ButtonPressMask | ButtonReleaseMask, &e)) {
            const XButtonEvent& b = e.xbutton;
            if (b.button != Button1 || b.x != p1->x - kWindowX || b.y != p1->y - kWindowY) continue;
            (e.type == ButtonPress ? pressed : released) = true;
        }
        return pressed && released;
    })) << pressed << released;
    // ShiftDown with Right+Left (0x800C) stops the emulation: the marker goes.
    key(4, 0x0C, 0x80);
    ASSERT_TRUE(pad_->waitState([&](const std::string& st) { return raisedCount(Padsim::grid(st, "plane2")) == 0; }))
        << pad_->state();
}

// A hand on the real mouse: the emulated mouse and its marker follow the pointer; with
// Mouse-Sync on the view follows it too, just far enough to hold it.
TEST_F(LumoKeys, TheMarkerAndTheViewFollowTheRealPointer) {
    startAtTopLeft();
    tavik::desktop::Desktop desk;
    key(4, 0x0C, 0);  // Right+Left: emulation on, the mouse at the centre of the view
    ASSERT_TRUE(waitUntil([&] { return desk.pointer() == tavik::desktop::Point{kWindowX + 32, kWindowY + 24}; }));
    auto markerAt = [&](int x, int y) {
        return pad_->waitState([&](const std::string& st) {
            const Grid g = Padsim::grid(st, "plane2");
            return g.size() == size_t(kRows) && g[size_t(y)][size_t(x)] == '#' && raisedCount(g) > 1 &&
                   (x < 1 || g[size_t(y)][size_t(x - 1)] == '#');
        });
    };
    ASSERT_EQ(desk.movePointer({kWindowX + 20, kWindowY + 10}), tavik::desktop::DesktopStatus::Ok);
    ASSERT_TRUE(markerAt(20, 10)) << pad_->state();
    EXPECT_EQ(record()->baseX, 0);  // Mouse-Sync off: the view stays

    // ShiftCenter with Right+Left: Mouse-Sync on, its "s" in cell 3 of the text line. (Waiting for
    // any change of the line is not enough: the emulation's "m" may still be on its way.)
    tavik::lumo::TextLineInput synced;
    synced.mouseSync = true;
    tavik::lumo::TextLine line;
    tavik::lumo::buildTextLine(synced, false, line);
    std::array<uint8_t, tavik::lumo::kTextLineCells> cells{};
    tavik::lumo::toDeviceLine(line, cells);
    const std::string mark = hexOf({cells[3]});
    key(4, 0x0C, 0x20);
    ASSERT_TRUE(pad_->waitState([&](const std::string& st) { return Padsim::value(st, "text").substr(6, 2) == mark; }))
        << pad_->state() << "\nexpected cell 3 " << mark;
    ASSERT_EQ(desk.movePointer({kWindowX + 150, kWindowY + 120}), tavik::desktop::DesktopStatus::Ok);
    ASSERT_TRUE(waitUntil([&] {
        const auto r = record();
        return r && r->baseX == 150 - (kCols - 1) && r->baseY == 120 - (kRows - 1);
    })) << record()->baseX << "," << record()->baseY;
    ASSERT_TRUE(markerAt(kCols - 1, kRows - 1)) << pad_->state();
    key(4, 0x0C, 0x80);  // emulation off
}

// Home+End switches the pins to the mouse pointer's picture, one pixel per pin, and back.
TEST_F(LumoKeys, TheCursorShapeViewShowsThePointersPicture) {
    startAtTopLeft();
    // A 16 x 16 pointer over the test window: a white 10 x 6 block at (2, 3), the rest transparent.
    const Window root = DefaultRootWindow(dpy_);
    const Pixmap source = XCreatePixmap(dpy_, root, 16, 16, 1), mask = XCreatePixmap(dpy_, root, 16, 16, 1);
    GC gc = XCreateGC(dpy_, source, 0, nullptr);
    XSetForeground(dpy_, gc, 1);
    XFillRectangle(dpy_, source, gc, 0, 0, 16, 16);
    XSetForeground(dpy_, gc, 0);
    XFillRectangle(dpy_, mask, gc, 0, 0, 16, 16);
    XSetForeground(dpy_, gc, 1);
    XFillRectangle(dpy_, mask, gc, 2, 3, 10, 6);
    XFreeGC(dpy_, gc);
    XColor white{}, black{};
    white.red = white.green = white.blue = 0xFFFF;
    white.flags = black.flags = DoRed | DoGreen | DoBlue;
    const Cursor cursor = XCreatePixmapCursor(dpy_, source, mask, &white, &black, 0, 0);
    XDefineCursor(dpy_, window_, cursor);
    XSync(dpy_, False);
    tavik::desktop::Desktop desk;
    ASSERT_EQ(desk.movePointer({kWindowX + 60, kWindowY + 40}), tavik::desktop::DesktopStatus::Ok);
    ASSERT_TRUE(waitUntil([&] {
        const auto img = desk.cursorImage();
        return img && img->width == 16 && img->height == 16;
    }));

    Grid shape(kRows, std::string(kCols, '.'));
    for (int y = 3; y < 9; ++y)
        for (int x = 2; x < 12; ++x) shape[size_t(y)][size_t(x)] = '#';
    key(4, 0x60, 0);  // Home+End
    ASSERT_TRUE(waitPins(shape)) << pad_->state();
    key(4, 0x60, 0);
    ASSERT_TRUE(waitPins(top_)) << pad_->state();
    XUndefineCursor(dpy_, window_);
    XFreeCursor(dpy_, cursor);
    XFreePixmap(dpy_, source);
    XFreePixmap(dpy_, mask);
    XSync(dpy_, False);
}

TEST_F(LumoKeys, TheScreenImageIsSavedWithItsViewConditionsAndOpenedInTheBitmapViewer) {
    std::filesystem::create_directories(dir_ + "/Documents");
    startAtTopLeft();
    key(4, 0x04, 0);  // the view at (32, 0)
    ASSERT_TRUE(waitPins(libraryPins(window_, 32, 0, 1))) << pad_->state();
    const std::string bmp = dir_ + "/Documents/WindowImage.bmp", lmc = dir_ + "/Documents/WindowImage.LMC";

    key(4, 0x0D, 0x20);  // ShiftCenter with Up+Right+Left: the current view
    ASSERT_TRUE(waitUntil([&] { return readFile(lmc).find("bMode=") != std::string::npos; }));
    const std::string view = readFile(lmc);
    EXPECT_NE(view.find("nBaseX=32\r\n"), std::string::npos) << view;
    EXPECT_NE(view.find("Condition1=0\r\n"), std::string::npos) << view;
    // The whole window, as the image library captures it: a 200 x 150 bitmap.
    const std::string image = readFile(bmp);
    ASSERT_GE(image.size(), 26u);
    EXPECT_EQ(image.substr(0, 2), "BM");
    auto le32 = [&](size_t at) {
        return int32_t(uint8_t(image[at]) | uint8_t(image[at + 1]) << 8 | uint8_t(image[at + 2]) << 16 |
                       uint32_t(uint8_t(image[at + 3])) << 24);
    };
    EXPECT_EQ(le32(18), 200);
    EXPECT_EQ(std::abs(le32(22)), 150);
    // The bitmap viewer runs on the file with the port and the model.
    EXPECT_TRUE(waitUntil([&] { return !processesWithArgument(bmp).empty(); }));
    EXPECT_FALSE(processesWithArgument("/Hardware=QX-64X48").empty());

    std::filesystem::remove(lmc);
    key(4, 0x0D, 0);  // Up+Right+Left: the whole window variant
    ASSERT_TRUE(waitUntil([&] { return readFile(lmc).find("bMode=") != std::string::npos; }));
    const std::string whole = readFile(lmc);
    EXPECT_NE(whole.find("nBaseX=0\r\n"), std::string::npos) << whole;
    EXPECT_NE(whole.find("bThreshfold="), std::string::npos) << whole;
    EXPECT_EQ(whole.find("Condition"), std::string::npos) << whole;
    // The second viewer is started as well (and ended with the first one at tear-down).
    EXPECT_TRUE(waitUntil([&] { return processesWithArgument(bmp).size() >= 2; }));
}

TEST_F(LumoKeys, ToneFramesReachAPinoraPx2WhenLockingAndStoringABookmark) {
    pad_.reset();  // a 48 x 32 display without a text line on the same link
    pad_ = std::make_unique<Padsim>(dir_, std::vector<std::string>{"--size", "48x32", "--cells", "0"});
    startLumo(1);
    ASSERT_TRUE(pad_->waitState([](const std::string& st) {
        return Padsim::grid(st, "plane1").size() == 32 && st.find('#') != std::string::npos;
    })) << pad_->state();
    // The lock signal: 660 Hz for 66, five times with the flag alternating, then the closing entry.
    key(4, 0x0E, 0x20);
    ASSERT_TRUE(waitUntil([&] { return pad_->log().find("rx e6 param 6 len 36") != std::string::npos; }))
        << pad_->log();
    const std::string log = pad_->log();
    const size_t at = log.find("rx e6 param 6 len 36");
    const std::string line = log.substr(at, log.find('\n', at) - at);
    EXPECT_NE(line.find("02 94 00 42 00 00 02 94 00 42 01 00"), std::string::npos) << line;
    // Unlocking plays nothing; storing bookmark 0 plays chime B (660, 440, 330 Hz and the end).
    key(4, 0x0E, 0x20);
    key(4, 0x0B, 0x20);
    ASSERT_TRUE(waitUntil([&] { return pad_->log().find("rx e6 param 4 len 24") != std::string::npos; }))
        << pad_->log();
    EXPECT_EQ(pad_->log().find("rx e6", at + 1), pad_->log().find("rx e6 param 4 len 24"));
}

TEST_F(LumoKeys, ABookmarkBringsTheViewBackAndTextLineKeysPageTheStatusLine) {
    startAtTopLeft();
    // The status line of this window: "w" for the application window, page 0 with the image size.
    tavik::lumo::TextLineInput in;
    in.scanningMode = 1;
    in.imageWidth = 200;
    in.imageHeight = 150;
    in.right = kCols;
    in.bottom = kRows;
    auto expectedText = [](const tavik::lumo::TextLineInput& i) {
        tavik::lumo::TextLine line;
        tavik::lumo::buildTextLine(i, false, line);
        std::array<uint8_t, tavik::lumo::kTextLineCells> device{};
        tavik::lumo::toDeviceLine(line, device);
        return hexOf(std::vector<unsigned char>(device.begin(), device.end()));
    };
    const std::string page0 = expectedText(in);
    ASSERT_EQ(page0.substr(0, 2), "4e");
    EXPECT_TRUE(pad_->waitState([&](const std::string& st) { return Padsim::value(st, "text") == page0; }))
        << pad_->state() << "\nexpected " << page0;
    // Text-line key 5: the next page, the mode field unchanged.
    key(2, 5, 0);
    in.page = 1;
    const std::string page1 = expectedText(in);
    ASSERT_NE(page1, page0);
    EXPECT_TRUE(pad_->waitState([&](const std::string& st) { return Padsim::value(st, "text") == page1; }))
        << pad_->state() << "\nexpected " << page1;

    // Bookmark 0 stored at (32, 0) comes back after moving and zooming away.
    key(4, 0x04, 0);
    const Grid right = libraryPins(window_, 32, 0, 1);
    ASSERT_TRUE(waitPins(right)) << pad_->state();
    key(4, 0x0B, 0x20);  // store bookmark 0
    key(4, 0x02, 0);
    key(4, 0x80, 0);
    ASSERT_TRUE(waitUntil([&] {
        const auto r = record();
        return r && r->cellWidth == 2;
    }));
    key(4, 0x07, 0x20);  // return to bookmark 0
    ASSERT_TRUE(waitPins(right)) << pad_->state();
}

}  // namespace
