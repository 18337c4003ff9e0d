// A stream of screen copies for the process's screen cast when the portal cannot give one: a
// thread of its own grabs the screen every kInterval and hands each frame to the same callbacks
// a PipeWire stream calls, so the frame store, damage and events work alike for both.
#pragma once

#include <atomic>
#include <chrono>
#include <memory>
#include <thread>

#include "platform/desktop/portals/screencast_stream.h"

namespace tavik::desktop::wayland {

class ScreenCopier;

class ScreencopyStream {
public:
    static constexpr std::chrono::milliseconds kInterval{100};

    // Connects to the compositor and starts grabbing. nullptr when it offers no screen copy. A
    // grab that fails (copy refused, more than a second, compositor gone) ends the stream: `lost`
    // runs once and alive() turns false.
    static std::unique_ptr<ScreencopyStream> open(ScreencastStream::Callbacks callbacks);
    // Stops and joins the thread (within one grab's bound); no callback runs after this returns.
    ~ScreencopyStream();
    ScreencopyStream(const ScreencopyStream&) = delete;
    ScreencopyStream& operator=(const ScreencopyStream&) = delete;

    bool alive() const { return alive_.load(); }

private:
    ScreencopyStream() = default;
    std::atomic<bool> alive_{true};
    std::jthread thread_;
};

}  // namespace tavik::desktop::wayland
