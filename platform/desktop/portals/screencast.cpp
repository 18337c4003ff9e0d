// The process's screen cast: opens portal session and stream on a thread of its own, keeps the
// latest frame, and hands damage and lost / back / resized events to the registered sinks.
#include "platform/desktop/portals/screencast.h"

#include <glib-object.h>
#include <sys/stat.h>
#include <unistd.h>

#include <chrono>
#include <condition_variable>
#include <cstdlib>
#include <thread>

#include "platform/desktop/portals/restore_token.h"
#include "platform/desktop/portals/screencast_stream.h"
#include "platform/desktop/portals/session.h"
#include "platform/desktop/wayland/notices.h"
#include "platform/desktop/wlroots/screencopy_stream.h"

namespace tavik::desktop::wayland {

namespace {

using Clock = std::chrono::steady_clock;
constexpr auto kRetryInterval = std::chrono::seconds(1);
constexpr auto kRetryAfterRefusal = std::chrono::seconds(30);
// How long an opening waits for the first frame once the stream is connected.
constexpr auto kFirstFrameBound = std::chrono::seconds(5);

// True when a PipeWire socket is where clients look for it.
bool pipeWireSocketExists() {
    std::string path;
    const char* remote = std::getenv("PIPEWIRE_REMOTE");
    if (remote && remote[0] == '/') {
        path = remote;
    } else {
        const char* dir = std::getenv("PIPEWIRE_RUNTIME_DIR");
        if (!dir || dir[0] != '/') dir = std::getenv("XDG_RUNTIME_DIR");
        if (!dir || dir[0] != '/') return false;
        path = std::string(dir) + "/" + (remote && *remote ? remote : "pipewire-0");
    }
    struct stat st {};
    return ::stat(path.c_str(), &st) == 0 && S_ISSOCK(st.st_mode);
}

void tellMissing(PortalResult r) {
    switch (r) {
    case PortalResult::NoBus: noteMissing(Missing::SessionBus); break;
    case PortalResult::NoPortal: noteMissing(Missing::Portal); break;
    case PortalResult::NoScreenCast: noteMissing(Missing::ScreenCast); break;
    case PortalResult::NoPipeWire: noteMissing(Missing::PipeWire); break;
    case PortalResult::Silent: noteMissing(Missing::PortalSilent); break;
    case PortalResult::Refused: noteMissing(Missing::Refused); break;
    case PortalResult::Failed:
        // The back end fails Start when it cannot reach PipeWire.
        if (!pipeWireSocketExists()) noteMissing(Missing::PipeWire);
        break;
    case PortalResult::Ok:
    case PortalResult::Stopped: break;
    }
}

// Who holds the process's one cast. A program and the libraries it loads (the image library,
// the focus hook) may each link a copy of the desktop layer; were each copy's cast its own, every
// copy would open a portal session of its own (on GNOME a consent dialog each, and a second
// stream). So every copy uses the holder of the first one, found through a type registered by
// name with GLib (one type system per process); registering the name is the atomic step. Loaded
// libraries stay loaded (RTLD_NODELETE), so a cast made by one copy's code outlives any user.
struct CastHolder {
    std::mutex m;
    std::weak_ptr<ScreenCast> one;
};

CastHolder& castHolder() {
    static CastHolder* const h = [] {
        constexpr const char* kName = "TavikScreenCastHolder";
        const GQuark key = g_quark_from_static_string("tavik-screen-cast-holder");
        GType type = g_type_from_name(kName);
        if (type == 0) {
            const GType mine = g_type_register_static_simple(G_TYPE_OBJECT, kName, sizeof(GObjectClass), nullptr,
                                                             sizeof(GObject), nullptr, GTypeFlags{});
            if (mine != 0) {
                auto* own = new CastHolder;  // lives as long as the process
                g_type_set_qdata(mine, key, own);
                return own;
            }
            type = g_type_from_name(kName);
        }
        for (int i = 0; i < 2000; ++i) {
            if (void* other = g_type_get_qdata(type, key)) return static_cast<CastHolder*>(other);
            std::this_thread::sleep_for(std::chrono::milliseconds(1));
        }
        return new CastHolder;  // the registering copy never published: go alone
    }();
    return *h;
}

}  // namespace

struct ScreenCast::State {
    // Guards the fields up to `frameM`.
    std::mutex m;
    std::condition_variable opened;  // signalled when an opening ends
    std::unique_ptr<PortalSession> portal;
    std::unique_ptr<ScreencastStream> stream;
    std::unique_ptr<ScreencopyStream> copy;  // the screen-copy fallback, when the portal gave none
    std::jthread opening;
    bool openingDone = false;
    Clock::time_point nextTry{};

