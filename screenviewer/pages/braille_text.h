// Braille cell strings without allocation: texts and numbers turned into
// BrailleCells (dots 1, 2, 3 = 0x10, 0x20, 0x40; dots 4, 5, 6 = 0x01, 0x02,
// 0x04; 0x80 an empty cell) for the pages and the text line.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <span>
#include <string_view>

namespace tavik::lumo {

constexpr uint8_t kEmptyCell = 0x80;
constexpr uint8_t kNumberSign = 0x47;
constexpr uint8_t kLetterSign = 0x06;
constexpr uint8_t kMinusCell = 0x42;

class CellString {
public:
    static constexpr size_t kCapacity = 48;
    void push(uint8_t cell) {
        if (size_ < kCapacity) cells_[size_++] = cell;
    }
    void append(std::span<const uint8_t> cells) {
        for (uint8_t c : cells) push(c);
    }
    // Text: a run of digits starts with the number sign and uses the digit
    // cells (1..9, 0 as the letters a..j); a letter right after a digit run
    // gets the letter sign; "%" is 0x06 0x71; characters below the space are
    // dropped; the rest follow North American Braille ASCII (space: 0x80).
    void text(std::string_view text);
    // RenderNumber: the number sign and one cell per digit; 0x42 in front of a negative number.
    void number(int64_t value);
    std::span<const uint8_t> cells() const { return {cells_.data(), size_}; }
    size_t size() const { return size_; }

private:
    std::array<uint8_t, kCapacity> cells_{};
    size_t size_ = 0;
};

// The device's dot order of a BrailleCell: dots 1, 2, 3 to 0x80, 0x40, 0x20,
// dots 4, 5, 6 to 0x08, 0x04, 0x02, bit 0x08 to 0x01; an empty cell is 0.
uint8_t toDeviceCell(uint8_t cell);

}  // namespace tavik::lumo
