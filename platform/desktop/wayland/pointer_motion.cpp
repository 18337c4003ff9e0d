// Button codes and absolute motion of the synthetic pointer on Wayland.
#include "platform/desktop/wayland/pointer_motion.h"

#include <algorithm>

namespace tavik::desktop::wayland {

std::optional<uint32_t> linuxButton(int button) {
    switch (button) {
        case 1: return 0x110u;
        case 2: return 0x112u;
        case 3: return 0x111u;
        default: return std::nullopt;
    }
}

std::optional<AbsoluteMotion> absoluteMotion(Point to, Rect layout) {
    if (layout.width <= 0 || layout.height <= 0) return std::nullopt;
    const int64_t x = std::clamp<int64_t>(int64_t{to.x} - layout.left, 0, int64_t{layout.width} - 1);
    const int64_t y = std::clamp<int64_t>(int64_t{to.y} - layout.top, 0, int64_t{layout.height} - 1);
    return AbsoluteMotion{static_cast<uint32_t>(x), static_cast<uint32_t>(y), static_cast<uint32_t>(layout.width),
                          static_cast<uint32_t>(layout.height)};
}

}  // namespace tavik::desktop::wayland
