// The tests' GlobalShortcuts portal stand-in on GDBus, on a thread and main context of its own.
#include "fake_portal.h"

#include <gio/gio.h>

#include <atomic>
#include <chrono>
#include <mutex>
#include <thread>

namespace wayland_test {

namespace {
constexpr const char* kXml =
    "<node><interface name='org.freedesktop.portal.GlobalShortcuts'>"
    "<method name='CreateSession'><arg type='a{sv}' direction='in'/><arg type='o' direction='out'/></method>"
    "<method name='BindShortcuts'><arg type='o' direction='in'/><arg type='a(sa{sv})' direction='in'/>"
    "<arg type='s' direction='in'/><arg type='a{sv}' direction='in'/><arg type='o' direction='out'/></method>"
    "<signal name='Activated'><arg type='o'/><arg type='s'/><arg type='t'/><arg type='a{sv}'/></signal>"
    "<property name='version' type='u' access='read'/>"
    "</interface>"
    "<interface name='org.freedesktop.portal.RemoteDesktop'>"
    "<method name='CreateSession'><arg type='a{sv}' direction='in'/><arg type='o' direction='out'/></method>"
    "<method name='SelectDevices'><arg type='o' direction='in'/><arg type='a{sv}' direction='in'/>"
    "<arg type='o' direction='out'/></method>"
    "<method name='Start'><arg type='o' direction='in'/><arg type='s' direction='in'/>"
    "<arg type='a{sv}' direction='in'/><arg type='o' direction='out'/></method>"
    "<method name='NotifyPointerMotion'><arg type='o' direction='in'/><arg type='a{sv}' direction='in'/>"
    "<arg type='d' direction='in'/><arg type='d' direction='in'/></method>"
    "<method name='NotifyPointerButton'><arg type='o' direction='in'/><arg type='a{sv}' direction='in'/>"
    "<arg type='i' direction='in'/><arg type='u' direction='in'/></method>"
    "<property name='AvailableDeviceTypes' type='u' access='read'/>"
    "<property name='version' type='u' access='read'/>"
    "</interface></node>";

std::string requestPath(const char* sender, const char* token) {
    std::string s = sender[0] == ':' ? sender + 1 : sender;
    for (char& c : s)
        if (c == '.') c = '_';
    return std::string("/org/freedesktop/portal/desktop/request/") + s + "/" + token;
}
}  // namespace

struct FakePortal::State {
    mutable std::mutex m;
    std::map<std::string, std::string> bound;
    int sessions = 0;
    std::string session;
    bool refuse = false;
    FakePortal::Remote remote;
    std::string remoteSession;
    std::atomic<int> owned{0};  // 1 owned, -1 failed
    GMainContext* ctx = nullptr;
    GMainLoop* loop = nullptr;
    GDBusConnection* conn = nullptr;
    std::thread thread;

    void respond(const char* sender, const std::string& path, guint32 code, GVariant* results) {
        g_dbus_connection_emit_signal(conn, sender, path.c_str(), "org.freedesktop.portal.Request", "Response",
                                      g_variant_new("(u@a{sv})", code, results), nullptr);
    }

