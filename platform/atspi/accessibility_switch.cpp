// Reading and writing org.a11y.Status.IsEnabled over a private GDBus connection, every call
// bounded.
#include "platform/atspi/accessibility_switch.h"

#include <gio/gio.h>

#include <atomic>
#include <cstdio>
#include <optional>

namespace tavik::atspi {

namespace {

constexpr const char* kName = "org.a11y.Bus";
constexpr const char* kPath = "/org/a11y/bus";
constexpr const char* kStatus = "org.a11y.Status";
constexpr const char* kProperty = "IsEnabled";
constexpr int kFirstCallMs = 1500;  // may start the bus launcher through D-Bus activation
constexpr int kCallMs = 500;

void sayOnce(const char* text) {
    static std::atomic<bool> said{false};
    if (!said.exchange(true)) std::fputs(text, stderr);
}

bool missingService(const GError* err) {
    return g_error_matches(err, G_DBUS_ERROR, G_DBUS_ERROR_SERVICE_UNKNOWN) ||
           g_error_matches(err, G_DBUS_ERROR, G_DBUS_ERROR_NAME_HAS_NO_OWNER) ||
           g_error_matches(err, G_DBUS_ERROR, G_DBUS_ERROR_SPAWN_SERVICE_NOT_FOUND) ||
           g_error_matches(err, G_DBUS_ERROR, G_DBUS_ERROR_SPAWN_EXEC_FAILED);
}

}  // namespace

struct AccessibilitySwitch::Bus {
    GDBusConnection* conn = nullptr;

    ~Bus() {
        if (conn) {
            g_dbus_connection_close_sync(conn, nullptr, nullptr);
            g_object_unref(conn);
        }
    }

    // The property; nullopt with `missing` set when no accessibility bus answers.
    std::optional<bool> read(int timeoutMs, bool* missing) {
        GError* err = nullptr;
        GVariant* reply = g_dbus_connection_call_sync(conn, kName, kPath, "org.freedesktop.DBus.Properties", "Get",
                                                      g_variant_new("(ss)", kStatus, kProperty),
                                                      G_VARIANT_TYPE("(v)"), G_DBUS_CALL_FLAGS_NONE, timeoutMs,
                                                      nullptr, &err);
        if (!reply) {
            if (missing) *missing = missingService(err);
            g_clear_error(&err);
            return std::nullopt;
        }
        GVariant* inner = nullptr;
        g_variant_get(reply, "(v)", &inner);
        std::optional<bool> value;
        if (inner && g_variant_is_of_type(inner, G_VARIANT_TYPE_BOOLEAN)) value = g_variant_get_boolean(inner) != 0;
        if (inner) g_variant_unref(inner);
        g_variant_unref(reply);
        return value;
    }

    bool write(bool on) {
        GError* err = nullptr;
        GVariant* reply = g_dbus_connection_call_sync(
            conn, kName, kPath, "org.freedesktop.DBus.Properties", "Set",
            g_variant_new("(ssv)", kStatus, kProperty, g_variant_new_boolean(on)), nullptr, G_DBUS_CALL_FLAGS_NONE,
            kCallMs, nullptr, &err);
        g_clear_error(&err);
        if (!reply) return false;
        g_variant_unref(reply);
        return true;
    }
};

AccessibilitySwitch::AccessibilitySwitch() {
    GError* err = nullptr;
    gchar* address = g_dbus_address_get_for_bus_sync(G_BUS_TYPE_SESSION, nullptr, &err);
    g_clear_error(&err);
    if (!address) {
        sayOnce("No session bus: the accessibility bus cannot be reached; focus and caret are not followed.\n");
        return;
    }
    // A private connection: a bus that goes away later must not end the process.
    GDBusConnection* conn = g_dbus_connection_new_for_address_sync(
        address,
        static_cast<GDBusConnectionFlags>(G_DBUS_CONNECTION_FLAGS_AUTHENTICATION_CLIENT |
                                          G_DBUS_CONNECTION_FLAGS_MESSAGE_BUS_CONNECTION),
        nullptr, nullptr, &err);
    g_free(address);
    g_clear_error(&err);
    if (!conn) {
        sayOnce("The session bus does not answer: accessibility is not switched on; focus and caret are not "
                "followed.\n");
        return;
    }
    g_dbus_connection_set_exit_on_close(conn, FALSE);
    bus_ = std::make_unique<Bus>();
    bus_->conn = conn;

    bool missing = false;
    const auto on = bus_->read(kFirstCallMs, &missing);
    if (!on) {
        if (missing) {
            state_ = State::NoBus;
            sayOnce("No accessibility bus on the session bus (install at-spi2-core): applications do not tell "
                    "where focus and caret are, so the view does not follow them.\n");
        } else {
            state_ = State::Refused;
            sayOnce("The accessibility bus did not tell whether accessibility is on; it is left as it is.\n");
        }
        bus_.reset();
        return;
    }
    if (*on) {
        state_ = State::WasOn;
        bus_.reset();
        return;
    }
    if (!bus_->write(true)) {
        state_ = State::Refused;
        sayOnce("The accessibility bus refused to switch accessibility on: applications may not tell where focus "
                "and caret are.\n");
        bus_.reset();
        return;
    }
    state_ = State::SwitchedOn;
}

AccessibilitySwitch::~AccessibilitySwitch() {
    if (state_ != State::SwitchedOn || !bus_) return;
    // Someone who switched it off meanwhile keeps it off; else it goes back to how we found it.
    if (bus_->read(kCallMs, nullptr).value_or(false)) bus_->write(false);
}

}  // namespace tavik::atspi
