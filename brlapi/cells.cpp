// Dot order, cursor and pin-field drawing of braille cells.
#include "brlapi/cells.h"

#include <algorithm>

#include "brlapi/protocol.h"

namespace tavik::brl {

uint8_t toDeviceOrder(uint8_t cell) {
    // Device bit of dot 1..8.
    static constexpr uint8_t kBit[8] = {0x80, 0x40, 0x20, 0x08, 0x04, 0x02, 0x10, 0x01};
    uint8_t out = 0;
    for (int dot = 0; dot < 8; ++dot)
        if (cell & (1u << dot)) out |= kBit[dot];
    return out;
}

PinGrid pinGrid(int width, int height) {
    if (width < kCellPinsX || height < kCellPinsY) return {};
    // n cells need n * (pins + gap) - gap pins.
    return {(width + kCellGapX) / (kCellPinsX + kCellGapX), (height + kCellGapY) / (kCellPinsY + kCellGapY)};
}

std::vector<uint8_t> drawOnPins(std::span<const uint8_t> cells, PinGrid grid, int width, int height) {
    if (width <= 0 || height <= 0) return {};
    const std::size_t w = static_cast<std::size_t>(width);
    std::vector<uint8_t> plane(w * ((static_cast<std::size_t>(height) + 7) / 8), 0);
    // Pin offset of dot 1..8 inside the cell.
    static constexpr int kDx[8] = {0, 0, 0, 1, 1, 1, 0, 1};
    static constexpr int kDy[8] = {0, 1, 2, 0, 1, 2, 3, 3};
    const std::size_t shown = std::min(cells.size(), static_cast<std::size_t>(grid.columns) * grid.rows);
    for (std::size_t i = 0; i < shown; ++i) {
        const int col = static_cast<int>(i % static_cast<std::size_t>(grid.columns));
        const int row = static_cast<int>(i / static_cast<std::size_t>(grid.columns));
        for (int dot = 0; dot < 8; ++dot) {
            if (!(cells[i] & (1u << dot))) continue;
            const int x = col * (kCellPinsX + kCellGapX) + kDx[dot];
            const int y = row * (kCellPinsY + kCellGapY) + kDy[dot];
            if (x >= width || y >= height) continue;
            plane[static_cast<std::size_t>(y / 8) * w + static_cast<std::size_t>(x)] |= static_cast<uint8_t>(1u << (y % 8));
        }
    }
    return plane;
}

std::vector<uint8_t> composeCells(std::span<const uint8_t> dots, std::span<const uint8_t> andMask,
                                  std::span<const uint8_t> orMask, uint32_t cursor) {
    std::vector<uint8_t> out(dots.begin(), dots.end());
    for (std::size_t i = 0; i < out.size(); ++i) {
        if (i < andMask.size()) out[i] &= andMask[i];
        if (i < orMask.size()) out[i] |= orMask[i];
    }
    if (cursor >= 1 && cursor <= out.size()) out[cursor - 1] |= kCursorDots;
    return out;
}

}  // namespace tavik::brl
