// The viewer's navigation rules as pure functions over the view records: which
// record a window gets, how a view follows a window that changes size, pans,
// jumps, zooms, overview and the placing of the view on a focus or caret point.
// No X, no Qt: callers pass the sizes and rectangles they looked up. Every
// function guards its own arithmetic (64-bit, cell sizes at least 1), so a
// record poked by another process never makes it divide by zero or overflow.
#pragma once

#include <cstdint>
#include <functional>
#include <optional>

#include "screenviewer/share_layout.h"

namespace lumo {

struct Pins {
    int32_t columns = 32;
    int32_t rows = 24;
};

struct Rect {
    int32_t x = 0, y = 0, width = 0, height = 0;
    bool operator==(const Rect&) const = default;
};

// What a caller knows about a window when a record is chosen or fitted.
struct WindowFacts {
    int32_t width = 0;  // window rectangle (screen size for the whole screen)
    int32_t height = 0;
    int32_t threadId = 0;
};

// The largest multiple-of-c start whose count cells still end inside `size`,
// not below 0: c * ((size + (1 - count) * c - 1) / c).
int32_t lastAlignedStart(int64_t size, int64_t count, int64_t c);
// A cell size read from a record, made usable (at least 1, at most 1 << 16).
int32_t saneCell(int32_t c);

// Looks up a window's size and thread (the screen's size for window 0).
using WindowLookup = std::function<WindowFacts(WindowId)>;

// Makes the record of `window` (0: the whole screen) current, reusing the
// least recently used record other than the current one when all are taken.
// Returns the index made current; `fresh` (when given) says whether that
// record was started anew (a free one or a reused one).
int selectViewRecord(ViewerShare& share, WindowId window, const WindowLookup& lookup, Pins pins,
                     bool* fresh = nullptr);
void initViewRecord(ViewerShare& share, ViewRecord& r, WindowId window, const WindowFacts& facts, Pins pins);
// New window size: pulls back a view (or, in overview, the ViewScope
// rectangle) whose far edge passes the new size. Nothing when unchanged.
void fitViewToWindow(ViewRecord& r, int32_t width, int32_t height, Pins pins);

// Pans by n pins (negative: left or up); in overview it moves the ViewScope
// rectangle. panScope moves the ViewScope rectangle by n scope cells, and
// does nothing outside overview.
void panX(ViewRecord& r, int n, Pins pins);
void panY(ViewRecord& r, int n, Pins pins);
void panScopeX(ViewRecord& r, int n, Pins pins);
void panScopeY(ViewRecord& r, int n, Pins pins);

// Keypad jump 1..9 (1 bottom-left, 5 centre, 9 top-right). `client`, when
// given, is the focus window's client area relative to the capture window
// (used in focus-sync mode).
void jump(ViewRecord& r, int key, Pins pins, const std::optional<Rect>& client);
void centreOn(ViewRecord& r, int32_t x, int32_t y, Pins pins);
void contain(ViewRecord& r, int32_t x, int32_t y, Pins pins);

enum class ZoomAnchor { TopLeft, Right, Bottom, RightBottom, Centre, Point };
// Sets the cell size to `a` keeping the anchor; false when refused (a < 1 or
// the view would be far larger than the image).
bool zoom(ViewRecord& r, int32_t a, ZoomAnchor anchor, Pins pins, int32_t px = 0, int32_t py = 0);

void enterOverview(ViewRecord& r, bool viewScope, Pins pins);
// `area` is the client area relative to the capture window (or the screen).
void fitClientOverview(ViewRecord& r, const Rect& area, Pins pins);
void leaveOverview(ViewRecord& r);

// The focus point to show, in screen coordinates, as the hook record gives
// it. `client` is the focus window's client rectangle on the screen (none
// when the hook names no window; then `captureClient` is used).
struct FocusPoint {
    bool caret = false;  // kind 1: caret position in the focus window's client pixels
    int32_t caretX = 0, caretY = 0;
    bool screenGiven = false;
    int32_t screenX = 0, screenY = 0;
};
// Moves the base (or in overview the ViewScope origin) onto the focus point.
// `capture` is the capture window's rectangle on the screen. False when the
// point lies right of or below the capture window (the view stays).
bool placeOnFocus(ViewRecord& r, const Rect& capture, const std::optional<Rect>& focusClient,
                  const Rect& captureClient, const FocusPoint& point, Pins pins);

// Copies a window view into the whole-screen record: base, cells and
// condition; overview off; base moved by the window's screen position.
void copyToWholeScreen(const ViewRecord& window, ViewRecord& screen, int32_t windowX, int32_t windowY);

// The rectangle the view frame surrounds, relative to the capture window:
// the ViewScope rectangle in overview, else the view.
Rect viewRectangle(const ViewRecord& r, Pins pins);

}  // namespace lumo
