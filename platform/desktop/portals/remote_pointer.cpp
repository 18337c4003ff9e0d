// RemoteDesktop portal pointer: session set-up through portal requests on a private context,
// then plain method calls for motion and buttons.
#include "platform/desktop/portals/remote_pointer.h"

#include <gio/gio.h>

#include <algorithm>

#include "platform/desktop/wayland/pointer_motion.h"
#include "platform/desktop/portals/request.h"

namespace tavik::desktop::wayland {

namespace {
constexpr const char* kPortal = "org.freedesktop.portal.Desktop";
constexpr const char* kPortalPath = "/org/freedesktop/portal/desktop";
constexpr const char* kRemote = "org.freedesktop.portal.RemoteDesktop";
constexpr int kStepMs = 10000;
constexpr int kCallMs = 3000;
constexpr guint32 kPointerDevice = 2;
constexpr guint32 kPersistUntilRevoked = 2;
constexpr double kToCorner = 1e6;  // far enough to reach the corner of any layout

GVariant* options(const std::string& token) {
    GVariantBuilder b;
    g_variant_builder_init(&b, G_VARIANT_TYPE("a{sv}"));
    g_variant_builder_add(&b, "{sv}", "handle_token", g_variant_new_string(token.c_str()));
    return g_variant_builder_end(&b);
}

// The set-up on a context of its own, pushed as the thread's default while it runs so the
// Response signals are dispatched there and nowhere else.
class SetupContext {
public:
    SetupContext() : ctx_(g_main_context_new()) { g_main_context_push_thread_default(ctx_); }
    ~SetupContext() {
        g_main_context_pop_thread_default(ctx_);
        g_main_context_unref(ctx_);
    }
    GMainContext* get() const { return ctx_; }

private:
    GMainContext* ctx_;
};
}  // namespace

std::unique_ptr<PortalPointer> PortalPointer::open(const std::string& restoreToken, int startTimeoutMs) {
    if (!std::getenv("DBUS_SESSION_BUS_ADDRESS") && !std::getenv("XDG_RUNTIME_DIR")) return nullptr;
    SetupContext ctx;
    GError* err = nullptr;
    gchar* address = g_dbus_address_get_for_bus_sync(G_BUS_TYPE_SESSION, nullptr, &err);
    g_clear_error(&err);
    if (!address) return nullptr;
    GDBusConnection* conn = g_dbus_connection_new_for_address_sync(
        address,
        static_cast<GDBusConnectionFlags>(G_DBUS_CONNECTION_FLAGS_AUTHENTICATION_CLIENT |
                                          G_DBUS_CONNECTION_FLAGS_MESSAGE_BUS_CONNECTION),
        nullptr, nullptr, &err);
    g_clear_error(&err);
    g_free(address);
    if (!conn) return nullptr;
    std::unique_ptr<PortalPointer> p(new PortalPointer);
    p->conn_ = conn;

    // The portal with a pointer to offer.
    GVariant* v = g_dbus_connection_call_sync(conn, kPortal, kPortalPath, "org.freedesktop.DBus.Properties", "Get",
                                              g_variant_new("(ss)", kRemote, "AvailableDeviceTypes"),
                                              G_VARIANT_TYPE("(v)"), G_DBUS_CALL_FLAGS_NONE, 2000, nullptr, &err);
    g_clear_error(&err);
    if (!v) return nullptr;
    GVariant* inner = nullptr;
    g_variant_get(v, "(v)", &inner);
    const guint32 types = inner && g_variant_is_of_type(inner, G_VARIANT_TYPE_UINT32) ? g_variant_get_uint32(inner) : 0;
    if (inner) g_variant_unref(inner);
    g_variant_unref(v);
    if (!(types & kPointerDevice)) return nullptr;

    // CreateSession.
    std::string token = portalToken();
    GVariantBuilder create;
    g_variant_builder_init(&create, G_VARIANT_TYPE("a{sv}"));
    g_variant_builder_add(&create, "{sv}", "handle_token", g_variant_new_string(token.c_str()));
    g_variant_builder_add(&create, "{sv}", "session_handle_token", g_variant_new_string(portalToken().c_str()));
    PortalAnswer a;
    if (!portalRequest(conn, ctx.get(), kRemote, "CreateSession", g_variant_new("(a{sv})", &create), token, kStepMs,
                       a))
        return nullptr;
    const gchar* handle = nullptr;
    if (a.response == 0 && a.results) g_variant_lookup(a.results, "session_handle", "&s", &handle);
    if (handle && g_variant_is_object_path(handle)) p->session_ = handle;
    if (a.results) g_variant_unref(a.results);
    if (p->session_.empty()) return nullptr;

    // SelectDevices: the pointer, kept until the user revokes it.
    token = portalToken();
    GVariantBuilder select;
    g_variant_builder_init(&select, G_VARIANT_TYPE("a{sv}"));
    g_variant_builder_add(&select, "{sv}", "handle_token", g_variant_new_string(token.c_str()));
    g_variant_builder_add(&select, "{sv}", "types", g_variant_new_uint32(kPointerDevice));
    g_variant_builder_add(&select, "{sv}", "persist_mode", g_variant_new_uint32(kPersistUntilRevoked));
    if (!restoreToken.empty())
        g_variant_builder_add(&select, "{sv}", "restore_token", g_variant_new_string(restoreToken.c_str()));
    a = {};
    if (!portalRequest(conn, ctx.get(), kRemote, "SelectDevices",
                       g_variant_new("(oa{sv})", p->session_.c_str(), &select), token, kStepMs, a))
        return nullptr;
    if (a.results) g_variant_unref(a.results);
    if (a.response != 0) return nullptr;

    // Start: the user may be asked.
    token = portalToken();
    a = {};
    if (!portalRequest(conn, ctx.get(), kRemote, "Start",
                       g_variant_new("(os@a{sv})", p->session_.c_str(), "", options(token)), token, startTimeoutMs, a))
        return nullptr;
    guint32 devices = 0;
    const gchar* newToken = nullptr;
    if (a.results) {
        g_variant_lookup(a.results, "devices", "u", &devices);
        g_variant_lookup(a.results, "restore_token", "&s", &newToken);
        if (newToken) p->token_ = newToken;
    }
    if (a.results) g_variant_unref(a.results);
    if (a.response != 0 || !(devices & kPointerDevice)) return nullptr;
    return p;
}

PortalPointer::~PortalPointer() {
    if (!conn_) return;
    if (!session_.empty()) {
        GVariant* r = g_dbus_connection_call_sync(conn_, kPortal, session_.c_str(), "org.freedesktop.portal.Session",
                                                  "Close", nullptr, nullptr, G_DBUS_CALL_FLAGS_NONE, 1000, nullptr,
                                                  nullptr);
        if (r) g_variant_unref(r);
    }
    g_dbus_connection_close_sync(conn_, nullptr, nullptr);
    g_object_unref(conn_);
}

bool PortalPointer::notify(const char* method, GVariant* params) {
    GError* err = nullptr;
    GVariant* r = g_dbus_connection_call_sync(conn_, kPortal, kPortalPath, kRemote, method, params, nullptr,
                                              G_DBUS_CALL_FLAGS_NONE, kCallMs, nullptr, &err);
    g_clear_error(&err);
    if (!r) return false;
    g_variant_unref(r);
    return true;
}

DesktopStatus PortalPointer::moveTo(Point to, Rect layout) {
    if (layout.width > 0 && layout.height > 0) {
        to.x = static_cast<int32_t>(std::clamp<int64_t>(to.x, layout.left, int64_t{layout.left} + layout.width - 1));
        to.y = static_cast<int32_t>(std::clamp<int64_t>(to.y, layout.top, int64_t{layout.top} + layout.height - 1));
    }
    GVariantBuilder none;
    if (!position_) {
        // The known place is the bottom-right corner of the layout, where the compositor stops
        // the pointer on its last pixel. Not the top-left one: desktops put an action there (the
        // overview of GNOME and Plasma), and KWin pushes a pointer that reaches a corner with an
        // action back by a pixel in each direction, so every click landed one pixel right of and
        // below the point asked for. Without a known layout the top-left corner is all we know.
        const bool layoutKnown = layout.width > 0 && layout.height > 0;
        const double toCorner = layoutKnown ? kToCorner : -kToCorner;
        g_variant_builder_init(&none, G_VARIANT_TYPE("a{sv}"));
        if (!notify("NotifyPointerMotion", g_variant_new("(oa{sv}dd)", session_.c_str(), &none, toCorner, toCorner)))
            return DesktopStatus::NoDisplay;
        position_ = layoutKnown ? Point{static_cast<int32_t>(int64_t{layout.left} + layout.width - 1),
                                        static_cast<int32_t>(int64_t{layout.top} + layout.height - 1)}
                                : Point{layout.left, layout.top};
    }
    const double dx = double(to.x) - position_->x, dy = double(to.y) - position_->y;
    g_variant_builder_init(&none, G_VARIANT_TYPE("a{sv}"));
    if (!notify("NotifyPointerMotion", g_variant_new("(oa{sv}dd)", session_.c_str(), &none, dx, dy))) {
        position_.reset();  // where it went is not known
        return DesktopStatus::NoDisplay;
    }
    position_ = to;
    return DesktopStatus::Ok;
}

DesktopStatus PortalPointer::button(int button, bool down) {
    const auto code = linuxButton(button);
    if (!code) return DesktopStatus::Failed;
    GVariantBuilder none;
    g_variant_builder_init(&none, G_VARIANT_TYPE("a{sv}"));
    return notify("NotifyPointerButton", g_variant_new("(oa{sv}iu)", session_.c_str(), &none,
                                                       static_cast<gint32>(*code), down ? 1u : 0u))
               ? DesktopStatus::Ok
               : DesktopStatus::NoDisplay;
}

}  // namespace tavik::desktop::wayland
