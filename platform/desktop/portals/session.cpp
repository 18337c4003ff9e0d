// The screen-cast portal's requests on GDBus: each request is answered by a Response signal on a
// request object whose path we know before calling (it is made of our unique name and a token),
// so we subscribe first and then wait for it on a main context of our own, in bounded steps.
#include "platform/desktop/portals/session.h"

#include <gio/gio.h>
#include <gio/gunixfdlist.h>
#include <unistd.h>

#include <atomic>
#include <functional>
#include <optional>

#include "platform/desktop/portals/errors.h"
#include "platform/desktop/portals/restore_token.h"

namespace tavik::desktop::wayland {

namespace {

constexpr const char* kDest = "org.freedesktop.portal.Desktop";
constexpr const char* kPath = "/org/freedesktop/portal/desktop";
constexpr const char* kCast = "org.freedesktop.portal.ScreenCast";
constexpr uint32_t kSourceMonitor = 1;
constexpr uint32_t kPersistUntilRevoked = 2;

using Clock = std::chrono::steady_clock;

// Owning handles for the GLib objects used here.
struct ErrorHolder {
    GError* e = nullptr;
    ~ErrorHolder() {
        if (e) g_error_free(e);
    }
    GError** out() {
        if (e) g_error_free(e);
        e = nullptr;
        return &e;
    }
};

struct VariantHolder {
    GVariant* v = nullptr;
    VariantHolder() = default;
    explicit VariantHolder(GVariant* x) : v(x) {}
    ~VariantHolder() {
        if (v) g_variant_unref(v);
    }
    VariantHolder(const VariantHolder&) = delete;
    VariantHolder& operator=(const VariantHolder&) = delete;
    VariantHolder& operator=(GVariant* x) {
        if (v) g_variant_unref(v);
        v = x;
        return *this;
    }
    explicit operator bool() const { return v != nullptr; }
};

PortalResult fromError(const GError* e) {
    if (!e) return PortalResult::Failed;
    if (g_error_matches(e, G_IO_ERROR, G_IO_ERROR_CANCELLED)) return PortalResult::Stopped;
    if (g_error_matches(e, G_IO_ERROR, G_IO_ERROR_TIMED_OUT)) return PortalResult::Silent;
    gchar* name = g_dbus_error_get_remote_error(e);
    const PortalResult r = name ? classifyDBusError(name) : PortalResult::Failed;
    g_free(name);
    return r;
}

std::string sessionBusAddress() {
    if (const char* a = std::getenv("DBUS_SESSION_BUS_ADDRESS"); a && *a) return a;
    if (const char* dir = std::getenv("XDG_RUNTIME_DIR"); dir && dir[0] == '/') {
        const std::string socket = std::string(dir) + "/bus";
        if (access(socket.c_str(), F_OK) == 0) return "unix:path=" + socket;
    }
    return {};
}

struct Response {
    bool done = false;
    uint32_t code = 2;
    GVariant* results = nullptr;
};

void onResponse(GDBusConnection*, const gchar*, const gchar*, const gchar*, const gchar*, GVariant* params,
                gpointer user) {
    auto* r = static_cast<Response*>(user);
    if (r->done) return;
    r->done = true;
    if (g_variant_is_of_type(params, G_VARIANT_TYPE("(ua{sv})"))) g_variant_get(params, "(u@a{sv})", &r->code, &r->results);
}

gboolean keepTicking(gpointer) { return G_SOURCE_CONTINUE; }

}  // namespace

struct PortalSession::Bus {
    GMainContext* ctx = g_main_context_new();
    GCancellable* cancel = g_cancellable_new();
    GDBusConnection* conn = nullptr;
    std::string sender;  // our unique name as request paths spell it
    uint32_t counter = 0;

    Bus() = default;
    Bus(const Bus&) = delete;
    Bus& operator=(const Bus&) = delete;
    ~Bus() {
        if (conn) {
            g_dbus_connection_close(conn, nullptr, nullptr, nullptr);
            g_object_unref(conn);
        }
        g_object_unref(cancel);
        g_main_context_unref(ctx);
    }

