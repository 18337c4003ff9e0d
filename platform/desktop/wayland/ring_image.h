// The view frame's picture: a red ring of a given thickness on a transparent background, in the
// ARGB8888 layout of a Wayland shared-memory buffer.
#pragma once

#include <cstdint>
#include <span>

namespace tavik::desktop::wayland {

constexpr uint32_t kRingColour = 0xFFFF0000u;   // opaque red
constexpr uint32_t kRingClear = 0x00000000u;    // fully transparent (premultiplied)

// True when a ring `thickness` wide fits a `width` x `height` picture with something inside
// (at least one pixel between two rings), within the largest frame we draw (16384 a side).
bool ringFits(int32_t width, int32_t height, int32_t thickness);

// Fills `pixels` (width * height, row by row) with the ring; false (nothing written) when the
// ring does not fit or `pixels` is smaller than width * height (checked in 64 bits).
bool drawRing(std::span<uint32_t> pixels, int32_t width, int32_t height, int32_t thickness);

}  // namespace tavik::desktop::wayland
