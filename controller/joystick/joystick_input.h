// Joystick input of the controller: picks the joystick by the "Channel"
// setting, polls it on each timer tick through JoystickPoller and sends the
// key events and shift broadcasts. The joystick may be unplugged and plugged
// again while input is on: a vanished joystick releases everything it held.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>

#include "controller/joystick/joystick_poll.h"
#include "controller/joystick/linux_joystick.h"

namespace tavik::controller {

class JoystickInput {
public:
    // sendKey: notify code 4 to the client in front; sendAll: code 5 to all.
    // openSource: makes the source of joystick id 0 or 1 (default: the Linux
    // joystick node of that id).
    JoystickInput(std::function<void(uint32_t)> sendKey, std::function<void(uint32_t)> sendAll,
                  std::function<std::unique_ptr<JoystickSource>(int id)> openSource = {});

    // Turns input on with `settings` (already on: restarts). The joystick is
    // id 0 for channel 1, id 1 for channel 2, and for channel 0 the first of
    // the two that answers now (id 0 when neither does: it is waited for).
    // Returns whether the chosen joystick answered.
    bool start(const JoystickSettings& settings);
    // Off; a shift state still set is broadcast as released.
    void stop(uint64_t nowMs);
    bool active() const { return active_; }
    bool present() const { return present_; }
    int intervalMs() const { return intervalMs_; }
    // How long until the next tick is due: the poll interval while the joystick answers; while
    // none does, looking for one once a second is enough (each look opens the device node).
    int dueMs() const { return present_ ? intervalMs_ : kLookAgainMs; }
    static constexpr int kLookAgainMs = 1000;

    // One timer tick at `nowMs` (monotonic ms). Nothing when off.
    void tick(uint64_t nowMs, bool dialogOpen = false);
    // What the last tick asked of the joystick dialog (-1 nothing).
    int lastDialogFocus() const { return lastFocus_; }

private:
    void send(const JoystickOutput& out);

    std::function<void(uint32_t)> sendKey_, sendAll_;
    std::function<std::unique_ptr<JoystickSource>(int)> openSource_;
    std::unique_ptr<JoystickSource> source_;
    JoystickPoller poller_;
    bool active_ = false;
    bool present_ = false;
    int intervalMs_ = 20;
    int lastFocus_ = -1;
};

}  // namespace tavik::controller