    // The frame and the sinks, used by the stream's thread.
    std::mutex frameM;
    std::condition_variable_any firstFrame;  // also woken by a stop request
    FrameStore frame;
    bool fresh = true;     // the next frame is a new stream's first
    bool wasLost = false;  // a stream was lost since the last one delivered
    Size lastSize;         // of the last frame of any stream
    std::vector<std::weak_ptr<CastSink>> sinks;
    std::vector<Rect> changed;  // reused for each frame

    template <typename F>
    void eachSink(F&& f) {
        for (auto it = sinks.begin(); it != sinks.end();) {
            if (auto s = it->lock()) {
                f(*s);
                ++it;
            } else {
                it = sinks.erase(it);
            }
        }
    }

    // On the stream's thread.
    void onFrame(const StreamFrame& f) {
        std::lock_guard g(frameM);
        const Size before = lastSize;
        changed.clear();
        const bool ok = f.hasDamage
                            ? frame.putRegions(f.bytes, f.stride, f.width, f.height, f.order, f.damage, changed)
                            : frame.put(f.bytes, f.stride, f.width, f.height, f.order, changed);
        if (!ok) return;
        const Size now = frame.size();
        lastSize = now;
        if (fresh) {
            fresh = false;
            const bool back = wasLost;
            wasLost = false;
            eachSink([&](CastSink& s) {
                s.damage.addAll();
                if (back) s.events.push({DesktopEvent::Kind::DisplayBack, 0, now});
                else if (before.width != 0 && before != now) s.events.push({DesktopEvent::Kind::ScreenResized, 0, now});
            });
            firstFrame.notify_all();
            return;
        }
        if (before != now) {
            eachSink([&](CastSink& s) {
                s.damage.addAll();
                s.events.push({DesktopEvent::Kind::ScreenResized, 0, now});
            });
            return;
        }
        eachSink([&](CastSink& s) {
            for (const Rect& r : changed) s.damage.add(r);
        });
    }

    // On the stream's thread, once per stream.
    void onLost() {
        std::lock_guard g(frameM);
        wasLost = true;
        eachSink([&](CastSink& s) {
            s.damage.addAll();
            s.events.push({DesktopEvent::Kind::DisplayLost, 0, {}});
        });
        firstFrame.notify_all();
    }

    // Under `m`: a stream of either kind is running.
    bool running() const { return (stream && stream->alive()) || (copy && copy->alive()); }
    // Under `m`: drops a stream that ended.
    void dropEnded() {
        if ((stream && !stream->alive()) || (copy && !copy->alive())) {
            stream.reset();
            portal.reset();
            copy.reset();
            std::lock_guard f(frameM);
            frame = FrameStore();
        }
    }

    bool frameHeld() {
        std::lock_guard g(frameM);
        return !frame.empty();
    }

    void resetFrame() {
        std::lock_guard g(frameM);
        frame = FrameStore();
        fresh = true;
    }

    template <typename Alive>
    void waitFirstFrame(std::stop_token& stop, Alive alive) {
        std::unique_lock g(frameM);
        firstFrame.wait_for(g, stop, kFirstFrameBound, [&] { return !frame.empty() || !alive(); });
    }

