// Pins of a window through the image library.
#include "tests/support/library_pins.h"

namespace tavik::test {

std::vector<std::string> panelRows(const DotPanel& panel, int cols, int rows) {
    std::vector<std::string> out(static_cast<size_t>(rows), std::string(static_cast<size_t>(cols), '.'));
    for (int r = 0; r < rows; ++r)
        for (int x = 0; x < cols; ++x)
            if (panel.lpData[(r / 8) * panel.nStride + x] & (1 << (r % 8))) out[size_t(r)][size_t(x)] = '#';
    return out;
}

std::vector<std::string> libraryPins(LumoHWND window, int bx, int by, int cell, int cols, int rows) {
    CaptureArea a{window, bx, by, cols * cell, rows * cell, 1, 1, 0, 30, 30, 20, 20};
    if (!lumoAreaCheck(&a)) return {};
    LumoHBITMAP bmp = lumoGetBmp(&a);
    if (!bmp) return {};
    DibHandle dib{};
    dib.hBitmap = bmp;
    const int opened = lumoOpenDib(&dib);
    lumoDeleteBitmap(bmp);
    dib.hBitmap = nullptr;
    if (!opened) return {};
    BinCondition cond{};
    cond.bMode = BIN_LIGHT | BIN_DARK;
    cond.fAutoThreshfold = 1;
    cond.bThreshfold = cond.bThreshfoldMin = cond.bThreshfoldMax = 128;
    ScanContext ctx{};
    ctx.dib = dib;
    ctx.lpCondition = &cond;
    ctx.nOriginX = ctx.nHistLeft = a.nMarginLeft;
    ctx.nOriginY = ctx.nHistTop = a.nMarginTop;
    ctx.nLimitX = ctx.nHistRight = a.nMarginLeft + a.cx;
    ctx.nLimitY = ctx.nHistBottom = a.nMarginTop + a.cy;
    ctx.nCellWidth = ctx.nCellHeight = cell;
    ctx.nLineThickness = 2;
    ctx.nHLineLength = 30;
    ctx.nVLineLength = 20;
    ctx.nDepthLimit = 10;
    lumoPreScan(&ctx);
    DotPanel* panel = lumoNewPanel(cols, rows);
    lumoSetPanel(&ctx, panel);
    std::vector<std::string> pins = panelRows(*panel, cols, rows);
    lumoFreePanel(panel);
    lumoCloseDib(&dib);
    return pins;
}

bool mixed(const std::vector<std::string>& rows) {
    std::string all;
    for (const auto& r : rows) all += r;
    return all.find('#') != std::string::npos && all.find('.') != std::string::npos;
}

}  // namespace tavik::test
