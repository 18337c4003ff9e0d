// The screen-cast permission through the desktop portal (org.freedesktop.portal.ScreenCast): one
// portal session on a D-Bus connection of its own, granted for one monitor and persisted with a
// restore token, and the PipeWire remote it opens. The session lasts as long as this object (the
// portal ends it when the connection closes).
#pragma once

#include <chrono>
#include <memory>
#include <stop_token>
#include <string>

#include "platform/desktop/desktop.h"

namespace tavik::desktop::wayland {

enum class PortalResult {
    Ok,
    NoBus,         // no session bus address, or the bus refused us
    NoPortal,      // no portal service on the bus
    NoScreenCast,  // the portal has no ScreenCast interface
    NoPipeWire,    // the portal could not open a PipeWire remote
    Silent,        // a request got no answer within its bound
    Refused,       // the user (or the portal's policy) refused
    Failed,        // any other error
    Stopped,       // the stop token was triggered
};

class PortalSession {
public:
    struct Options {
        std::string restoreToken;  // from an earlier run; "" for none
        // Bound of each request; Start, which may wait for the user's answer, has its own.
        std::chrono::milliseconds requestBound{5000};
        std::chrono::milliseconds startBound{120000};
    };

    // Runs CreateSession, SelectSources (one monitor, persist until revoked), Start and
    // OpenPipeWireRemote. Blocks: every call and every wait for an answer is bounded as the
    // options say, and all of them end early (Stopped) when `stop` is triggered. nullptr with
    // `result` saying why on failure.
    static std::unique_ptr<PortalSession> open(const Options& options, std::stop_token stop, PortalResult& result);
    // Closes the portal session (bounded to a second) and the connection.
    ~PortalSession();
    PortalSession(const PortalSession&) = delete;
    PortalSession& operator=(const PortalSession&) = delete;

    // The PipeWire node of the granted monitor, where it lies and how large it is.
    uint32_t node() const { return node_; }
    Point position() const { return position_; }
    Size size() const { return size_; }
    // The token to use next time ("" when the portal gave none).
    const std::string& restoreToken() const { return restoreToken_; }
    // The PipeWire remote's socket; the caller owns it (-1 after the first call).
    int takePipeWireFd();

    struct Bus;  // the connection and what waiting on it needs

private:
    PortalSession() = default;
    std::unique_ptr<Bus> bus_;
    std::string sessionPath_;
    uint32_t node_ = 0;
    Point position_;
    Size size_;
    std::string restoreToken_;
    int fd_ = -1;
};

}  // namespace tavik::desktop::wayland
