// Window facts from KWin (KDE Plasma): where KWin put each window, which one is active, their
// processes, titles and stacking. A Wayland client cannot learn these itself, so a small script
// (window_facts.js) is loaded into the session's KWin through its D-Bus scripting interface
// (org.kde.KWin /Scripting: loadScript, then run) and reports every change back to this object
// over D-Bus. Nothing for the user to install or enable; the script is unloaded again when this
// object goes.
//
// One D-Bus connection and one thread of its own. Reports are taken only from the bus name that
// owns org.kde.KWin (any other sender gets an error); a restarted KWin gets the script again.
// Every member may be called from any thread and never waits for the bus.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>

#include "platform/desktop/kde/kwin_report.h"

namespace tavik::desktop::kde {

class KWinFacts {
public:
    // Connects to the session bus, loads the script and waits for its first report, at most
    // `timeoutMs` in all. nullptr when there is no session bus, no KWin on it, KWin refuses the
    // script or it does not report in time (the reason is said once on stderr, except for "no KWin",
    // which is the usual case on other desktops).
    static std::unique_ptr<KWinFacts> open(int timeoutMs = 3000);
    // Unloads the script (waits at most 2 s for KWin) and ends the thread.
    ~KWinFacts();
    KWinFacts(const KWinFacts&) = delete;
    KWinFacts& operator=(const KWinFacts&) = delete;

    // The latest report (empty until KWin answers again after a restart).
    KWinReport snapshot() const;
    // The active window; 0 when none (or KWin is gone).
    WindowId active() const;
    std::optional<KWinWindow> window(WindowId id) const;
    // Counts the reports that changed anything: a window activated, moved, resized, retitled,
    // restacked, added or gone.
    uint64_t generation() const;
    // `changed` runs on this object's thread after each such report; it must not block nor call
    // onChange or stopChange. Returns a token for stopChange.
    int onChange(std::function<void()> changed);
    // Ends the calls of `token`; returns only when none of them runs any more.
    void stopChange(int token);
    // The name the script is loaded under in KWin ("tavik-window-facts-<pid><bus name>").
    std::string pluginName() const;

    struct State;

private:
    explicit KWinFacts(std::shared_ptr<State> s) : s_(std::move(s)) {}
    std::shared_ptr<State> s_;
};

}  // namespace tavik::desktop::kde
