// A pin panel owned by a test and the reading of braille cells back from it.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "screenviewer/pages/braille_text.h"
#include "screenviewer/pages/pin_canvas.h"

namespace tavik::lumo::test {

struct Panel {
    Panel(int w, int h) : bytes(static_cast<size_t>(w) * ((h + 7) / 8)), canvas(bytes, w, h, w) {}
    std::vector<uint8_t> bytes;
    PinCanvas canvas;
};

// The BrailleCell drawn at pin (x, y) (0x80 when no dot is raised).
inline uint8_t cellAt(const PinCanvas& p, int x, int y) {
    uint8_t cell = 0;
    for (int k = 0; k < 3; ++k) {
        if (p.raised(x, y + k)) cell |= static_cast<uint8_t>(0x10 << k);
        if (p.raised(x + 1, y + k)) cell |= static_cast<uint8_t>(0x01 << k);
    }
    return cell ? cell : 0x80;
}

// `count` cells from pin (x, y) at three columns per cell.
inline std::vector<uint8_t> cellsAt(const PinCanvas& p, int x, int y, int count) {
    std::vector<uint8_t> out;
    for (int i = 0; i < count; ++i) out.push_back(cellAt(p, x + 3 * i, y));
    return out;
}

inline std::vector<uint8_t> cellsOf(const std::string& text) {
    CellString s;
    s.text(text);
    return {s.cells().begin(), s.cells().end()};
}

}  // namespace tavik::lumo::test
