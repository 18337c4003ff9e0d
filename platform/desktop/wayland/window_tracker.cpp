// Following windows on Wayland: the compositor's toplevel list on the caller's side, AT-SPI
// window events and extents on the accessibility thread, joined by window_ids.h's matcher.
#include "platform/desktop/wayland/window_tracker.h"

#include <wayland-client.h>

#include <algorithm>
#include <atomic>
#include <cstring>

#include "platform/atspi/atspi_hub.h"
#include "platform/desktop/wayland/facts_source.h"
#include "wlr-foreign-toplevel-management-unstable-v1-client-protocol.h"

namespace tavik::desktop::wayland {

namespace {

constexpr size_t kMaxWindows = 64;  // AT-SPI windows followed at once
constexpr int kMaxApps = 256;       // applications looked at by the first scan
constexpr int kMaxAppWindows = 32;  // windows per application looked at by the first scan

// ----- Compositor toplevels -----

using Toplevel = WindowTracker::Toplevel;

void tlTitle(void* d, zwlr_foreign_toplevel_handle_v1*, const char* title) {
    static_cast<Toplevel*>(d)->title = title ? title : "";
}
void tlAppId(void* d, zwlr_foreign_toplevel_handle_v1*, const char* appId) {
    static_cast<Toplevel*>(d)->appId = appId ? appId : "";
}
void tlOutput(void*, zwlr_foreign_toplevel_handle_v1*, wl_output*) {}
void tlState(void* d, zwlr_foreign_toplevel_handle_v1*, wl_array* states) {
    auto* t = static_cast<Toplevel*>(d);
    t->pendingActivated = false;
    const size_t n = states ? states->size / sizeof(uint32_t) : 0;
    for (size_t i = 0; i < n; ++i) {
        uint32_t s = 0;
        std::memcpy(&s, static_cast<const char*>(states->data) + i * sizeof(uint32_t), sizeof s);
        if (s == ZWLR_FOREIGN_TOPLEVEL_HANDLE_V1_STATE_ACTIVATED) t->pendingActivated = true;
    }
}
void tlDone(void* d, zwlr_foreign_toplevel_handle_v1*) {
    auto* t = static_cast<Toplevel*>(d);
    t->activated = t->pendingActivated;
}
void tlClosed(void* d, zwlr_foreign_toplevel_handle_v1*) { static_cast<Toplevel*>(d)->closed = true; }
const zwlr_foreign_toplevel_handle_v1_listener kToplevelListener = {tlTitle, tlAppId, tlOutput, tlOutput,
                                                                    tlState, tlDone,  tlClosed};

void mgrToplevel(void* d, zwlr_foreign_toplevel_manager_v1*, zwlr_foreign_toplevel_handle_v1* h) {
    static_cast<WindowTracker*>(d)->onToplevel(h);
}
void mgrFinished(void* d, zwlr_foreign_toplevel_manager_v1*) { static_cast<WindowTracker*>(d)->onManagerFinished(); }
const zwlr_foreign_toplevel_manager_v1_listener kManagerListener = {mgrToplevel, mgrFinished};

}  // namespace

// ----- AT-SPI windows (accessibility thread) -----

struct WindowTracker::Atspi {
    std::mutex m;
    std::vector<Seen> seen;  // the snapshot the callers read (under m)
    // Set by a caller that found the active toplevel unknown to AT-SPI: look for new windows.
    std::atomic<bool> wantScan{false};
    int ticksSinceScan = 0;

    // Accessibility thread only.
    struct Live {
        Seen seen;
        AtspiAccessible* acc = nullptr;  // referenced
    };
    std::vector<Live> live;

    void publish() {
        std::vector<Seen> copy;
        copy.reserve(live.size());
        for (const Live& l : live) copy.push_back(l.seen);
        std::lock_guard lock(m);
        seen = std::move(copy);
    }

    static WindowId idOf(AtspiAccessible* acc) {
        AtspiObject* o = ATSPI_OBJECT(acc);
        const char* bus = o->app && o->app->bus_name ? o->app->bus_name : "";
        return atspiWindowId(bus, o->path ? o->path : "");
    }

