// Lumo end to end under a private Xvfb with the real controller, the serial
// plug-in and padsim: the window in front appears on the pins exactly as the
// image library maps the same pixels, at the view's position and division;
// switching windows switches records and brings back their views; the 64 x 48
// row gives 64 x 48 pins and a 32-cell text line; a second start hands over
// and ends; a display that goes away ends the viewer and the controller.
#include <gtest/gtest.h>

#include <array>
#include <chrono>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <memory>
#include <optional>
#include <string>
#include <thread>
#include <unistd.h>

#include "imaging/lumoutil.h"
#include "platform/shared_section.h"
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

constexpr int kRows = 48;

// True when a mapped override-redirect child of the root has exactly this geometry (the view frame).
bool frameAt(Display* d, int x, int y, int w, int h) {
    Window root = 0, parent = 0, *children = nullptr;
    unsigned n = 0;
    if (!XQueryTree(d, DefaultRootWindow(d), &root, &parent, &children, &n)) return false;
    bool found = false;
    for (unsigned i = 0; i < n && !found; ++i) {
        XWindowAttributes a{};
        if (XGetWindowAttributes(d, children[i], &a) && a.override_redirect && a.map_state == IsViewable)
            found = a.x == x && a.y == y && a.width == w && a.height == h;
    }
    if (children) XFree(children);
    return found;
}

std::string overrideWindows(Display* d) {
    Window root = 0, parent = 0, *children = nullptr;
    unsigned n = 0;
    std::string out;
    if (!XQueryTree(d, DefaultRootWindow(d), &root, &parent, &children, &n)) return out;
    for (unsigned i = 0; i < n; ++i) {
        XWindowAttributes a{};
        if (XGetWindowAttributes(d, children[i], &a) && a.override_redirect)
            out += std::to_string(a.x) + "," + std::to_string(a.y) + " " + std::to_string(a.width) + "x" +
                   std::to_string(a.height) + (a.map_state == IsViewable ? " shown; " : " hidden; ");
    }
    if (children) XFree(children);
    return out;
}

struct Block {
    int x, y, w, h;
    unsigned long rgb;
};

// A window whose picture is its background pixmap, so the server repaints it
// whenever something that covered it (the view frame) moves away.
Window pictureWindow(Display* d, int x, int y, int w, int h, unsigned long background,
                     std::initializer_list<Block> blocks) {
    const Window root = DefaultRootWindow(d);
    const Pixmap pm = XCreatePixmap(d, root, unsigned(w), unsigned(h), unsigned(DefaultDepth(d, DefaultScreen(d))));
    GC gc = XCreateGC(d, pm, 0, nullptr);
    XSetForeground(d, gc, background);
    XFillRectangle(d, pm, gc, 0, 0, unsigned(w), unsigned(h));
    for (const Block& b : blocks) {
        XSetForeground(d, gc, b.rgb);
        XFillRectangle(d, pm, gc, b.x, b.y, unsigned(b.w), unsigned(b.h));
    }
    XFreeGC(d, gc);
    const Window win = tavik::test::makeWindow(d, root, x, y, w, h, background);
    XSetWindowBackgroundPixmap(d, win, pm);
    XFreePixmap(d, pm);
    XClearWindow(d, win);
    XSync(d, False);
    return win;
}

std::string joined(const std::vector<std::string>& rows) {
    std::string t;
    for (auto& r : rows) t += r + "\n";
    return t;
}

class LumoEndToEnd : public ::testing::Test {
protected:
    void SetUp() override {
        const std::string bin = binDir();
        for (const char* f : {"TAVIK", "Padrik.so", "padsim", "Lumo"})
            if (!std::filesystem::exists(bin + "/" + f)) GTEST_SKIP() << f << " not built";
        xvfb_ = std::make_unique<tavik::test::Xvfb>("640x480x24");
        if (xvfb_->display().empty()) GTEST_SKIP() << "no Xvfb";
        ::setenv("DISPLAY", xvfb_->display().c_str(), 1);  // the test's own captures
        XInitThreads();  // the image library's captures share Xlib with this connection
        dpy_ = XOpenDisplay(xvfb_->display().c_str());
        ASSERT_NE(dpy_, nullptr);
        tmp_.emplace("lumo-e2e");
        dir_ = tmp_->path();
        port_ = 20 + (::getpid() % 40);
        pad_ = std::make_unique<Padsim>(dir_);
        const std::string cfg = dir_ + "/config/Orvane/TAVIK200_J/";
        writePortMap(dir_, port_, pad_->link());
        writeFile(cfg + "Lumo.ini", "[Connection]\nPort=" + std::to_string(port_) +
                                        "\nHardware=2\n[Browse]\nScanningMode=1\nRefresh=1\nViewFrame=1\n");
        writeFile(dir_ + "/fg", "0\n");
    }
    void TearDown() override {
        for (auto* c : {&second_, &app_})
            if (*c) {
                (*c)->kill(SIGKILL);
                c->reset();
            }
        if (pad_) {
            waitUntil([&] { return controllerPids(binDir() + "/TAVIK", port_).empty(); });
            pad_.reset();
        }
        if (dpy_) XCloseDisplay(dpy_);
    }

