// The 32-cell braille status line of displays with a text line: the mode
// field (cells 0..3), the page label (4..11) and the page content (from 12),
// its conversion to the device's dot order and the change check that keeps
// an unchanged line from being sent again.
//
// Core use: after every refresh pass fill a TextLineInput, buildTextLine(),
// and when textCells is not 0: TextLineSender::update(line, force) gives the
// device bytes to pass to gdDisplayTextData, or an empty span when the line
// is the one sent last.
#pragma once

#include <array>
#include <cstdint>
#include <span>

namespace tavik::lumo {

constexpr size_t kTextLineCells = 32;

struct TextLineInput {
    int scanningMode = 2;  // cell 0: d, w, f
    bool overview = false, viewScope = false, clientFit = false;
    bool emulation = false, mouseSync = false;
    int page = 0;          // TextLinePage 0..5
    int subSelector = 0;   // 0..2
    bool desktop = false;  // the whole screen rather than a window
    int32_t imageWidth = 0, imageHeight = 0;
    int32_t left = 0, top = 0;           // view (ViewScope in overview)
    int32_t right = 0, bottom = 0;       // exclusive ends: left + pins x cell, top + pins x cell
    int32_t mouseX = 0, mouseY = 0;
    int32_t cellSize = 1;                // pixels per pin
    uint16_t bMode = 0;
    bool fAutoThreshfold = false;
    int threshold = 0;
    int refresh = 0;                     // refresh choice 0..3
};

struct TextLine {
    std::array<uint8_t, kTextLineCells + 1> cells{};  // BrailleCells, 0 at the end
};

void buildTextLine(const TextLineInput& in, bool japanese, TextLine& out);

// Device bytes of the cells up to the first 0; returns how many.
size_t toDeviceLine(const TextLine& line, std::span<uint8_t, kTextLineCells> out);

class TextLineSender {
public:
    // The device bytes to send, or empty when they equal the last line sent
    // and `force` is not set. The returned bytes are remembered as sent.
    std::span<const uint8_t> update(const TextLine& line, bool force);

private:
    std::array<uint8_t, kTextLineCells> last_{};
    size_t lastSize_ = 0;
    bool sentOnce_ = false;
};

}  // namespace tavik::lumo