    static void onRemote(State* s, const gchar* sender, const std::string& method, GVariant* params,
                         GDBusMethodInvocation* inv) {
        const char* token = "t";
        GVariantBuilder b;
        g_variant_builder_init(&b, G_VARIANT_TYPE("a{sv}"));
        if (method == "NotifyPointerMotion" || method == "NotifyPointerButton") {
            const gchar* session = nullptr;
            std::string call;
            if (method == "NotifyPointerMotion") {
                double dx = 0, dy = 0;
                g_variant_get(params, "(&o@a{sv}dd)", &session, nullptr, &dx, &dy);
                call = "motion " + std::to_string(long(dx)) + " " + std::to_string(long(dy));
            } else {
                gint32 code = 0;
                guint32 state = 0;
                g_variant_get(params, "(&o@a{sv}iu)", &session, nullptr, &code, &state);
                call = "button " + std::to_string(code) + " " + std::to_string(state);
            }
            {
                std::lock_guard lock(s->m);
                if (s->remoteSession == session) s->remote.calls.push_back(call);
            }
            g_dbus_method_invocation_return_value(inv, nullptr);
            return;
        }
        GVariant* opts = g_variant_get_child_value(params, method == "CreateSession" ? 0 : method == "Start" ? 2 : 1);
        g_variant_lookup(opts, "handle_token", "&s", &token);
        const std::string path = requestPath(sender, token);
        g_dbus_method_invocation_return_value(inv, g_variant_new("(o)", path.c_str()));
        if (method == "CreateSession") {
            const char* sessionToken = "rs";
            g_variant_lookup(opts, "session_handle_token", "&s", &sessionToken);
            std::string session = requestPath(sender, sessionToken);
            session.replace(session.find("/request/"), 9, "/session/");
            {
                std::lock_guard lock(s->m);
                s->remoteSession = session;
            }
            g_variant_builder_add(&b, "{sv}", "session_handle", g_variant_new_string(session.c_str()));
        } else if (method == "SelectDevices") {
            std::lock_guard lock(s->m);
            g_variant_lookup(opts, "types", "u", &s->remote.types);
            g_variant_lookup(opts, "persist_mode", "u", &s->remote.persistMode);
            const char* t = nullptr;
            if (g_variant_lookup(opts, "restore_token", "&s", &t)) s->remote.restoreToken = t;
        } else {  // Start
            {
                std::lock_guard lock(s->m);
                ++s->remote.starts;
            }
            g_variant_builder_add(&b, "{sv}", "devices", g_variant_new_uint32(2));
            g_variant_builder_add(&b, "{sv}", "restore_token", g_variant_new_string("granted-token"));
        }
        s->respond(sender, path, 0, g_variant_builder_end(&b));
        g_variant_unref(opts);
    }

    static void onCall(GDBusConnection*, const gchar* sender, const gchar*, const gchar* iface, const gchar* method,
                       GVariant* params, GDBusMethodInvocation* inv, gpointer data) {
        auto* s = static_cast<State*>(data);
        if (std::string(iface) == "org.freedesktop.portal.RemoteDesktop") return onRemote(s, sender, method, params, inv);
        const char* token = "t";
        if (std::string(method) == "CreateSession") {
            GVariant* opts = g_variant_get_child_value(params, 0);
            g_variant_lookup(opts, "handle_token", "&s", &token);
            const char* sessionToken = "s";
            g_variant_lookup(opts, "session_handle_token", "&s", &sessionToken);
            const std::string path = requestPath(sender, token);
            std::string session = requestPath(sender, sessionToken);
            session.replace(session.find("/request/"), 9, "/session/");
            g_dbus_method_invocation_return_value(inv, g_variant_new("(o)", path.c_str()));
            {
                std::lock_guard lock(s->m);
                ++s->sessions;
                s->session = session;
            }
            GVariantBuilder b;
            g_variant_builder_init(&b, G_VARIANT_TYPE("a{sv}"));
            g_variant_builder_add(&b, "{sv}", "session_handle", g_variant_new_string(session.c_str()));
            s->respond(sender, path, 0, g_variant_builder_end(&b));
            g_variant_unref(opts);
            return;
        }
        // BindShortcuts
        GVariant* list = g_variant_get_child_value(params, 1);
        GVariant* opts = g_variant_get_child_value(params, 3);
        g_variant_lookup(opts, "handle_token", "&s", &token);
        const std::string path = requestPath(sender, token);
        g_dbus_method_invocation_return_value(inv, g_variant_new("(o)", path.c_str()));
        std::map<std::string, std::string> got;
        GVariantIter it;
        g_variant_iter_init(&it, list);
        const gchar* id = nullptr;
        GVariant* info = nullptr;
        while (g_variant_iter_next(&it, "(&s@a{sv})", &id, &info)) {
            const char* trigger = "";
            g_variant_lookup(info, "preferred_trigger", "&s", &trigger);
            got[id] = trigger;
            g_variant_unref(info);
        }
        {
            std::lock_guard lock(s->m);
            if (!s->refuse) s->bound = got;
        }
        GVariantBuilder b;
        g_variant_builder_init(&b, G_VARIANT_TYPE("a{sv}"));
        s->respond(sender, path, s->refuse ? 1 : 0, g_variant_builder_end(&b));
        g_variant_unref(list);
        g_variant_unref(opts);
    }

