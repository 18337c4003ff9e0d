// Device-side reader of the frames the computer sends: FF FF command parameter
// length payload. Bytes that do not start a frame are reported as junk; a
// second of silence inside a frame drops the partial frame.
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <span>
#include <vector>

namespace padsim {

struct HostFrame {
    uint8_t command = 0;
    uint8_t parameter = 0;
    std::span<const uint8_t> payload;  // valid during the callback only
};

class HostFrameReader {
public:
    using FrameFn = std::function<void(const HostFrame&)>;
    using JunkFn = std::function<void(std::span<const uint8_t>)>;

    HostFrameReader(FrameFn onFrame, JunkFn onJunk);

    // Takes bytes as they arrive; `nowMs` is a monotonic clock. Calls back
    // synchronously for every frame completed and for bytes outside frames.
    void feed(std::span<const uint8_t> bytes, uint64_t nowMs);

    // Drops a partial frame when nothing arrived for a second (call when idle).
    void poll(uint64_t nowMs);

    bool inFrame() const { return headerPos_ > 0; }

private:
    void take(uint8_t b);
    void dropPartial();

    FrameFn onFrame_;
    JunkFn onJunk_;
    uint8_t header_[6]{};
    size_t headerPos_ = 0;
    size_t expected_ = 0;
    std::vector<uint8_t> payload_;
    uint64_t lastMs_ = 0;
};

}  // namespace padsim
