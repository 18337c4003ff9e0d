// The synthetic pointer through the desktop portal's RemoteDesktop interface (GNOME, KDE): one
// portal session for the pointer, kept with a restore token so the user consents once. The
// portal moves the pointer by relative steps here, so the position is kept from a known one: the
// first move pushes the pointer into the bottom-right corner of the layout, where it stops (the
// top-left one when the layout is not known).
//
// Not thread-safe: the owner serialises the calls.
#pragma once

#include <memory>
#include <optional>
#include <string>

#include "platform/desktop/desktop.h"

struct _GDBusConnection;
struct _GVariant;

namespace tavik::desktop::wayland {

class PortalPointer {
public:
    // Opens the session: CreateSession, SelectDevices (pointer, persisted until revoked, with
    // `restoreToken` from an earlier run) and Start, which may ask the user (at most
    // `startTimeoutMs`; the other steps at most 10 s each). nullptr when there is no session
    // bus, the portal has no RemoteDesktop or no pointer there, the user refused, or an answer
    // did not come in time.
    static std::unique_ptr<PortalPointer> open(const std::string& restoreToken, int startTimeoutMs = 60000);
    ~PortalPointer();  // closes the portal session
    PortalPointer(const PortalPointer&) = delete;
    PortalPointer& operator=(const PortalPointer&) = delete;

    // Moves to `to`, clamped into `layout` when that is not empty. NoDisplay when the portal
    // call failed (the session may be gone).
    DesktopStatus moveTo(Point to, Rect layout);
    // `button`: 1 left, 2 middle, 3 right; Failed for others.
    DesktopStatus button(int button, bool down);
    std::optional<Point> position() const { return position_; }
    // The token the portal gave for the next run ("" when none).
    const std::string& restoreToken() const { return token_; }

private:
    PortalPointer() = default;
    bool notify(const char* method, _GVariant* params);
    _GDBusConnection* conn_ = nullptr;
    std::string session_;
    std::string token_;
    std::optional<Point> position_;
};

}  // namespace tavik::desktop::wayland
