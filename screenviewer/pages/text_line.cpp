// The device text line (see text_line.h).
#include "screenviewer/pages/text_line.h"

#include <algorithm>
#include <cstdio>
#include <cstring>

#include "screenviewer/pages/braille_text.h"
#include "screenviewer/pages/page_labels.h"

namespace tavik::lumo {

namespace {

constexpr uint8_t kChosenRefreshCell = 0x41;

// Copies cells to [at, limit) of the line.
void place(TextLine& line, size_t at, std::span<const uint8_t> cells, size_t limit = kTextLineCells) {
    for (uint8_t c : cells) {
        if (at >= limit || at >= kTextLineCells) break;
        line.cells[at++] = c;
    }
}

void placeText(TextLine& line, size_t at, const char* text, size_t limit = kTextLineCells) {
    CellString s;
    s.text(text);
    place(line, at, s.cells(), limit);
}

int percent(int64_t value, int64_t size) {
    if (size <= 0) return 0;
    return static_cast<int>(std::clamp<int64_t>(value * 100 / size, 0, 100));
}

void positionPage(TextLine& line, const TextLineInput& in, bool percentages) {
    char x[40], y[40], d[24];
    const int32_t px = in.emulation ? in.mouseX : in.left;
    const int32_t py = in.emulation ? in.mouseY : in.top;
    const int sub = in.emulation ? 0 : std::clamp(in.subSelector, 0, 2);
    if (percentages) {
        std::snprintf(x, sizeof x, "X%d%%", percent(px, in.imageWidth));
        std::snprintf(y, sizeof y, "Y%d%%", percent(py, in.imageHeight));
        if (sub == 1)
            std::snprintf(x, sizeof x, "X%d - %d%%", percent(in.left, in.imageWidth), percent(in.right, in.imageWidth));
        if (sub == 2)
            std::snprintf(y, sizeof y, "Y%d - %d%%", percent(in.top, in.imageHeight),
                          percent(in.bottom, in.imageHeight));
    } else {
        std::snprintf(x, sizeof x, "X%d", px);
        std::snprintf(y, sizeof y, "Y%d", py);
        if (sub == 1)
            std::snprintf(x, sizeof x, "X%d - %d", in.left, std::max(0, std::min(in.right, in.imageWidth) - 1));
        if (sub == 2)
            std::snprintf(y, sizeof y, "Y%d - %d", in.top, std::max(0, std::min(in.bottom, in.imageHeight) - 1));
    }
    std::snprintf(d, sizeof d, "D%d", in.cellSize);
    const bool mouseOnly = percentages && in.emulation;
    switch (sub) {
    case 0:
        placeText(line, 12, x, 19);
        placeText(line, 19, y, 26);
        if (!mouseOnly) placeText(line, 26, d);
        break;
    case 1:
        placeText(line, 12, x, 26);
        placeText(line, 26, d);
        break;
    default:
        placeText(line, 12, x, 19);
        placeText(line, 19, y);
        break;
    }
}

}  // namespace

void buildTextLine(const TextLineInput& in, bool japanese, TextLine& line) {
    std::fill(line.cells.begin(), line.cells.end() - 1, kEmptyCell);
    line.cells[kTextLineCells] = 0;

    static constexpr const char* kModes[3] = {"d", "w", "f"};
    placeText(line, 0, kModes[std::clamp(in.scanningMode, 0, 2)], 1);
    if (in.overview) placeText(line, 1, in.viewScope ? "v" : in.clientFit ? "c" : "h", 2);
    if (in.emulation) placeText(line, 2, "m", 3);
    if (in.mouseSync) placeText(line, 3, "s", 4);

    const int page = std::clamp(in.page, 0, 5);
    static constexpr Label kPageLabel[6] = {Label::LineSize, Label::LineModes, Label::LinePosition,
                                            Label::LinePercent, Label::LineCondition, Label::LineRefresh};
    place(line, 4, label(kPageLabel[page], japanese), 12);

    char text[64];
    switch (page) {
    case 0:
        std::snprintf(text, sizeof text, in.desktop ? "Desktop %d  %d" : "Window  %d  %d", in.imageWidth,
                      in.imageHeight);
        placeText(line, 12, text);
        break;
    case 1:
        place(line, 12, label(in.emulation ? Label::MouseOn : Label::MouseOff, japanese), 22);
        place(line, 22, label(in.overview ? Label::ViewOn : Label::ViewOff, japanese));
        break;
    case 2:
    case 3:
        positionPage(line, in, page == 3);
        break;
    case 4:
        std::snprintf(text, sizeof text, "%s%s%s %c%d/255", (in.bMode & 0x01) ? "L" : " ",
                      (in.bMode & 0x02) ? "T" : " ", (in.bMode & 0x04) ? "D" : " ", in.fAutoThreshfold ? '*' : ' ',
                      std::clamp(in.threshold, 0, 255));
        placeText(line, 12, text);
        break;
    default: {
        static constexpr size_t kField[3] = {12, 18, 26};
        static constexpr Label kText[3] = {Label::RefreshNone, Label::Refresh01, Label::Refresh02};
        for (size_t i = 0; i < 3; ++i) place(line, kField[i], label(kText[i], japanese), i < 2 ? kField[i + 1] : 32);
        if (in.refresh >= 0 && in.refresh <= 2) line.cells[kField[static_cast<size_t>(in.refresh)]] = kChosenRefreshCell;
        break;
    }
    }
}

size_t toDeviceLine(const TextLine& line, std::span<uint8_t, kTextLineCells> out) {
    size_t n = 0;
    while (n < kTextLineCells && line.cells[n] != 0) {
        out[n] = toDeviceCell(line.cells[n]);
        ++n;
    }
    return n;
}

std::span<const uint8_t> TextLineSender::update(const TextLine& line, bool force) {
    std::array<uint8_t, kTextLineCells> bytes{};
    const size_t n = toDeviceLine(line, bytes);
    if (!force && sentOnce_ && n == lastSize_ && std::memcmp(bytes.data(), last_.data(), n) == 0) return {};
    last_ = bytes;
    lastSize_ = n;
    sentOnce_ = true;
    return {last_.data(), lastSize_};
}

}  // namespace tavik::lumo