    // The opening thread's work: portal, stream, first frame. Hands its result over under `m`.
    void open(std::stop_token stop) {
        PortalSession::Options options;
        const std::string tokenPath = restoreTokenPath();
        options.restoreToken = loadRestoreToken(tokenPath);
        PortalResult result = PortalResult::Failed;
        std::unique_ptr<PortalSession> p = PortalSession::open(options, stop, result);
        std::unique_ptr<ScreencastStream> s;
        ScreencastStream::Callbacks cb;
        cb.frame = [this](const StreamFrame& f) { onFrame(f); };
        cb.lost = [this] { onLost(); };
        bool pipeWireFailed = false;
        if (p) {
            // The portal hands out a new token with each grant; the old one is spent.
            saveRestoreToken(tokenPath, p->restoreToken());
            resetFrame();
            s = ScreencastStream::open(p->takePipeWireFd(), p->node(), cb);
            if (!s) {
                pipeWireFailed = true;
                p.reset();
            } else {
                waitFirstFrame(stop, [&] { return s->alive(); });
            }
        }
        // Where the portal is missing or refuses, wlroots compositors still copy the screen.
        std::unique_ptr<ScreencopyStream> c;
        if (!(s && s->alive()) && !stop.stop_requested()) {
            resetFrame();
            c = ScreencopyStream::open(cb);
            if (c) waitFirstFrame(stop, [&] { return c->alive(); });
        }
        const bool copying = c && c->alive();
        if (!copying) {
            if (pipeWireFailed) noteMissing(Missing::PipeWire);
            else if (!p) tellMissing(result);
        }
        std::lock_guard g(m);
        if (result == PortalResult::Refused && !copying) nextTry = Clock::now() + kRetryAfterRefusal;
        if (s && s->alive()) {
            portal = std::move(p);
            stream = std::move(s);
        } else if (copying) {
            copy = std::move(c);
        }
        openingDone = true;
        opened.notify_all();
    }
};

ScreenCast::ScreenCast() : s_(std::make_shared<State>()) {}

ScreenCast::~ScreenCast() {
    std::jthread opening;
    {
        std::lock_guard g(s_->m);
        opening = std::move(s_->opening);
    }
    opening = {};  // asks the opening to stop and joins it (its waits end within ~0.1 s)
    std::lock_guard g(s_->m);
    s_->stream.reset();  // no frame callback after this
    s_->portal.reset();
    s_->copy.reset();
}

std::shared_ptr<ScreenCast> ScreenCast::shared() {
    // The one cast of the process while anyone holds it.
    CastHolder& h = castHolder();
    std::lock_guard g(h.m);
    if (auto cast = h.one.lock()) return cast;
    std::shared_ptr<ScreenCast> cast(new ScreenCast());
    h.one = cast;
    return cast;
}

bool ScreenCast::ensure() {
    State& s = *s_;
    std::unique_lock g(s.m);
    if (s.running()) return s.frameHeld();
    s.dropEnded();  // lost: a new one is opened below when due
    if (s.opening.joinable()) {
        if (!s.openingDone) return false;  // still opening: look again at the next call
        s.opening.join();
        s.opening = {};
        return s.running() && s.frameHeld();
    }
    const auto now = Clock::now();
    if (now < s.nextTry) return false;
    s.nextTry = now + kRetryInterval;
    s.openingDone = false;
    State* state = &s;
    s.opening = std::jthread([state](std::stop_token stop) { state->open(stop); });
    if (!s.opened.wait_for(g, kCallBound, [&] { return s.openingDone; })) return false;
    s.opening.join();
    s.opening = {};
    return s.running() && s.frameHeld();
}

bool ScreenCast::up() const {
    std::lock_guard g(s_->m);
    return s_->running() && s_->frameHeld();
}

bool ScreenCast::withFrame(const std::function<void(const FrameStore&)>& use) {
    std::lock_guard g(s_->frameM);
    if (s_->frame.empty()) return false;
    use(s_->frame);
    return true;
}

void ScreenCast::addSink(const std::shared_ptr<CastSink>& sink) {
    std::lock_guard g(s_->frameM);
    s_->sinks.push_back(sink);
}

}  // namespace tavik::desktop::wayland
