// Where a compositor put its windows. A Wayland client cannot learn where any window is, so each
// desktop family answers through a channel of its own: sway's IPC tree (wlroots/), our GNOME Shell
// extension (gnome/), our KWin script (kde/). Each is a WindowFacts; the Wayland back end asks
// whichever is present (wayland/facts_source.h) and joins its answers to the accessibility
// windows with the matchers below.
//
// WindowFact and the matchers are pure, so tests drive them without a compositor.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "platform/desktop/desktop.h"

namespace tavik::desktop {

// One toplevel window as its compositor tells it, in layout pixels.
struct WindowFact {
    int64_t id = 0;     // the compositor's own id of the window (stable while it exists)
    int32_t pid = 0;    // 0 when the compositor does not give it
    std::string appId;  // Wayland app id (or the X11 class of an Xwayland window)
    std::string title;
    Rect frame;         // the window with the decorations the compositor draws
    Rect content;       // its client area (no decorations)
    bool focused = false;
};

// A running subscription to a source's change signal; dropping it ends the calls (it returns
// only when no call runs any more).
class FactsWatch {
public:
    virtual ~FactsWatch() = default;
};

class WindowFacts {
public:
    virtual ~WindowFacts() = default;

    // The channel, for messages ("sway IPC", "GNOME Shell extension", ...).
    virtual std::string_view source() const = 0;

    // The toplevel windows now, in stacking order from the bottom up where the compositor tells
    // it (else in the compositor's own order); nullopt when the channel did not answer. Bounded
    // (at most about 0.5 s); may be called on any one thread at a time.
    virtual std::optional<std::vector<WindowFact>> windows() = 0;

    // Calls `changed` on a thread of the source's own after every activation, move, resize,
    // opening and closing of a window, until the result is dropped. `changed` must not block.
    // nullptr when the channel has no such signal (the caller then polls windows()).
    virtual std::unique_ptr<FactsWatch> watch(std::function<void()> changed) = 0;
};

// The window of process `pid` with `title`; else the one window of `pid` when it has only one.
// nullptr when none fits or `pid` <= 0.
const WindowFact* windowOfProcess(std::span<const WindowFact> windows, int32_t pid, std::string_view title);
// The window with `appId` and `title` (a toplevel of the compositor's list); without a title
// match, the one window of `appId` when it has only one. nullptr when none fits.
const WindowFact* windowOfApp(std::span<const WindowFact> windows, std::string_view appId, std::string_view title);
// The focused window; nullptr when none is.
const WindowFact* focusedWindow(std::span<const WindowFact> windows);

}  // namespace tavik::desktop
