// Drawing the view frame's ring into a buffer.
#include "platform/desktop/wayland/ring_image.h"

#include <algorithm>

namespace tavik::desktop::wayland {

namespace {
constexpr int32_t kMaxSide = 16384;
}

bool ringFits(int32_t width, int32_t height, int32_t thickness) {
    if (thickness < 1 || width > kMaxSide || height > kMaxSide) return false;
    return int64_t{width} > 2 * int64_t{thickness} && int64_t{height} > 2 * int64_t{thickness};
}

bool drawRing(std::span<uint32_t> pixels, int32_t width, int32_t height, int32_t thickness) {
    if (!ringFits(width, height, thickness)) return false;
    const uint64_t w = static_cast<uint64_t>(width);
    if (pixels.size() < w * static_cast<uint64_t>(height)) return false;
    for (int32_t y = 0; y < height; ++y) {
        uint32_t* row = pixels.data() + static_cast<uint64_t>(y) * w;
        if (y < thickness || y >= height - thickness) {
            std::fill(row, row + w, kRingColour);
            continue;
        }
        std::fill(row, row + thickness, kRingColour);
        std::fill(row + thickness, row + (width - thickness), kRingClear);
        std::fill(row + (width - thickness), row + w, kRingColour);
    }
    return true;
}

}  // namespace tavik::desktop::wayland
