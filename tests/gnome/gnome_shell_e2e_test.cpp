// The desktop layer in a headless GNOME Shell session of its own (gnome_session.sh: GNOME Shell
// on a 1280x800 virtual monitor, its own buses, PipeWire, the suite's extension enabled). The
// outer case starts the session with this program inside it; the inside case puts two Qt windows
// of known size at known places (through the shell's Eval call, which a test-only extension
// opens) and checks that the extension reports exactly those places, the processes behind them,
// the window in front and its changes, and that the Wayland back end's window queries answer with
// the same places; then the screen viewer's pins through the shell's screen cast and a click
// through the RemoteDesktop portal, their consent dialogs answered the way a user would.
#include <gio/gio.h>
#include <gtest/gtest.h>
#include <sys/wait.h>
#include <unistd.h>

#include <array>
#include <atomic>
#include <cctype>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

#include "platform/atspi/accessibility_switch.h"
#include "platform/desktop/desktop.h"
#include "platform/desktop/gnome/extension_facts.h"
#include "platform/desktop/wayland/wayland_hotkeys.h"
#include "platform/shared_section.h"
#include "screenviewer/share_layout.h"
#include "tests/gnome/portal_dialog.h"
#include "tests/support/child.h"
#include "tests/support/library_pins.h"
#include "tests/support/lumo_on_padsim.h"
#include "tests/support/files.h"
#include "tests/support/hook_records.h"
#include "tests/support/temp_dir.h"
#include "tests/support/wait.h"

using namespace tavik::test;
namespace dt = tavik::desktop;

