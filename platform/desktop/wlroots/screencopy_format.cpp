// Formats and row order of screen-copy buffers.
#include "platform/desktop/wlroots/screencopy_format.h"

#include <algorithm>

namespace tavik::desktop::wayland {

namespace {

// wl_shm format codes: 0 and 1 are the two legacy codes, the rest are DRM fourcc codes.
constexpr uint32_t kArgb8888 = 0;
constexpr uint32_t kXrgb8888 = 1;
constexpr uint32_t fourcc(char a, char b, char c, char d) {
    return uint32_t(uint8_t(a)) | uint32_t(uint8_t(b)) << 8 | uint32_t(uint8_t(c)) << 16 | uint32_t(uint8_t(d)) << 24;
}
constexpr uint32_t kXbgr8888 = fourcc('X', 'B', '2', '4');
constexpr uint32_t kAbgr8888 = fourcc('A', 'B', '2', '4');

}  // namespace

std::optional<PixelOrder> shmPixelOrder(uint32_t format) {
    switch (format) {
    case kArgb8888:
    case kXrgb8888: return PixelOrder::BGRx;
    case kXbgr8888:
    case kAbgr8888: return PixelOrder::RGBx;
    default: return std::nullopt;
    }
}

uint64_t shmBufferBytes(uint32_t width, uint32_t height, uint32_t stride) {
    if (width == 0 || height == 0 || width > uint32_t(kMaxFrameSide) || height > uint32_t(kMaxFrameSide)) return 0;
    if (uint64_t{stride} < uint64_t{width} * 4) return 0;
    return uint64_t{stride} * height;
}

void flipRows(std::span<uint8_t> bytes, int64_t stride, int32_t height) {
    if (stride <= 0 || height <= 0 || uint64_t(stride) * uint64_t(height) > bytes.size()) return;
    for (int64_t top = 0, bottom = height - 1; top < bottom; ++top, --bottom)
        std::swap_ranges(bytes.begin() + top * stride, bytes.begin() + (top + 1) * stride,
                         bytes.begin() + bottom * stride);
}

}  // namespace tavik::desktop::wayland