    static GVariant* onGet(GDBusConnection*, const gchar*, const gchar*, const gchar*, const gchar* property,
                           GError**, gpointer) {
        return g_variant_new_uint32(std::string(property) == "AvailableDeviceTypes" ? 3 : 1);
    }

    void run() {
        ctx = g_main_context_new();
        g_main_context_push_thread_default(ctx);
        GError* err = nullptr;
        conn = g_bus_get_sync(G_BUS_TYPE_SESSION, nullptr, &err);
        g_clear_error(&err);
        if (!conn) {
            owned = -1;
            g_main_context_pop_thread_default(ctx);
            return;
        }
        GDBusNodeInfo* node = g_dbus_node_info_new_for_xml(kXml, nullptr);
        static const GDBusInterfaceVTable vtable = {onCall, onGet, nullptr, {}};
        for (int i = 0; i < 2; ++i)
            g_dbus_connection_register_object(conn, "/org/freedesktop/portal/desktop", node->interfaces[i], &vtable,
                                              this, nullptr, nullptr);
        GVariant* r = g_dbus_connection_call_sync(conn, "org.freedesktop.DBus", "/org/freedesktop/DBus",
                                                  "org.freedesktop.DBus", "RequestName",
                                                  g_variant_new("(su)", "org.freedesktop.portal.Desktop", 4u),
                                                  G_VARIANT_TYPE("(u)"), G_DBUS_CALL_FLAGS_NONE, 3000, nullptr, &err);
        g_clear_error(&err);
        guint32 reply = 0;
        if (r) {
            g_variant_get(r, "(u)", &reply);
            g_variant_unref(r);
        }
        loop = g_main_loop_new(ctx, FALSE);
        owned = reply == 1 ? 1 : -1;
        if (owned == 1) g_main_loop_run(loop);
        g_dbus_node_info_unref(node);
        g_main_loop_unref(loop);
        g_main_context_pop_thread_default(ctx);
    }
};

FakePortal::FakePortal(bool refuse) : s_(std::make_shared<State>()) {
    s_->refuse = refuse;
    auto s = s_;
    s_->thread = std::thread([s] { s->run(); });
    for (int i = 0; i < 200 && s_->owned == 0; ++i) std::this_thread::sleep_for(std::chrono::milliseconds(20));
}

FakePortal::~FakePortal() {
    for (int i = 0; i < 200 && s_->owned == 0; ++i) std::this_thread::sleep_for(std::chrono::milliseconds(20));
    if (s_->owned == 1) {
        GMainLoop* loop = s_->loop;
        g_main_context_invoke(s_->ctx, [](gpointer l) -> gboolean {
            g_main_loop_quit(static_cast<GMainLoop*>(l));
            return G_SOURCE_REMOVE;
        }, loop);
    }
    if (s_->thread.joinable()) s_->thread.join();
    if (s_->conn) g_object_unref(s_->conn);
    if (s_->ctx) g_main_context_unref(s_->ctx);
}

bool FakePortal::ok() const { return s_->owned == 1; }

std::map<std::string, std::string> FakePortal::bound() const {
    std::lock_guard lock(s_->m);
    return s_->bound;
}

int FakePortal::sessionsCreated() const {
    std::lock_guard lock(s_->m);
    return s_->sessions;
}

void FakePortal::activate(const std::string& shortcutId) {
    std::string session;
    {
        std::lock_guard lock(s_->m);
        session = s_->session;
    }
    GVariantBuilder b;
    g_variant_builder_init(&b, G_VARIANT_TYPE("a{sv}"));
    g_dbus_connection_emit_signal(s_->conn, nullptr, "/org/freedesktop/portal/desktop",
                                  "org.freedesktop.portal.GlobalShortcuts", "Activated",
                                  g_variant_new("(osta{sv})", session.c_str(), shortcutId.c_str(), guint64{1}, &b),
                                  nullptr);
    g_dbus_connection_flush_sync(s_->conn, nullptr, nullptr);
}

}  // namespace wayland_test

namespace wayland_test {
FakePortal::Remote FakePortal::remote() const {
    std::lock_guard lock(s_->m);
    return s_->remote;
}
}  // namespace wayland_test