namespace {

bool insideSession() { return std::getenv("TAVIK_GNOME_SESSION") != nullptr; }

std::string self() {
    char path[4096] = {};
    const ssize_t n = readlink("/proc/self/exe", path, sizeof path - 1);
    return n > 0 ? std::string(path, size_t(n)) : std::string{};
}

TEST(GnomeShellSession, ExtensionFactsAndTheWaylandBackEnd) {
    if (insideSession()) GTEST_SKIP() << "inside the session";
    const std::string command = std::string(SESSION_SCRIPT) + " " + EXTENSION_DIR + " " + TEST_EXTENSION_DIR +
                                " -- " + self() + " --gtest_filter='InsideGnome.*' 2>&1";
    FILE* p = popen(command.c_str(), "r");
    ASSERT_NE(p, nullptr);
    std::string out;
    std::array<char, 4096> buf{};
    while (size_t got = std::fread(buf.data(), 1, buf.size(), p)) out.append(buf.data(), got);
    const int status = pclose(p);
    const int rc = WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
    if (rc == 77) {
        const size_t at = out.find("SKIP:");
        GTEST_SKIP() << (at == std::string::npos ? out : out.substr(at));
    }
    EXPECT_EQ(rc, 0) << out;
    // Every case ran, but for the click where this machine's shell gives no button (said in the
    // output).
    for (size_t at = out.find("[  SKIPPED ] "); at != std::string::npos; at = out.find("[  SKIPPED ] ", at + 1)) {
        const std::string line = out.substr(at + 13, out.find('\n', at) - at - 13);
        if (line.empty() || std::isdigit(static_cast<unsigned char>(line[0]))) continue;  // the summary
        EXPECT_EQ(line.rfind("InsideGnome.AClickThroughTheRemoteDesktopPortal", 0), 0u) << line << "\n" << out;
    }
    EXPECT_NE(out.find("[  PASSED  ]"), std::string::npos) << out;
    std::printf("%s", out.c_str());
}

// ---- Inside the session ----

// Runs `script` in GNOME Shell (org.gnome.Shell.Eval); its result as the shell gives it.
std::optional<std::string> shellEval(const std::string& script) {
    GDBusConnection* conn = dt::gnome::openSessionBus();
    if (!conn) return std::nullopt;
    GVariant* reply = g_dbus_connection_call_sync(conn, "org.gnome.Shell", "/org/gnome/Shell", "org.gnome.Shell", "Eval",
                                                  g_variant_new("(s)", script.c_str()), G_VARIANT_TYPE("(bs)"),
                                                  G_DBUS_CALL_FLAGS_NONE, 5000, nullptr, nullptr);
    g_object_unref(conn);
    if (!reply) return std::nullopt;
    gboolean ok = FALSE;
    const gchar* text = nullptr;
    g_variant_get(reply, "(b&s)", &ok, &text);
    std::optional<std::string> result;
    if (ok) result = text;
    g_variant_unref(reply);
    return result;
}

// Moves the window of process `pid` so that its frame starts at `to` and, when asked, puts it in
// front.
bool place(pid_t pid, dt::Point to, bool activate) {
    const std::string script =
        "(() => { const w = global.get_window_actors().map(a => a.meta_window).find(w => w.get_pid() === " +
        std::to_string(pid) + "); if (!w) return 'none'; w.move_frame(true, " + std::to_string(to.x) + ", " +
        std::to_string(to.y) + ");" + (activate ? " w.activate(global.get_current_time());" : "") +
        " return 'ok'; })()";
    const auto out = shellEval(script);
    return out && *out == "\"ok\"";
}

bool at(const dt::WindowFact* w, dt::Point p) { return w && w->frame.left == p.x && w->frame.top == p.y; }

const dt::WindowFact* ofProcess(const std::vector<dt::WindowFact>& windows, pid_t pid) {
    for (const auto& w : windows)
        if (w.pid == pid) return &w;
    return nullptr;
}

std::string describe(const std::optional<std::vector<dt::WindowFact>>& windows) {
    if (!windows) return "no answer";
    std::string t;
    for (const auto& w : *windows)
        t += "pid " + std::to_string(w.pid) + " '" + w.title + "' frame " + std::to_string(w.frame.left) + "," +
             std::to_string(w.frame.top) + " " + std::to_string(w.frame.width) + "x" + std::to_string(w.frame.height) +
             (w.focused ? " focused" : "") + "; ";
    return t;
}

TEST(InsideGnome, TheExtensionTellsTrueWindowPlacesAndTheBackEndUsesThem) {
    if (!insideSession()) GTEST_SKIP() << "only inside the GNOME session";
    // Accessibility on, as the screen viewer's start does, so that the Qt windows publish theirs.
    const tavik::atspi::AccessibilitySwitch accessibility;
    const std::vector<std::string> env = {"QT_QPA_PLATFORM=wayland"};
    Child left(PATTERN_WINDOW, {"tavik.left"}, env);
    Child right(PATTERN_WINDOW, {"tavik.right", "shifted"}, env);
    ASSERT_TRUE(left.expect("painted").has_value()) << "the first Qt window did not paint";
    ASSERT_TRUE(right.expect("painted").has_value()) << "the second Qt window did not paint";

    // Placed again until the places hold: the shell places a window itself when it first maps it.
    const dt::Point leftAt{60, 50}, rightAt{700, 380};
    auto facts = dt::gnome::ExtensionFacts::open();
    ASSERT_NE(facts, nullptr) << "the extension does not answer on the session bus";
    std::optional<std::vector<dt::WindowFact>> seen;
    EXPECT_TRUE(waitUntil([&] {
        place(right.pid(), rightAt, false);
        place(left.pid(), leftAt, true);
        seen = facts->windows();
        const dt::WindowFact* l = seen ? ofProcess(*seen, left.pid()) : nullptr;
        const dt::WindowFact* r = seen ? ofProcess(*seen, right.pid()) : nullptr;
        return at(l, leftAt) && at(r, rightAt) && l->focused && !r->focused && l->title == "pattern tavik.left";
    })) << describe(seen);
    if (seen) {
        for (const auto& w : *seen) {
            // The client area lies within the frame.
            EXPECT_GE(w.content.left, w.frame.left);
            EXPECT_GE(w.content.top, w.frame.top);
            EXPECT_LE(int64_t{w.content.left} + w.content.width, int64_t{w.frame.left} + w.frame.width);
            EXPECT_LE(int64_t{w.content.top} + w.content.height, int64_t{w.frame.top} + w.frame.height);
        }
    }

    // A change of the window in front and a move are signalled.
    std::atomic<int> changes{0};
    auto watch = facts->watch([&] { ++changes; });
    ASSERT_NE(watch, nullptr);
    const dt::Point moved{720, 400};
    ASSERT_TRUE(place(right.pid(), moved, true));
    EXPECT_TRUE(waitUntil([&] { return changes.load() > 0; })) << "no Changed signal";
    std::optional<dt::Rect> rightFrame;
    EXPECT_TRUE(waitUntil([&] {
        seen = facts->windows();
        const dt::WindowFact* r = seen ? ofProcess(*seen, right.pid()) : nullptr;
        if (r) rightFrame = r->frame;
        return at(r, moved) && r->focused;
    })) << describe(seen);
    watch.reset();

    // The Wayland back end: the window in front (from the accessibility bus) at the place the
    // shell gave it, not at the toolkit's own origin.
    if (accessibility.state() == tavik::atspi::AccessibilitySwitch::State::NoBus)
        GTEST_SKIP() << "no accessibility bus: the back end's window in front is not checked";
    ::setenv("TAVIK_DESKTOP", "wayland", 1);
    dt::Desktop desk;
    std::optional<dt::WindowId> front;
    // Waits until the back end's window in front belongs to process pid.
    auto frontBecomes = [&](pid_t pid) {
        return waitUntil([&] {
            front = desk.activeWindow();
            return front && desk.windowProcess(*front) == pid;
        });
    };
    EXPECT_TRUE(frontBecomes(right.pid())) << "the window in front is not the second window";
    if (front && rightFrame) {
        EXPECT_EQ(desk.windowRect(*front), rightFrame);
        const auto client = desk.clientRect(*front);
        ASSERT_TRUE(client.has_value());
        EXPECT_GE(client->left, moved.x);
        EXPECT_GE(client->top, moved.y);
    }

    // A window whose program is not on the accessibility bus (no session bus for it) is still
    // the window in front, where the shell put it.
    Child silent(PATTERN_WINDOW, {"tavik.silent"},
                 {"QT_QPA_PLATFORM=wayland", "DBUS_SESSION_BUS_ADDRESS=unix:path=/nonexistent"});
    ASSERT_TRUE(silent.expect("painted").has_value()) << "the third Qt window did not paint";
    const dt::Point silentAt{300, 200};
    std::optional<dt::Rect> silentFrame;
    EXPECT_TRUE(waitUntil([&] {
        place(silent.pid(), silentAt, true);
        seen = facts->windows();
        const dt::WindowFact* w = seen ? ofProcess(*seen, silent.pid()) : nullptr;
        if (w) silentFrame = w->frame;
        return at(w, silentAt) && w->focused;
    })) << describe(seen);
    EXPECT_TRUE(frontBecomes(silent.pid())) << "the window in front is not the window off the accessibility bus";
    if (front && silentFrame) {
        EXPECT_EQ(desk.windowRect(*front), silentFrame);
    }
}

// The screen viewer's dialog key (Super+V asked for) comes from the extension's binding, whose
// default is a key GNOME leaves free: pressing that key, through a virtual keyboard of the shell's
// own, reports the hot key's id.
TEST(InsideGnome, TheDialogKeyIsTheExtensionsBinding) {
    if (!insideSession()) GTEST_SKIP() << "only inside the GNOME session";
    std::mutex m;
    std::vector<int32_t> pressed;
    dt::wayland::WaylandHotKeys keys([&](const dt::DesktopEvent& e) {
        std::lock_guard lock(m);
        if (e.kind == dt::DesktopEvent::Kind::HotKey) pressed.push_back(e.hotKeyId);
    });
    ASSERT_EQ(keys.add(7, 0x76, dt::kModSuper), dt::DesktopStatus::Ok);
    const auto typed = shellEval(
        "(() => { const C = imports.gi.Clutter; const seat = C.get_default_backend().get_default_seat();"
        " const kb = seat.create_virtual_device(C.InputDeviceType.KEYBOARD_DEVICE);"
        " const t = imports.gi.GLib.get_monotonic_time();"
        " for (const k of [C.KEY_Super_L, C.KEY_Alt_L, C.KEY_v]) kb.notify_keyval(t, k, C.KeyState.PRESSED);"
        " for (const k of [C.KEY_v, C.KEY_Alt_L, C.KEY_Super_L]) kb.notify_keyval(t + 1000, k, C.KeyState.RELEASED);"
        " return 'ok'; })()");
    ASSERT_TRUE(typed && *typed == "\"ok\"") << (typed ? *typed : "no answer from Eval");
    EXPECT_TRUE(waitUntil([&] {
        std::lock_guard lock(m);
        return pressed == std::vector<int32_t>{7};
    })) << "the extension's key binding did not reach the hot key";
}

// The caret of a text field in a window away from the screen's origin: the focus hook places it
// on the screen through the extension's window places (the toolkit alone reports its window at
// 0,0 on Wayland), with accessibility switched on by the viewer's start.
TEST(InsideGnome, TheCaretOfAFieldAwayFromTheOriginIsPlacedWhereItIs) {
    if (!insideSession()) GTEST_SKIP() << "only inside the GNOME session";
    const TempDir tmp("gnome-caret");
    LumoOnPadsim lumo(tmp.path(), {}, "ScanningMode=2\nRefresh=1\nViewFrame=0\n");
    ASSERT_TRUE(lumo.started());
    // The hook's start switches accessibility on; the field comes after it.
    ASSERT_TRUE(waitUntil([] {
        return shellEval("imports.gi.Gio.DBus.session.call_sync('org.a11y.Bus', '/org/a11y/bus', "
                         "'org.freedesktop.DBus.Properties', 'Get', new imports.gi.GLib.Variant('(ss)', "
                         "['org.a11y.Status', 'IsEnabled']), null, 0, 1000, null).deepUnpack()[0].deepUnpack()") ==
               "true";
    })) << "the viewer's start did not switch accessibility on";
    // With Qt's own title bar: the shell's frame holds it, the toolkit's accessible window (the
    // 900 x 40 field) leaves it out.
    Child field(TEXT_FIELD_APP, {}, {"QT_QPA_PLATFORM=wayland"});
    ASSERT_TRUE(field.expect("window ").has_value());
    const dt::Point to{300, 200};
    auto facts = dt::gnome::ExtensionFacts::open();
    ASSERT_NE(facts, nullptr);
    std::optional<dt::Rect> client;
    ASSERT_TRUE(waitUntil([&] {
        place(field.pid(), to, true);
        const auto seen = facts->windows();
        const dt::WindowFact* w = seen ? ofProcess(*seen, field.pid()) : nullptr;
        if (at(w, to) && w->focused) client = w->content;
        return client.has_value();
    })) << "the field's window was not placed";

    auto inside = [&](int x, int y) {
        return x >= client->left && x < client->left + client->width && y >= client->top &&
               y < client->top + client->height;
    };
    std::string last = "no caret record";
    int nudge = 0;
    EXPECT_TRUE(waitUntil([&] {
        field.send("caret " + std::to_string(30 + (nudge++ % 2)));
        field.expect("caret ");
        const auto t = caretRecord(field.pid());
        if (!t) return false;
        last = describeCaret(*t);
        // Thirty characters in: well right of the window's left edge, inside its client area,
        // and the screen place is the client place moved by where the shell put the window.
        // The field's line lies in the frame's lowest 40 px above the bottom border, below
        // Qt's title bar (a point laid on the frame's origin would sit in the title bar).
        const int64_t bottom = int64_t{client->top} + client->height;
        return inside(t->screenX, t->screenY) && t->screenX > client->left + 100 &&
               t->screenX - t->caretX == client->left && t->screenY - t->caretY == client->top &&
               t->screenY >= bottom - 40 - 32 && t->screenY < bottom;
    })) << last << "; client area " << client->left << "," << client->top << " " << client->width << "x"
        << client->height;
    field.kill(SIGTERM);
    EXPECT_TRUE(lumo.stop());
}

// Puts the windows of `first` at `firstAt` and `second` at `secondAt`, `first` in front; true once
// the extension reports them there (the shell places a window itself when it first maps it).
bool placeTwo(dt::WindowFacts& facts, pid_t first, dt::Point firstAt, pid_t second, dt::Point secondAt) {
    return waitUntil([&] {
        place(second, secondAt, false);
        place(first, firstAt, true);
        const auto seen = facts.windows();
        const dt::WindowFact* f = seen ? ofProcess(*seen, first) : nullptr;
        const dt::WindowFact* s = seen ? ofProcess(*seen, second) : nullptr;
        return at(f, firstAt) && at(s, secondAt) && f->focused;
    });
}

// The screen viewer on GNOME Wayland sees the screen through the shell's screen cast (the
// ScreenCast portal): the user consents once in the Screen Share dialog, a restart needs no
// dialog, and the pins equal the image library's panel of the window in front, whose place only
// the extension knows, and follow the focus to the other window.
TEST(InsideGnome, PinsShowTheWindowInFrontThroughTheScreenCast) {
    if (!insideSession()) GTEST_SKIP() << "only inside the GNOME session";
    for (const char* f : {"TAVIK", "Padrik.so", "padsim", "Lumo"})
        ASSERT_TRUE(std::filesystem::exists(binDir() + "/" + f)) << f << " not built";
    PortalDialogs dialogs;
    ASSERT_TRUE(dialogs.ready()) << "no accessibility bus to answer the Screen Share dialog through";
    const TempDir dir("gnome-cast");
    // Lumo's settings folder is this process's too: the permission Lumo keeps lets the test's own
    // capture in without a dialog.
    ::setenv("XDG_CONFIG_HOME", (dir / "config").c_str(), 1);
    ::setenv("TAVIK_DESKTOP", "wayland", 1);
    // Accessibility on before the windows start (Qt reads the switch at its start), so that the
    // desktop layer knows them on both sides: the extension's facts and the accessibility bus.
    const tavik::atspi::AccessibilitySwitch accessibility;
    // The first start asks; the permission is kept.
    const std::string tokenFile = dir / "config/Orvane/TAVIK200_J/ScreenCast.token";
    std::string firstToken;
    {
        LumoOnPadsim first(dir.path());
        ASSERT_TRUE(first.started());
        ASSERT_TRUE(waitUntil([&] { return !(firstToken = readFile(tokenFile)).empty(); }, 60s))
            << "Lumo kept no screen-cast permission; the dialog: " << dialogs.seen();
        EXPECT_TRUE(first.stop());
    }
    const int asked = dialogs.answered();
    EXPECT_GE(asked, 1);

    // The next start uses it without asking. The viewer runs before the windows start, as one
    // started with the session does.
    LumoOnPadsim lumo(dir.path());
    ASSERT_TRUE(lumo.started());
    ASSERT_TRUE(waitUntil([&] { return mixed(lumo.pad().grid("plane1")); }))
        << "the restarted viewer shows nothing of the screen; the dialog: " << dialogs.seen();
    EXPECT_EQ(dialogs.answered(), asked) << "the restart asked again: " << dialogs.seen();

    // Without Qt's own title bar, so that the view at each window's top-left corner sees the
    // blocks that tell one window from the other.
    const std::vector<std::string> env = {"QT_QPA_PLATFORM=wayland", "QT_WAYLAND_DISABLE_WINDOWDECORATION=1"};
    Child left(PATTERN_WINDOW, {"tavik.left"}, env);
    Child right(PATTERN_WINDOW, {"tavik.right", "shifted"}, env);
    ASSERT_TRUE(left.expect("painted").has_value());
    ASSERT_TRUE(right.expect("painted").has_value());
    auto facts = dt::gnome::ExtensionFacts::open();
    ASSERT_NE(facts, nullptr);
    const dt::Point leftAt{60, 50}, rightAt{700, 300};
    ASSERT_TRUE(placeTwo(*facts, left.pid(), leftAt, right.pid(), rightAt)) << describe(facts->windows());

    // The pins of the window in front's top-left corner, as the image library makes them here.
    dt::Desktop desk;
    std::string why;
    const auto expectedFor = [&](pid_t pid, std::vector<std::string>& rows) {
        return waitUntil([&] {
            const auto front = desk.activeWindow();
            const auto r = front && desk.windowProcess(*front) == pid ? desk.windowRect(*front) : std::nullopt;
            rows = r ? libraryPins(0, r->left, r->top, 1, 64, 48) : std::vector<std::string>{};
            why = !front ? "no window in front"
                  : !r   ? "the window in front is process " + std::to_string(desk.windowProcess(*front).value_or(0))
                         : "the capture at " + std::to_string(r->left) + "," + std::to_string(r->top) + " gave " +
                             std::to_string(rows.size()) + " rows:\n" + rowsText(rows);
            return mixed(rows);
        });
    };
    std::vector<std::string> leftPins, rightPins;
    ASSERT_TRUE(expectedFor(left.pid(), leftPins)) << why << "; the dialog: " << dialogs.seen();
    EXPECT_TRUE(lumo.waitPins(leftPins)) << "the left window is in front; pins:\n"
                                         << lumo.pinsText() << "expected:\n" << rowsText(leftPins);

    ASSERT_TRUE(place(right.pid(), rightAt, true));
    ASSERT_TRUE(expectedFor(right.pid(), rightPins)) << why;
    ASSERT_NE(leftPins, rightPins);
    EXPECT_TRUE(lumo.waitPins(rightPins)) << "the focus moved to the right window; pins:\n"
                                          << lumo.pinsText() << "expected:\n" << rowsText(rightPins);
    EXPECT_TRUE(lumo.stop());
    ::unsetenv("XDG_CONFIG_HOME");
}

// Clicks at `at` through a virtual pointer of the shell's own.
bool shellClick(dt::Point at) {
    const auto done = shellEval(
        "(() => { const C = imports.gi.Clutter; const seat = C.get_default_backend().get_default_seat();"
        " const p = seat.create_virtual_device(C.InputDeviceType.POINTER_DEVICE);"
        " const t = imports.gi.GLib.get_monotonic_time();"
        " p.notify_absolute_motion(t, " + std::to_string(at.x) + ", " + std::to_string(at.y) + ");"
        " p.notify_button(t + 1000, C.BUTTON_PRIMARY, C.ButtonState.PRESSED);"
        " p.notify_button(t + 2000, C.BUTTON_PRIMARY, C.ButtonState.RELEASED); return 'ok'; })()");
    return done && *done == "\"ok\"";
}

// The desktop layer's mouse on GNOME Wayland goes through the RemoteDesktop portal (its dialog
// answered once): the pointer goes to the screen point asked for, inside the window the shell put
// there, and a click lands at the window's own pixel that the extension's client area says lies
// under it.
TEST(InsideGnome, AClickThroughTheRemoteDesktopPortalLandsInTheWindowUnderIt) {
    if (!insideSession()) GTEST_SKIP() << "only inside the GNOME session";
    ASSERT_TRUE(std::filesystem::exists(CLICK_WINDOW)) << CLICK_WINDOW << " not built";
    PortalDialogs dialogs;
    ASSERT_TRUE(dialogs.ready()) << "no accessibility bus to answer the Remote desktop dialog through";
    const TempDir dir("gnome-click");
    ::setenv("XDG_CONFIG_HOME", (dir / "config").c_str(), 1);
    ::setenv("TAVIK_DESKTOP", "wayland", 1);
    const std::vector<std::string> env = {"QT_QPA_PLATFORM=wayland", "QT_WAYLAND_DISABLE_WINDOWDECORATION=1"};
    Child other(PATTERN_WINDOW, {"tavik.other"}, env);
    Child window(CLICK_WINDOW, {"tavik.click", "click here"}, env);
    ASSERT_TRUE(other.expect("painted").has_value());
    ASSERT_TRUE(window.expect("shown").has_value());
    auto facts = dt::gnome::ExtensionFacts::open();
    ASSERT_NE(facts, nullptr);
    const dt::Point to{330, 240};
    ASSERT_TRUE(placeTwo(*facts, window.pid(), to, other.pid(), {0, 0})) << describe(facts->windows());
    std::optional<dt::Rect> client;
    if (const auto seen = facts->windows())
        if (const dt::WindowFact* w = ofProcess(*seen, window.pid())) client = w->content;
    ASSERT_TRUE(client.has_value());

    dt::Desktop desk;
    const dt::Point target{client->left + 123, client->top + 77};
    // The first move opens the portal's session, waiting for the dialog's answer.
    ASSERT_EQ(desk.movePointer(target), dt::DesktopStatus::Ok) << "the dialog: " << dialogs.seen();
    EXPECT_GE(dialogs.answered(), 1);
    // The portal moves by relative steps from the corner: they add up to the point asked for.
    const std::string expectedAt = "\"" + std::to_string(target.x) + "," + std::to_string(target.y) + "\"";
    EXPECT_TRUE(waitUntil([&] { return shellEval("global.get_pointer().slice(0, 2).join(',')") == expectedAt; }))
        << "the shell's pointer: " << shellEval("global.get_pointer().slice(0, 2).join(',')").value_or("?")
        << ", asked for " << expectedAt;
    ASSERT_EQ(desk.pressButton(1, true), dt::DesktopStatus::Ok);
    ASSERT_EQ(desk.pressButton(1, false), dt::DesktopStatus::Ok);
    auto press = window.expect("press ", 5s);
    if (!press) {
        // Whether this shell gives a window any button: its own virtual pointer clicks the same place.
        ASSERT_TRUE(shellClick(target));
        if (!window.expect("press ", 5s))
            GTEST_SKIP() << "this headless GNOME Shell moves the pointer onto the window but gives Wayland clients "
                            "no button (its own virtual pointer's click did not arrive either): the portal's "
                            "click is not checked here";
        // The shell gives buttons now (its first click may go to focusing the window): the portal's again.
        ASSERT_EQ(desk.pressButton(1, true), dt::DesktopStatus::Ok);
        ASSERT_EQ(desk.pressButton(1, false), dt::DesktopStatus::Ok);
        press = window.expect("press ", 5s);
        ASSERT_TRUE(press.has_value()) << "the shell's own click reached the window, the portal's did not";
    }
    int button = 0, x = 0, y = 0;
    ASSERT_EQ(std::sscanf(press->c_str(), "press %d %d %d", &button, &x, &y), 3) << *press;
    EXPECT_EQ(button, 1);
    EXPECT_EQ(x, 123) << *press << "; client area " << client->left << "," << client->top;
    EXPECT_EQ(y, 77) << *press << "; client area " << client->left << "," << client->top;
    ::unsetenv("XDG_CONFIG_HOME");
}

}  // namespace

