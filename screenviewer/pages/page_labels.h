// The braille labels of the information pages and of the text line, in an
// English and a Japanese (kana braille) set. Built once, read-only after.
#pragma once

#include <cstdint>
#include <span>

namespace tavik::lumo {

enum class Label : uint8_t {
    // Colour filter values 0..7 (none, red, green, red+green, blue, ...).
    Colour0, Colour1, Colour2, Colour3, Colour4, Colour5, Colour6, Colour7,
    Light, Dark,                 // histogram row labels (light end, dark end)
    Position, Range, Pixel, Step,  // page titles
    LetterX, LetterY, LetterD, LetterW, LetterH, LetterR, LetterG, LetterB, LetterA,
    // Text line page labels (cells 4..11).
    LineSize, LineModes, LinePosition, LinePercent, LineCondition, LineRefresh,
    // Text line page 1 and 5 fields.
    MouseOn, MouseOff, ViewOn, ViewOff, RefreshNone, Refresh01, Refresh02,
    Count
};

std::span<const uint8_t> label(Label which, bool japanese);

}  // namespace tavik::lumo
