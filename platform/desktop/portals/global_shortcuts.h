// Hot keys through the desktop portal's GlobalShortcuts interface: one portal session on a
// D-Bus connection and thread of their own; the keys are (re)bound in the background, since the
// portal may ask the user, and each activation is handed to a callback on that thread.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <string>

namespace tavik::desktop::wayland {

class PortalShortcuts {
public:
    using Activated = std::function<void(int32_t id)>;

    // Connects to the session bus and asks the portal for GlobalShortcuts, waiting at most
    // `timeoutMs`. nullptr when there is no session bus, no portal, or no GlobalShortcuts there.
    // `onActivated` runs on this object's thread and must not block.
    static std::unique_ptr<PortalShortcuts> open(Activated onActivated, int timeoutMs = 3000);
    // Closes the portal session and ends the thread (within one method call's bound, 5 s; a
    // request in flight is dropped).
    ~PortalShortcuts();
    PortalShortcuts(const PortalShortcuts&) = delete;
    PortalShortcuts& operator=(const PortalShortcuts&) = delete;

    // Adds or changes key `id` (`trigger` in the portal's form, e.g. "LOGO+v") and binds all
    // keys again shortly after (never waits). A refusal is said once on stderr; a key the desktop
    // bound to nothing (another program holds it) gets its `takenAdvice` line on stderr, once.
    // `qtKey` (qtKeyCode(); 0 unknown) lets the key's holder be asked where KDE's kglobalaccel runs.
    void set(int32_t id, const std::string& trigger, const std::string& description,
             const std::string& takenAdvice = {}, int32_t qtKey = 0);
    void erase(int32_t id);

    struct State;

private:
    explicit PortalShortcuts(std::shared_ptr<State> s) : s_(std::move(s)) {}
    std::shared_ptr<State> s_;
};

}  // namespace tavik::desktop::wayland
