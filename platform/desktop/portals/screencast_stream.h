// The PipeWire stream of a screen cast: connects to the remote the portal opened, negotiates a
// 32-bit RGB layout (BGRx, BGRA, RGBx, RGBA, xRGB, xBGR), maps the buffers (memory, memfd, or a
// mappable dmabuf) and hands each new frame to a callback on the stream's own thread.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <span>

#include "platform/desktop/desktop.h"
#include "platform/desktop/wayland/frame_store.h"

namespace tavik::desktop::wayland {

// One frame as the stream delivers it; valid during the callback only.
struct StreamFrame {
    std::span<const uint8_t> bytes;  // row r at bytes[r * stride]
    int64_t stride = 0;
    int32_t width = 0;
    int32_t height = 0;
    PixelOrder order = PixelOrder::BGRx;
    // The producer's list of changed rectangles; meaningful only when hasDamage.
    std::span<const Rect> damage;
    bool hasDamage = false;
};

class ScreencastStream {
public:
    struct Callbacks {
        // A new frame. Runs on the stream's thread; should not block for long.
        std::function<void(const StreamFrame&)> frame;
        // The stream ended or failed (once). Runs on the stream's thread.
        std::function<void()> lost;
    };

    // Connects to the PipeWire remote `fd` (taken over, closed on failure too) and consumes node
    // `node`. Does not wait for the first frame. nullptr when PipeWire refused.
    static std::unique_ptr<ScreencastStream> open(int fd, uint32_t node, Callbacks callbacks);
    // Stops the thread and disconnects; no callback runs after this returns.
    ~ScreencastStream();
    ScreencastStream(const ScreencastStream&) = delete;
    ScreencastStream& operator=(const ScreencastStream&) = delete;

    // False once the stream has ended or failed.
    bool alive() const;

    struct Pw;  // the PipeWire objects and what the stream's thread keeps

private:
    ScreencastStream() = default;
    std::unique_ptr<Pw> pw_;
};

}  // namespace tavik::desktop::wayland
