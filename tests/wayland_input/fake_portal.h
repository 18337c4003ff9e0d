// A stand-in for the desktop portal's GlobalShortcuts and RemoteDesktop on a private session
// bus, for tests: it answers the session set-up as the portal does (through Response signals on
// the request paths), remembers what was asked (triggers, devices, restore token, pointer
// motion and buttons), and sends Activated on demand.
#pragma once

#include <map>
#include <memory>
#include <string>
#include <vector>

namespace wayland_test {

class FakePortal {
public:
    // Owns org.freedesktop.portal.Desktop on the bus at $DBUS_SESSION_BUS_ADDRESS; ok() tells
    // whether it did. `refuse`: BindShortcuts answers "cancelled".
    explicit FakePortal(bool refuse = false);
    ~FakePortal();
    bool ok() const;
    // The shortcuts bound in the last session: id -> preferred trigger.
    std::map<std::string, std::string> bound() const;
    int sessionsCreated() const;
    // Sends Activated for `shortcutId` in the last session.
    void activate(const std::string& shortcutId);

    // RemoteDesktop: what SelectDevices was given, and the pointer calls in order
    // ("motion dx dy", "button code state"), each for the session it set up.
    struct Remote {
        unsigned types = 0, persistMode = 0;
        std::string restoreToken;
        std::vector<std::string> calls;
        int starts = 0;
    };
    Remote remote() const;

    struct State;

private:
    std::shared_ptr<State> s_;
};

}  // namespace wayland_test
