// The session's accessibility switch, as screen readers use it: the `IsEnabled` property of
// `org.a11y.Status` on the session bus's `org.a11y.Bus` (at-spi2-core's bus launcher). Toolkits
// that publish accessibility events only while it is on (Qt, Chromium, Firefox) start doing so
// when it turns on, also in applications that run already.
//
// An AccessibilitySwitch turns it on when made and, when it was the one that turned it on, off
// again when destroyed. It holds a private bus connection of its own (never the process's shared
// one, whose loss would end the process). Every call waits at most about 2 s in all; a session
// without an accessibility bus is said once per process on stderr.
#pragma once

#include <memory>

namespace tavik::atspi {

class AccessibilitySwitch {
public:
    enum class State {
        SwitchedOn,  // it was off; this object turned it on and turns it off again
        WasOn,       // it was on already; left as it is
        NoBus,       // no session bus or no accessibility bus on it
        Refused,     // the property could not be read or written
    };

    AccessibilitySwitch();   // turns it on (bounded)
    ~AccessibilitySwitch();  // turns it off again when this object switched it on and it is still on
    AccessibilitySwitch(const AccessibilitySwitch&) = delete;
    AccessibilitySwitch& operator=(const AccessibilitySwitch&) = delete;

    State state() const { return state_; }

private:
    struct Bus;
    std::unique_ptr<Bus> bus_;
    State state_ = State::NoBus;
};

}  // namespace tavik::atspi
