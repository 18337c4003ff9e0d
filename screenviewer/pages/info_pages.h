// The information pages drawn on the main panel instead of the image: the
// histogram page, the large histogram of the 64 x 48 model, the position,
// range, pixel and step pages. Each clears the panel first; texts are
// BrailleCells drawn three pins per cell, labels in English or Japanese.
//
// Core use: in RefreshView step 4, by InfoPage (-1 histogram, 1 position,
// 2 range, or the pixel page while emulating, 3 step) or, with modelCode 3
// and the large histogram flag, drawLargeHistogram; the condition is the live
// record's after lumoPreScan.
#pragma once

#include <cstdint>

#include "imaging/lumoutil.h"
#include "screenviewer/pages/pin_canvas.h"

namespace tavik::lumo {

// The cell that marks a value as the view's own (position page) and the
// range page's row markers.
constexpr uint8_t kValueMarkCell = 0x77;

// 16 bars (the largest count of each 16 levels) from column 11 on rows 23..8,
// the colour label (row 0), the threshold or range (row 4), labels at rows 8
// and 21, the range on column 8, the threshold pin on column 9 and the
// comparison marks on columns 6 and 7.
void drawHistogramPage(PinCanvas& panel, const BinCondition& condition, bool japanese);
// 32 bars (8 levels each) from column 17 on rows 47..16; threshold marks on
// columns 14, 15 and comparison marks on 12, 13; labels at rows 0, 8, 16, 45.
void drawLargeHistogram(PinCanvas& panel, const BinCondition& condition, bool japanese);

struct PositionPage {
    int32_t x = 0, y = 0;     // left and top pixel of the view (or ViewScope, or the mouse)
    bool viewValue = true;    // false while the values are the mouse's
    int32_t cellSize = 1;     // pixels per pin
    int scanningMode = 2;     // 0 full screen, 1 application window, 2 focus-sync
    bool overview = false, viewScope = false, clientFit = false;
    bool emulation = false, mouseSync = false;
    uint32_t effect = 0;      // BIN_ERASE_GRID, BIN_OUTLINE, BIN_CHARACTER or 0
};
void drawPositionPage(PinCanvas& panel, const PositionPage& page, bool japanese);

// The view's last pixel on one axis: base + pins x cell - 1, within the image
// and, when `areaSize` is positive, within base + areaSize - 1.
int32_t viewLastPixel(int32_t base, int32_t pins, int32_t cell, int32_t imageSize, int32_t areaSize);
void drawRangePage(PinCanvas& panel, int32_t lastX, int32_t lastY, int32_t imageWidth, int32_t imageHeight,
                   bool japanese);
// Colour of the pixel under the mouse and the integer mean of the three.
void drawPixelPage(PinCanvas& panel, int red, int green, int blue, bool japanese);
void drawStepPage(PinCanvas& panel, int stepX, int stepY, bool japanese);

}  // namespace tavik::lumo
