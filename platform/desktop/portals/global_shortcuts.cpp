// GlobalShortcuts portal client: CreateSession and BindShortcuts through portal requests
// (answered by a Response signal on the request's path), Activated signals to the callback.
#include "platform/desktop/portals/global_shortcuts.h"

#include "platform/desktop/portals/request.h"
#include "platform/desktop/wayland/hotkey_text.h"

#include <gio/gio.h>

#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <chrono>
#include <climits>
#include <cstdlib>
#include <condition_variable>
#include <cstdio>
#include <map>
#include <mutex>
#include <set>
#include <string_view>
#include <thread>

namespace tavik::desktop::wayland {

namespace {
constexpr const char* kPortal = "org.freedesktop.portal.Desktop";
constexpr const char* kPortalPath = "/org/freedesktop/portal/desktop";
constexpr const char* kShortcuts = "org.freedesktop.portal.GlobalShortcuts";
constexpr int kCallMs = 5000;      // a method call
constexpr int kCreateMs = 10000;   // the answer to CreateSession
constexpr int kBindMs = 120000;    // the answer to BindShortcuts (the user may be asked)
}  // namespace

struct PortalShortcuts::State {
    std::mutex m;
    std::condition_variable cv;
    int ready = 0;  // 1 portal there, -1 not
    bool abandoned = false;
    std::atomic<bool> stop{false};

    // Under m: the keys wanted and whether they changed since the last bind.
    struct Key {
        std::string trigger, description, takenAdvice;
        int32_t qtKey = 0;  // 0: not known
    };
    std::map<int32_t, Key> keys;
    bool dirty = false;

    Activated onActivated;
    // Thread only.
    GMainContext* ctx = nullptr;
    GDBusConnection* conn = nullptr;
    std::string session;
    std::string sessionToken;  // from the program's name: where KDE lists the keys
    bool saidRefusal = false;
    std::set<int32_t> saidTaken;  // keys whose taken-key line was printed
    std::thread thread;

    ~State() {
        if (thread.joinable()) thread.detach();
    }

    void finish(int result) {
        {
            std::lock_guard lock(m);
            ready = result;
        }
        cv.notify_all();
    }

    std::string nextToken() { return portalToken(); }

    template <typename Done>
    bool iterateUntil(Done done, int timeoutMs) {
        return wayland::iterateUntil(ctx, done, timeoutMs, &stop);
    }

    bool request(const char* iface, const char* method, GVariant* params, const std::string& token, int timeoutMs,
                 guint32& response, GVariant*& results) {
        PortalAnswer a;
        if (!portalRequest(conn, ctx, iface, method, params, token, timeoutMs, a, &stop)) return false;
        response = a.response;
        results = a.results;
        return true;
    }

    void closeSession() {
        if (session.empty()) return;
        g_dbus_connection_call(conn, kPortal, session.c_str(), "org.freedesktop.portal.Session", "Close", nullptr,
                               nullptr, G_DBUS_CALL_FLAGS_NONE, kCallMs, nullptr, nullptr, nullptr);
        session.clear();
    }

    void refuse(const char* why) {
        if (saidRefusal) return;
        saidRefusal = true;
        std::fprintf(stderr, "The desktop's global-shortcut portal %s; the hot keys do not work.\n", why);
    }

    // Binds the wanted keys in a new portal session (a session binds its keys once).
    void rebind() {
        std::map<int32_t, Key> wanted;
        {
            std::lock_guard lock(m);
            if (!dirty) return;
            dirty = false;
            wanted = keys;
        }
        closeSession();
        if (wanted.empty()) return;
        const auto shortcutList = [&wanted] {
            GVariantBuilder list;
            g_variant_builder_init(&list, G_VARIANT_TYPE("a(sa{sv})"));
            for (const auto& [id, key] : wanted) {
                GVariantBuilder info;
                g_variant_builder_init(&info, G_VARIANT_TYPE("a{sv}"));
                g_variant_builder_add(&info, "{sv}", "description", g_variant_new_string(key.description.c_str()));
                g_variant_builder_add(&info, "{sv}", "preferred_trigger", g_variant_new_string(key.trigger.c_str()));
                g_variant_builder_add(&list, "(sa{sv})", ("hotkey-" + std::to_string(id)).c_str(), &info);
            }
            return g_variant_builder_end(&list);
        };
        const std::string token = nextToken();
        GVariantBuilder opts;
        g_variant_builder_init(&opts, G_VARIANT_TYPE("a{sv}"));
        g_variant_builder_add(&opts, "{sv}", "handle_token", g_variant_new_string(token.c_str()));
        g_variant_builder_add(&opts, "{sv}", "session_handle_token", g_variant_new_string(sessionToken.c_str()));
        // KDE Plasma 5.27's portal takes the keys here (an early form of the interface) and binds
        // nothing given only to BindShortcuts; other portals ignore the option.
        g_variant_builder_add(&opts, "{sv}", "shortcuts", shortcutList());
        guint32 response = 2;
        GVariant* results = nullptr;
        if (!request(kShortcuts, "CreateSession", g_variant_new("(a{sv})", &opts), token, kCreateMs, response,
                     results)) {
            if (!stop) refuse("did not answer");
            return;
        }
        const gchar* handle = nullptr;
        if (response == 0 && results) g_variant_lookup(results, "session_handle", "&s", &handle);
        if (handle) session = handle;
        if (results) g_variant_unref(results);
        if (session.empty()) {
            refuse("refused a session");
            return;
        }
        const std::string bindToken = nextToken();
        GVariantBuilder bindOpts;
        g_variant_builder_init(&bindOpts, G_VARIANT_TYPE("a{sv}"));
        g_variant_builder_add(&bindOpts, "{sv}", "handle_token", g_variant_new_string(bindToken.c_str()));
        results = nullptr;
        const bool answered =
            request(kShortcuts, "BindShortcuts",
                    g_variant_new("(o@a(sa{sv})sa{sv})", session.c_str(), shortcutList(), "", &bindOpts), bindToken, kBindMs,
                    response, results);
        if (answered && response == 0 && results) sayTaken(wanted, results);
        if (results) g_variant_unref(results);
        if (!answered || response != 0) refuse(answered ? "refused the keys" : "did not answer");
    }

