// Reports of a new window in front on Wayland: the compositor's toplevel list (the activated
// state of its toplevels changes) where offered, AT-SPI "window:activate" events where the
// accessibility bus answers, and the change signal of the session's window facts (see
// window_facts.h) where its channel has one. They are followed on a thread of this object's
// own, with a compositor connection of its own.
//
// `changed` runs on that thread (or on the accessibility thread, or the facts channel's) each time the
// window in front may have changed, and once when the compositor connection is up; it must not
// block. Destroying the object returns only when no call of `changed` runs any more (within
// about 0.1 s, or the bound of a connection attempt under way: 3 s).
#pragma once

#include <atomic>
#include <functional>
#include <memory>
#include <thread>

namespace tavik::desktop::wayland {

class ActivationWatch {
public:
    explicit ActivationWatch(std::function<void()> changed);
    ~ActivationWatch();
    ActivationWatch(const ActivationWatch&) = delete;
    ActivationWatch& operator=(const ActivationWatch&) = delete;

    struct Shared;  // what the thread and the accessibility handler share

private:
    void run();

    std::shared_ptr<Shared> shared_;
    std::thread thread_;
};

}  // namespace tavik::desktop::wayland
