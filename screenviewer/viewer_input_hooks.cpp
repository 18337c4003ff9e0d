// The few core operations the device keys need beyond navigation: the
// client-area overview and whether the focus window's client area is known.
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

}  // namespace lumo
