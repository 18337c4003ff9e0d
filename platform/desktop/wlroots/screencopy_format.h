// The pure parts of copying the screen through the wlroots screen-copy protocol: which wl_shm
// layouts we can read and in what byte order, and turning a bottom-up buffer the right way up.
#pragma once

#include <cstdint>
#include <optional>
#include <span>

#include "platform/desktop/wayland/frame_store.h"

namespace tavik::desktop::wayland {

// The byte order in memory of wl_shm format `format` (a little-endian 32-bit word): XRGB8888 and
// ARGB8888 are B,G,R,x; XBGR8888 and ABGR8888 are R,G,B,x. nullopt for any other format.
std::optional<PixelOrder> shmPixelOrder(uint32_t format);

// Checks a buffer the compositor described: sides in 1..kMaxFrameSide and a stride that holds a
// row of 32-bit pixels; the byte size (stride * height) in 64 bits, 0 when refused.
uint64_t shmBufferBytes(uint32_t width, uint32_t height, uint32_t stride);

// Reverses the order of `height` rows of `stride` bytes in `bytes` (the y_invert flag). Does
// nothing when the rows do not fit `bytes` or a side is not positive.
void flipRows(std::span<uint8_t> bytes, int64_t stride, int32_t height);

}  // namespace tavik::desktop::wayland
