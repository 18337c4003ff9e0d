// Mouse calls over a Desktop: conversion, observation and event order.
#include "client/mouse_ops.h"

#include "platform/atomic_word.h"

namespace tavik::client {

bool toScreenPoint(Desktop& desktop, unsigned long window, bool clientFlag, int32_t x, int32_t y, ScreenPoint& out) {
    if (window == 0) {
        out = {x, y};
        return true;
    }
    auto rect = clientFlag ? desktop.clientRect(window) : desktop.windowRect(window);
    if (!rect) return false;
    out = {rect->left + x, rect->top + y};
    return true;
}

namespace {

std::optional<AbsolutePoint> absoluteOf(Desktop& desktop, unsigned long window, bool clientFlag, int32_t x,
                                        int32_t y) {
    ScreenPoint p{};
    if (!toScreenPoint(desktop, window, clientFlag, x, y, p)) return std::nullopt;
    auto screen = desktop.screen();
    if (!screen) return std::nullopt;
    return toAbsolute(p.x, p.y, screen->width, screen->height);
}

void sendPlan(Desktop& desktop, MouseMapData& mouse, const MousePlan& plan, AbsolutePoint at) {
    for (int i = 0; i < plan.count; ++i) desktop.send(plan.events[i], at);
    platform::storeWord(mouse.heldButtons, plan.heldAfter);
}

}  // namespace

int mouseState(Desktop& desktop, MouseMapData& mouse, unsigned long window, bool clientFlag, int* inside, int* x,
               int* y) {
    if (!inside || !x || !y) return 0;
    auto p = desktop.pointer();
    if (!p) return 0;
    int moved = 0;
    if (p->x != platform::loadWord(mouse.lastCursorX) || p->y != platform::loadWord(mouse.lastCursorY)) {
        platform::storeWord(mouse.lastCursorX, p->x);
        platform::storeWord(mouse.lastCursorY, p->y);
        platform::addWord(mouse.moveCounter, 1);
        moved = 1;
    }
    if (window == 0) {
        *inside = 1;
        *x = p->x;
        *y = p->y;
        return moved;
    }
    auto rect = clientFlag ? desktop.clientRect(window) : desktop.windowRect(window);
    if (!rect) return 0;
    const int32_t rx = p->x - rect->left;
    const int32_t ry = p->y - rect->top;
    if (rx >= 0 && rx < rect->width && ry >= 0 && ry < rect->height) {
        *inside = 1;
        *x = rx;
        *y = ry;
    } else {
        *inside = 0;
    }
    return moved;
}

int mouseMove(Desktop& desktop, unsigned long window, int32_t x, int32_t y, bool clientFlag) {
    auto at = absoluteOf(desktop, window, clientFlag, x, y);
    if (!at) return 0;
    desktop.send(kMouseAbsolute | kMouseMove, *at);
    return 1;
}

int mouseClick(Desktop& desktop, MouseMapData& mouse, unsigned long window, int32_t x, int32_t y, bool clientFlag,
               int32_t buttons) {
    auto at = absoluteOf(desktop, window, clientFlag, x, y);
    if (!at) return 0;
    sendPlan(desktop, mouse, planClick(buttons, platform::loadWord(mouse.heldButtons)), *at);
    return 1;
}

int mouseDrag(Desktop& desktop, MouseMapData& mouse, unsigned long window, int32_t x, int32_t y, bool clientFlag,
              int32_t buttons) {
    auto at = absoluteOf(desktop, window, clientFlag, x, y);
    if (!at) return 0;
    sendPlan(desktop, mouse, planDrag(buttons, platform::loadWord(mouse.heldButtons)), *at);
    return 1;
}

}  // namespace tavik::client
