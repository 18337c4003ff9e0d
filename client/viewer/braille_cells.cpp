// Braille cell tables and conversions (see braille_cells.h).
#include "client/viewer/braille_cells.h"

#include <array>
#include <string>

namespace tavik::viewer {

namespace {

// Computer braille for 0x20..0x5F; 0x60..0x7F use the cell of the character 0x20 below.
constexpr std::array<std::string_view, 64> kAsciiDots = {
    "",      "2346", "5",     "3456", "1246",  "146",   "12346", "3",      // space ! " # $ % & '
    "12356", "23456", "16",   "346",  "6",     "36",    "46",    "34",     // ( ) * + , - . /
    "356",   "2",     "23",   "25",   "256",   "26",    "235",   "2356",   // 0..7
    "236",   "35",    "156",  "56",   "126",   "123456", "345",  "1456",   // 8 9 : ; < = > ?
    "4",     "1",     "12",   "14",   "145",   "15",    "124",   "1245",   // @ A..G
    "125",   "24",    "245",  "13",   "123",   "134",   "1345",  "135",    // H..O
    "1234",  "12345", "1235", "234",  "2345",  "136",   "1236",  "2456",   // P..W
    "1346",  "13456", "1356", "246",  "1256",  "12456", "45",    "456",    // X Y Z [ \ ] ^ _
};

struct Kana {
    std::string_view name;
    std::string_view dots;
    uint8_t prefix;  // 0, or the voiced (dot 5) / half-voiced (dot 6) prefix
};

constexpr uint8_t kVoiced = dots("5");
constexpr uint8_t kHalfVoiced = dots("6");

constexpr Kana kKana[] = {
    {"a", "1", 0},      {"i", "12", 0},     {"u", "14", 0},     {"e", "124", 0},    {"o", "24", 0},
    {"ka", "16", 0},    {"ki", "126", 0},   {"ku", "146", 0},   {"ke", "1246", 0},  {"ko", "246", 0},
    {"sa", "156", 0},   {"si", "1256", 0},  {"su", "1456", 0},  {"se", "12456", 0}, {"so", "2456", 0},
    {"ta", "135", 0},   {"ti", "1235", 0},  {"tu", "1345", 0},  {"te", "12345", 0}, {"to", "2345", 0},
    {"na", "13", 0},    {"ni", "123", 0},   {"nu", "134", 0},   {"ne", "1234", 0},  {"no", "234", 0},
    {"ha", "136", 0},   {"hi", "1236", 0},  {"hu", "1346", 0},  {"he", "12346", 0}, {"ho", "2346", 0},
    {"ma", "1356", 0},  {"mi", "12356", 0}, {"mu", "13456", 0}, {"me", "123456", 0}, {"mo", "23456", 0},
    {"ya", "34", 0},    {"yu", "346", 0},   {"yo", "345", 0},
    {"ra", "15", 0},    {"ri", "125", 0},   {"ru", "145", 0},   {"re", "1245", 0},  {"ro", "245", 0},
    {"wa", "3", 0},     {"n", "356", 0},    {"-", "25", 0},     {"xtu", "2", 0},
    {"ga", "16", kVoiced},  {"gi", "126", kVoiced},  {"gu", "146", kVoiced},  {"ge", "1246", kVoiced},
    {"go", "246", kVoiced}, {"za", "156", kVoiced},  {"zi", "1256", kVoiced}, {"zu", "1456", kVoiced},
    {"ze", "12456", kVoiced}, {"zo", "2456", kVoiced}, {"da", "135", kVoiced}, {"de", "12345", kVoiced},
    {"do", "2345", kVoiced}, {"ba", "136", kVoiced}, {"bi", "1236", kVoiced}, {"bu", "1346", kVoiced},
    {"be", "12346", kVoiced}, {"bo", "2346", kVoiced}, {"pa", "136", kHalfVoiced}, {"pi", "1236", kHalfVoiced},
    {"pu", "1346", kHalfVoiced}, {"pe", "12346", kHalfVoiced}, {"po", "2346", kHalfVoiced},
};

}  // namespace

uint8_t asciiCell(char c) {
    const auto u = static_cast<unsigned char>(c);
    if (u < 0x20 || u >= 0x7F) return 0;
    if (u == ' ') return kBlankCell;
    const unsigned index = (u >= 0x60 ? u - 0x40 : u - 0x20);
    return dots(kAsciiDots[index]);
}

std::vector<uint8_t> toBrailleCells(std::string_view text) {
    std::vector<uint8_t> cells;
    cells.reserve(text.size() * 2);
    bool afterDigit = false;
    for (char c : text) {
        const auto u = static_cast<unsigned char>(c);
        if (u < 0x20 || u >= 0x7F) continue;  // control characters are dropped
        const bool digit = c >= '0' && c <= '9';
        const bool letter = (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z');
        if (digit) {
            if (!afterDigit) cells.push_back(kNumberSign);
            cells.push_back(asciiCell(c == '0' ? 'j' : static_cast<char>('a' + (c - '1'))));
        } else if (c == '%') {
            cells.push_back(dots("56"));
            cells.push_back(dots("1234"));
        } else {
            if (letter && afterDigit) cells.push_back(kLetterSign);
            cells.push_back(asciiCell(c));
        }
        afterDigit = digit;
    }
    return cells;
}

std::vector<uint8_t> kanaCells(std::string_view syllables) {
    std::vector<uint8_t> cells;
    size_t pos = 0;
    while (pos < syllables.size()) {
        size_t end = syllables.find(' ', pos);
        if (end == std::string_view::npos) end = syllables.size();
        const std::string_view name = syllables.substr(pos, end - pos);
        for (const Kana& k : kKana) {
            if (k.name != name) continue;
            if (k.prefix) cells.push_back(k.prefix);
            cells.push_back(dots(k.dots));
            break;
        }
        pos = end + 1;
    }
    return cells;
}

uint8_t deviceCell(uint8_t cell) {
    if (cell == kBlankCell) return 0;
    uint8_t out = 0;
    for (int j = 0; j < 4; ++j) {
        if (cell & (0x10 << j)) out |= static_cast<uint8_t>(0x80 >> j);  // bits 4..7 -> 7..4
        if (cell & (0x01 << j)) out |= static_cast<uint8_t>(0x08 >> j);  // bits 0..3 -> 3..0
    }
    return out;
}

}  // namespace tavik::viewer
