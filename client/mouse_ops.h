// The four mouse calls on a desktop and the shared mouse map: coordinate
// conversion, the pointer-move observation and the press/release order.
#pragma once

#include <cstdint>

#include "client/desktop.h"
#include "client/mouse_map.h"

namespace tavik::client {

// (x, y) as a screen point: client coordinates of `window` with clientFlag,
// relative to the window's outer corner without it, screen coordinates
// without a window. False when the window's rectangle cannot be read.
bool toScreenPoint(Desktop& desktop, unsigned long window, bool clientFlag, int32_t x, int32_t y, ScreenPoint& out);

// gdGetMouseState: 1 when the pointer moved since the last observation
// recorded in `mouse` (which it then records), else 0; 0 also when the
// pointer cannot be read (outputs untouched).
int mouseState(Desktop& desktop, MouseMapData& mouse, unsigned long window, bool clientFlag, int* inside, int* x,
               int* y);
// gdSendMouseMove, gdSendMouseClick, gdStartMouseDrag: 1, or 0 when the point
// cannot be converted (nothing sent).
int mouseMove(Desktop& desktop, unsigned long window, int32_t x, int32_t y, bool clientFlag);
int mouseClick(Desktop& desktop, MouseMapData& mouse, unsigned long window, int32_t x, int32_t y, bool clientFlag,
               int32_t buttons);
int mouseDrag(Desktop& desktop, MouseMapData& mouse, unsigned long window, int32_t x, int32_t y, bool clientFlag,
              int32_t buttons);

}  // namespace tavik::client