    // `qpa`: where the dialogs go; "xcb" puts them on the test's X server as well.
    std::vector<std::string> env(const std::string& qpa = "offscreen") const {
        return suiteEnv(dir_, {"DISPLAY=" + xvfb_->display(), "QT_QPA_PLATFORM=" + qpa, "LANG=C",
                               "TAVIK_UI_SCRIPT=" + dir_ + "/script", "TAVIK_UI_LOG=" + dir_ + "/ui.log"});
    }
    void startLumo(const std::string& qpa = "offscreen") {
        writeFile(dir_ + "/script", "connect||2|ok\n");
        app_ = std::make_unique<Child>(binDir() + "/Lumo", std::vector<std::string>{}, env(qpa));
        writeFile(dir_ + "/fg", std::to_string(app_->pid()) + "\n");  // the viewer's slot is shown
    }
    bool waitPins(const std::vector<std::string>& expected) {
        return pad_->waitState([&](const std::string& st) { return Padsim::grid(st, "plane1") == expected; });
    }
    // Changes the record of `window` as another process sharing the map may, and asks for a refresh.
    void setView(Window window, int bx, int by, int cell) {
        auto s = tavik::platform::SharedSection::open(lumo::kShareName, tavik::platform::SharedSection::Access::ReadWrite,
                                                      lumo::kShareSize);
        ASSERT_TRUE(s.has_value());
        auto* share = static_cast<lumo::ViewerShare*>(s->data());
        for (auto& r : share->records)
            if (r.useStamp != 0 && r.keyWindow == window) {
                r.baseX = bx;
                r.baseY = by;
                r.cellWidth = r.cellHeight = cell;
            }
        share->requestFlags |= lumo::kRequestRefresh | lumo::kRequestPlaceFrame;
    }

    std::unique_ptr<tavik::test::Xvfb> xvfb_;
    Display* dpy_ = nullptr;
    std::optional<TempDir> tmp_;  // goes last: the processes above end first
    std::string dir_;
    int port_ = 0;
    std::unique_ptr<Padsim> pad_;
    std::unique_ptr<Child> app_, second_;
};

