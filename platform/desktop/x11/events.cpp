// Desktop events on X11: hot keys grabbed on the root, screen size changes (RandR) and damage of
// the root window (XDamage), read by one thread on a connection of its own and handed over
// through an eventfd that a GUI loop can watch.
#include <X11/Xutil.h>
#include <X11/extensions/Xdamage.h>
#include <X11/extensions/Xrandr.h>
#include <poll.h>
#include <sys/eventfd.h>
#include <unistd.h>

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <cstdio>
#include <string>
#include <array>
#include <deque>
#include <functional>
#include <map>
#include <mutex>
#include <thread>

#include "platform/desktop/backend.h"
#include "platform/desktop/rect_math.h"
#include "platform/desktop/x11/connection.h"

namespace tavik::desktop {

namespace {

// Lock keys that must not change what a hot key is.
constexpr unsigned kIgnoredMods[] = {0, LockMask, Mod2Mask, LockMask | Mod2Mask};
constexpr unsigned kHotKeyMods = ShiftMask | ControlMask | Mod1Mask | Mod4Mask;
// Beyond this many separate damaged rectangles they are merged into their bounding box.
constexpr size_t kMaxDamageRects = 64;

struct HotKey {
    uint32_t keysym = 0;
    uint32_t modifiers = 0;
    KeyCode code = 0;  // grabbed on the current connection, 0 when not
};

}  // namespace

struct X11Events final : backend::EventsBackend, x11::Calls<X11Events> {
    X11Events();
    ~X11Events() override;  // stops the thread (it wakes at once) and releases the grabs
    X11Events(const X11Events&) = delete;
    X11Events& operator=(const X11Events&) = delete;

    DesktopStatus addHotKey(int32_t id, uint32_t keysym, uint32_t modifiers) override;
    void removeHotKey(int32_t id) override;
    int fd() const override { return eventFd; }
    std::vector<DesktopEvent> take() override;
    bool waitEvents(int timeoutMs) override;
    std::optional<bool> takeDamage(Rect area) override;
    void watchActiveWindow(std::function<void()> changed) override;
    void forgetDamage() override;
    bool connected() override;

    bool wasConnected = false;
    Window root = 0;
    int rrEventBase = -1;
    int damageEventBase = -1;
    Damage damage = 0;
    bool damageWanted = false;  // the root's damage is followed from the first question on
    Size screen;
    Atom netActiveWindow = 0;
    std::function<void()> activeChanged;  // called with `m` held

    std::map<int32_t, HotKey> keys;
    std::mutex qm;  // guards `pending` alone, so take() never waits for the server
    std::deque<DesktopEvent> pending;
    std::vector<Rect> dirty;
    bool allDirty = true;  // first ask, or after a reconnect

    int eventFd = -1;  // readable while `pending` holds events
    int wakeFd = -1;   // stops the thread's wait
    bool stop = false;
    std::jthread thread;

    void push(DesktopEvent e) {
        std::lock_guard g(qm);
        pending.push_back(e);
        const uint64_t one = 1;
        [[maybe_unused]] auto n = write(eventFd, &one, sizeof one);
    }

    bool grab(Display* d, HotKey& k) {
        const KeyCode code = XKeysymToKeycode(d, static_cast<KeySym>(k.keysym));
        if (code == 0) return false;
        x11::ErrorTrap trap(d);
        for (unsigned extra : kIgnoredMods)
            XGrabKey(d, code, k.modifiers | extra, root, False, GrabModeAsync, GrabModeAsync);
        if (!trap.sync()) {
            for (unsigned extra : kIgnoredMods) XUngrabKey(d, code, k.modifiers | extra, root);
            trap.sync();
            return false;
        }
        k.code = code;
        return true;
    }

    void ungrab(Display* d, HotKey& k) {
        if (!k.code) return;
        x11::ErrorTrap trap(d);
        for (unsigned extra : kIgnoredMods) XUngrabKey(d, k.code, k.modifiers | extra, root);
        trap.sync();
        k.code = 0;
    }

