// Braille cell strings (see braille_text.h).
#include "screenviewer/pages/braille_text.h"

#include <cstdio>

#include "client/viewer/braille_cells.h"

namespace tavik::lumo {

namespace {
uint8_t digitCell(char d) { return viewer::asciiCell(d == '0' ? 'j' : static_cast<char>('a' + (d - '1'))); }
}  // namespace

void CellString::text(std::string_view text) {
    bool afterDigit = false;
    for (char ch : text) {
        const auto u = static_cast<unsigned char>(ch);
        if (u < 0x20 || u >= 0x7F) continue;
        const bool digit = ch >= '0' && ch <= '9';
        const bool letter = (ch >= 'a' && ch <= 'z') || (ch >= 'A' && ch <= 'Z');
        if (digit) {
            if (!afterDigit) push(kNumberSign);
            push(digitCell(ch));
        } else if (ch == '%') {
            push(0x06);
            push(0x71);
        } else {
            if (letter && afterDigit) push(kLetterSign);
            push(viewer::asciiCell(ch));
        }
        afterDigit = digit;
    }
}

void CellString::number(int64_t value) {
    if (value < 0) push(kMinusCell);
    char digits[24];
    const unsigned long long magnitude = value < 0 ? 0ULL - static_cast<unsigned long long>(value)
                                                   : static_cast<unsigned long long>(value);
    const int n = std::snprintf(digits, sizeof digits, "%llu", magnitude);
    push(kNumberSign);
    for (int i = 0; i < n; ++i) push(digitCell(digits[i]));
}

uint8_t toDeviceCell(uint8_t cell) { return viewer::deviceCell(cell); }

}  // namespace tavik::lumo
