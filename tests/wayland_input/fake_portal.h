// A stand-in for the desktop portal's GlobalShortcuts on a private session bus, for tests: it
// answers CreateSession and BindShortcuts as the portal does (through Response signals on the
// request paths), remembers the triggers asked for, and sends Activated on demand.
#pragma once

#include <map>
#include <memory>
#include <string>

namespace wayland_test {

class FakeShortcutsPortal {
public:
    // Owns org.freedesktop.portal.Desktop on the bus at $DBUS_SESSION_BUS_ADDRESS; ok() tells
    // whether it did. `refuse`: BindShortcuts answers "cancelled".
    explicit FakeShortcutsPortal(bool refuse = false);
    ~FakeShortcutsPortal();
    bool ok() const;
    // The shortcuts bound in the last session: id -> preferred trigger.
    std::map<std::string, std::string> bound() const;
    int sessionsCreated() const;
    // Sends Activated for `shortcutId` in the last session.
    void activate(const std::string& shortcutId);

    struct State;

private:
    std::shared_ptr<State> s_;
};

}  // namespace wayland_test