    // Connects when due and sets up a new connection; reports losses and returns. Called with
    // `m` held (the call preambles of x11::Calls do).
    Display* ready() {
        Display* d = conn.get();
        if (!d) {
            if (wasConnected) {
                wasConnected = false;
                allDirty = true;
                dirty.clear();
                for (auto& [id, k] : keys) k.code = 0;
                push({DesktopEvent::Kind::DisplayLost, 0, {}});
            }
            return nullptr;
        }
        if (conn.generation() == generation) return d;
        const bool again = generation != 0;
        generation = conn.generation();
        root = DefaultRootWindow(d);
        x11::ErrorTrap trap(d);
        int err = 0;
        rrEventBase = -1;
        if (XRRQueryExtension(d, &rrEventBase, &err))
            XRRSelectInput(d, root, RRScreenChangeNotifyMask);
        else
            rrEventBase = -1;
        damageEventBase = -1;
        damage = 0;
        if (XDamageQueryExtension(d, &damageEventBase, &err)) {
            if (damageWanted) damage = XDamageCreate(d, root, XDamageReportRawRectangles);
        } else
            damageEventBase = -1;
        screen = {DisplayWidth(d, DefaultScreen(d)), DisplayHeight(d, DefaultScreen(d))};
        netActiveWindow = XInternAtom(d, "_NET_ACTIVE_WINDOW", False);
        if (activeChanged) XSelectInput(d, root, PropertyChangeMask);
        trap.sync();
        allDirty = true;
        dirty.clear();
        for (auto& [id, k] : keys) {
            k.code = 0;
            grab(d, k);
        }
        wasConnected = !conn.lost();
        if (!wasConnected) return nullptr;
        if (again) push({DesktopEvent::Kind::DisplayBack, 0, screen});
        if (activeChanged) activeChanged();  // it may have changed while there was no connection
        return d;
    }

    // Starts following the root's damage at the first question (objects that only watch hot keys
    // or the window in front are not woken by every drawing). Holds `m`.
    void wantDamage(Display* d) {
        if (damageWanted) return;
        damageWanted = true;
        allDirty = true;
        if (damageEventBase < 0) return;
        x11::ErrorTrap trap(d);
        damage = XDamageCreate(d, root, XDamageReportRawRectangles);
        trap.sync();
    }

    void addDirty(Rect r) {
        if (allDirty) return;
        dirty.push_back(r);
        if (dirty.size() > kMaxDamageRects) {
            Rect box = dirty.front();
            for (const Rect& x : dirty) box = unite(box, x);
            dirty.assign(1, box);
        }
    }

    // Reads every event that has arrived and turns it into ours. Holds `m`.
    void drain(Display* d) {
        x11::ErrorTrap trap(d);
        while (!conn.lost() && XPending(d) > 0) {
            XEvent ev{};
            XNextEvent(d, &ev);
            if (ev.type == KeyPress) {
                const unsigned state = ev.xkey.state & kHotKeyMods;
                for (const auto& [id, k] : keys)
                    if (k.code && k.code == ev.xkey.keycode && k.modifiers == state)
                        push({DesktopEvent::Kind::HotKey, id, {}});
            } else if (rrEventBase >= 0 && ev.type == rrEventBase + RRScreenChangeNotify) {
                XRRUpdateConfiguration(&ev);
                const auto& rr = reinterpret_cast<const XRRScreenChangeNotifyEvent&>(ev);
                const Size now{rr.width, rr.height};
                if (now != screen) {
                    screen = now;
                    allDirty = true;
                    dirty.clear();
                    push({DesktopEvent::Kind::ScreenResized, 0, now});
                }
            } else if (ev.type == PropertyNotify && ev.xproperty.window == root &&
                       ev.xproperty.atom == netActiveWindow) {
                if (activeChanged) activeChanged();
            } else if (damageEventBase >= 0 && ev.type == damageEventBase + XDamageNotify) {
                const auto& dn = reinterpret_cast<const XDamageNotifyEvent&>(ev);
                addDirty({dn.area.x, dn.area.y, dn.area.width, dn.area.height});
            }
        }
    }

