// Decoding of the display's and the note-taker's key events into viewer
// actions: the condition table, the command table, the keypad table and the
// status-screen keys. Pure: the decision depends only on the event and a
// snapshot of the viewer's state; the viewer carries the action out.
#pragma once

#include <cstdint>

#include "client/viewer/condition_ops.h"
#include "client/viewer/operation_filter.h"
#include "client/viewer/view_math.h"
#include "common/model_traits.h"

namespace tavik::viewer {

enum class Act : uint8_t {
    Unhandled,        // the handler returns 0
    Consumed,         // handled without effect
    ScrollDots,       // dx, dy dots
    ScrollSteps,      // dx, dy steps
    JumpView,         // digit
    JumpPointer,      // digit
    MovePointer,      // digit, big
    ZoomIn,           // halve the division about the centre (pointer)
    ZoomOut,          // double it
    ZoomInByOne,
    ZoomOutByOne,
    ZoomCornerIn,     // corner: halve when above 1
    ZoomCornerOut,    // corner: double when below the fit division
    OverviewFrameOrOff,  // overview on with frame, or off
    OverviewFrameToggle, // in the overview toggle the frame, else overview on without frame
    PointerOn,
    PointerOff,
    PointerToggle,
    PointerClick,     // buttons
    PointerDrag,      // buttons
    Condition,        // cond
    SaveMemory,       // value 1..4, then chime B
    RestoreMemory,    // value 1..4, then chime A
    Effect,           // value: 0 or one of 0x2000, 0x4000, 0x8000
    SaveView,
    RestoreView,
    ChimeSaveView,    // chime B, then save the view
    ChimeRestoreView, // chime A, then restore the view
    Reset,
    HistogramSwitch,
    StepsHalf,        // stepX, stepY := W / 2, H / 2
    StepsOne,         // := 1, 1
    StepsFull,        // := W, H
    StepXDown, StepXUp, StepYDown, StepYUp,
    NextScreen,
    PreviousScreen,
    StatusCell,       // value: cell number from 1
};

struct Action {
    Act act = Act::Unhandled;
    int dx = 0, dy = 0;
    int digit = 0;
    bool big = false;
    int buttons = 0;
    int value = 0;
    Corner corner = Corner::TopLeft;
    ConditionOp cond{CondOp::AutoOff};
};

// The viewer's model index is the model table's number (common/model_traits.h).
inline constexpr int kPinoraPX1 = static_cast<int>(Model::PinoraPX1);
inline constexpr int kPinoraNewPX2 = static_cast<int>(Model::PinoraNewPX2);
inline constexpr int kPinoraPX2 = static_cast<int>(Model::PinoraPX2);
inline constexpr int kNotaro = static_cast<int>(Model::Notaro);
inline constexpr int kQX64 = static_cast<int>(Model::QX64X48);

// Screens: 0 image, -1 condition, 1 position, 2 size, 3 scroll step.
struct KeyState {
    int statusScreen = 0;
    bool pointerMode = false;
    bool overview = false;
    bool overviewFrame = false;
    int modelIndex = kPinoraPX1;
    OperationFilter filters;
    // Pointer keys act while the pointer is on and no overview frame is drawn.
    bool pointerKeys() const { return pointerMode && !overviewFrame; }
};

// Event type t, key byte k, modifier byte m of a display key event.
Action decodeDisplayKey(int t, int k, int m, const KeyState& s);
// The same for a note-taker key event.
Action decodeNoteTakerKey(int t, int k, int m, const KeyState& s);
// The two code tables alone (16-bit code m x 256 + k); Unhandled when not listed.
Action conditionTable(int code, const KeyState& s);
Action commandTable(int code, const KeyState& s);

}  // namespace tavik::viewer