    // The bind's answer lists each shortcut with the trigger the desktop gave it: an empty one
    // (or a key left out) means another program holds the key.
    void sayTaken(const std::map<int32_t, Key>& wanted, GVariant* results) {
        GVariant* list = g_variant_lookup_value(results, "shortcuts", G_VARIANT_TYPE("a(sa{sv})"));
        if (!list) return;  // no list given: nothing to judge by
        std::set<int32_t> given;
        GVariantIter it;
        g_variant_iter_init(&it, list);
        const gchar* name = nullptr;
        GVariant* props = nullptr;
        while (g_variant_iter_next(&it, "(&s@a{sv})", &name, &props)) {
            const gchar* trigger = nullptr;
            const std::string s = name ? name : "";
            if (g_variant_lookup(props, "trigger_description", "&s", &trigger) && trigger && *trigger &&
                s.rfind("hotkey-", 0) == 0) {
                char* end = nullptr;
                const long n = std::strtol(s.c_str() + 7, &end, 10);
                if (end && *end == 0 && n >= INT32_MIN && n <= INT32_MAX) given.insert(static_cast<int32_t>(n));
            }
            g_variant_unref(props);
        }
        g_variant_unref(list);
        for (const auto& [id, key] : wanted)
            if ((!given.count(id) || !heldByUs(id, key)) && !key.takenAdvice.empty() && saidTaken.insert(id).second)
                std::fprintf(stderr, "%s\n", key.takenAdvice.c_str());
    }

    // Where KDE's kglobalaccel runs, the portal answers with the trigger asked for even when
    // another program holds the key; kglobalaccel itself tells who has it. True where there is no
    // kglobalaccel or the key's code is not known.
    bool heldByUs(int32_t id, const Key& key) {
        if (key.qtKey == 0) return true;
        GError* err = nullptr;
        GVariant* v = g_dbus_connection_call_sync(conn, "org.kde.kglobalaccel", "/kglobalaccel", "org.kde.KGlobalAccel",
                                                  "getGlobalShortcutsByKey", g_variant_new("(i)", key.qtKey), nullptr,
                                                  G_DBUS_CALL_FLAGS_NO_AUTO_START, kCallMs, nullptr, &err);
        g_clear_error(&err);
        if (!v) return true;
        bool ours = false;
        if (g_variant_is_of_type(v, G_VARIANT_TYPE("(a(ssssssaiai))"))) {
            const std::string action = "hotkey-" + std::to_string(id);
            GVariantIter* it = nullptr;
            g_variant_get(v, "(a(ssssssaiai))", &it);
            const gchar *name = nullptr, *component = nullptr;
            while (g_variant_iter_next(it, "(&s&s&s&s&s&s@ai@ai)", &name, nullptr, &component, nullptr, nullptr,
                                       nullptr, nullptr, nullptr))
                if (name && component && action == name && sessionToken == component) ours = true;
            g_variant_iter_free(it);
        } else {
            ours = true;  // an answer of another shape: nothing to judge by
        }
        g_variant_unref(v);
        return ours;
    }

    void onActivatedSignal(GVariant* p) {
        if (!g_variant_is_of_type(p, G_VARIANT_TYPE("(osta{sv})"))) return;
        const gchar* sessionPath = nullptr;
        const gchar* id = nullptr;
        g_variant_get(p, "(&o&st@a{sv})", &sessionPath, &id, nullptr, nullptr);
        if (!sessionPath || session != sessionPath || !id) return;
        const std::string s = id;
        constexpr std::string_view kPrefix = "hotkey-";
        if (s.rfind(kPrefix, 0) != 0) return;
        char* end = nullptr;
        const long n = std::strtol(s.c_str() + kPrefix.size(), &end, 10);
        if (!end || *end != 0 || n < INT32_MIN || n > INT32_MAX) return;
        if (onActivated) onActivated(static_cast<int32_t>(n));
    }

