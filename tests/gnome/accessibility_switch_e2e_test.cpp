// The session's accessibility switch end to end, under a private Xvfb and the test's own session
// bus (the accessibility bus is started on demand, as on a desktop without a screen reader): the
// screen viewer's start switches accessibility on, so that a Qt application started without any
// accessibility variable publishes its caret, which reaches the viewer's hook records; the
// viewer's end switches accessibility off again.
#include <gio/gio.h>
#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <optional>
#include <string>

#include "platform/desktop/gnome/extension_facts.h"
#include "tests/support/child.h"
#include "tests/support/hook_records.h"
#include "tests/support/lumo_on_padsim.h"
#include "tests/support/temp_dir.h"
#include "tests/support/wait.h"
#include "tests/support/x_helpers.h"
#include "tests/support/xvfb.h"

using namespace tavik::test;

namespace {

// org.a11y.Status.IsEnabled as the accessibility bus tells it; nullopt without an answer.
std::optional<bool> accessibilityOn() {
    GDBusConnection* conn = tavik::desktop::gnome::openSessionBus();
    if (!conn) return std::nullopt;
    GVariant* reply = g_dbus_connection_call_sync(
        conn, "org.a11y.Bus", "/org/a11y/bus", "org.freedesktop.DBus.Properties", "Get",
        g_variant_new("(ss)", "org.a11y.Status", "IsEnabled"), G_VARIANT_TYPE("(v)"), G_DBUS_CALL_FLAGS_NONE, 3000,
        nullptr, nullptr);
    g_object_unref(conn);
    if (!reply) return std::nullopt;
    GVariant* inner = nullptr;
    g_variant_get(reply, "(v)", &inner);
    std::optional<bool> on;
    if (g_variant_is_of_type(inner, G_VARIANT_TYPE_BOOLEAN)) on = g_variant_get_boolean(inner) != 0;
    g_variant_unref(inner);
    g_variant_unref(reply);
    return on;
}

TEST(AccessibilitySwitch, TheViewersStartMakesAnApplicationWithoutVariablesPublishItsCaret) {
    const char* fieldApp = std::getenv("LUMO_TEXT_FIELD_APP");
    if (!std::getenv("DBUS_SESSION_BUS_ADDRESS") || !fieldApp) GTEST_SKIP() << "no session bus or no test application";
    for (const char* f : {"TAVIK", "Padrik.so", "padsim", "Lumo", "LumoHook.so"})
        if (!std::filesystem::exists(std::string(std::getenv("TAVIK_BIN_DIR")) + "/" + f))
            GTEST_SKIP() << f << " not built";
    const auto before = accessibilityOn();
    if (!before) GTEST_SKIP() << "no accessibility bus on the session bus (at-spi2-core)";
    ASSERT_FALSE(*before) << "accessibility is on before the viewer starts: the test proves nothing";

    Xvfb xvfb("1024x768x24");
    if (xvfb.display().empty()) GTEST_SKIP() << "no Xvfb";
    Display* dpy = XOpenDisplay(xvfb.display().c_str());
    ASSERT_NE(dpy, nullptr);

    // None of the variables that force an application's accessibility on.
    ::unsetenv("QT_LINUX_ACCESSIBILITY_ALWAYS_ON");
    ::unsetenv("QT_ACCESSIBILITY");
    ::unsetenv("GNOME_ACCESSIBILITY");
    const TempDir tmp("a11y-switch");
    {
        LumoOnPadsim lumo(tmp.path(), {"DISPLAY=" + xvfb.display(), "QT_QPA_PLATFORM=offscreen"},
                          "ScanningMode=2\nRefresh=1\nViewFrame=0\n");
        ASSERT_TRUE(lumo.started());
        EXPECT_TRUE(waitUntil([] { return accessibilityOn() == true; })) << "the viewer did not switch accessibility on";

        Child field(fieldApp, {}, {"DISPLAY=" + xvfb.display(), "QT_QPA_PLATFORM=xcb"});
        const auto shown = field.expect("window ");
        ASSERT_TRUE(shown.has_value());
        unsigned long long id = 0;
        int wx = 0, wy = 0;
        ASSERT_EQ(std::sscanf(shown->c_str(), "window %llu %d %d", &id, &wx, &wy), 3);
        setActive(dpy, static_cast<Window>(id));
        int nudge = 0;
        EXPECT_TRUE(waitUntil([&] {
            field.send("caret " + std::to_string(5 + (nudge++ % 2)));
            field.expect("caret ");
            return caretRecord(field.pid()).has_value();
        })) << "no caret record of the application";
        field.kill(SIGTERM);
        EXPECT_TRUE(lumo.stop());
    }
    // Back as the viewer found it.
    EXPECT_TRUE(waitUntil([] { return accessibilityOn() == false; })) << "accessibility left on after the viewer";
    XCloseDisplay(dpy);
}

}  // namespace