TEST_F(LumoEndToEnd, PinsFollowTheWindowInFrontAtEachRecordsViewAndASecondStartHandsOver) {
    using namespace tavik::test;
    const Window a = pictureWindow(dpy_, 100, 80, 200, 150, 0xFFFFFF,
                                   {{10, 6, 24, 12, 0x000000}, {40, 30, 8, 30, 0x202020}, {90, 50, 40, 40, 0x000000}});
    setPid(dpy_, a, 4242);
    const Window b = pictureWindow(dpy_, 320, 200, 240, 180, 0x000000,
                                   {{5, 5, 30, 20, 0xFFFFFF}, {50, 12, 6, 30, 0xFFFFFF}});
    setActive(dpy_, a);

    startLumo();
    const auto a1 = libraryPins(a, 0, 0, 1);
    ASSERT_TRUE(mixed(a1));
    ASSERT_TRUE(waitPins(a1)) << pad_->state();
    const std::string st = pad_->state();
    EXPECT_TRUE(waitUntil([&] { return frameAt(dpy_, 98, 78, 68, 52); })) << overrideWindows(dpy_);
    EXPECT_EQ(Padsim::value(st, "size"), "64x48");
    const std::string text = Padsim::value(st, "text");
    EXPECT_EQ(text.size(), 64u);  // 32 cells
    EXPECT_EQ(text.substr(0, 2), "4e");  // "w": the application window

    // The record's view: base (16, 8), two pixels per pin.
    setView(a, 16, 8, 2);
    // The red ring on the screen surrounds the view: 2 pixels outside (100 + 16, 80 + 8) .. + (128, 96).
    // (Where it stood before, it crossed the new view: the expected pins are taken once it moved.)
    ASSERT_TRUE(waitUntil([&] { return frameAt(dpy_, 114, 86, 132, 100); })) << overrideWindows(dpy_);
    const auto a2 = libraryPins(a, 16, 8, 2);
    ASSERT_TRUE(mixed(a2));
    ASSERT_NE(a1, a2);
    ASSERT_TRUE(waitPins(a2)) << pad_->state();

    // Another window in front: its own record from the top left.
    setActive(dpy_, b);
    const auto b1 = libraryPins(b, 0, 0, 1);
    ASSERT_TRUE(mixed(b1));
    ASSERT_TRUE(waitPins(b1)) << pad_->state();
    // Back: the remembered view of the first window.
    setActive(dpy_, a);
    ASSERT_TRUE(waitPins(a2)) << pad_->state() << "expected\n" << joined(a2) << overrideWindows(dpy_);

    // A second start brings the first forward and ends at once.
    second_ = std::make_unique<Child>(binDir() + "/Lumo", std::vector<std::string>{}, env());
    EXPECT_TRUE(second_->waitExit());
    second_.reset();
    EXPECT_TRUE(waitUntil([&] { return readFile(dir_ + "/ui.log").find("dialog 256 forward") != std::string::npos; }));
    EXPECT_EQ(::kill(app_->pid(), 0), 0);
    // So does "Lumo --show", the command to bind to a key where the desktop gives no hot keys.
    second_ = std::make_unique<Child>(binDir() + "/Lumo", std::vector<std::string>{"--show"}, env());
    EXPECT_TRUE(second_->waitExit());
    second_.reset();
    EXPECT_TRUE(waitUntil([&] {
        const std::string log = readFile(dir_ + "/ui.log");
        const auto first = log.find("dialog 256 forward");
        return first != std::string::npos && log.find("dialog 256 forward", first + 1) != std::string::npos;
    })) << readFile(dir_ + "/ui.log");
    EXPECT_EQ(::kill(app_->pid(), 0), 0);

    // Ending the viewer leaves the port: the controller ends with its last client.
    app_->kill(SIGTERM);
    EXPECT_TRUE(app_->waitExit());
    app_.reset();
    EXPECT_TRUE(waitUntil([&] { return controllerPids(binDir() + "/TAVIK", port_).empty(); }));
}

TEST_F(LumoEndToEnd, TheViewerEndsCleanlyWhenTheDisplayGoesAway) {
    using namespace tavik::test;
    const Window a = makeWindow(dpy_, DefaultRootWindow(dpy_), 10, 10, 100, 80, 0xFFFFFF);
    fill(dpy_, a, 0, 0, 20, 20, 0x000000);
    setActive(dpy_, a);
    startLumo();
    ASSERT_TRUE(pad_->waitState([](const std::string& st) {
        return Padsim::grid(st, "plane1").size() == kRows && st.find('#') != std::string::npos;
    })) << pad_->state();
    XCloseDisplay(dpy_);
    dpy_ = nullptr;
    xvfb_->kill();
    EXPECT_TRUE(app_->waitExit());
    app_.reset();
    EXPECT_TRUE(waitUntil([&] { return controllerPids(binDir() + "/TAVIK", port_).empty(); }));
}

// Qt on the same X server ends the process as soon as the server goes: a refresh choice made on
// the device in the session is in Lumo.ini all the same.
TEST_F(LumoEndToEnd, ASettingChangedInTheSessionIsSavedWhenTheDisplayGoesAway) {
    using namespace tavik::test;
    const Window a = makeWindow(dpy_, DefaultRootWindow(dpy_), 10, 10, 100, 80, 0xFFFFFF);
    fill(dpy_, a, 0, 0, 20, 20, 0x000000);
    setActive(dpy_, a);
    startLumo("xcb");
    ASSERT_TRUE(pad_->waitState([](const std::string& st) {
        return Padsim::grid(st, "plane1").size() == kRows && st.find('#') != std::string::npos;
    })) << pad_->state();
    // Text-line key 5 five times: the refresh page; key 27 there chooses 0.2 s.
    for (int i = 0; i < 5; ++i) pad_->command("key 2 5 0");
    pad_->command("key 2 27 0");
    tavik::lumo::TextLineInput in;
    in.scanningMode = 1;
    in.page = 5;
    in.refresh = 2;
    tavik::lumo::TextLine line;
    tavik::lumo::buildTextLine(in, false, line);
    std::array<uint8_t, tavik::lumo::kTextLineCells> device{};
    tavik::lumo::toDeviceLine(line, device);
    const std::string chosen = hexOf(std::vector<unsigned char>(device.begin(), device.end()));
    ASSERT_TRUE(pad_->waitState([&](const std::string& st) { return Padsim::value(st, "text") == chosen; }))
        << pad_->state() << "\nexpected " << chosen;

    XCloseDisplay(dpy_);
    dpy_ = nullptr;
    xvfb_->kill();
    EXPECT_TRUE(app_->waitExit());
    app_.reset();
    const std::string ini = readFile(dir_ + "/config/Orvane/TAVIK200_J/Lumo.ini");
    EXPECT_NE(ini.find("Refresh=2"), std::string::npos) << ini;
}

