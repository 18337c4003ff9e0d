// Absolute coordinates and click/drag event plans.
#include "client/mouse_events.h"

namespace tavik::client {

AbsolutePoint toAbsolute(int32_t x, int32_t y, int32_t width, int32_t height) {
    if (width <= 0 || height <= 0) return {0, 0};
    if (x < 0) x = 0;
    if (x > width - 1) x = width - 1;
    if (y < 0) y = 0;
    if (y > height - 1) y = height - 1;
    const int64_t ax = (65536 / width) / 2 + (static_cast<int64_t>(x) * 65536) / width;
    const int64_t ay = (65536 / height) / 2 + (static_cast<int64_t>(y) * 65536) / height;
    return {static_cast<int32_t>(ax), static_cast<int32_t>(ay)};
}

int32_t absoluteToPixel(int32_t absolute, int32_t extent) {
    if (extent <= 0) return 0;
    int64_t p = (static_cast<int64_t>(absolute) * extent) / 65536;
    if (p < 0) p = 0;
    if (p > extent - 1) p = extent - 1;
    return static_cast<int32_t>(p);
}

namespace {

uint32_t downFlags(int32_t buttons) {
    return ((buttons & kLeftButton) ? kMouseLeftDown : 0) | ((buttons & kRightButton) ? kMouseRightDown : 0);
}
uint32_t upFlags(int32_t buttons) {
    return ((buttons & kLeftButton) ? kMouseLeftUp : 0) | ((buttons & kRightButton) ? kMouseRightUp : 0);
}

}  // namespace

MousePlan planClick(int32_t buttons, int32_t held) {
    MousePlan plan;
    buttons &= kLeftButton | kRightButton;
    held &= kLeftButton | kRightButton;
    const int32_t press = buttons & ~held;
    if (press != 0) {
        plan.events[plan.count++] = kMouseAbsolute | downFlags(press);
        held |= press;
    }
    if (held != 0) plan.events[plan.count++] = kMouseAbsolute | upFlags(held);
    plan.heldAfter = 0;
    return plan;
}

MousePlan planDrag(int32_t buttons, int32_t held) {
    MousePlan plan;
    buttons &= kLeftButton | kRightButton;
    held &= kLeftButton | kRightButton;
    if (held != 0) plan.events[plan.count++] = kMouseAbsolute | upFlags(held);
    plan.heldAfter = 0;
    if (buttons != 0) {
        plan.events[plan.count++] = kMouseAbsolute | downFlags(buttons);
        plan.heldAfter = buttons;
    }
    return plan;
}

}  // namespace tavik::client
