// Information pages on the pins (see info_pages.h).
#include "screenviewer/pages/info_pages.h"

#include <algorithm>

#include "screenviewer/pages/braille_text.h"
#include "screenviewer/pages/page_labels.h"

namespace tavik::lumo {

namespace {

constexpr uint8_t kAutoMarkCell = 0x14;  // "*"
constexpr uint8_t kRangeDashCell = 0x44; // "-"

Label colourLabel(uint16_t mode) { return static_cast<Label>((mode >> 4) & 7); }

// ceil(bar x length / largest), with a largest bar of 0 counting as 1.
int barLength(uint64_t bar, uint64_t largest, int length) {
    if (largest == 0) largest = 1;
    return static_cast<int>((bar * static_cast<uint64_t>(length) + largest - 1) / largest);
}

// The threshold, or the range when BIN_RANGE is set; automatic threshold marked.
CellString thresholdCells(const BinCondition& c) {
    CellString s;
    if (c.bMode & BIN_RANGE) {
        s.number(c.bThreshfoldMin);
        s.push(kRangeDashCell);
        s.number(c.bThreshfoldMax);
    } else {
        if (c.fAutoThreshfold) s.push(kAutoMarkCell);
        s.number(c.bThreshfold);
    }
    return s;
}

// A one-letter label and a number, drawn at column 0 of `row`.
void letterNumber(PinCanvas& p, int row, Label letter, int64_t value, bool japanese, bool mark = false,
                  bool markFirst = false) {
    CellString s;
    if (mark && markFirst) s.push(kValueMarkCell);
    s.append(label(letter, japanese));
    s.number(value);
    if (mark && !markFirst) s.push(kValueMarkCell);
    p.cells(0, row, s.cells());
}

void drawBars(PinCanvas& p, const uint32_t* histogram, int bars, int levelsPerBar, int bottomRow, int firstColumn,
              int length) {
    uint64_t value[32] = {};
    uint64_t largest = 0;
    for (int i = 0; i < bars; ++i) {
        for (int l = 0; l < levelsPerBar; ++l) value[i] = std::max<uint64_t>(value[i], histogram[i * levelsPerBar + l]);
        largest = std::max(largest, value[i]);
    }
    for (int i = 0; i < bars; ++i)
        p.rowRun(bottomRow - i, firstColumn, firstColumn + barLength(value[i], largest, length));
}

}  // namespace

void drawHistogramPage(PinCanvas& p, const BinCondition& c, bool japanese) {
    p.clear();
    drawBars(p, c.adwHistogram, 16, 16, 23, 11, 20);
    p.cells(0, 0, label(colourLabel(c.bMode), japanese));
    p.cells(0, 4, thresholdCells(c).cells());
    p.cells(0, 8, label(Label::Light, japanese));
    p.cells(0, 21, label(Label::Dark, japanese));
    const int upperRow = 23 - c.bThreshfoldMax / 16, lowerRow = 23 - c.bThreshfoldMin / 16;
    p.columnRun(8, upperRow, lowerRow);
    p.raise(9, 23 - c.bThreshfold / 16);
    const auto mark = [&](int from, int to) {
        for (int y = from; y <= to; ++y) {
            p.raise(6, y);
            p.raise(7, y);
        }
    };
    if (c.bMode & BIN_LIGHT) mark(8, upperRow - 1);
    if (c.bMode & BIN_EQUAL) mark(std::min(upperRow, lowerRow), std::max(upperRow, lowerRow));
    if (c.bMode & BIN_DARK) mark(lowerRow + 1, 23);
}

void drawLargeHistogram(PinCanvas& p, const BinCondition& c, bool japanese) {
    p.clear();
    drawBars(p, c.adwHistogram, 32, 8, 47, 17, 40);
    p.cells(0, 0, label(colourLabel(c.bMode), japanese));
    p.cells(0, 8, thresholdCells(c).cells());
    p.cells(0, 16, label(Label::Light, japanese));
    p.cells(0, 45, label(Label::Dark, japanese));
    const int t = 47 - c.bThreshfold / 8;
    p.raise(14, t);
    p.raise(15, t);
    for (int y = 16; y <= 47; ++y) {
        const bool on = (y < t && (c.bMode & BIN_LIGHT)) || (y == t && (c.bMode & BIN_EQUAL)) ||
                        (y > t && (c.bMode & BIN_DARK));
        if (on) {
            p.raise(12, y);
            p.raise(13, y);
        }
    }
}

void drawPositionPage(PinCanvas& p, const PositionPage& page, bool japanese) {
    p.clear();
    p.cells(0, 0, label(Label::Position, japanese));
    letterNumber(p, 5, Label::LetterX, page.x, japanese, page.viewValue);
    letterNumber(p, 10, Label::LetterY, page.y, japanese, page.viewValue);
    letterNumber(p, 15, Label::LetterD, page.cellSize, japanese);
    static constexpr char kModeLetter[3] = {'d', 'w', 'f'};
    CellString s;
    const int mode = std::clamp(page.scanningMode, 0, 2);
    const char modeText[2] = {kModeLetter[mode], 0};
    s.text(modeText);
    p.cells(0, 20, s.cells());
    if (page.overview) {
        CellString o;
        o.text(page.viewScope ? "v" : page.clientFit ? "c" : "h");
        p.cells(8, 20, o.cells());
    }
    if (page.emulation) {
        CellString m;
        m.text("m");
        p.cells(14, 20, m.cells());
    }
    if (page.mouseSync) {
        CellString m;
        m.text("s");
        p.cells(20, 20, m.cells());
    }
    const char* effect = page.effect == BIN_ERASE_GRID ? "g" : page.effect == BIN_OUTLINE ? "o"
                         : page.effect == BIN_CHARACTER ? "c" : nullptr;
    if (effect) {
        CellString e;
        e.text(effect);
        p.cells(26, 20, e.cells());
    }
}

int32_t viewLastPixel(int32_t base, int32_t pins, int32_t cell, int32_t imageSize, int32_t areaSize) {
    int64_t last = static_cast<int64_t>(base) + static_cast<int64_t>(pins) * cell - 1;
    if (areaSize > 0) last = std::min<int64_t>(last, static_cast<int64_t>(base) + areaSize - 1);
    last = std::min<int64_t>(last, static_cast<int64_t>(imageSize) - 1);
    return static_cast<int32_t>(std::max<int64_t>(last, 0));
}

void drawRangePage(PinCanvas& p, int32_t lastX, int32_t lastY, int32_t imageWidth, int32_t imageHeight,
                   bool japanese) {
    p.clear();
    p.cells(0, 0, label(Label::Range, japanese));
    letterNumber(p, 5, Label::LetterX, lastX, japanese, true, true);
    letterNumber(p, 10, Label::LetterY, lastY, japanese, true, true);
    letterNumber(p, 15, Label::LetterW, imageWidth, japanese);
    letterNumber(p, 20, Label::LetterH, imageHeight, japanese);
}

void drawPixelPage(PinCanvas& p, int red, int green, int blue, bool japanese) {
    p.clear();
    p.cells(0, 0, label(Label::Pixel, japanese));
    letterNumber(p, 5, Label::LetterR, red, japanese);
    letterNumber(p, 10, Label::LetterG, green, japanese);
    letterNumber(p, 15, Label::LetterB, blue, japanese);
    letterNumber(p, 20, Label::LetterA, (static_cast<int64_t>(red) + green + blue) / 3, japanese);
}

void drawStepPage(PinCanvas& p, int stepX, int stepY, bool japanese) {
    p.clear();
    p.cells(0, 0, label(Label::Step, japanese));
    letterNumber(p, 5, Label::LetterX, stepX, japanese);
    letterNumber(p, 10, Label::LetterY, stepY, japanese);
}

}  // namespace tavik::lumo