    void run() {
        for (;;) {
            int xfd = -1;
            const bool stopping = held([&](Display*) {
                if (stop) return true;
                if (Display* d = ready()) {
                    drain(d);
                    if (!conn.lost()) xfd = ConnectionNumber(d);
                }
                return false;
            });
            if (stopping) return;
            std::array<pollfd, 2> fds{{{wakeFd, POLLIN, 0}, {xfd, POLLIN, 0}}};
            // Without a connection the wait is the reconnect interval.
            poll(fds.data(), xfd >= 0 ? 2 : 1, xfd >= 0 ? 5000 : 1000);
        }
    }
};

X11Events::X11Events() {
    eventFd = eventfd(0, EFD_NONBLOCK | EFD_CLOEXEC);
    wakeFd = eventfd(0, EFD_NONBLOCK | EFD_CLOEXEC);
    // Connected before the first addHotKey or takeDamage of the caller.
    call(false, [](Display*) { return true; });
    thread = std::jthread([this] { run(); });
}

X11Events::~X11Events() {
    {
        std::lock_guard g(m);
        stop = true;
        const uint64_t one = 1;
        [[maybe_unused]] auto n = write(wakeFd, &one, sizeof one);
    }
    thread = {};  // joins; the thread wakes at once
    held([this](Display* d) {
        if (d)
            for (auto& [id, k] : keys) ungrab(d, k);
    });
    conn.close();
    if (eventFd >= 0) close(eventFd);
    if (wakeFd >= 0) close(wakeFd);
}

namespace {

// One line on stderr for a hot key another program holds: which key, and how to get one.
void sayTaken(uint32_t keysym, uint32_t modifiers) {
    std::string key;
    if (modifiers & kModControl) key += "Ctrl+";
    if (modifiers & kModAlt) key += "Alt+";
    if (modifiers & kModShift) key += "Shift+";
    if (modifiers & kModSuper) key += "Super+";
    const char* name = XKeysymToString(static_cast<KeySym>(keysym));
    std::string n = name ? name : "?";
    if (n.size() == 1) n[0] = char(std::toupper(static_cast<unsigned char>(n[0])));
    key += n;
    std::fprintf(stderr,
                 "%s: the hot key %s is held by another program (the desktop may use it); everything else works. "
                 "Free it in the desktop's keyboard settings, or bind \"%s --show\" to a free key there.\n",
                 program_invocation_short_name, key.c_str(), program_invocation_short_name);
}

}  // namespace

DesktopStatus X11Events::addHotKey(int32_t id, uint32_t keysym, uint32_t modifiers) {
    return held([&](Display* d) {
        if (auto it = keys.find(id); it != keys.end()) {
            if (d) ungrab(d, it->second);
            keys.erase(it);
        }
        HotKey& k = keys[id];
        k.keysym = keysym;
        k.modifiers = modifiers & kHotKeyMods;
        if (!settledOn(d)) return DesktopStatus::NoDisplay;
        const bool ok = grab(d, k);
        if (conn.lost()) return DesktopStatus::NoDisplay;
        drain(d);
        if (!ok) {
            keys.erase(id);
            sayTaken(keysym, modifiers);
        }
        return ok ? DesktopStatus::Ok : DesktopStatus::Failed;
    });
}

void X11Events::removeHotKey(int32_t id) {
    held([&](Display* d) {
        auto it = keys.find(id);
        if (it == keys.end()) return;
        if (d) ungrab(d, it->second);
        keys.erase(it);
    });
}

std::vector<DesktopEvent> X11Events::take() {
    std::lock_guard g(qm);
    uint64_t count = 0;
    [[maybe_unused]] auto n = read(eventFd, &count, sizeof count);
    std::vector<DesktopEvent> out(pending.begin(), pending.end());
    pending.clear();
    return out;
}

bool X11Events::waitEvents(int timeoutMs) {
    pollfd p{eventFd, POLLIN, 0};
    return poll(&p, 1, std::max(timeoutMs, 0)) > 0;
}

std::optional<bool> X11Events::takeDamage(Rect area) {
    return held([&](Display* d) -> std::optional<bool> {
        if (!settledOn(d) || damageEventBase < 0) return std::nullopt;
        wantDamage(d);
        // A round trip: every damage the server caused before this call is then in the queue.
        XSync(d, False);
        drain(d);
        if (conn.lost()) return std::nullopt;
        bool changed = allDirty;
        for (const Rect& r : dirty) changed = changed || intersects(r, area);
        allDirty = false;
        dirty.clear();
        return changed;
    });
}

void X11Events::watchActiveWindow(std::function<void()> changed) {
    held([&](Display* d) {
        const bool was = static_cast<bool>(activeChanged);
        activeChanged = std::move(changed);
        if (!settledOn(d) || was == static_cast<bool>(activeChanged)) return;
        {
            x11::ErrorTrap trap(d);
            XSelectInput(d, root, activeChanged ? PropertyChangeMask : NoEventMask);
            trap.sync();
        }
        // The reading thread waits on the socket: events that came with the reply are read here.
        drain(d);
    });
}

void X11Events::forgetDamage() {
    held([&](Display* d) {
        if (!settledOn(d)) return;
        wantDamage(d);
        drain(d);
        allDirty = false;
        dirty.clear();
    });
}

bool X11Events::connected() {
    return held([this](Display* d) { return d != nullptr && wasConnected; });
}

std::unique_ptr<backend::EventsBackend> backend::makeX11Events() { return std::make_unique<X11Events>(); }

}  // namespace tavik::desktop