// With an accessibility bus (the test runs under its own session bus): the caret of a wide text
// field in a Qt application lands in the middle column of the pins.
class LumoAccessibility : public LumoEndToEnd {};

TEST_F(LumoAccessibility, MovingTheCaretInAWideFieldPutsItInTheMiddleColumn) {
    const char* appPath = std::getenv("LUMO_TEXT_FIELD_APP");
    if (!std::getenv("DBUS_SESSION_BUS_ADDRESS") || !appPath) GTEST_SKIP() << "no session bus or no test application";
    writeFile(dir_ + "/config/Orvane/TAVIK200_J/Lumo.ini",
              "[Connection]\nPort=" + std::to_string(port_) +
                  "\nHardware=2\n[Browse]\nScanningMode=2\nRefresh=1\nViewFrame=0\n");
    // The viewer first: its hook listens before the application's accessibility starts.
    startLumo();
    ASSERT_TRUE(pad_->waitState([](const std::string& st) { return st.find("frames_received") != std::string::npos &&
                                                                   Padsim::value(st, "text").substr(0, 2) == "c8"; }))
        << pad_->state();  // "f": focus-sync on the whole screen's record until a window is in front
    Child field(appPath, {},
                {"DISPLAY=" + xvfb_->display(), "QT_QPA_PLATFORM=xcb", "QT_LINUX_ACCESSIBILITY_ALWAYS_ON=1"});
    const auto shown = field.expect("window ");
    ASSERT_TRUE(shown.has_value());
    unsigned long long id = 0;
    int wx = 0, wy = 0;
    ASSERT_EQ(std::sscanf(shown->c_str(), "window %llu %d %d", &id, &wx, &wy), 3);
    tavik::test::setActive(dpy_, static_cast<Window>(id));

    // The hook listens once the viewer's threads run: move the caret until its caret record appears.
    std::optional<tavik::platform::SharedSection> hookMap;
    ASSERT_TRUE(waitUntil([&] {
        hookMap = tavik::platform::SharedSection::open(lumo::kHookName,
                                                       tavik::platform::SharedSection::Access::ReadOnly, lumo::kHookSize);
        return hookMap.has_value();
    }));
    const auto* hook = static_cast<const lumo::HookData*>(hookMap->data());
    int nudge = 0;
    ASSERT_TRUE(waitUntil([&] {
        field.send("caret " + std::to_string(5 + (nudge++ % 2)));
        field.expect("caret ");
        for (const auto& t : hook->threads)
            if (t.inUse && t.threadId == field.pid() && t.kind == 1) return true;
        return false;
    })) << "no caret record from the accessibility bus";

    auto share = tavik::platform::SharedSection::open(lumo::kShareName,
                                                      tavik::platform::SharedSection::Access::ReadOnly, lumo::kShareSize);
    ASSERT_TRUE(share.has_value());
    const auto* s = static_cast<const lumo::ViewerShare*>(share->data());
    // The pin column under the caret in the record of the field's window (-1 while there is none).
    auto caretColumn = [&](int caretScreenX) {
        for (const auto& r : s->records)
            if (r.useStamp != 0 && r.keyWindow == id && r.cellWidth > 0) return (caretScreenX - wx - r.baseX) / r.cellWidth;
        return -1;
    };
    auto hookText = [&] {
        std::string t;
        for (const auto& h : hook->threads)
            if (h.inUse && h.threadId == field.pid())
                t += "hook record: window " + std::to_string(h.window) + " kind " + std::to_string(h.kind) + " caret " +
                     std::to_string(h.caretX) + "," + std::to_string(h.caretY) + " screen " +
                     std::to_string(h.screenGiven) + " " + std::to_string(h.screenX) + "," +
                     std::to_string(h.screenY) + " changed " + std::to_string(h.changed);
        return t;
    };
    for (int position : {100, 40}) {
        field.send("caret " + std::to_string(position));
        const auto moved = field.expect("caret ");
        ASSERT_TRUE(moved.has_value());
        int cx = 0, cy = 0;
        ASSERT_EQ(std::sscanf(moved->c_str(), "caret %d %d", &cx, &cy), 2);
        ASSERT_GT(cx - wx, 64) << "the caret must lie beyond half the view";
        // The character's extents (what the hook reports) and the drawn caret line may differ by
        // a pixel or two: the middle column of 64 is 32.
        EXPECT_TRUE(waitUntil([&] {
            const int col = caretColumn(cx);
            return col >= 30 && col <= 34;
        })) << "caret at " << cx << ", column " << caretColumn(cx) << "; " << hookText();
    }
    field.kill(SIGTERM);
}

