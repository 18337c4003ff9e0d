// Capture-area arithmetic, free of any display: the fit rules of lumoAreaCheck and the
// rectangle lumoGetBmp copies (with margins), so both are testable without an X server.
#pragma once

#include <cstdint>
#include <optional>

#include "imaging/lumoutil.h"

namespace lumo {

// Applies the fit modes against a window (or screen) of width x height.
void fitArea(CaptureArea& area, int32_t width, int32_t height);

// The screen rectangle to copy: left/top in screen coordinates, size of the bitmap.
struct CapturePlan {
    int64_t left = 0;
    int64_t top = 0;
    int32_t width = 0;
    int32_t height = 0;
};

// Adjusts cx, cy and the left/top margins as the capture writes them back; nullopt when the area
// starts at or beyond the window's right or bottom edge, or nothing would be captured.
std::optional<CapturePlan> planCapture(CaptureArea& area, int32_t originX, int32_t originY, int32_t width,
                                       int32_t height);

}  // namespace lumo