    // Reads what the window tells now; false when it no longer answers.
    static bool read(AtspiAccessible* acc, Seen& s) {
        GError* err = nullptr;
        const guint pid = atspi_accessible_get_process_id(acc, &err);
        if (err) {
            g_clear_error(&err);
            return false;
        }
        s.pid = static_cast<int32_t>(pid);
        if (gchar* name = atspi_accessible_get_name(acc, &err)) {
            s.name = name;
            g_free(name);
        }
        g_clear_error(&err);
        if (AtspiAccessible* app = atspi_accessible_get_application(acc, &err)) {
            if (gchar* name = atspi_accessible_get_name(app, nullptr)) {
                s.appName = name;
                g_free(name);
            }
            g_object_unref(app);
        }
        g_clear_error(&err);
        s.extents.reset();
        if (AtspiComponent* c = atspi_accessible_get_component_iface(acc)) {
            if (AtspiRect* r = atspi_component_get_extents(c, ATSPI_COORD_TYPE_SCREEN, &err)) {
                if (r->width > 0 && r->height > 0) s.extents = Rect{r->x, r->y, r->width, r->height};
                g_free(r);
            }
            g_clear_error(&err);
            g_object_unref(c);
        }
        if (AtspiStateSet* states = atspi_accessible_get_state_set(acc)) {
            s.active = atspi_state_set_contains(states, ATSPI_STATE_ACTIVE);
            g_object_unref(states);
        }
        return true;
    }

    Live* find(WindowId id) {
        for (Live& l : live)
            if (l.seen.id == id) return &l;
        return nullptr;
    }

    // Adds or refreshes `acc`; `active` overrides what its state set says.
    void upsert(AtspiAccessible* acc, std::optional<bool> active) {
        const WindowId id = idOf(acc);
        Live* l = find(id);
        if (!l) {
            if (live.size() >= kMaxWindows) {
                // Forget the oldest window that is not active.
                auto old = std::find_if(live.begin(), live.end(), [](const Live& x) { return !x.seen.active; });
                if (old == live.end()) old = live.begin();
                g_object_unref(old->acc);
                live.erase(old);
            }
            live.push_back({Seen{}, ATSPI_ACCESSIBLE(g_object_ref(acc))});
            l = &live.back();
            l->seen.id = id;
        }
        read(acc, l->seen);
        if (active) {
            if (*active)
                for (Live& other : live) other.seen.active = false;
            l->seen.active = *active;
        }
    }

    void remove(WindowId id) {
        for (auto it = live.begin(); it != live.end(); ++it) {
            if (it->seen.id == id) {
                g_object_unref(it->acc);
                live.erase(it);
                return;
            }
        }
    }

    // Every window of every application, as a start (events tell only of changes).
    void scan() {
        AtspiAccessible* desktop = atspi_get_desktop(0);
        if (!desktop) return;
        GError* err = nullptr;
        const gint apps = std::min(atspi_accessible_get_child_count(desktop, &err), kMaxApps);
        g_clear_error(&err);
        for (gint i = 0; i < apps && live.size() < kMaxWindows; ++i) {
            AtspiAccessible* app = atspi_accessible_get_child_at_index(desktop, i, &err);
            g_clear_error(&err);
            if (!app) continue;
            const gint wins = std::min(atspi_accessible_get_child_count(app, &err), kMaxAppWindows);
            g_clear_error(&err);
            for (gint j = 0; j < wins && live.size() < kMaxWindows; ++j) {
                if (AtspiAccessible* w = atspi_accessible_get_child_at_index(app, j, &err)) {
                    upsert(w, std::nullopt);
                    g_object_unref(w);
                }
                g_clear_error(&err);
            }
            g_object_unref(app);
        }
        g_object_unref(desktop);
    }

    // Refreshes every window (names, extents, state); forgets those that went away.
    void refresh() {
        for (auto it = live.begin(); it != live.end();) {
            if (read(it->acc, it->seen)) {
                ++it;
            } else {
                g_object_unref(it->acc);
                it = live.erase(it);
            }
        }
    }

