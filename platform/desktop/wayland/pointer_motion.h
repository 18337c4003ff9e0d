// Pure arithmetic of the synthetic pointer on Wayland: the kernel button codes the protocols
// take, and a screen point as an absolute position over the output layout.
#pragma once

#include <cstdint>
#include <optional>

#include "platform/desktop/desktop.h"

namespace tavik::desktop::wayland {

// Button 1 left, 2 middle, 3 right (as Desktop::pressButton numbers them) as the Linux input
// codes (BTN_LEFT 0x110, BTN_MIDDLE 0x112, BTN_RIGHT 0x111); nullopt for any other number.
std::optional<uint32_t> linuxButton(int button);

// A position over an extent: the pointer lands at layout.left + x * layout.width / xExtent.
struct AbsoluteMotion {
    uint32_t x = 0, y = 0;
    uint32_t xExtent = 0, yExtent = 0;
    friend bool operator==(const AbsoluteMotion&, const AbsoluteMotion&) = default;
};

// `to` (screen pixels) over the layout box: clamped into the box (the last pixel at most);
// nullopt when the box is empty.
std::optional<AbsoluteMotion> absoluteMotion(Point to, Rect layout);

}  // namespace tavik::desktop::wayland
