// The viewer's refresh: the image plane (image or status screen), the detail
// frame and the pointer marker, the planes sent only when they changed, and
// the status cells.
#include <algorithm>
#include <array>
#include <cstring>

#include "client/viewer/braille_cells.h"
#include "client/viewer/status_screens.h"
#include "client/viewer/viewer.h"
#include "common/model_traits.h"

namespace tavik::viewer {

namespace {

constexpr int kMarker = 13;

// The pointer's cross: row 6, columns 1..11 and column 6, rows 1..11.
constexpr bool onCross(int x, int y) { return (y == 6 && x >= 1 && x <= 11) || (x == 6 && y >= 1 && y <= 11); }

struct MarkerPatterns {
    uint8_t mask[kMarker * kMarker];
    uint8_t cross[kMarker * kMarker];
    constexpr MarkerPatterns() : mask(), cross() {
        for (int y = 0; y < kMarker; ++y)
            for (int x = 0; x < kMarker; ++x) {
                mask[y * kMarker + x] = onCross(x, y) ? 0 : 1;
                cross[y * kMarker + x] = onCross(x, y) ? 1 : 0;
            }
    }
};

bool samePanel(const DotPanel& a, const DotPanel& b) {
    return a.nSize == b.nSize && std::memcmp(a.lpData, b.lpData, static_cast<size_t>(a.nSize)) == 0;
}

void copyPanel(DotPanel& to, const DotPanel& from) {
    std::memcpy(to.lpData, from.lpData, static_cast<size_t>(std::min(to.nSize, from.nSize)));
}

void clearPanel(DotPanel& p) { std::memset(p.lpData, 0, static_cast<size_t>(p.nSize)); }

}  // namespace

void Viewer::refreshView() {
    ScanContext& s = rec_.scan;
    const int W = port_.W, H = port_.H;
    s.nOriginX = rec_.viewLeft;
    s.nOriginY = rec_.viewTop;
    s.nLimitX = static_cast<int32_t>(std::min<int64_t>(int64_t{rec_.viewLeft} + int64_t{rec_.cellWidth} * W,
                                                       rec_.scan.dib.nWidth));
    s.nLimitY = static_cast<int32_t>(std::min<int64_t>(int64_t{rec_.viewTop} + int64_t{rec_.cellHeight} * H,
                                                       rec_.scan.dib.nHeight));
    s.nCellWidth = std::max(1, rec_.cellWidth);
    s.nCellHeight = std::max(1, rec_.cellHeight);
    s.lpCondition = &rec_.condition;

    Canvas canvas(*image_);
    const View v = mainView();
    bool imageScreen = false;
    const ModelTraits* model = modelAt(model_);
    if (model && model->largeHistogram) {
        if (histogramSwitch_) drawLargeHistogramScreen(canvas, rec_.condition, japanese_);
        else imageScreen = true;
    } else {
        switch (statusScreen_) {
        case -1:
            drawConditionScreen(canvas, rec_.condition, japanese_);
            break;
        case 1:
            if (rec_.pointerMode) drawPositionScreen(canvas, rec_.pointerX, rec_.pointerY, v.divX, rec_.overviewMode,
                                                     rec_.overviewFrame, true, japanese_);
            else drawPositionScreen(canvas, v.left, v.top, v.divX, rec_.overviewMode, rec_.overviewFrame, false,
                                    japanese_);
            break;
        case 2:
            if (rec_.pointerMode) {
                uint8_t bgr[3] = {0, 0, 0};
                lumoGetPixelFromBmp(bgr, rec_.hSourceBitmap, rec_.pointerX, rec_.pointerY);
                drawColourScreen(canvas, bgr[2], bgr[1], bgr[0], japanese_);
            } else {
                drawSizeScreen(canvas, std::min(v.left + v.divX * W, rec_.imageWidth) - 1,
                               std::min(v.top + v.divY * H, rec_.imageHeight) - 1, rec_.imageWidth,
                               rec_.imageHeight, japanese_);
            }
            break;
        case 3:
            drawScrollStepScreen(canvas, stepX_, stepY_, japanese_);
            break;
        default:
            imageScreen = true;
            break;
        }
    }
    clearPanel(*overlay_);
    if (imageScreen) drawImageScreen();

    sendPanels();
    if (port_.T > 0) showStatusCells();
    publish(rec_.refreshed, 1);
}

void Viewer::drawImageScreen() {
    if (imageOpen_) lumoSetPanel(&rec_.scan, image_.get());
    else clearPanel(*image_);
    const bool chordHeld = chords_.accumulated == 0x80;
    if (rec_.overviewMode && chordHeld) clearPanel(*image_);
    if (rec_.overviewMode && rec_.overviewFrame) drawFrame();
    if (rec_.pointerMode) {
        const bool show = rec_.overviewMode ? rec_.overviewFrame != 0 : !chordHeld;
        if (show) drawPointer();
    }
}

void Viewer::drawFrame() {
    const int W = port_.W, H = port_.H;
    const int divX = std::max(1, rec_.cellWidth), divY = std::max(1, rec_.cellHeight);
    const int left = rec_.detailLeft / divX;
    const int top = rec_.detailTop / divY;
    const int64_t right = (int64_t{rec_.detailLeft} + int64_t{rec_.detailCellWidth} * W) / divX;
    const int64_t bottom = (int64_t{rec_.detailTop} + int64_t{rec_.detailCellHeight} * H) / divY;
    const int width = static_cast<int>(std::clamp<int64_t>(right - left + 1, 1, 1 << 20));
    const int height = static_cast<int>(std::clamp<int64_t>(bottom - top + 1, 1, 1 << 20));

    lumoClearDotMap(map_.get(), width, height);
    DotOpRequest req{map_.get(), 0, 0, width, height, left, top, DOTOP_READ};
    lumoDotOperation(&req, image_.get());
    req.bOperation = DOTOP_FRAME;
    lumoDotOperation(&req, image_.get());
    // The border in the map, which then carries the framed picture into the overlay plane.
    // Within what the map holds, whatever size it reports.
    DotMap& m = *map_;
    const int mw = std::min(m.nWidth, m.nAllocWidth), mh = std::min(m.nHeight, m.nAllocHeight);
    if (mw < 1 || mh < 1) return;
    const auto at = [&](int x, int y) -> uint8_t& { return m.lpData[static_cast<size_t>(y) * m.nAllocWidth + x]; };
    for (int x = 0; x < mw; ++x) at(x, 0) = at(x, mh - 1) = 1;
    for (int y = 0; y < mh; ++y) at(0, y) = at(mw - 1, y) = 1;
    req.bOperation = DOTOP_COPY;
    lumoDotOperation(&req, overlay_.get());
}

void Viewer::drawPointer() {
    static constexpr MarkerPatterns kPatterns;
    uint8_t mask[kMarker * kMarker], cross[kMarker * kMarker];
    std::memcpy(mask, kPatterns.mask, sizeof mask);
    std::memcpy(cross, kPatterns.cross, sizeof cross);
    const int divX = std::max(1, rec_.cellWidth), divY = std::max(1, rec_.cellHeight);
    const int col = (rec_.pointerX - rec_.viewLeft) / divX - 6;
    const int row = (rec_.pointerY - rec_.viewTop) / divY - 6;
    DotMap maskMap{kMarker, kMarker, mask, kMarker, kMarker};
    DotMap crossMap{kMarker, kMarker, cross, kMarker, kMarker};
    DotOpRequest req{&maskMap, 0, 0, kMarker, kMarker, col, row, DOTOP_AND};
    lumoDotOperation(&req, image_.get());
    req.lpMap = &crossMap;
    req.bOperation = DOTOP_OR;
    lumoDotOperation(&req, image_.get());
    lumoDotOperation(&req, overlay_.get());
}

void Viewer::sendPanels() {
    const bool imageChanged = !sentOnce_ || !samePanel(*image_, *imageSent_);
    if (imageChanged) {
        if (sink_.sendGraphic(image_->lpData, nullptr, 0)) copyPanel(*imageSent_, *image_);
        // The device cleared its second plane with the first: send the overlay after it.
        clearPanel(*overlaySent_);
        if (sink_.sendGraphic(nullptr, overlay_->lpData, 10)) copyPanel(*overlaySent_, *overlay_);
        sentOnce_ = true;
    } else if (!samePanel(*overlay_, *overlaySent_)) {
        if (sink_.sendGraphic(nullptr, overlay_->lpData, 10)) copyPanel(*overlaySent_, *overlay_);
    }
}

void Viewer::showStatusCells() {
    StatusSnapshot s;
    s.overview = rec_.overviewMode != 0;
    s.frame = rec_.overviewFrame != 0;
    s.pointer = rec_.pointerMode != 0;
    s.page = page_;
    s.layout = layout_;
    s.imageWidth = rec_.imageWidth;
    s.imageHeight = rec_.imageHeight;
    const View shown = rec_.overviewMode && rec_.overviewFrame ? activeView() : mainView();
    if (rec_.pointerMode) {
        s.firstX = s.lastX = rec_.pointerX;
        s.firstY = s.lastY = rec_.pointerY;
        s.single = true;
    } else {
        s.firstX = shown.left;
        s.firstY = shown.top;
        s.lastX = std::min(shown.left + shown.divX * port_.W, rec_.imageWidth) - 1;
        s.lastY = std::min(shown.top + shown.divY * port_.H, rec_.imageHeight) - 1;
    }
    s.division = shown.divX;
    s.mode = rec_.condition.bMode;
    s.autoThreshold = rec_.condition.fAutoThreshfold != 0;
    s.threshold = rec_.condition.bThreshfold;
    s.japanese = japanese_;
    line_ = buildStatusLine(s);

    std::array<uint8_t, kMaxTextCells> bytes{};
    for (size_t i = 0; i < line_.cells.size(); ++i) bytes[i] = deviceCell(line_.cells[i]);
    const std::span<const uint8_t> shownCells(bytes.data(), static_cast<size_t>(port_.T));
    if (!textSent_ || bytes != sentText_) {
        if (sink_.sendText(shownCells)) {
            sentText_ = bytes;
            textSent_ = true;
        }
    }
}

}  // namespace tavik::viewer
