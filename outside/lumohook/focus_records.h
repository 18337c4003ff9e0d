// Filling one focus record of "Lumo hook data" for a process: the record of
// that process (or a free one), its window, caret or focus position, and where
// an accessibility point lies on the screen. Pure over the mapped section and
// plain rectangles, so tests drive it without a bus or a display.
#pragma once

#include <cstdint>
#include <optional>

#include "platform/desktop/desktop.h"
#include "screenviewer/share_layout.h"

namespace lumohook {

struct FocusEvent {
    int32_t process = 0;        // the application's process (its "GUI thread")
    lumo::WindowId window = 0;  // its top-level window (0 when unknown)
    bool caret = false;         // caret moved (else: focus)
    int32_t screenX = 0, screenY = 0;        // the caret or focused object on the screen
    std::optional<int32_t> clientX, clientY;  // the same relative to the window's client area
};

// Writes the event into the process's record (taking a free record when it
// has none; the oldest slot 0 when all 64 are taken). Returns the index used.
// A caret record carries the caret in client pixels (screen position not
// given) and its screen place besides; a focus record its screen position.
int recordEvent(lumo::HookData& hook, const FocusEvent& e);

// What is known of the window an accessibility point belongs to.
struct WindowFrames {
    // The application's top-level as its toolkit reports it, in the same
    // coordinates as the point. Those are the screen's on X11, but the
    // toolkit's own (its window at 0,0) for a Wayland client, which does not
    // know where the compositor put it.
    std::optional<tavik::desktop::Rect> accessible;
    // The same window as the desktop layer places it on the screen: its client
    // area and its outer rectangle (decorations included).
    std::optional<tavik::desktop::Rect> client;
    std::optional<tavik::desktop::Rect> outer;
};

struct PlacedPoint {
    int32_t screenX = 0, screenY = 0;         // on the screen
    std::optional<int32_t> clientX, clientY;  // in the window's client area (when the client area is known)
};

// Puts `x`, `y` (a point in the accessibility coordinates) on the screen. The
// point's offset inside the accessible top-level does not depend on the frame
// both are given in; that offset is laid on the desktop layer's rectangle of
// the same size (the client area, else the outer rectangle when the toolkit
// reports its decorations). When the top-level's extents are missing or match
// neither rectangle, the point is taken as a screen point as it stands. Values
// out of the 32-bit range are clamped.
PlacedPoint placePoint(int32_t x, int32_t y, const WindowFrames& frames);

}  // namespace lumohook
