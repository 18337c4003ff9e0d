// Asking our GNOME Shell extension where the windows are, and following its Changed signal on a
// thread with a main context of its own.
#include "platform/desktop/gnome/extension_facts.h"

#include "platform/desktop/gnome/extension_signal.h"

#include <atomic>
#include <cstdio>
#include <cstdlib>
#include <string_view>

namespace tavik::desktop::gnome {

namespace {

constexpr int kCallMs = 500;

bool gnomeSession() {
    const char* d = std::getenv("XDG_CURRENT_DESKTOP");
    return d && std::string_view(d).find("GNOME") != std::string_view::npos;
}

bool inside(const Rect& inner, const Rect& outer) {
    return inner.left >= outer.left && inner.top >= outer.top &&
           int64_t{inner.left} + inner.width <= int64_t{outer.left} + outer.width &&
           int64_t{inner.top} + inner.height <= int64_t{outer.top} + outer.height;
}

}  // namespace

GDBusConnection* openSessionBus() {
    GError* err = nullptr;
    gchar* address = g_dbus_address_get_for_bus_sync(G_BUS_TYPE_SESSION, nullptr, &err);
    g_clear_error(&err);
    if (!address) return nullptr;
    GDBusConnection* conn = g_dbus_connection_new_for_address_sync(
        address,
        static_cast<GDBusConnectionFlags>(G_DBUS_CONNECTION_FLAGS_AUTHENTICATION_CLIENT |
                                          G_DBUS_CONNECTION_FLAGS_MESSAGE_BUS_CONNECTION),
        nullptr, nullptr, &err);
    g_free(address);
    g_clear_error(&err);
    if (conn) g_dbus_connection_set_exit_on_close(conn, FALSE);
    return conn;
}

bool nameHasOwner(GDBusConnection* conn, const char* name, int timeoutMs) {
    GVariant* reply = g_dbus_connection_call_sync(conn, "org.freedesktop.DBus", "/org/freedesktop/DBus",
                                                  "org.freedesktop.DBus", "NameHasOwner", g_variant_new("(s)", name),
                                                  G_VARIANT_TYPE("(b)"), G_DBUS_CALL_FLAGS_NONE, timeoutMs, nullptr,
                                                  nullptr);
    if (!reply) return false;
    gboolean has = FALSE;
    g_variant_get(reply, "(b)", &has);
    g_variant_unref(reply);
    return has != FALSE;
}

std::optional<std::vector<WindowFact>> factsFromReply(GVariant* reply) {
    if (!reply || !g_variant_is_of_type(reply, G_VARIANT_TYPE("(a(tissiiiiiiiib))"))) return std::nullopt;
    std::vector<WindowFact> out;
    GVariantIter* iter = nullptr;
    g_variant_get(reply, "(a(tissiiiiiiiib))", &iter);
    guint64 id = 0;
    gint32 pid = 0, fx = 0, fy = 0, fw = 0, fh = 0, cx = 0, cy = 0, cw = 0, ch = 0;
    const gchar* appId = nullptr;
    const gchar* title = nullptr;
    gboolean focused = FALSE;
    while (g_variant_iter_next(iter, "(ti&s&siiiiiiiib)", &id, &pid, &appId, &title, &fx, &fy, &fw, &fh, &cx, &cy,
                               &cw, &ch, &focused)) {
        if (fw <= 0 || fh <= 0) continue;
        WindowFact w;
        w.id = int64_t(id & 0x7fffffffffffffffull);
        w.pid = pid > 0 ? pid : 0;
        w.appId = appId;
        w.title = title;
        w.frame = Rect{fx, fy, fw, fh};
        const Rect client{cx, cy, cw, ch};
        w.content = cw > 0 && ch > 0 && inside(client, w.frame) ? client : w.frame;
        w.focused = focused != FALSE;
        out.push_back(std::move(w));
    }
    g_variant_iter_free(iter);
    return out;
}

std::unique_ptr<WindowFacts> ExtensionFacts::open() {
    GDBusConnection* conn = openSessionBus();
    if (conn && nameHasOwner(conn, kFactsBusName)) {
        std::unique_ptr<ExtensionFacts> facts(new ExtensionFacts(conn));
        // The answer is kept until the extension signals a change, so an idle desktop costs
        // the shell no calls.
        auto changes = facts->changes_;
        facts->changeWatch_ = facts->watch([changes] { ++*changes; });
        return facts;
    }
    if (conn) g_object_unref(conn);
    if (gnomeSession()) {
        static std::atomic<bool> said{false};
        if (!said.exchange(true))
            std::fprintf(stderr,
                         "GNOME Shell does not tell where windows are without the suite's extension: enable it with "
                         "\"gnome-extensions enable %s\" (after installing it, log out and in once on Wayland). "
                         "Until then window places come from the applications alone.\n",
                         kExtensionUuid);
    }
    return nullptr;
}

ExtensionFacts::~ExtensionFacts() {
    changeWatch_.reset();
    g_dbus_connection_close_sync(conn_, nullptr, nullptr);
    g_object_unref(conn_);
}

std::optional<std::vector<WindowFact>> ExtensionFacts::windows() {
    const uint64_t now = changes_->load();
    if (changeWatch_ && kept_ && keptAt_ == now) return kept_;
    GVariant* reply =
        g_dbus_connection_call_sync(conn_, kFactsBusName, kFactsPath, kFactsInterface, "GetWindows", nullptr, nullptr,
                                    G_DBUS_CALL_FLAGS_NO_AUTO_START, kCallMs, nullptr, nullptr);
    if (!reply) return std::nullopt;
    auto out = factsFromReply(reply);
    g_variant_unref(reply);
    kept_ = out;
    keptAt_ = now;  // a change during the call makes the next call ask again
    return out;
}

std::unique_ptr<FactsWatch> ExtensionFacts::watch(std::function<void()> changed) {
    auto w = std::make_unique<ExtensionSignal>("Changed", [changed = std::move(changed)](GVariant*) { changed(); });
    if (!w->running()) return nullptr;
    return w;
}

}  // namespace tavik::desktop::gnome
