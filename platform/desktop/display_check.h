// The one check made before a GUI of our own starts: Qt ends the process whose display it
// cannot reach, and that process may be an application that only called one of our libraries,
// or a controller that should go on without a window instead.
#pragma once

#include <chrono>

namespace tavik::desktop {

// How long the check waits for an X server to answer.
inline constexpr std::chrono::milliseconds kDisplayCheckBound{5000};

// True when a GUI can start here without ending the process: a platform chosen by the
// environment (QT_QPA_PLATFORM, offscreen in tests), a Wayland session (WAYLAND_DISPLAY), or
// an X display named by DISPLAY that answers and then opens. False when DISPLAY is unset or
// malformed, when nothing accepts the connection, when the server does not answer within
// `bound` (a stopped or hung server), and in a build without X11 (no way to check: the caller
// is never risked).
//
// Blocks for at most `bound` waiting for the server (a server that refuses or drops the
// connection is tried up to five times, 50 ms apart, inside the bound: one in the middle of a
// reset comes back within milliseconds); only a server that has answered is then opened in full
// (with the user's authorisation) and closed at once. A DISPLAY naming a remote
// host by name is first resolved by the system resolver, whose own time-outs bound that step.
// Neither forks nor starts a thread; installs no Xlib handlers.
bool guiDisplayReachable(std::chrono::milliseconds bound = kDisplayCheckBound);

// The same check, keeping its X connection open while the result lives. An X server that
// resets when its last client leaves (Xvfb does by default) would otherwise reset just as the
// GUI's own connection arrives, and the toolkit would then end the process: hold the result
// until the GUI has connected. True (and holding nothing) for the platforms the check trusts
// without a connection.
class DisplayHold {
public:
    DisplayHold() = default;
    DisplayHold(DisplayHold&& other) noexcept;
    DisplayHold& operator=(DisplayHold&& other) noexcept;
    DisplayHold(const DisplayHold&) = delete;
    DisplayHold& operator=(const DisplayHold&) = delete;
    ~DisplayHold();
    explicit operator bool() const { return usable_; }

private:
    friend DisplayHold holdGuiDisplay(std::chrono::milliseconds bound);
    void release();
    bool usable_ = false;
    void* display_ = nullptr;  // the open Display, when one is held
};
DisplayHold holdGuiDisplay(std::chrono::milliseconds bound = kDisplayCheckBound);

}  // namespace tavik::desktop
