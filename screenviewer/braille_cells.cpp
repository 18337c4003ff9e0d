// Braille cells: numbers, letters and the device's dot order.
#include "screenviewer/braille_cells.h"

#include <string>

namespace lumo {

namespace {
// a..j: the digit cells 1..9, 0.
constexpr uint8_t kLetters[26] = {0x10, 0x30, 0x11, 0x13, 0x12, 0x31, 0x33, 0x32, 0x21, 0x23, 0x50, 0x70, 0x51,
                                  0x53, 0x52, 0x71, 0x73, 0x72, 0x61, 0x63, 0x54, 0x74, 0x27, 0x55, 0x57, 0x56};
}  // namespace

uint8_t letterCell(char c) { return c >= 'a' && c <= 'z' ? kLetters[c - 'a'] : kEmptyCell; }

std::size_t renderNumber(std::span<uint8_t> cells, std::size_t at, int64_t value) {
    auto put = [&](uint8_t cell) {
        if (at < cells.size()) cells[at++] = cell;
    };
    if (value < 0) put(0x42);
    put(0x47);
    const std::string digits = std::to_string(value < 0 ? -(value + 1) + 1ull : uint64_t(value));
    for (char d : digits) put(d == '0' ? 0x23 : kLetters[d - '1']);
    return at;
}

std::array<uint8_t, kTextLineCells> toDeviceOrder(const TextLine& line) {
    std::array<uint8_t, kTextLineCells> out{};
    for (int i = 0; i < kTextLineCells; ++i) {
        const uint8_t c = line[i];
        if (c == 0) break;
        if (c == kEmptyCell) continue;
        uint8_t d = 0;
        if (c & 0x10) d |= 0x80;
        if (c & 0x20) d |= 0x40;
        if (c & 0x40) d |= 0x20;
        if (c & 0x01) d |= 0x08;
        if (c & 0x02) d |= 0x04;
        if (c & 0x04) d |= 0x02;
        if (c & 0x08) d |= 0x01;
        out[i] = d;
    }
    return out;
}

}  // namespace lumo
