// Drawing of the status screens (see status_screens.h).
#include "client/viewer/status_screens.h"

#include <algorithm>
#include <cstdlib>
#include <string>

#include "client/viewer/braille_cells.h"

namespace tavik::viewer {

void Canvas::clear() { std::fill(data_.begin(), data_.end(), uint8_t{0}); }

void Canvas::set(int x, int y) {
    if (x < 0 || y < 0 || x >= width_ || y >= height_) return;
    const size_t at = static_cast<size_t>(y / 8) * width_ + x;
    if (at < data_.size()) data_[at] |= static_cast<uint8_t>(1u << (y % 8));
}

bool Canvas::get(int x, int y) const {
    if (x < 0 || y < 0 || x >= width_ || y >= height_) return false;
    const size_t at = static_cast<size_t>(y / 8) * width_ + x;
    return at < data_.size() && (data_[at] >> (y % 8)) & 1;
}

int Canvas::cells(int x, int y, std::span<const uint8_t> cells) {
    for (uint8_t cell : cells) {
        if (x + 2 > width_) break;
        if (cell != kBlankCell) {
            for (int k = 0; k < 3; ++k) {
                if (cell & (0x10 << k)) set(x, y + k);      // dots 1, 2, 3
                if (cell & (0x01 << k)) set(x + 1, y + k);  // dots 4, 5, 6
            }
        }
        x += 3;
    }
    return x;
}

std::vector<uint8_t> numberCells(int value) {
    std::vector<uint8_t> out;
    if (value < 0) out.push_back(kMinusSign);
    const auto digits = toBrailleCells(std::to_string(std::abs(static_cast<long>(value))));
    out.insert(out.end(), digits.begin(), digits.end());
    return out;
}

namespace {

constexpr int kLinePitch = 4;

std::vector<uint8_t> label(std::string_view english, std::string_view kana, bool japanese) {
    return japanese ? kanaCells(kana) : toBrailleCells(english);
}

// One line: a label, a blank and a number.
void labelledNumber(Canvas& c, int line, std::string_view english, std::string_view kana, int value,
                    bool japanese) {
    auto cells = label(english, kana, japanese);
    cells.push_back(kBlankCell);
    const auto number = numberCells(value);
    cells.insert(cells.end(), number.begin(), number.end());
    c.cells(0, line * kLinePitch, cells);
}

std::vector<uint8_t> colourName(int colour, bool japanese) {
    if (colour == 0) return label("-", "na si", japanese);
    std::vector<uint8_t> out;
    const auto add = [&](std::vector<uint8_t> v) { out.insert(out.end(), v.begin(), v.end()); };
    if (colour & 1) add(label("r", "a ka", japanese));
    if (colour & 2) add(label("g", "mi do ri", japanese));
    if (colour & 4) add(label("b", "a o", japanese));
    return out;
}

std::vector<uint8_t> thresholdCells(const BinCondition& cond) {
    if (!(cond.bMode & BIN_RANGE)) return numberCells(cond.bThreshfold);
    auto out = numberCells(cond.bThreshfoldMin);
    out.push_back(dots("36"));  // "-"
    const auto hi = numberCells(cond.bThreshfoldMax);
    out.insert(out.end(), hi.begin(), hi.end());
    return out;
}

// Whether grey level g is selected by the comparison of the condition.
bool selected(const BinCondition& cond, int g) {
    int m = cond.bMode & 0x0F;
    if (m == 0 || m > 6) m = 5;
    const int lo = (cond.bMode & BIN_RANGE) ? cond.bThreshfoldMin : cond.bThreshfold;
    const int hi = (cond.bMode & BIN_RANGE) ? cond.bThreshfoldMax : cond.bThreshfold;
    return ((m & 1) && g > hi) || ((m & 2) && g >= lo && g <= hi) || ((m & 4) && g < lo);
}

// Bars of `levels` grey levels each across the plane, scaled to `height` dots,
// standing on the bottom row; the fill row above them marks the selected bars
// and the gap column of a bar holding a bound carries a dotted mark.
void histogram(Canvas& c, const BinCondition& cond, int bars, int height) {
    if (height <= 0 || bars <= 0 || bars > 64) return;  // no room below the top line
    const int levels = 256 / bars;
    const int barWidth = std::max(1, c.width() / bars);
    const int bottom = c.height() - 1;
    const int topRow = c.height() - height;
    uint32_t peaks[64] = {};
    uint32_t peak = 0;
    for (int i = 0; i < bars; ++i) {
        for (int l = 0; l < levels; ++l) peaks[i] = std::max(peaks[i], cond.adwHistogram[i * levels + l]);
        peak = std::max(peak, peaks[i]);
    }
    const int lo = (cond.bMode & BIN_RANGE) ? cond.bThreshfoldMin : cond.bThreshfold;
    const int hi = (cond.bMode & BIN_RANGE) ? cond.bThreshfoldMax : cond.bThreshfold;
    for (int i = 0; i < bars; ++i) {
        const int x0 = i * barWidth;
        const int barCols = std::max(1, barWidth - 1);
        const int dotsHigh =
            peak == 0 ? 0 : static_cast<int>((uint64_t{peaks[i]} * height + peak - 1) / peak);  // >= 1 when present
        for (int x = x0; x < x0 + barCols; ++x)
            for (int k = 0; k < dotsHigh; ++k) c.set(x, bottom - k);
        bool any = false;
        for (int l = 0; l < levels; ++l) any = any || selected(cond, i * levels + l);
        if (any)
            for (int x = x0; x < x0 + barWidth; ++x) c.set(x, topRow - 1);
        const auto holds = [&](int level) { return level / levels == i; };
        if (holds(lo) || holds(hi))
            for (int y = topRow; y <= bottom; y += 2) c.set(x0 + barWidth - 1, y);
    }
}

}  // namespace

namespace {

// The colour filter and the threshold in the top line, a histogram below.
void drawConditionWithHistogram(Canvas& c, const BinCondition& cond, bool japanese, int levels, int maxHeight) {
    c.clear();
    auto line = colourName((cond.bMode >> 4) & 7, japanese);
    line.push_back(kBlankCell);
    const auto t = thresholdCells(cond);
    line.insert(line.end(), t.begin(), t.end());
    c.cells(0, 0, line);
    // The bars stand below the top line; a display too low for them shows the line alone.
    histogram(c, cond, levels, std::clamp(c.height() - 4, 0, maxHeight));
}

}  // namespace

void drawConditionScreen(Canvas& c, const BinCondition& cond, bool japanese) {
    drawConditionWithHistogram(c, cond, japanese, 16, 20);
}

void drawLargeHistogramScreen(Canvas& c, const BinCondition& cond, bool japanese) {
    drawConditionWithHistogram(c, cond, japanese, 32, 40);
}

void drawPositionScreen(Canvas& c, int x, int y, int division, bool overview, bool frame, bool pointer,
                        bool japanese) {
    c.clear();
    labelledNumber(c, 0, "x", "yo ko", x, japanese);
    labelledNumber(c, 1, "y", "ta te", y, japanese);
    labelledNumber(c, 2, "d", "ba i", division, japanese);
    std::vector<uint8_t> marks;
    const auto add = [&](std::vector<uint8_t> v) {
        marks.insert(marks.end(), v.begin(), v.end());
        marks.push_back(kBlankCell);
    };
    if (overview) add(frame ? label("v", "ze n ta i", japanese) : label("h", "ze n ta i", japanese));
    if (pointer) add(label("m", "ma u su", japanese));
    c.cells(0, 3 * kLinePitch, marks);
}

void drawSizeScreen(Canvas& c, int lastX, int lastY, int imageWidth, int imageHeight, bool japanese) {
    c.clear();
    labelledNumber(c, 0, "r", "mi gi", lastX, japanese);
    labelledNumber(c, 1, "b", "si ta", lastY, japanese);
    labelledNumber(c, 2, "w", "ha ba", imageWidth, japanese);
    labelledNumber(c, 3, "h", "ta ka", imageHeight, japanese);
}

void drawColourScreen(Canvas& c, int red, int green, int blue, bool japanese) {
    c.clear();
    labelledNumber(c, 0, "r", "a ka", red, japanese);
    labelledNumber(c, 1, "g", "mi do", green, japanese);
    labelledNumber(c, 2, "b", "a o", blue, japanese);
    labelledNumber(c, 3, "a", "he i", (red + green + blue) / 3, japanese);
}

void drawScrollStepScreen(Canvas& c, int stepX, int stepY, bool japanese) {
    c.clear();
    labelledNumber(c, 0, "sx", "yo ko", stepX, japanese);
    labelledNumber(c, 1, "sy", "ta te", stepY, japanese);
}

}  // namespace tavik::viewer