    std::string token() {
        static std::atomic<uint32_t> serial{0};
        return "tavik" + std::to_string(getpid()) + "_" + std::to_string(++serial) + "_" + std::to_string(++counter);
    }

    // Waits for `r` on our context until it is done, the deadline passes or `stop` is triggered.
    void wait(Response& r, Clock::time_point deadline, const std::stop_token& stop) {
        GSource* tick = g_timeout_source_new(100);
        g_source_set_callback(tick, keepTicking, nullptr, nullptr);
        g_source_attach(tick, ctx);
        while (!r.done && !stop.stop_requested() && Clock::now() < deadline) g_main_context_iteration(ctx, TRUE);
        g_source_destroy(tick);
        g_source_unref(tick);
    }

    // Calls `method` of the ScreenCast interface with `args` (floating; its options carry
    // handle_token `tok`) and waits up to `bound` for the request's Response. On Ok `results`
    // holds the response's a{sv}.
    PortalResult request(const char* method, GVariant* args, const std::string& tok, std::chrono::milliseconds bound,
                         const std::stop_token& stop, VariantHolder& results) {
        const std::string expected = "/org/freedesktop/portal/desktop/request/" + sender + "/" + tok;
        Response r;
        guint sub = g_dbus_connection_signal_subscribe(conn, kDest, "org.freedesktop.portal.Request", "Response",
                                                       expected.c_str(), nullptr, G_DBUS_SIGNAL_FLAGS_NONE,
                                                       onResponse, &r, nullptr);
        const auto deadline = Clock::now() + bound;
        ErrorHolder err;
        VariantHolder reply(g_dbus_connection_call_sync(conn, kDest, kPath, kCast, method, args,
                                                        G_VARIANT_TYPE("(o)"), G_DBUS_CALL_FLAGS_NONE,
                                                        static_cast<int>(bound.count()), cancel, err.out()));
        if (!reply) {
            g_dbus_connection_signal_unsubscribe(conn, sub);
            return fromError(err.e);
        }
        const char* handle = nullptr;
        g_variant_get(reply.v, "(&o)", &handle);
        if (expected != handle && !r.done) {
            // A portal that names its requests otherwise: listen on the path it gave.
            g_dbus_connection_signal_unsubscribe(conn, sub);
            sub = g_dbus_connection_signal_subscribe(conn, kDest, "org.freedesktop.portal.Request", "Response", handle,
                                                     nullptr, G_DBUS_SIGNAL_FLAGS_NONE, onResponse, &r, nullptr);
        }
        wait(r, deadline, stop);
        g_dbus_connection_signal_unsubscribe(conn, sub);
        if (!r.done) {
            // Withdraw the request so a late dialog does not stay on the screen.
            g_dbus_connection_call(conn, kDest, handle, "org.freedesktop.portal.Request", "Close", nullptr, nullptr,
                                   G_DBUS_CALL_FLAGS_NONE, 1000, nullptr, nullptr, nullptr);
            return stop.stop_requested() ? PortalResult::Stopped : PortalResult::Silent;
        }
        results = r.results;
        if (r.code == 0) return results ? PortalResult::Ok : PortalResult::Failed;
        return r.code == 1 ? PortalResult::Refused : PortalResult::Failed;
    }
};

namespace {

// Makes `ctx` this thread's default for the scope (signal callbacks are dispatched there).
class ThreadDefault {
public:
    explicit ThreadDefault(GMainContext* ctx) : ctx_(ctx) { g_main_context_push_thread_default(ctx_); }
    ~ThreadDefault() { g_main_context_pop_thread_default(ctx_); }
    ThreadDefault(const ThreadDefault&) = delete;
    ThreadDefault& operator=(const ThreadDefault&) = delete;

private:
    GMainContext* ctx_;
};

GVariant* lookup(GVariant* dict, const char* key, const GVariantType* type) {
    return dict ? g_variant_lookup_value(dict, key, type) : nullptr;
}

}  // namespace

std::unique_ptr<PortalSession> PortalSession::open(const Options& options, std::stop_token stop,
                                                   PortalResult& result) {
    std::unique_ptr<PortalSession> s(new PortalSession());
    s->bus_ = std::make_unique<Bus>();
    Bus& b = *s->bus_;
    ThreadDefault scope(b.ctx);
    std::stop_callback cancelOnStop(stop, [c = b.cancel] { g_cancellable_cancel(c); });

    const std::string address = sessionBusAddress();
    if (address.empty()) {
        result = PortalResult::NoBus;
        return nullptr;
    }
    ErrorHolder err;
    b.conn = g_dbus_connection_new_for_address_sync(
        address.c_str(),
        GDBusConnectionFlags(G_DBUS_CONNECTION_FLAGS_AUTHENTICATION_CLIENT |
                             G_DBUS_CONNECTION_FLAGS_MESSAGE_BUS_CONNECTION),
        nullptr, b.cancel, err.out());
    if (!b.conn) {
        result = stop.stop_requested() ? PortalResult::Stopped : PortalResult::NoBus;
        return nullptr;
    }
    g_dbus_connection_set_exit_on_close(b.conn, FALSE);
    const char* unique = g_dbus_connection_get_unique_name(b.conn);
    if (!unique || unique[0] != ':') {
        result = PortalResult::NoBus;
        return nullptr;
    }
    b.sender = unique + 1;
    for (char& c : b.sender)
        if (c == '.') c = '_';

    const int bound = static_cast<int>(options.requestBound.count());
    // The interface's version says whether the permission can be kept (4 and later).
    VariantHolder version(g_dbus_connection_call_sync(
        b.conn, kDest, kPath, "org.freedesktop.DBus.Properties", "Get", g_variant_new("(ss)", kCast, "version"),
        G_VARIANT_TYPE("(v)"), G_DBUS_CALL_FLAGS_NONE, bound, b.cancel, err.out()));
    if (!version) {
        result = fromError(err.e);
        return nullptr;
    }
    uint32_t castVersion = 0;
    {
        VariantHolder inner;
        g_variant_get(version.v, "(v)", &inner.v);
        if (g_variant_is_of_type(inner.v, G_VARIANT_TYPE_UINT32)) castVersion = g_variant_get_uint32(inner.v);
    }

    // CreateSession.
    VariantHolder results;
    {
        const std::string tok = b.token();
        const std::string sessionTok = b.token();
        GVariantBuilder opts;
        g_variant_builder_init(&opts, G_VARIANT_TYPE_VARDICT);
        g_variant_builder_add(&opts, "{sv}", "handle_token", g_variant_new_string(tok.c_str()));
        g_variant_builder_add(&opts, "{sv}", "session_handle_token", g_variant_new_string(sessionTok.c_str()));
        result = b.request("CreateSession", g_variant_new("(a{sv})", &opts), tok, options.requestBound, stop, results);
        if (result != PortalResult::Ok) return nullptr;
        VariantHolder handle(lookup(results.v, "session_handle", nullptr));
        if (!handle || !(g_variant_is_of_type(handle.v, G_VARIANT_TYPE_STRING) ||
                         g_variant_is_of_type(handle.v, G_VARIANT_TYPE_OBJECT_PATH)) ||
            !g_variant_is_object_path(g_variant_get_string(handle.v, nullptr))) {
            result = PortalResult::Failed;
            return nullptr;
        }
        s->sessionPath_ = g_variant_get_string(handle.v, nullptr);
    }

    // SelectSources: one monitor, kept until the user revokes it.
    {
        const std::string tok = b.token();
        GVariantBuilder opts;
        g_variant_builder_init(&opts, G_VARIANT_TYPE_VARDICT);
        g_variant_builder_add(&opts, "{sv}", "handle_token", g_variant_new_string(tok.c_str()));
        g_variant_builder_add(&opts, "{sv}", "types", g_variant_new_uint32(kSourceMonitor));
        g_variant_builder_add(&opts, "{sv}", "multiple", g_variant_new_boolean(FALSE));
        if (castVersion >= 4) {
            g_variant_builder_add(&opts, "{sv}", "persist_mode", g_variant_new_uint32(kPersistUntilRevoked));
            if (validRestoreToken(options.restoreToken))
                g_variant_builder_add(&opts, "{sv}", "restore_token",
                                      g_variant_new_string(options.restoreToken.c_str()));
        }
        result = b.request("SelectSources", g_variant_new("(oa{sv})", s->sessionPath_.c_str(), &opts), tok,
                           options.requestBound, stop, results);
        if (result != PortalResult::Ok) return nullptr;
    }

    // Start: may show the desktop's dialog and wait for the user.
    {
        const std::string tok = b.token();
        GVariantBuilder opts;
        g_variant_builder_init(&opts, G_VARIANT_TYPE_VARDICT);
        g_variant_builder_add(&opts, "{sv}", "handle_token", g_variant_new_string(tok.c_str()));
        result = b.request("Start", g_variant_new("(osa{sv})", s->sessionPath_.c_str(), "", &opts), tok,
                           options.startBound, stop, results);
        if (result != PortalResult::Ok) return nullptr;
        VariantHolder streams(lookup(results.v, "streams", G_VARIANT_TYPE("a(ua{sv})")));
        if (!streams || g_variant_n_children(streams.v) == 0) {
            result = PortalResult::Failed;
            return nullptr;
        }
        VariantHolder first(g_variant_get_child_value(streams.v, 0));
        VariantHolder props;
        g_variant_get(first.v, "(u@a{sv})", &s->node_, &props.v);
        if (VariantHolder pos(lookup(props.v, "position", G_VARIANT_TYPE("(ii)"))); pos)
            g_variant_get(pos.v, "(ii)", &s->position_.x, &s->position_.y);
        if (VariantHolder size(lookup(props.v, "size", G_VARIANT_TYPE("(ii)"))); size)
            g_variant_get(size.v, "(ii)", &s->size_.width, &s->size_.height);
        if (VariantHolder tok2(lookup(results.v, "restore_token", G_VARIANT_TYPE_STRING)); tok2) {
            const char* t = g_variant_get_string(tok2.v, nullptr);
            if (validRestoreToken(t)) s->restoreToken_ = t;
        }
    }

    // OpenPipeWireRemote.
    {
        GVariantBuilder opts;
        g_variant_builder_init(&opts, G_VARIANT_TYPE_VARDICT);
        GUnixFDList* fds = nullptr;
        VariantHolder reply(g_dbus_connection_call_with_unix_fd_list_sync(
            b.conn, kDest, kPath, kCast, "OpenPipeWireRemote",
            g_variant_new("(oa{sv})", s->sessionPath_.c_str(), &opts), G_VARIANT_TYPE("(h)"),
            G_DBUS_CALL_FLAGS_NONE, bound, nullptr, &fds, b.cancel, err.out()));
        if (!reply) {
            if (fds) g_object_unref(fds);
            const PortalResult r = fromError(err.e);
            result = r == PortalResult::Failed ? PortalResult::NoPipeWire : r;
            return nullptr;
        }
        gint32 index = -1;
        g_variant_get(reply.v, "(h)", &index);
        if (fds && index >= 0 && index < g_unix_fd_list_get_length(fds)) s->fd_ = g_unix_fd_list_get(fds, index, nullptr);
        if (fds) g_object_unref(fds);
        if (s->fd_ < 0) {
            result = PortalResult::NoPipeWire;
            return nullptr;
        }
    }
    result = PortalResult::Ok;
    return s;
}

PortalSession::~PortalSession() {
    if (fd_ >= 0) ::close(fd_);
    if (bus_ && bus_->conn && !sessionPath_.empty()) {
        VariantHolder r(g_dbus_connection_call_sync(bus_->conn, kDest, sessionPath_.c_str(),
                                                    "org.freedesktop.portal.Session", "Close", nullptr, nullptr,
                                                    G_DBUS_CALL_FLAGS_NONE, 1000, nullptr, nullptr));
    }
}

int PortalSession::takePipeWireFd() {
    const int fd = fd_;
    fd_ = -1;
    return fd;
}

}  // namespace tavik::desktop::wayland
