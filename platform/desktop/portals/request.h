// Portal requests on GDBus: a method that answers with a request object path, and the
// Response signal later sent on that path. Shared by the portal clients of the input side.
#pragma once

#include <gio/gio.h>

#include <atomic>
#include <functional>
#include <string>

namespace tavik::desktop::wayland {

// The object path of a portal request made on a connection whose unique name is `uniqueName`
// (":1.42") with `token`: /org/freedesktop/portal/desktop/request/1_42/<token>.
std::string portalRequestPath(const std::string& uniqueName, const std::string& token);

// Runs `ctx` (the thread-default context of the calling thread, where the connection's signals
// are dispatched) until `done()` or `timeoutMs` passes or `*stop` turns true.
bool iterateUntil(GMainContext* ctx, const std::function<bool()>& done, int timeoutMs,
                  const std::atomic<bool>* stop = nullptr);

struct PortalAnswer {
    guint32 response = 2;       // 0 granted, 1 cancelled by the user, 2 other
    GVariant* results = nullptr;  // a{sv}, owned by the caller (unref it)
};

// Calls `method` of `iface` on the portal with `params` (whose options carry handle_token
// `token`) and waits for its Response at most `timeoutMs` (the call itself at most 5 s).
// False when the call failed or no answer came in time. Call on the thread whose default
// context is `ctx`.
bool portalRequest(GDBusConnection* conn, GMainContext* ctx, const char* iface, const char* method, GVariant* params,
                   const std::string& token, int timeoutMs, PortalAnswer& answer,
                   const std::atomic<bool>* stop = nullptr);

// A request token unique in this process ("tavik<pid>_<n>").
std::string portalToken();

}  // namespace tavik::desktop::wayland
