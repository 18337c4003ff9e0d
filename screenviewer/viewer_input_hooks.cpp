// The few core operations the device keys need beyond navigation: the
// client-area overview, whether the focus window's client area is known, and
// the fit of the view to its window before a key acts.
#include "screenviewer/viewer.h"

namespace lumo {

bool Viewer::clientRectKnown() {
    const int i = currentIndex();
    std::lock_guard lock(clientMutex_);
    return clientRects_[i].has_value();
}

void Viewer::clientOverview(bool fromFocus) {
    const int i = currentIndex();
    ViewRecord& r = share_.records[i];
    std::optional<Rect> stored;
    if (fromFocus) {
        std::lock_guard lock(clientMutex_);
        stored = clientRects_[i];
    }
    if (stored) fitClientOverview(r, *stored, pins());
    else fitClientFromWindow(r);
    if (onModesChanged) onModesChanged();
    afterChange();
}

void Viewer::fitCurrentToWindow() {
    ViewRecord& r = current();
    const WindowFacts f = factsOf(r.captureWindow);
    if (f.width > 0 && f.height > 0 && (f.width != r.imageWidth || f.height != r.imageHeight))
        fitViewToWindow(r, f.width, f.height, pins());
}

}  // namespace lumo