    void clear() {
        for (Live& l : live) g_object_unref(l.acc);
        live.clear();
    }
};

WindowTracker::WindowTracker(WlConnection* conn) : conn_(conn), facts_(openWindowFacts()) {
    if (conn_) {
        manager_ = static_cast<zwlr_foreign_toplevel_manager_v1*>(
            conn_->bind(&zwlr_foreign_toplevel_manager_v1_interface, 2));
        if (manager_) {
            zwlr_foreign_toplevel_manager_v1_add_listener(manager_, &kManagerListener, this);
            conn_->roundtrip(3000);  // the toplevels that exist now, with their states
        }
    }
    hub_ = atspi::Hub::acquire();
    if (!hub_) return;
    atspi_ = std::make_shared<Atspi>();
    auto a = atspi_;
    hub_->run(
        [a] {
            a->scan();
            a->publish();
        },
        3000);
    // A bus that is held up is not a bus that is missing: an application that does not answer
    // holds the first scan (and with it the hub thread) for many seconds, and the listeners asked
    // for meanwhile are not made. The scan still ends and its windows count; activeWindow() asks
    // for the listeners again.
    listenAll();
}

void WindowTracker::listenAll() {
    auto a = atspi_;
    auto on = [this, a](const char* type, auto fn) {
        const int t = hub_->listen(type, [a, fn](const AtspiEvent& e) {
            if (!e.source) return;
            fn(*a, e);
            a->publish();
        });
        if (t) tokens_.push_back(t);
    };
    on("window:activate", [](Atspi& s, const AtspiEvent& e) { s.upsert(e.source, true); });
    on("window:deactivate", [](Atspi& s, const AtspiEvent& e) {
        if (Atspi::Live* l = s.find(Atspi::idOf(e.source))) l->seen.active = false;
    });
    on("window:destroy", [](Atspi& s, const AtspiEvent& e) { s.remove(Atspi::idOf(e.source)); });
    // Windows move and retitle without telling: look again twice a second.
    // Windows that appeared before their application joined the accessibility bus are found by
    // a new scan, at most every 2 s and only while a toplevel in front is unknown.
    if (const int t = hub_->every(500, [a] {
            a->refresh();
            if (++a->ticksSinceScan >= 4 && a->wantScan.exchange(false)) {
                a->ticksSinceScan = 0;
                a->scan();
            }
            a->publish();
        }))
        tokens_.push_back(t);
}

WindowTracker::~WindowTracker() {
    if (hub_) {
        for (int t : tokens_) hub_->remove(t);
        auto a = atspi_;
        hub_->run([a] { a->clear(); });
    }
    for (auto& t : toplevels_)
        if (t->handle) zwlr_foreign_toplevel_handle_v1_destroy(t->handle);
    if (manager_) zwlr_foreign_toplevel_manager_v1_stop(manager_);
    if (conn_) conn_->pump();
    // The manager object is left to the connection: after "stop" the compositor may still send
    // toplevels until "finished", which destroys it on its side.
    if (manager_) wl_proxy_destroy(reinterpret_cast<wl_proxy*>(manager_));
}

void WindowTracker::onToplevel(zwlr_foreign_toplevel_handle_v1* handle) {
    auto t = std::make_unique<Toplevel>();
    t->owner = this;
    t->handle = handle;
    t->sequence = nextSequence_++;
    zwlr_foreign_toplevel_handle_v1_add_listener(handle, &kToplevelListener, t.get());
    toplevels_.push_back(std::move(t));
}

void WindowTracker::onManagerFinished() {
    wl_proxy_destroy(reinterpret_cast<wl_proxy*>(manager_));
    manager_ = nullptr;
}

void WindowTracker::dropClosed() {
    for (auto it = toplevels_.begin(); it != toplevels_.end();) {
        if ((*it)->closed) {
            zwlr_foreign_toplevel_handle_v1_destroy((*it)->handle);
            it = toplevels_.erase(it);
        } else {
            ++it;
        }
    }
}

const WindowTracker::Seen* WindowTracker::seenLocked(WindowId id) const {
    for (const Seen& s : atspi_->seen)
        if (s.id == id) return &s;
    return nullptr;
}

std::optional<WindowId> WindowTracker::activeWindow() {
    if (atspi_ && tokens_.empty()) {
        // The listeners could not be made at the start; try again now and then. While the hub
        // thread is still held up, asking costs nothing (the hub does not wait then).
        const auto now = std::chrono::steady_clock::now();
        if (now >= retryListen_) {
            retryListen_ = now + std::chrono::seconds(2);
            listenAll();
            if (!tokens_.empty()) atspi_->wantScan = true;
        }
    }
    if (conn_) conn_->pump();
    dropClosed();
    std::vector<WindowCandidate> candidates;
    std::optional<WindowId> atspiActive;
    if (atspi_) {
        std::lock_guard lock(atspi_->m);
        for (const Seen& s : atspi_->seen) {
            candidates.push_back({s.id, s.name, s.appName, s.active});
            if (s.active) atspiActive = s.id;
        }
    }
    if (!manager_) {
        // The compositor's facts know which window has the focus where no toplevel list says it
        // (GNOME, KDE). A focused window the accessibility side does not know is that window by
        // its facts id, rather than the last accessibility window that was active.
        if (const auto front = focusedFromFacts()) return *front ? front : std::nullopt;
        // Without the accessibility side at all, the facts' focused window by its facts id.
        return atspiActive ? atspiActive : factsActive();
    }
    for (const auto& t : toplevels_) {
        if (!t->activated) continue;
        if (auto id = matchToplevel(t->title, t->appId, candidates)) return id;
        if (atspi_) atspi_->wantScan = true;
        return toplevelWindowId(t->sequence);
    }
    return std::nullopt;
}

std::optional<WindowId> WindowTracker::focusedFromFacts() {
    if (!facts_ || !atspi_) return std::nullopt;
    const auto windows = facts_->windows();
    const WindowFact* f = windows ? focusedWindow(*windows) : nullptr;
    if (!f || f->pid <= 0) return std::nullopt;
    std::lock_guard lock(atspi_->m);
    std::optional<WindowId> only;
    int ofProcess = 0;
    for (const Seen& s : atspi_->seen) {
        if (s.pid != f->pid) continue;
        if (!f->title.empty() && s.name == f->title) return s.id;
        only = s.id;
        ++ofProcess;
    }
    if (ofProcess != 1) {
        // A window the accessibility side does not know (yet, or ever: its program is not on the
        // bus): followed by its facts id, with the place the compositor gives it.
        atspi_->wantScan = true;
        return factsWindowId(f->id);
    }
    return only;
}

const WindowTracker::Toplevel* WindowTracker::toplevel(WindowId id) const {
    for (const auto& t : toplevels_)
        if (toplevelWindowId(t->sequence) == id && !t->closed) return t.get();
    return nullptr;
}

std::optional<WindowId> WindowTracker::factsActive() {
    if (!facts_) return std::nullopt;
    const auto windows = facts_->windows();
    const WindowFact* f = windows ? focusedWindow(*windows) : nullptr;
    if (!f) return std::nullopt;
    // The accessible of the same window where AT-SPI knows it (its process, and its title when
    // the process has several), so that focus and caret events join it.
    if (atspi_ && f->pid > 0) {
        std::lock_guard lock(atspi_->m);
        const Seen* only = nullptr;
        int ofProcess = 0;
        for (const Seen& s : atspi_->seen) {
            if (s.pid != f->pid) continue;
            if (s.name == f->title) return s.id;
            only = &s;
            ++ofProcess;
        }
        if (ofProcess == 1) return only->id;
        atspi_->wantScan = true;
    }
    return factsWindowId(f->id);
}

std::optional<WindowFact> WindowTracker::compositorWindow(WindowId window) {
    if (!facts_ || window == 0) return std::nullopt;
    if (isFactsWindowId(window)) {
        const auto windows = facts_->windows();
        if (!windows) return std::nullopt;
        for (const WindowFact& f : *windows)
            if (factsWindowId(f.id) == window) return f;
        return std::nullopt;
    }
    // Who the window is, as the tree can tell: its process and title, or its app id and title.
    int32_t pid = 0;
    std::string title, appId;
    if (window & kToplevelIdBit) {
        if (conn_) conn_->pump();
        const Toplevel* t = toplevel(window);
        if (!t) return std::nullopt;
        title = t->title;
        appId = t->appId;
    } else {
        if (!atspi_) return std::nullopt;
        std::lock_guard lock(atspi_->m);
        const Seen* s = seenLocked(window);
        if (!s) return std::nullopt;
        pid = s->pid;
        title = s->name;
    }
    const auto windows = facts_->windows();
    if (!windows) return std::nullopt;
    const WindowFact* w = pid > 0 ? windowOfProcess(*windows, pid, title) : windowOfApp(*windows, appId, title);
    if (!w) return std::nullopt;
    return *w;
}

std::optional<int32_t> WindowTracker::windowProcess(WindowId window) {
    if (window & kToplevelIdBit) {
        const auto w = compositorWindow(window);
        return w && w->pid > 0 ? std::optional<int32_t>(w->pid) : std::nullopt;
    }
    if (!atspi_) return std::nullopt;
    std::lock_guard lock(atspi_->m);
    const Seen* s = seenLocked(window);
    if (!s || s->pid <= 0) return std::nullopt;
    return s->pid;
}

bool WindowTracker::windowExists(WindowId window) {
    if (window == 0) return false;
    if (isFactsWindowId(window)) return compositorWindow(window).has_value();
    if (window & kToplevelIdBit) {
        if (conn_) conn_->pump();
        dropClosed();
        return std::any_of(toplevels_.begin(), toplevels_.end(),
                           [&](const auto& t) { return toplevelWindowId(t->sequence) == window; });
    }
    if (!atspi_) return false;
    std::lock_guard lock(atspi_->m);
    return seenLocked(window) != nullptr;
}

std::optional<Rect> WindowTracker::windowRect(WindowId window) { return place(window, true); }
std::optional<Rect> WindowTracker::clientRect(WindowId window) { return place(window, false); }

std::optional<Rect> WindowTracker::place(WindowId window, bool withFrame) {
    if (const auto w = compositorWindow(window)) {
        const Rect r = withFrame ? w->frame : w->content;
        if (r.width > 0 && r.height > 0) return r;
    }
    if (!atspi_ || (window & kToplevelIdBit)) return std::nullopt;
    std::lock_guard lock(atspi_->m);
    const Seen* s = seenLocked(window);
    return s ? s->extents : std::nullopt;
}

}  // namespace tavik::desktop::wayland
