// The screen frame held for capture on Wayland: the stream's pixel layouts turned into 0x00RRGGBB,
// the parts that changed from the frame held before, and copies of screen rectangles out of it.
// No PipeWire here; the owner serialises access.
#pragma once

#include <cstddef>
#include <cstdint>
#include <mutex>
#include <span>
#include <vector>

#include "platform/desktop/desktop.h"

namespace tavik::desktop::wayland {

// Byte order of one 32-bit source pixel in memory ('x' is padding or alpha, ignored).
enum class PixelOrder { BGRx, RGBx, xRGB, xBGR };

// A frame larger than this on either side is refused (a corrupt stream, not a screen).
constexpr int32_t kMaxFrameSide = 16384;

class FrameStore {
public:
    // Takes a frame of `width` x `height` pixels whose row r starts at src[r * srcStride]. False
    // (the held frame stays as it was) when a side is not in 1..kMaxFrameSide, srcStride is
    // shorter than a row, or the rows do not fit `src`. The parts that differ from the held frame
    // are appended to `changed` as a few rectangles (the whole frame when the size changed or no
    // frame was held).
    bool put(std::span<const uint8_t> src, int64_t srcStride, int32_t width, int32_t height, PixelOrder order,
             std::vector<Rect>& changed);
    // Like put, but only the rectangles `regions` (the producer's own damage list) are read from
    // `src`, and they are what is reported changed; the rest of the held frame is kept. Falls
    // back to put when no frame of this size is held.
    bool putRegions(std::span<const uint8_t> src, int64_t srcStride, int32_t width, int32_t height,
                    PixelOrder order, std::span<const Rect> regions, std::vector<Rect>& changed);

    bool empty() const { return width_ == 0; }
    Size size() const { return {width_, height_}; }
    // Row r of the frame at data() + r * stride().
    const uint32_t* data() const { return pixels_.data(); }
    size_t stride() const { return size_t(width_); }

    // Copies `area` of the held frame into `out` (row r at out[r * stride]) as 0x00RRGGBB; the
    // part beyond the frame is black. Failed when width or height is negative, stride < width
    // or `out` is too small (checked in 64 bits); NoDisplay when no frame is held.
    DesktopStatus copy(Rect area, std::span<uint32_t> out, size_t stride) const;

private:
    void convertRows(const uint8_t* src, int64_t srcStride, PixelOrder order, Rect r, std::vector<Rect>* changed);

    int32_t width_ = 0;
    int32_t height_ = 0;
    std::vector<uint32_t> pixels_;
};

// The part of `area` that lies on a screen of `screen`, relative to the area's top-left corner
// (width and height 0 when none does).
Rect visiblePart(Rect area, Size screen);

// Damage gathered for one asker (DesktopEvents::takeDamage). Thread-safe.
class DamageLog {
public:
    void add(Rect r);
    void addAll();  // everything counts as changed (a new stream, a new size)
    // True when something inside `area` changed since the previous call (the first call answers
    // true); forgets all gathered so far.
    bool take(Rect area);

private:
    std::mutex m_;
    std::vector<Rect> dirty_;
    bool all_ = true;
};

}  // namespace tavik::desktop::wayland
