// Filling one focus record of "Lumo hook data" for a process: the record of
// that process (or a free one), its window, caret or focus position. Pure
// over the mapped section, so tests drive it without a bus.
#pragma once

#include <cstdint>
#include <optional>

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
int recordEvent(lumo::HookData& hook, const FocusEvent& e);

}  // namespace lumohook
