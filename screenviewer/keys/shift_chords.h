// The broadcast callback (notify code 5): held shift combinations show the
// histogram page (ShiftUp) and the position page (ShiftUp+ShiftDown); a short
// press latches the page, a long one, a repeated one or one marked for reset
// returns to the image at release.
//
// Core use: keep one ShiftState for the process; in the broadcast callback
// call onShiftBroadcast(state, byte0, value, byte3, ctx) with the callback's
// three integers and carry out the actions. `state.held` is the held
// combination the marker reads (exactly ShiftDown: the alternative marker).
#pragma once

#include "screenviewer/keys/key_actions.h"
#include "screenviewer/keys/key_context.h"

namespace tavik::lumo {

struct ShiftState {
    int lastBits = -1;           // byte 0 without ShiftCenter of the previous event
    int held = 0;                // accumulated since the first shift key went down
    int latched = 0;             // ShiftLatch
    bool resetOnRelease = false;
};

// `hold` is how long the previous state was held in 10 ms units (only its low
// 16 bits count); byte 3 not 0 also ends a latch. Gives SetInfoPage and
// SetCursorShape actions when the page changes and Publish when only the
// held combination did.
ActionList onShiftBroadcast(ShiftState& state, int byte0, int hold, int byte3, const KeyContext& ctx);

}  // namespace tavik::lumo
