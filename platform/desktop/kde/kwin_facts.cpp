// The KWin side of the window facts: loading the script through KWin's scripting interface and
// taking its reports on an object of ours, all on one thread with its own GLib main context.
#include "platform/desktop/kde/kwin_facts.h"

#include <gio/gio.h>
#include <glib/gstdio.h>
#include <fcntl.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <map>
#include <mutex>
#include <string>
#include <thread>

#include "platform/desktop/kde/kwin_script_text.h"

namespace tavik::desktop::kde {

namespace {
constexpr const char* kKWin = "org.kde.KWin";
constexpr const char* kScripting = "org.kde.kwin.Scripting";
constexpr const char* kObjectPath = "/org/tavik/WindowFacts";
constexpr const char* kIntrospection =
    "<node><interface name='org.tavik.KWinFactsReport1'>"
    "<method name='Report'><arg type='s' name='facts' direction='in'/></method>"
    "</interface></node>";
constexpr int kCallMs = 2000;  // one call to KWin

bool sameWindow(const KWinWindow& a, const KWinWindow& b) {
    return a.id == b.id && a.pid == b.pid && a.stacking == b.stacking && a.frame == b.frame && a.client == b.client &&
           a.minimized == b.minimized && a.title == b.title;
}
bool sameReport(const KWinReport& a, const KWinReport& b) {
    if (a.active != b.active || a.windows.size() != b.windows.size()) return false;
    for (size_t i = 0; i < a.windows.size(); ++i)
        if (!sameWindow(a.windows[i], b.windows[i])) return false;
    return true;
}
}  // namespace

struct KWinFacts::State {
    // Under m.
    mutable std::mutex m;
    std::condition_variable cv;
    int ready = 0;  // 1 the first report came, -1 no KWin or it failed
    KWinReport report;
    uint64_t generation = 0;
    std::string pluginName;  // the name the script is loaded under (set before ready)

    // Under callM, which is held while they run: the change callbacks by token.
    std::mutex callM;
    std::map<int, std::function<void()>> changed;
    int nextToken = 1;

    std::atomic<bool> stop{false};
    GMainContext* ctx = nullptr;  // set before the thread starts
    std::thread thread;

    // Thread only.
    GDBusConnection* conn = nullptr;
    std::string kwinOwner;   // the unique name that owns org.kde.KWin now ("" when none)
    std::string scriptFile;  // the script written out, until KWin has read it
    bool loaded = false;
    bool reloadWanted = false;
    bool saidFailure = false;

    ~State() {
        if (thread.joinable()) thread.detach();
        if (ctx) g_main_context_unref(ctx);
    }

    void finish(int result) {
        {
            std::lock_guard lock(m);
            if (ready == 0) ready = result;
        }
        cv.notify_all();
    }

    void fail(const char* why) {
        if (!saidFailure) {
            saidFailure = true;
            std::fprintf(stderr, "KWin %s: where windows are on the screen is not known on this desktop.\n", why);
        }
        finish(-1);
    }

    void dropScriptFile() {
        if (scriptFile.empty()) return;
        g_unlink(scriptFile.c_str());
        scriptFile.clear();
    }

    // A synchronous call to KWin's scripting object; nullptr on any error.
    GVariant* callKWin(const char* path, const char* iface, const char* method, GVariant* params,
                       const GVariantType* reply) {
        GError* err = nullptr;
        GVariant* v = g_dbus_connection_call_sync(conn, kKWin, path, iface, method, params, reply,
                                                  G_DBUS_CALL_FLAGS_NO_AUTO_START, kCallMs, nullptr, &err);
        g_clear_error(&err);
        return v;
    }

    bool unload() {
        GVariant* v = callKWin("/Scripting", kScripting, "unloadScript", g_variant_new("(s)", pluginName.c_str()),
                               G_VARIANT_TYPE("(b)"));
        gboolean done = FALSE;
        if (v) {
            g_variant_get(v, "(b)", &done);
            g_variant_unref(v);
        }
        return done;
    }

    std::string ownerOfKWin() {
        GVariant* v = g_dbus_connection_call_sync(conn, "org.freedesktop.DBus", "/org/freedesktop/DBus",
                                                  "org.freedesktop.DBus", "GetNameOwner", g_variant_new("(s)", kKWin),
                                                  G_VARIANT_TYPE("(s)"), G_DBUS_CALL_FLAGS_NONE, kCallMs, nullptr,
                                                  nullptr);
        if (!v) return {};
        const gchar* owner = nullptr;
        g_variant_get(v, "(&s)", &owner);
        std::string s = owner ? owner : "";
        g_variant_unref(v);
        return s;
    }

