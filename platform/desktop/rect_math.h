// Rectangle arithmetic the desktop back ends share (damage gathering), in 64 bits so that
// rectangles near the ends of the 32-bit range neither wrap nor overflow.
#pragma once

#include <algorithm>
#include <cstdint>

#include "platform/desktop/desktop.h"

namespace tavik::desktop {

inline bool intersects(const Rect& a, const Rect& b) {
    return int64_t{a.left} < int64_t{b.left} + b.width && int64_t{b.left} < int64_t{a.left} + a.width &&
           int64_t{a.top} < int64_t{b.top} + b.height && int64_t{b.top} < int64_t{a.top} + a.height;
}

// The smallest rectangle holding both.
inline Rect unite(const Rect& a, const Rect& b) {
    const int64_t l = std::min(a.left, b.left), t = std::min(a.top, b.top);
    const int64_t r = std::max(int64_t{a.left} + a.width, int64_t{b.left} + b.width);
    const int64_t bo = std::max(int64_t{a.top} + a.height, int64_t{b.top} + b.height);
    return {static_cast<int32_t>(l), static_cast<int32_t>(t), static_cast<int32_t>(r - l),
            static_cast<int32_t>(bo - t)};
}

}  // namespace tavik::desktop
