// The window in front and window geometry on Wayland: the compositor's toplevel list
// (wlroots foreign-toplevel protocol: which toplevel is activated, its title and app id; no
// geometry) where offered, and AT-SPI 2 window events (activate, deactivate, destroy) with the
// windows' extents, process and names. Window ids are described in window_ids.h.
//
// Geometry comes from the compositor's window facts where the session has a channel for them
// (see window_facts.h: sway's tree, our GNOME Shell extension, our KWin script), else from AT-SPI
// extents in screen coordinates, which toolkits that do not know where the compositor put them
// report from their own origin (often 0,0).
//
// Not thread-safe for its callers (the owner serialises them); the AT-SPI side runs on the
// process's accessibility thread and hands over a snapshot under a lock, so no query waits for
// the accessibility bus.
#pragma once

#include <chrono>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

#include "platform/desktop/desktop.h"
#include "platform/desktop/window_facts.h"
#include "platform/desktop/wayland/window_ids.h"
#include "platform/desktop/wayland/wl_connection.h"

struct zwlr_foreign_toplevel_manager_v1;
struct zwlr_foreign_toplevel_handle_v1;

namespace tavik::atspi {
class Hub;
}

namespace tavik::desktop::wayland {

class WindowTracker {
public:
    // Starts following windows through the compositor's toplevel list when `conn` (may be
    // null; outlives this object) offers it, and through AT-SPI when its bus answers (waits at
    // most ~3 s for it and for the first list of windows).
    explicit WindowTracker(WlConnection* conn);
    ~WindowTracker();
    WindowTracker(const WindowTracker&) = delete;
    WindowTracker& operator=(const WindowTracker&) = delete;

    bool hasToplevelList() const { return manager_ != nullptr; }
    bool hasAccessibility() const { return hub_ != nullptr; }

    bool hasWindowFacts() const { return facts_ != nullptr; }

    // The activated toplevel (compositor), else the focused window of the compositor's facts,
    // else the active AT-SPI window, else (no accessibility bus) the facts' focused window by its
    // facts id; nullopt when none.
    std::optional<WindowId> activeWindow();
    std::optional<int32_t> windowProcess(WindowId window);
    bool windowExists(WindowId window);
    // The window's place with its decorations: the compositor's facts where they have the
    // window, else its AT-SPI extents (screen coordinates); nullopt when unknown. Asks the
    // compositor (bounded, 500 ms).
    std::optional<Rect> windowRect(WindowId window);
    // Its client area: as windowRect, without the decorations the compositor draws.
    std::optional<Rect> clientRect(WindowId window);

    // An AT-SPI window as last seen (public for the accessibility thread's helpers).
    struct Seen {
        WindowId id = 0;
        int32_t pid = 0;
        std::string name, appName;
        std::optional<Rect> extents;
        bool active = false;
    };
    // A compositor toplevel (public for the C listener tables).
    struct Toplevel {
        WindowTracker* owner = nullptr;
        zwlr_foreign_toplevel_handle_v1* handle = nullptr;
        uint64_t sequence = 0;
        std::string title, appId;
        bool activated = false;       // as of the last "done"
        bool pendingActivated = false;
        bool closed = false;
    };
    void onToplevel(zwlr_foreign_toplevel_handle_v1* handle);
    void onManagerFinished();

    struct Atspi;  // accessibility-thread state

private:
    const Seen* seenLocked(WindowId id) const;
    const Toplevel* toplevel(WindowId id) const;
    // The window the facts say is focused: its accessible where AT-SPI knows it, else its facts
    // id; nullopt without facts or a focused window.
    std::optional<WindowId> factsActive();
    // The compositor's window that is `window`; nullopt when the session has no facts channel
    // or the compositor does not know that window.
    std::optional<WindowFact> compositorWindow(WindowId window);
    std::optional<Rect> place(WindowId window, bool withFrame);
    // The accessibility window that the compositor's facts say has the focus: the one of that
    // process with that title, else the process's one window; 0 when the accessibility side
    // knows no such window; nullopt when the facts tell no focused window.
    std::optional<WindowId> focusedFromFacts();
    void dropClosed();
    // Registers the accessibility listeners and the periodic look (tokens_ stays empty when the
    // hub thread did not answer in time).
    void listenAll();

    WlConnection* conn_ = nullptr;
    std::unique_ptr<WindowFacts> facts_;  // null without a channel
    zwlr_foreign_toplevel_manager_v1* manager_ = nullptr;
    std::vector<std::unique_ptr<Toplevel>> toplevels_;
    uint64_t nextSequence_ = 1;

    std::shared_ptr<atspi::Hub> hub_;
    std::shared_ptr<Atspi> atspi_;
    std::vector<int> tokens_;
    std::chrono::steady_clock::time_point retryListen_{};
};

}  // namespace tavik::desktop::wayland