    // Writes the script for this connection and has KWin load and run it.
    bool load() {
        dropScriptFile();
        const char* me = g_dbus_connection_get_unique_name(conn);
        const auto text = kwinScriptFor(kWindowFactsScript, me ? me : "", kObjectPath);
        if (!text) return false;
        const char* runtime = g_get_user_runtime_dir();  // $XDG_RUNTIME_DIR, else the cache folder
        std::string name = std::string(runtime && *runtime ? runtime : g_get_tmp_dir()) + "/tavik-kwin-XXXXXX.js";
        const int fd = g_mkstemp_full(name.data(), O_RDWR | O_CLOEXEC, 0600);
        if (fd < 0) return false;
        const bool written = write(fd, text->data(), text->size()) == static_cast<ssize_t>(text->size());
        close(fd);
        scriptFile = name;
        if (!written) {
            dropScriptFile();
            return false;
        }
        int32_t id = -1;
        for (int attempt = 0; attempt < 2 && id < 0; ++attempt) {
            GVariant* v = callKWin("/Scripting", kScripting, "loadScript",
                                   g_variant_new("(ss)", scriptFile.c_str(), pluginName.c_str()), G_VARIANT_TYPE("(i)"));
            if (!v) break;
            g_variant_get(v, "(i)", &id);
            g_variant_unref(v);
            // -1: a script of this name is loaded already (one left behind under our name).
            if (id < 0 && (attempt > 0 || !unload())) break;
        }
        if (id < 0) {
            dropScriptFile();
            return false;
        }
        loaded = true;
        // Run this script alone; where its object is not found, start every loaded script.
        const std::string scriptPath = "/Scripting/Script" + std::to_string(id);
        GVariant* r = callKWin(scriptPath.c_str(), "org.kde.kwin.Script", "run", nullptr, nullptr);
        if (!r) r = callKWin("/Scripting", kScripting, "start", nullptr, nullptr);
        if (!r) return false;
        g_variant_unref(r);
        return true;
    }

    void onReport(GDBusMethodInvocation* inv, GVariant* params) {
        const char* sender = g_dbus_method_invocation_get_sender(inv);
        if (!sender || kwinOwner.empty() || kwinOwner != sender) {
            g_dbus_method_invocation_return_dbus_error(inv, "org.freedesktop.DBus.Error.AccessDenied",
                                                       "only KWin reports window facts");
            return;
        }
        if (!g_variant_is_of_type(params, G_VARIANT_TYPE("(s)"))) {
            g_dbus_method_invocation_return_dbus_error(inv, "org.freedesktop.DBus.Error.InvalidArgs", "expected (s)");
            return;
        }
        gsize length = 0;
        GVariant* s = g_variant_get_child_value(params, 0);
        const gchar* text = g_variant_get_string(s, &length);
        auto parsed = parseKWinReport(std::string_view(text, length));
        g_variant_unref(s);
        g_dbus_method_invocation_return_value(inv, nullptr);
        if (!parsed) return;
        dropScriptFile();  // KWin has read it
        {
            std::lock_guard lock(m);
            if (sameReport(report, *parsed) && ready != 0) return;
            report = std::move(*parsed);
            ++generation;
        }
        finish(1);
        std::lock_guard call(callM);
        for (const auto& [token, fn] : changed) fn();
    }

    void onOwnerChanged(GVariant* params) {
        const gchar *name = nullptr, *oldOwner = nullptr, *newOwner = nullptr;
        if (!g_variant_is_of_type(params, G_VARIANT_TYPE("(sss)"))) return;
        g_variant_get(params, "(&s&s&s)", &name, &oldOwner, &newOwner);
        kwinOwner = newOwner ? newOwner : "";
        loaded = false;
        {
            std::lock_guard lock(m);
            report = {};
            ++generation;
        }
        reloadWanted = !kwinOwner.empty();
    }

    void iterateFor(int ms) {
        const gint64 end = g_get_monotonic_time() + gint64{ms} * 1000;
        while (!stop && g_get_monotonic_time() < end) {
            const int left = static_cast<int>((end - g_get_monotonic_time()) / 1000);
            // Wakes for bus traffic and for stop (g_main_context_wakeup); at most `left` ms.
            GSource* timer = g_timeout_source_new(std::max(left, 1));
            g_source_set_callback(timer, [](gpointer) { return G_SOURCE_REMOVE; }, nullptr, nullptr);
            g_source_attach(timer, ctx);
            g_main_context_iteration(ctx, TRUE);
            g_source_destroy(timer);
            g_source_unref(timer);
            if (reloadWanted) return;
        }
    }

