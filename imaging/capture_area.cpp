// Capture-area arithmetic: fit modes and the margins of a capture.
#include "imaging/capture_area.h"

namespace lumo {

namespace {

void fitAxis(int32_t& pos, int32_t size, int32_t& fit, int32_t limit) {
    bool adjust = false;
    if (fit == 1) adjust = pos >= limit;
    else if (fit == 2) adjust = int64_t{pos} + size > limit;
    else return;
    if (!adjust) return;
    const int64_t moved = int64_t{limit} - size;
    pos = (size < 0 || moved < 0) ? 0 : static_cast<int32_t>(moved);
    fit |= 0x100;
}

// One axis of the plan; false when nothing can be captured.
bool planAxis(int32_t pos, int32_t& extent, int32_t& marginBefore, int32_t marginAfter, int32_t limit,
              int64_t& captureSize) {
    if (pos >= limit) return false;
    if (marginBefore > pos) marginBefore = pos;
    const int64_t available = int64_t{limit} - pos + marginBefore;
    if (extent < 0) {
        extent = static_cast<int32_t>(int64_t{limit} - pos);
        captureSize = available;
    } else {
        captureSize = int64_t{marginBefore} + extent + marginAfter;
        if (captureSize >= available) {
            captureSize = available;
            if (int64_t{marginBefore} + extent > available) extent = static_cast<int32_t>(int64_t{limit} - pos);
        }
    }
    return captureSize > 0 && captureSize <= INT32_MAX;
}

}  // namespace

void fitArea(CaptureArea& a, int32_t width, int32_t height) {
    fitAxis(a.x, a.cx, a.nFitX, width);
    fitAxis(a.y, a.cy, a.nFitY, height);
}

std::optional<CapturePlan> planCapture(CaptureArea& a, int32_t originX, int32_t originY, int32_t width,
                                       int32_t height) {
    int64_t w = 0, h = 0;
    if (!planAxis(a.x, a.cx, a.nMarginLeft, a.nMarginRight, width, w)) return std::nullopt;
    if (!planAxis(a.y, a.cy, a.nMarginTop, a.nMarginBottom, height, h)) return std::nullopt;
    CapturePlan p;
    p.left = int64_t{originX} + a.x - a.nMarginLeft;
    p.top = int64_t{originY} + a.y - a.nMarginTop;
    p.width = static_cast<int32_t>(w);
    p.height = static_cast<int32_t>(h);
    return p;
}

}  // namespace lumo
