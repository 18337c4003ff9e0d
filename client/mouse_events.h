// The arithmetic and ordering rules of synthetic mouse input: absolute
// coordinates of a pixel's centre, and which press and release events a
// click or a drag sends given the buttons still held. No desktop access.
#pragma once

#include <array>
#include <cstdint>

namespace tavik::client {

// Event flags of one synthetic mouse event.
constexpr uint32_t kMouseMove = 0x0001;
constexpr uint32_t kMouseLeftDown = 0x0002;
constexpr uint32_t kMouseLeftUp = 0x0004;
constexpr uint32_t kMouseRightDown = 0x0008;
constexpr uint32_t kMouseRightUp = 0x0010;
constexpr uint32_t kMouseAbsolute = 0x8000;

constexpr int32_t kLeftButton = 1;
constexpr int32_t kRightButton = 2;

struct AbsolutePoint {
    int32_t x;
    int32_t y;
};

// The absolute 0..65535 coordinates of the centre of screen pixel (x, y) on a
// width x height screen, after clamping the point onto the screen:
// (65536 / W) / 2 + (x * 65536) / W, integer divisions. A non-positive screen
// size gives (0, 0).
AbsolutePoint toAbsolute(int32_t x, int32_t y, int32_t width, int32_t height);
// The pixel whose centre toAbsolute gives (the inverse, for pixel-based injection).
int32_t absoluteToPixel(int32_t absolute, int32_t extent);

// Up to two events, sent in order, and the held buttons afterwards.
struct MousePlan {
    std::array<uint32_t, 2> events{};
    int count = 0;
    int32_t heldAfter = 0;
};

// A click presses the requested buttons not already held, then releases
// every held button (a click with buttons 0 ends a drag).
MousePlan planClick(int32_t buttons, int32_t held);
// A drag releases the held buttons, then presses `buttons` and holds them.
MousePlan planDrag(int32_t buttons, int32_t held);

}  // namespace tavik::client
