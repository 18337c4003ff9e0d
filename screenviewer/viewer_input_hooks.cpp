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
    WindowId captureWindow = 0;
    const int i = editCurrent([&](ViewRecord& r, int index) {
        captureWindow = r.captureWindow;
        return index;
    });
    std::optional<Rect> area;
    if (fromFocus) {
        std::lock_guard lock(clientMutex_);
        area = clientRects_[i];
    }
    if (!area) area = clientAreaOf(captureWindow);
    if (area) {
        std::lock_guard lock(viewMutex_);
        ViewRecord& r = share_.records[i];
        if (r.captureWindow == captureWindow) fitClientOverview(r, *area, pins());
    }
    if (onModesChanged) onModesChanged();
    afterChange();
}

void Viewer::fitCurrentToWindow() {
    WindowId captureWindow = 0;
    const int i = editCurrent([&](ViewRecord& r, int index) {
        captureWindow = r.captureWindow;
        return index;
    });
    fitRecordToWindow(i, captureWindow);
}

}  // namespace lumo
