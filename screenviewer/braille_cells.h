// Braille cells as the viewer writes them (0x10, 0x20, 0x40 dots 1-3; 0x01,
// 0x02, 0x04 dots 4-6; 0x80 empty; 0 ends a string), numbers in braille, the
// minimal status text line, and the conversion to the device's dot order.
#pragma once

#include <array>
#include <cstdint>
#include <span>

namespace lumo {

inline constexpr uint8_t kEmptyCell = 0x80;
inline constexpr int kTextLineCells = 32;
using TextLine = std::array<uint8_t, kTextLineCells + 1>;  // 32 cells and a terminating 0

// Writes the number sign and one digit cell per decimal digit (0x42 before a
// negative number) from `at`; returns the position after it. Never writes
// past `cells`.
std::size_t renderNumber(std::span<uint8_t> cells, std::size_t at, int64_t value);
// The braille letter cell of 'a'..'z' (lower case), or the empty cell.
uint8_t letterCell(char c);
// The device's dot order: dots 1, 2, 3 -> 0x80, 0x40, 0x20; dots 4, 5, 6 ->
// 0x08, 0x04, 0x02; bit 0x08 -> 0x01; the empty cell becomes 0. Cells after
// the first 0 stay 0.
std::array<uint8_t, kTextLineCells> toDeviceOrder(const TextLine& line);

}  // namespace lumo