// An accessible application that stops answering (SIGSTOP) while the hook follows it holds the
// accessibility thread in calls to it: Exit still ends the viewer at once and cleanly (under the
// address sanitizer: no report, which would make the exit status non-zero).
TEST_F(LumoAccessibility, ExitEndsPromptlyWhileTheFollowedApplicationIsStopped) {
    const char* appPath = std::getenv("LUMO_TEXT_FIELD_APP");
    if (!std::getenv("DBUS_SESSION_BUS_ADDRESS") || !appPath) GTEST_SKIP() << "no session bus or no test application";
    writeFile(dir_ + "/config/Orvane/TAVIK200_J/Lumo.ini",
              "[Connection]\nPort=" + std::to_string(port_) +
                  "\nHardware=2\n[Browse]\nScanningMode=2\nRefresh=1\nViewFrame=0\n");
    startLumo();
    ASSERT_TRUE(pad_->waitState([](const std::string& st) { return st.find("frames_received") != std::string::npos; }))
        << pad_->state();
    Child field(appPath, {},
                {"DISPLAY=" + xvfb_->display(), "QT_QPA_PLATFORM=xcb", "QT_LINUX_ACCESSIBILITY_ALWAYS_ON=1"});
    const auto shown = field.expect("window ");
    ASSERT_TRUE(shown.has_value());
    unsigned long long id = 0;
    ASSERT_EQ(std::sscanf(shown->c_str(), "window %llu", &id), 1);
    tavik::test::setActive(dpy_, static_cast<Window>(id));
    std::optional<tavik::platform::SharedSection> hookMap;
    ASSERT_TRUE(waitUntil([&] {
        hookMap = tavik::platform::SharedSection::open(lumo::kHookName,
                                                       tavik::platform::SharedSection::Access::ReadOnly, lumo::kHookSize);
        return hookMap.has_value();
    }));
    const auto* hook = static_cast<const lumo::HookData*>(hookMap->data());
    int nudge = 0;
    ASSERT_TRUE(waitUntil([&] {
        field.send("caret " + std::to_string(5 + (nudge++ % 2)));
        field.expect("caret ");
        for (const auto& t : hook->threads)
            if (t.inUse && t.threadId == field.pid()) return true;
        return false;
    })) << "the hook never followed the application";

    // Events of the application are under way when it stops: the hook's calls about them (and
    // its caret poll of the focused field) wait for an answer that does not come.
    for (int i = 0; i < 20; ++i) field.send("caret " + std::to_string(10 + i));
    field.expect("caret ");
    field.kill(SIGSTOP);
    std::this_thread::sleep_for(std::chrono::milliseconds(500));  // the accessibility thread is held up by now

    const auto asked = std::chrono::steady_clock::now();
    app_->kill(SIGTERM);  // the same shutdown as Exit in the dialog
    const auto status = app_->waitExit(std::chrono::seconds(10));  // hang guard of the test only
    const double took = std::chrono::duration<double>(std::chrono::steady_clock::now() - asked).count();
    std::printf("Lumo ended %.2f s after it was asked to, with the followed application stopped\n", took);
    field.kill(SIGCONT);
    field.kill(SIGKILL);
    ASSERT_TRUE(status.has_value()) << "Lumo did not end within 10 s";
    EXPECT_EQ(*status, 0);
    app_.reset();
}

TEST(LumoProgram, HelpNeedsNoDisplayAndNoDisplayGivesAClearMessage) {
    const std::string bin = binDir();
    if (!std::filesystem::exists(bin + "/Lumo")) GTEST_SKIP() << "Lumo not built";
    Child help(bin + "/Lumo", {"--help"}, {"DISPLAY="});
    EXPECT_TRUE(help.expect("Usage: Lumo").has_value());
    EXPECT_TRUE(help.waitExit());
    const TempDir tmp("lumo-nodisplay");
    const std::string dir = tmp.path();
    Child none("/bin/sh", {"-c", "unset DISPLAY WAYLAND_DISPLAY QT_QPA_PLATFORM; exec \"$0\" 2>&1", bin + "/Lumo"},
               {"XDG_CONFIG_HOME=" + dir});
    EXPECT_TRUE(none.expect("Lumo: no display").has_value());
    EXPECT_TRUE(none.waitExit());
}

}  // namespace
