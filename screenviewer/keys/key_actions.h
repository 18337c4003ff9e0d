// What the screen viewer's device callbacks ask the core to do: a short list
// of typed actions with their parameters. The decoders only read state (see
// key_context.h); the core carries the actions out in list order and ends
// with PublishView when the list is not empty. An empty list means the event
// changed nothing and nothing is sent.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>

#include "client/viewer/condition_ops.h"

namespace tavik::lumo {

// How a MouseStep moves: one cell; one cell and the view along; the long step
// (stepX x cell width, stepY x cell height) and the view along.
enum class MoveKind : uint8_t { OneCell, OneCellScrolling, LongScrolling };

// What stays put when the cell size changes. Mouse: the pin under the mouse
// when the mouse lies inside the view, else the centre.
enum class ZoomAnchor : uint8_t { TopLeft, Right, Bottom, RightBottom, Centre, Mouse };

enum class Tone : uint8_t { ChimeA, ChimeB, LockSignal };

enum class KeyAct : uint8_t {
    Publish,           // only a new pass (shift state changed)
    PanBy,             // x, y pins (d = n x cell width / height); longStep: x, y are stepX / stepY multiples
                       //   and in overview move the ViewScope rectangle by scope cells
    Jump,              // value: keypad key 1..9 (the ViewScope rectangle in overview)
    Zoom,              // value: 0 halve (in), 1 double (out); anchor
    ZoomTo,            // value: pixels per pin; anchor (Mouse or Centre)
    FineZoom,          // value: -1 or +1 pixel per pin; anchor Mouse (emulating) or Centre
    ZoomAtMouse,       // value: 0 in, 1 out
    Condition,         // cond: applied to the current condition (client/viewer/condition_ops.h)
    DialogCommand,     // value: WM_COMMAND id sent synchronously to the main dialog
    ToggleOverview,    // as dialog command 266
    ToggleViewScope,   // as dialog command 267
    LeaveOverview,
    ClientOverview,    // value 1: FitClientOverview from the stored client rectangle, 0: from the window
    PlaceOnFocus,      // place the view on the focus (focus-sync)
    WholeScreenFromWindow,
    StartEmulation,    // value: buttons to press at the saved position (0, 1 left, 2 right)
    StopEmulation,
    MouseStep,         // value: keypad direction 1..9; kind
    MouseJump,         // value: keypad key 1..9
    MouseToViewPin,    // value: 0 row y of the view, 1 column x of the view
    MouseClick,        // value: buttons; at (x, y)
    MouseHold,         // value: buttons pressed and held (gdStartMouseDrag); at (x, y)
    MouseRelease,      // release every button at (x, y)
    MouseMove,         // to (x, y)
    SaveMousePosition, // (x, y) becomes the record's saved mouse position
    PenDrag,           // value: 1 on, 0 off
    BookmarkStore,     // value: 0..2
    BookmarkRecall,    // value: 0..2
    ConditionStore,    // value: slot 0..3 (Condition1..4)
    ConditionRecall,   // value: slot 0..3
    PlayTone,          // tone
    SaveScreenImage,   // value: 1 whole window, 0 the current view
    SetCursorShape,    // value: 0 / 1
    SetLock,           // value: 0 / 1
    SetInfoPage,       // value: -1, 0, 1, 2, 3
    SetSteps,          // x = stepX, y = stepY
    ToggleLargeHistogram,
    SetEffect,         // value: 0, BIN_ERASE_GRID, BIN_OUTLINE or BIN_CHARACTER
    SetTextLinePage,   // value: 0..5
    SetSubSelector,    // value: 0..2
};

struct KeyAction {
    KeyAct act = KeyAct::Publish;
    int32_t x = 0;
    int32_t y = 0;
    int32_t value = 0;
    bool longStep = false;
    MoveKind kind = MoveKind::OneCell;
    ZoomAnchor anchor = ZoomAnchor::Centre;
    Tone tone = Tone::ChimeA;
    viewer::ConditionOp cond{viewer::CondOp::AutoOff};
};

// A fixed-capacity list: decoding never allocates.
class ActionList {
public:
    static constexpr size_t kCapacity = 16;
    void push(const KeyAction& a) {
        if (size_ < kCapacity) items_[size_++] = a;
    }
    size_t size() const { return size_; }
    bool empty() const { return size_ == 0; }
    const KeyAction& operator[](size_t i) const { return items_[i]; }
    const KeyAction* begin() const { return items_.data(); }
    const KeyAction* end() const { return items_.data() + size_; }

private:
    std::array<KeyAction, kCapacity> items_{};
    size_t size_ = 0;
};

}  // namespace tavik::lumo
