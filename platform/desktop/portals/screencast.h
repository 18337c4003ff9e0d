// The process's one screen cast on Wayland: the portal session that grants it and the PipeWire
// stream it opens, with the latest frame. Every Wayland Desktop and DesktopEvents of the process
// shares it, so the user is asked once and the compositor copies the screen once, however many
// objects capture. It lives while any of them holds it.
//
// Connection policy: ensure() brings a stream up on demand, at most once a second (30 s after
// the user refused). The opening (portal requests, then the stream's first frame) runs on a
// thread of its own; the call that starts it waits up to kCallBound, later calls only look
// whether it has finished. A stream that ends or fails is noticed on its own thread; the next
// ensure() after that opens a new one. Thread-safe.
#pragma once

#include <chrono>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <vector>

#include "platform/desktop/desktop.h"
#include "platform/desktop/wayland/event_queue.h"
#include "platform/desktop/wayland/frame_store.h"

namespace tavik::desktop::wayland {

// What one DesktopEvents takes from the cast: damage, and lost / back / resized events. Shared
// with the stream's thread, so it outlives its owner for as long as that thread uses it.
struct CastSink {
    DamageLog damage;
    EventQueue events;
};

class ScreenCast {
public:
    static constexpr std::chrono::seconds kCallBound{3};

    // The process's cast (made when none is alive); does not connect.
    static std::shared_ptr<ScreenCast> shared();
    ~ScreenCast();
    ScreenCast(const ScreenCast&) = delete;
    ScreenCast& operator=(const ScreenCast&) = delete;

    // True when a stream is up and a frame is held; otherwise tries to bring one up within the
    // policy above.
    bool ensure();
    // True when a stream is up now (never connects).
    bool up() const;

    // Runs `use` with the held frame, under the frame lock (the stream waits meanwhile: `use`
    // must be short and must not call this object). False, `use` not called, when none is held.
    bool withFrame(const std::function<void(const FrameStore&)>& use);

    // Registers a sink (kept as a weak reference: it is dropped when its owner releases it).
    void addSink(const std::shared_ptr<CastSink>& sink);

    struct State;  // what the opening thread and the stream's thread share

private:
    ScreenCast();
    std::shared_ptr<State> s_;
};

}  // namespace tavik::desktop::wayland
