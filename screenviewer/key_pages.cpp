// What the refresh pass draws from the key state (see key_handling.h): the
// information pages instead of the image, the mouse marker over it, and the
// device text line with the dialog's mouse position text.
#include <algorithm>
#include <cstring>

#include "screenviewer/key_handling.h"
#include "screenviewer/pages/info_pages.h"
#include "screenviewer/pages/pin_canvas.h"
#include "screenviewer/pages/text_line.h"

namespace lumo {

bool KeyHandler::drawInfoPage(const ViewRecord& r, DotPanel& panel) {
    int page;
    bool large, emulating;
    keys::MousePoint mouse;
    int sx, sy;
    {
        std::lock_guard lock(m_);
        page = infoPage_;
        large = largeHistogram_ && viewer_.device().modelCode == keys::kModel64;
        emulating = emu_.on;
        mouse = emu_.mouse;
        sx = stepX_;
        sy = stepY_;
    }
    keys::PinCanvas canvas(panel);
    if (large) {
        keys::drawLargeHistogram(canvas, r.condition, japanese_);
        return true;
    }
    const Pins pins = viewer_.pins();
    const bool scope = r.overview && r.viewScope;
    switch (page) {
    case keys::kPageHistogram:
        keys::drawHistogramPage(canvas, r.condition, japanese_);
        return true;
    case keys::kPagePosition: {
        keys::PositionPage p;
        p.viewValue = !emulating;
        p.x = emulating ? mouse.x : scope ? r.scopeX : r.baseX;
        p.y = emulating ? mouse.y : scope ? r.scopeY : r.baseY;
        p.cellSize = saneCell(scope ? r.scopeCellWidth : r.cellWidth);
        p.scanningMode = int(viewer_.scanningMode());
        p.overview = r.overview != 0;
        p.viewScope = scope;
        p.clientFit = r.clientFit != 0;
        p.emulation = emulating;
        p.mouseSync = viewer_.mouseSync();
        p.effect = r.condition.bMode & (BIN_ERASE_GRID | BIN_OUTLINE | BIN_CHARACTER);
        keys::drawPositionPage(canvas, p, japanese_);
        return true;
    }
    case keys::kPageRange:
        if (emulating) {
            uint8_t bgr[3] = {};
            // A pixel that cannot be read leaves the panel as it is.
            if (!lumoGetPixel(bgr, LumoHWND(viewer_.targetWindow()), mouse.x, mouse.y, 0)) return true;
            keys::drawPixelPage(canvas, bgr[2], bgr[1], bgr[0], japanese_);
            return true;
        }
        keys::drawRangePage(canvas,
                            keys::viewLastPixel(r.baseX, pins.columns, saneCell(r.cellWidth), r.imageWidth, r.areaWidth),
                            keys::viewLastPixel(r.baseY, pins.rows, saneCell(r.cellHeight), r.imageHeight, r.areaHeight),
                            r.imageWidth, r.imageHeight, japanese_);
        return true;
    case keys::kPageStep:
        keys::drawStepPage(canvas, sx, sy, japanese_);
        return true;
    default:
        return false;
    }
}

void KeyHandler::drawOverlays(const ViewRecord& r, DotPanel& main, DotPanel& layer) {
    bool show, alternative;
    keys::MousePoint mouse;
    {
        std::lock_guard lock(m_);
        show = (emu_.on || penDrag_) && emu_.known && !viewer_.cursorShapeView();
        alternative = shift_.held == keys::kShiftDown;
        mouse = emu_.mouse;
    }
    if (!show) return;
    keys::PinCanvas m(main), l(layer);
    const keys::ViewRect shown{r.baseX, r.baseY, saneCell(r.cellWidth), saneCell(r.cellHeight)};
    if (r.overview && r.viewScope) {
        keys::drawMarker(m, l, shown, mouse, false);
        if (alternative) m.clear();
        return;
    }
    keys::drawMarker(m, l, shown, mouse, alternative);
}

void KeyHandler::buildTextLine(const ViewRecord& r, TextLine& line) {
    keys::TextLineInput in;
    bool emulating;
    keys::MousePoint mouse;
    {
        std::lock_guard lock(m_);
        in.page = textLinePage_;
        in.subSelector = subSelector_;
        emulating = emu_.on;
        mouse = emu_.mouse;
    }
    const Pins pins = viewer_.pins();
    const bool scope = r.overview && r.viewScope;
    in.scanningMode = int(viewer_.scanningMode());
    in.overview = r.overview != 0;
    in.viewScope = scope;
    in.clientFit = r.clientFit != 0;
    in.emulation = emulating;
    in.mouseSync = viewer_.mouseSync();
    in.desktop = r.captureWindow == 0;
    in.imageWidth = r.imageWidth;
    in.imageHeight = r.imageHeight;
    // In overview (with or without its frame on the pins) the position is the ViewScope rectangle's.
    const bool overview = r.overview != 0;
    const int32_t cw = saneCell(overview ? r.scopeCellWidth : r.cellWidth);
    const int32_t ch = saneCell(overview ? r.scopeCellHeight : r.cellHeight);
    in.left = overview ? r.scopeX : r.baseX;
    in.top = overview ? r.scopeY : r.baseY;
    in.right = int32_t(std::clamp<int64_t>(int64_t(in.left) + int64_t(pins.columns) * cw, INT32_MIN, INT32_MAX));
    in.bottom = int32_t(std::clamp<int64_t>(int64_t(in.top) + int64_t(pins.rows) * ch, INT32_MIN, INT32_MAX));
    in.mouseX = mouse.x;
    in.mouseY = mouse.y;
    in.cellSize = cw;
    in.bMode = r.condition.bMode;
    in.fAutoThreshfold = r.condition.fAutoThreshfold != 0;
    in.threshold = r.condition.bThreshfold;
    in.refresh = viewer_.refreshChoice();
    keys::TextLine out;
    keys::buildTextLine(in, japanese_, out);
    static_assert(sizeof out.cells == sizeof(TextLine));
    std::memcpy(line.data(), out.cells.data(), line.size());
}

}  // namespace lumo
