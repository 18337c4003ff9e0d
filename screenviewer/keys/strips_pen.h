// The data callback (notify code 6: the three position strips) and the pen
// callback (notify code 11) of the display. Every byte is range-checked:
// strip jumps of 10 or more are ignored; pen coordinates with bit 7 set count
// as 0 and those at or beyond the grid as the last column or row.
//
// Core use: keep one StripState; in the data callback call
// onStripData(state, code, bytes (the count checked against the pointer's
// block), ctx); in the pen callback onPen(event, x, y, buttons, ctx). The pen
// actions carry screen points in capture-window pixels of the current view.
#pragma once

#include <cstdint>
#include <span>

#include "screenviewer/keys/key_actions.h"
#include "screenviewer/keys/key_context.h"

namespace tavik::lumo {

struct StripState {
    int previous[3] = {-1, -1, -1};  // last byte of the previous report per strip, -1: none (released)
};

// Strip position of a byte's low seven bits: code 1 row (6096 - 48 v) >> 7,
// code 2 column ((7112 - 56 v) >> 7) + 4, code 3 row (48 v) >> 7.
int stripPosition(int code, int byte);

// Emulating with ViewScope off: MouseToViewPin (value 0 row / 1 column, x the
// pin). Otherwise PanBy the difference (reversed outside overview).
ActionList onStripData(StripState& state, int code, std::span<const uint8_t> bytes, const KeyContext& ctx);

// Pen events 1 down, 2 move, 3 up, 4 and 6 press, 5 and 7 click.
ActionList onPen(int event, int x, int y, int buttons, const KeyContext& ctx);

}  // namespace tavik::lumo
