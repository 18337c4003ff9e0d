// Portal requests: the Response signal is subscribed on the expected request path before the
// call, so an answer that comes at once is not missed.
#include "platform/desktop/portals/request.h"

#include <unistd.h>

#include <chrono>

namespace tavik::desktop::wayland {

namespace {
constexpr const char* kPortal = "org.freedesktop.portal.Desktop";
constexpr const char* kPortalPath = "/org/freedesktop/portal/desktop";
constexpr int kCallMs = 5000;

int64_t nowMs() {
    using namespace std::chrono;
    return duration_cast<milliseconds>(steady_clock::now().time_since_epoch()).count();
}

struct Pending {
    bool got = false;
    PortalAnswer answer;
};

void onResponse(GDBusConnection*, const gchar*, const gchar*, const gchar*, const gchar*, GVariant* p, gpointer data) {
    auto* a = static_cast<Pending*>(data);
    if (a->got || !g_variant_is_of_type(p, G_VARIANT_TYPE("(ua{sv})"))) return;
    a->got = true;
    g_variant_get(p, "(u@a{sv})", &a->answer.response, &a->answer.results);
}
}  // namespace

std::string portalRequestPath(const std::string& uniqueName, const std::string& token) {
    std::string sender = !uniqueName.empty() && uniqueName[0] == ':' ? uniqueName.substr(1) : uniqueName;
    for (char& c : sender)
        if (c == '.') c = '_';
    return std::string(kPortalPath) + "/request/" + sender + "/" + token;
}

bool iterateUntil(GMainContext* ctx, const std::function<bool()>& done, int timeoutMs, const std::atomic<bool>* stop) {
    const int64_t end = nowMs() + timeoutMs;
    GSource* tick = g_timeout_source_new(50);  // wakes the iteration to look at the clock
    g_source_set_callback(tick, [](void*) -> gboolean { return G_SOURCE_CONTINUE; }, nullptr, nullptr);
    g_source_attach(tick, ctx);
    while (!done() && !(stop && *stop) && nowMs() < end) g_main_context_iteration(ctx, TRUE);
    g_source_destroy(tick);
    g_source_unref(tick);
    return done();
}

bool portalRequest(GDBusConnection* conn, GMainContext* ctx, const char* iface, const char* method, GVariant* params,
                   const std::string& token, int timeoutMs, PortalAnswer& answer, const std::atomic<bool>* stop) {
    Pending pending;
    const std::string expected = portalRequestPath(g_dbus_connection_get_unique_name(conn), token);
    guint sub = g_dbus_connection_signal_subscribe(conn, kPortal, "org.freedesktop.portal.Request", "Response",
                                                   expected.c_str(), nullptr, G_DBUS_SIGNAL_FLAGS_NONE, onResponse,
                                                   &pending, nullptr);
    GError* err = nullptr;
    GVariant* ret = g_dbus_connection_call_sync(conn, kPortal, kPortalPath, iface, method, params,
                                                G_VARIANT_TYPE("(o)"), G_DBUS_CALL_FLAGS_NONE, kCallMs, nullptr, &err);
    if (!ret) {
        g_clear_error(&err);
        g_dbus_connection_signal_unsubscribe(conn, sub);
        return false;
    }
    const gchar* path = nullptr;
    g_variant_get(ret, "(&o)", &path);
    if (path && expected != path) {
        // An older portal chose its own path: listen there instead.
        g_dbus_connection_signal_unsubscribe(conn, sub);
        sub = g_dbus_connection_signal_subscribe(conn, kPortal, "org.freedesktop.portal.Request", "Response", path,
                                                 nullptr, G_DBUS_SIGNAL_FLAGS_NONE, onResponse, &pending, nullptr);
    }
    g_variant_unref(ret);
    iterateUntil(ctx, [&] { return pending.got; }, timeoutMs, stop);
    g_dbus_connection_signal_unsubscribe(conn, sub);
    if (!pending.got) return false;
    answer = pending.answer;
    return true;
}

std::string portalToken() {
    static std::atomic<unsigned> count{0};
    return "tavik" + std::to_string(::getpid()) + "_" + std::to_string(++count);
}

}  // namespace tavik::desktop::wayland
