// Braille cells of the viewer's status line and status screens. Internal cell
// form: dots 1, 2, 3 in bits 4, 5, 6, dots 4, 5, 6 in bits 0, 1, 2; 0x80 is a
// blank cell. Text is computer braille (North American ASCII table) with
// number signs; Japanese labels are written in kana braille.
#pragma once

#include <cstdint>
#include <string_view>
#include <vector>

namespace tavik::viewer {

constexpr uint8_t kBlankCell = 0x80;
constexpr uint8_t kNumberSign = 0x47;   // dots 3, 4, 5, 6
constexpr uint8_t kLetterSign = 0x06;   // dots 5, 6: a letter right after a digit
constexpr uint8_t kMinusSign = 0x42;    // before the number sign of a negative value

// The cell of one dot list such as "1456" (digits 1..6).
constexpr uint8_t dots(std::string_view list) {
    uint8_t cell = 0;
    for (char d : list) {
        if (d >= '1' && d <= '3') cell |= static_cast<uint8_t>(0x10 << (d - '1'));
        if (d >= '4' && d <= '6') cell |= static_cast<uint8_t>(0x01 << (d - '4'));
    }
    return cell;
}

// The cell of one printable ASCII character (case-insensitive; space is blank);
// 0 for a control character.
uint8_t asciiCell(char c);
// ASCII text to cells: digits as letters a..j after a number sign, a letter
// sign between a digit and a letter, "%" as two cells, control characters dropped.
std::vector<uint8_t> toBrailleCells(std::string_view text);
// Kana braille of space-separated romanised syllables ("ga zo u"); voiced and
// half-voiced syllables get their prefix cell. Unknown syllables are skipped.
std::vector<uint8_t> kanaCells(std::string_view syllables);
// The display's text cell byte of an internal cell: dot 1 in bit 7, dot 2 bit 6,
// dot 3 bit 5, dot 4 bit 3, dot 5 bit 2, dot 6 bit 1; internal bits 7 and 3 go to
// bits 4 and 0. A blank becomes 0.
uint8_t deviceCell(uint8_t cell);

}  // namespace tavik::viewer
