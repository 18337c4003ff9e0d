// Mouse emulation arithmetic of the screen viewer: the emulated mouse moves
// in capture-window pixels over the view (or, in overview, the ViewScope
// rectangle), by cells or long steps, to keypad positions or to a strip
// position, and drags the view along; zooming keeps the pin under the mouse.
// The marker (13 x 13 cross, or the centre pin alone) is drawn into the main
// panel and the second layer. Pure functions on plain values.
//
// Core use: fill a ViewRect from the record (scope fields in overview) and a
// ViewGrid, apply mouseStep / mouseJump / zoomAtMouse / mouseToViewPin for the
// matching actions, write the rectangle back, then gdSendMouseMove(targetWindow,
// mouse) and PlaceViewFrame. RefreshView calls drawMarker after the panel is
// filled, with the shown view (overview: the overview cells, base 0).
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <span>

#include "screenviewer/keys/key_actions.h"
#include "screenviewer/pages/pin_canvas.h"

namespace tavik::lumo {

struct ViewRect {
    int32_t baseX = 0, baseY = 0;
    int32_t cellWidth = 1, cellHeight = 1;
    bool operator==(const ViewRect&) const = default;
};

struct ViewGrid {
    int32_t pinColumns = 48, pinRows = 32;
    int32_t imageWidth = 1, imageHeight = 1;
};

struct MousePoint {
    int32_t x = 0, y = 0;
    bool operator==(const MousePoint&) const = default;
};

// c * ((size + (1 - count) * c - 1) / c), not below 0: the last base, aligned
// to the cell, at which the view still reaches the end of `size`.
int32_t lastAlignedStart(int32_t size, int32_t count, int32_t cell);
// The pan of the view by dx, dy pixels: moving right or down stops at the
// last aligned start, moving left or up at 0.
void panPixels(ViewRect& v, const ViewGrid& g, int32_t dx, int32_t dy);
// Clamps the point into the image and moves the view just enough to hold it.
void containPoint(ViewRect& v, const ViewGrid& g, MousePoint& p);
// Centres the view on the point (pulled back at the right and bottom ends, not
// below 0, aligned down to the cell).
void centreOnPoint(ViewRect& v, const ViewGrid& g, MousePoint p);
bool pointInView(const ViewRect& v, const ViewGrid& g, MousePoint p);

// The zoom refusal: outside overview when a x columns >= 2 x width and
// a x rows >= 2 x height; in overview (zooming the ViewScope rectangle) when
// a x columns > width and a x rows > height; a below 1 always.
bool zoomRefused(const ViewGrid& g, int32_t a, bool overview);
// Sets both cell sizes to `a` and moves the base by the anchor; ZoomAnchor::Mouse
// keeps the pin under `p`. False (nothing changed) when refused.
bool zoomView(ViewRect& v, const ViewGrid& g, int32_t a, ZoomAnchor anchor, MousePoint p, bool overview);

// MouseStep(k): keypad direction 1..9 (7 8 9 on top); the step is one cell or
// stepX / stepY cells; the scrolling kinds pan the view by the same step
// first. The mouse ends aligned to the cell, clamped to the image, inside the view.
void mouseStep(ViewRect& v, const ViewGrid& g, MousePoint& p, int k, MoveKind kind, int32_t stepX, int32_t stepY);
// MouseJump(k): columns put x at 0 / unchanged / width - 1, rows y at
// height - 1 / unchanged / 0; 5 the image centre; the view is centred on it.
void mouseJump(ViewRect& v, const ViewGrid& g, MousePoint& p, int k);
// ZoomAtMouse: doubles below maxCellPixels or halves from 2, at the mouse
// when it lies in the view, else centred. Never in overview. False when nothing changed.
bool zoomAtMouse(ViewRect& v, const ViewGrid& g, MousePoint p, bool zoomOut, int32_t maxCellPixels, bool overview);
// The strip position: the mouse goes to row (axis 0) or column (axis 1) `pin`
// of the view, clamped to the image, and the view holds it.
void mouseToViewPin(ViewRect& v, const ViewGrid& g, MousePoint& p, int axis, int32_t pin);

// Switching emulation on and off as the mouse operations the core performs
// in order (positions relative to targetWindow).
struct MouseOp {
    enum class Kind : uint8_t { Move, Press, Release } kind = Kind::Move;
    MousePoint at;
    int buttons = 0;  // Press: bit 0 left, bit 1 right
};
struct MouseOps {
    std::array<MouseOp, 3> ops{};
    size_t count = 0;
    void push(const MouseOp& op) {
        if (count < ops.size()) ops[count++] = op;
    }
};
struct Emulation {
    bool on = false;
    bool known = false;  // mouse position known
    MousePoint mouse;
};
struct SavedMouse {
    bool valid = false;
    MousePoint at;  // capture-window pixels, kept per view record
};
// StartEmulation(buttons): nothing while a pen drag is active. Coming from
// off with buttons and a saved position: move there and press the buttons
// first. Then the mouse goes to the centre of `view`; emulation on, position
// known (check box 272 checked by the caller).
MouseOps startEmulation(Emulation& e, const SavedMouse& saved, bool penDrag, int buttons, const ViewRect& view,
                        const ViewGrid& g);
// StopEmulation: when on, every button is released at the mouse and the
// position saved; emulation off, position unknown.
MouseOps stopEmulation(Emulation& e, SavedMouse& saved);

// One look at the real pointer by the watch thread (gdGetMouseState relative
// to targetWindow): whether it moved since the last look, whether it lies in
// the window, and where (valid only inside).
struct PointerReading {
    bool moved = false;
    bool inside = false;
    MousePoint at;
};
enum class FollowView : uint8_t { Stay, CentreOn, Contain };
struct PointerFollow {
    bool takePosition = false;           // the emulated mouse takes the pointer's position
    FollowView view = FollowView::Stay;  // the view moves to the pointer's position
    bool publish = false;                // the view is handed to the refresh pass
};
// What a reading does. Only while emulation, a pen drag or mouse-sync is on
// (otherwise nothing): the pointer inside the window gives the emulated
// mouse its position; a move with mouse-sync on and the pointer inside
// moves the view to it (Contain with emulation on, else CentreOn). A move,
// or an emulated mouse (`mouse`) that the pointer left even when another
// process saw the move first, is published, so the marker follows the hand
// on the mouse.
PointerFollow followPointer(const PointerReading& r, bool emulating, bool penDrag, bool mouseSync, MousePoint mouse);

// The marker centred on the pin under the mouse in the shown view: AND with
// the mask, then OR with the pattern on the main panel, OR with the pattern
// on the second layer. Normal: mask all raised but the 11-pin cross of the
// middle row and column (ends excluded), pattern that cross. Alternative:
// mask all raised but the centre, pattern the centre pin.
// The same marker as 13 x 13 dot maps for lumoDotOperation (one byte per
// dot, row-major, dot (i, j) at j * 13 + i): the mask for operation 2 (AND)
// and the pattern for operation 1 (OR), placed at (pin - 6, pin - 6).
constexpr int kMarkerSize = 13;
std::span<const uint8_t> markerMask(bool alternative);
std::span<const uint8_t> markerPattern(bool alternative);

void drawMarker(PinCanvas& main, PinCanvas& second, const ViewRect& shown, MousePoint p, bool alternative);

}  // namespace tavik::lumo
