// Composition of the status cell line (see status_line.h).
#include "client/viewer/status_line.h"

#include <algorithm>
#include <cstdio>
#include <vector>

#include "client/viewer/braille_cells.h"

namespace tavik::viewer {

namespace {

template <typename... A>
std::string format(const char* f, A... args) {
    char buffer[96];
    std::snprintf(buffer, sizeof buffer, f, args...);
    return buffer;
}

int percent(int value, int size) { return size > 0 ? static_cast<int>(int64_t{value} * 100 / size) : 0; }

// "X%d" or "X%d - %d", optionally as percentages.
std::string axisText(char axis, int first, int last, int size, bool range, bool relative) {
    if (relative) {
        first = percent(first, size);
        last = percent(last, size);
    }
    if (range && first != last) return format(relative ? "%c%d - %d%%" : "%c%d - %d", axis, first, last);
    return format(relative ? "%c%d%%" : "%c%d", axis, first);
}

struct PageLabel {
    const char* english;
    const char* kana;
};

constexpr PageLabel kPageLabels[kStatusPages] = {
    {"size", "sa i zu"}, {"mode", "mo - do"}, {"pos", "i ti"}, {"rel", "wa ri a i"}, {"cond", "ni ti ka"},
};

void put(StatusLine& line, int at, const std::vector<uint8_t>& cells) {
    for (size_t i = 0; i < cells.size() && at + static_cast<int>(i) < kStatusCells; ++i)
        line.cells[at + i] = cells[i];
}

void putMirror(StatusLine& line, int at, const std::string& text) {
    for (size_t i = 0; i < text.size() && at + static_cast<int>(i) < kStatusCells; ++i) line.mirror[at + i] = text[i];
}

}  // namespace

std::string statusPageText(const StatusSnapshot& s) {
    switch (s.page) {
    case 0:
        return format("Bitmap  %d  %d", s.imageWidth, s.imageHeight);
    case 2:
    case 3: {
        const bool relative = s.page == 3;
        const bool range = !s.single;
        const std::string xs = axisText('X', s.firstX, s.lastX, s.imageWidth, false, relative);
        const std::string ys = axisText('Y', s.firstY, s.lastY, s.imageHeight, false, relative);
        const std::string xl = axisText('X', s.firstX, s.lastX, s.imageWidth, range, relative);
        const std::string yl = axisText('Y', s.firstY, s.lastY, s.imageHeight, range, relative);
        if (s.layout == 1) return format("%-10s  %s  ", xl.c_str(), ys.c_str());
        if (s.layout == 2) return format("%-5s  %-10s  ", xs.c_str(), yl.c_str());
        return format("%-5s  %-5s  %s  ", xs.c_str(), ys.c_str(), format("D%d", s.division).c_str());
    }
    case 4:
        return format("%s%s%s %c%d/255", (s.mode & 0x01) ? "L" : " ", (s.mode & 0x02) ? "T" : " ",
                      (s.mode & 0x04) ? "D" : " ", s.autoThreshold ? '*' : ' ', s.threshold);
    default:
        return {};
    }
}

StatusLine buildStatusLine(const StatusSnapshot& s) {
    StatusLine line;
    line.cells.fill(kBlankCell);
    line.mirror.assign(kStatusCells, ' ');
    line.cells[0] = asciiCell('b');
    line.mirror[0] = 'B';
    if (s.overview) {
        line.cells[1] = asciiCell(s.frame ? 'v' : 'h');
        line.mirror[1] = s.frame ? 'V' : 'H';
    }
    if (s.pointer) {
        line.cells[2] = asciiCell('m');
        line.mirror[2] = 'M';
    }
    const int page = std::clamp(s.page, 0, kStatusPages - 1);
    const PageLabel& label = kPageLabels[page];
    put(line, 4, s.japanese ? kanaCells(label.kana) : toBrailleCells(label.english));
    putMirror(line, 4, label.english);

    if (page == 1) {
        // Two switches: the pointer (cells 13..22) and the overview (cells 23..32).
        const auto state = [&](bool on) {
            return s.japanese ? kanaCells(on ? "o n" : "o hu") : toBrailleCells(on ? "on" : "off");
        };
        std::vector<uint8_t> mouse = s.japanese ? kanaCells("ma u su") : toBrailleCells("mouse");
        mouse.push_back(kBlankCell);
        for (uint8_t c : state(s.pointer)) mouse.push_back(c);
        std::vector<uint8_t> whole = s.japanese ? kanaCells("ze n ta i") : toBrailleCells("whole");
        whole.push_back(kBlankCell);
        for (uint8_t c : state(s.overview)) whole.push_back(c);
        mouse.resize(std::min<size_t>(mouse.size(), 10));
        put(line, kStatusValueCell, mouse);
        put(line, kStatusValueCell + 10, whole);
        putMirror(line, kStatusValueCell, s.pointer ? "mouse on" : "mouse off");
        putMirror(line, kStatusValueCell + 10, s.overview ? "whole on" : "whole off");
        return line;
    }
    const std::string text = statusPageText(s);
    put(line, kStatusValueCell, toBrailleCells(text));
    putMirror(line, kStatusValueCell, text);
    return line;
}

}  // namespace tavik::viewer