    void run() {
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
        guint object = 0, sub = 0;
        GDBusNodeInfo* node = nullptr;
        if (conn) kwinOwner = ownerOfKWin();
        if (!conn || kwinOwner.empty()) {
            finish(-1);  // no bus or no KWin: another desktop, nothing to say
        } else {
            // One script per object (a process may hold several): the bus name tells them apart.
            std::string me = g_dbus_connection_get_unique_name(conn);
            for (char& c : me)
                if (!g_ascii_isalnum(c)) c = '_';
            {
                std::lock_guard lock(m);
                pluginName = "tavik-window-facts-" + std::to_string(getpid()) + me;
            }
            node = g_dbus_node_info_new_for_xml(kIntrospection, nullptr);
            static const GDBusInterfaceVTable vtable = {
                [](GDBusConnection*, const gchar*, const gchar*, const gchar*, const gchar* method, GVariant* params,
                   GDBusMethodInvocation* inv, gpointer data) {
                    if (g_strcmp0(method, "Report") == 0)
                        static_cast<State*>(data)->onReport(inv, params);
                    else
                        g_dbus_method_invocation_return_dbus_error(inv, "org.freedesktop.DBus.Error.UnknownMethod",
                                                                   "no such method");
                },
                nullptr, nullptr, {}};
            if (node)
                object = g_dbus_connection_register_object(conn, kObjectPath, node->interfaces[0], &vtable, this,
                                                           nullptr, nullptr);
            sub = g_dbus_connection_signal_subscribe(
                conn, "org.freedesktop.DBus", "org.freedesktop.DBus", "NameOwnerChanged", "/org/freedesktop/DBus",
                kKWin, G_DBUS_SIGNAL_FLAGS_NONE,
                [](GDBusConnection*, const gchar*, const gchar*, const gchar*, const gchar*, GVariant* p,
                   gpointer data) { static_cast<State*>(data)->onOwnerChanged(p); },
                this, nullptr);
            if (!object || !load()) fail("refused the window-facts script");
            while (!stop) {
                iterateFor(1000);
                if (reloadWanted && !stop) {
                    reloadWanted = false;
                    load();
                }
            }
            if (loaded) unload();
            dropScriptFile();
        }
        if (sub) g_dbus_connection_signal_unsubscribe(conn, sub);
        if (object) g_dbus_connection_unregister_object(conn, object);
        if (node) g_dbus_node_info_unref(node);
        if (conn) {
            g_dbus_connection_flush_sync(conn, nullptr, nullptr);
            g_dbus_connection_close_sync(conn, nullptr, nullptr);
            g_object_unref(conn);
        }
        g_main_context_pop_thread_default(ctx);
    }
};

std::unique_ptr<KWinFacts> KWinFacts::open(int timeoutMs) {
    auto s = std::make_shared<State>();
    s->ctx = g_main_context_new();
    s->thread = std::thread([s] { s->run(); });
    std::unique_lock lock(s->m);
    const bool answered = s->cv.wait_for(lock, std::chrono::milliseconds(timeoutMs), [&] { return s->ready != 0; });
    if (answered && s->ready == 1) return std::unique_ptr<KWinFacts>(new KWinFacts(s));
    const bool silent = answered;  // a failure that was said already, or no KWin at all
    lock.unlock();
    s->stop = true;
    g_main_context_wakeup(s->ctx);
    if (!silent)
        std::fputs("KWin did not run the window-facts script in time: where windows are on the screen is not known "
                   "on this desktop.\n",
                   stderr);
    // It unloads the script and ends by itself (each call to KWin is bounded).
    s->thread.detach();
    return nullptr;
}

KWinFacts::~KWinFacts() {
    s_->stop = true;
    g_main_context_wakeup(s_->ctx);
    if (s_->thread.joinable()) s_->thread.join();
}

KWinReport KWinFacts::snapshot() const {
    std::lock_guard lock(s_->m);
    return s_->report;
}

WindowId KWinFacts::active() const {
    std::lock_guard lock(s_->m);
    return s_->report.active;
}

std::optional<KWinWindow> KWinFacts::window(WindowId id) const {
    std::lock_guard lock(s_->m);
    for (const KWinWindow& w : s_->report.windows)
        if (w.id == id) return w;
    return std::nullopt;
}

uint64_t KWinFacts::generation() const {
    std::lock_guard lock(s_->m);
    return s_->generation;
}

int KWinFacts::onChange(std::function<void()> changed) {
    std::lock_guard call(s_->callM);
    const int token = s_->nextToken++;
    s_->changed[token] = std::move(changed);
    return token;
}

void KWinFacts::stopChange(int token) {
    std::lock_guard call(s_->callM);
    s_->changed.erase(token);
}

std::string KWinFacts::pluginName() const {
    std::lock_guard lock(s_->m);
    return s_->pluginName;
}

}  // namespace tavik::desktop::kde