    void run() {
        ctx = g_main_context_new();
        g_main_context_push_thread_default(ctx);
        GError* err = nullptr;
        gchar* address = g_dbus_address_get_for_bus_sync(G_BUS_TYPE_SESSION, nullptr, &err);
        g_clear_error(&err);
        if (address)
            conn = g_dbus_connection_new_for_address_sync(
                address,
                static_cast<GDBusConnectionFlags>(G_DBUS_CONNECTION_FLAGS_AUTHENTICATION_CLIENT |
                                                  G_DBUS_CONNECTION_FLAGS_MESSAGE_BUS_CONNECTION),
                nullptr, nullptr, &err);
        g_clear_error(&err);
        g_free(address);
        bool has = false;
        if (conn) {
            GVariant* v = g_dbus_connection_call_sync(conn, kPortal, kPortalPath, "org.freedesktop.DBus.Properties",
                                                      "Get", g_variant_new("(ss)", kShortcuts, "version"),
                                                      G_VARIANT_TYPE("(v)"), G_DBUS_CALL_FLAGS_NONE, 2000, nullptr,
                                                      &err);
            g_clear_error(&err);
            has = v != nullptr;
            if (v) g_variant_unref(v);
        }
        guint sub = 0;
        if (has) {
            sub = g_dbus_connection_signal_subscribe(
                conn, kPortal, kShortcuts, "Activated", kPortalPath, nullptr, G_DBUS_SIGNAL_FLAGS_NONE,
                [](GDBusConnection*, const gchar*, const gchar*, const gchar*, const gchar*, GVariant* p,
                   gpointer data) { static_cast<State*>(data)->onActivatedSignal(p); },
                this, nullptr);
        }
        bool abandonedNow = false;
        {
            std::lock_guard lock(m);
            abandonedNow = abandoned;
        }
        finish(has && !abandonedNow ? 1 : -1);
        if (has && !abandonedNow) {
            // Wake on changes (set/erase) and on stop; bind after a short quiet spell so several
            // keys added together go into one session.
            while (!stop) {
                iterateUntil([&] {
                    std::lock_guard lock(m);
                    return dirty;
                }, 1000);
                if (stop) break;
                iterateUntil([] { return false; }, 100);
                rebind();
            }
            closeSession();
            g_dbus_connection_flush_sync(conn, nullptr, nullptr);
        }
        if (sub) g_dbus_connection_signal_unsubscribe(conn, sub);
        if (conn) {
            g_dbus_connection_close_sync(conn, nullptr, nullptr);
            g_object_unref(conn);
        }
        g_main_context_pop_thread_default(ctx);
        g_main_context_unref(ctx);
    }
};

std::unique_ptr<PortalShortcuts> PortalShortcuts::open(Activated onActivated, int timeoutMs) {
    if (!std::getenv("DBUS_SESSION_BUS_ADDRESS") && !std::getenv("XDG_RUNTIME_DIR")) return nullptr;
    auto s = std::make_shared<State>();
    s->onActivated = std::move(onActivated);
    s->sessionToken = portalSessionToken(program_invocation_short_name);
    s->thread = std::thread([s] { s->run(); });
    std::unique_lock lock(s->m);
    if (!s->cv.wait_for(lock, std::chrono::milliseconds(timeoutMs), [&] { return s->ready != 0; })) {
        s->abandoned = true;  // it ends by itself once the bus answers or fails
        s->stop = true;
        lock.unlock();
        s->thread.detach();
        return nullptr;
    }
    if (s->ready != 1) {
        lock.unlock();
        s->thread.join();
        return nullptr;
    }
    return std::unique_ptr<PortalShortcuts>(new PortalShortcuts(s));
}

PortalShortcuts::~PortalShortcuts() {
    s_->stop = true;
    if (s_->ctx) g_main_context_wakeup(s_->ctx);
    if (s_->thread.joinable()) s_->thread.join();
}

void PortalShortcuts::set(int32_t id, const std::string& trigger, const std::string& description,
                          const std::string& takenAdvice, int32_t qtKey) {
    {
        std::lock_guard lock(s_->m);
        s_->keys[id] = {trigger, description, takenAdvice, qtKey};
        s_->dirty = true;
    }
    g_main_context_wakeup(s_->ctx);
}

void PortalShortcuts::erase(int32_t id) {
    {
        std::lock_guard lock(s_->m);
        if (s_->keys.erase(id) == 0) return;
        s_->dirty = true;
    }
    g_main_context_wakeup(s_->ctx);
}

}  // namespace tavik::desktop::wayland
