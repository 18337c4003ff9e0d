// Braille cells after translation: the device's dot order for the text line,
// the cursor, and cells drawn on the pin field as a multi-line display.
// Cells here are one byte each, bit n-1 = dot n (dots 1..8).
#pragma once

#include <cstdint>
#include <span>
#include <vector>

namespace tavik::brl {

// The text line's dot order: dots 1, 2, 3, 7 -> 0x80, 0x40, 0x20, 0x10 (left
// column, top down) and dots 4, 5, 6, 8 -> 0x08, 0x04, 0x02, 0x01 (right column).
uint8_t toDeviceOrder(uint8_t cell);

// A braille cell on the pin field is 2 pins wide and 4 high, with one empty
// column between cells and one empty row between lines.
constexpr int kCellPinsX = 2, kCellPinsY = 4, kCellGapX = 1, kCellGapY = 1;
struct PinGrid {
    int columns = 0, rows = 0;
};
// How many cells fit on a pin field of width x height pins (0 x 0 when none).
PinGrid pinGrid(int width, int height);
// Draws `cells` (row after row, grid.columns a row) into a banded dot plane of
// width x ceil(height / 8) bytes: byte b * width + x holds column x of pin rows
// 8b..8b+7, bit k = row 8b + k. Cells beyond the grid are not drawn.
std::vector<uint8_t> drawOnPins(std::span<const uint8_t> cells, PinGrid grid, int width, int height);

// What a client's window shows, cell by cell: `dots` ANDed with `andMask`,
// ORed with `orMask`, and dots 7 and 8 under the cursor (1-based, 0 none).
std::vector<uint8_t> composeCells(std::span<const uint8_t> dots, std::span<const uint8_t> andMask,
                                  std::span<const uint8_t> orMask, uint32_t cursor);

}  // namespace tavik::brl
