// The live view's key table and the decoding of terminal input through it.
#include "keys.h"

#include <algorithm>
#include <array>

namespace padsim {

namespace {

constexpr uint8_t kNavigation = 4, kNumbered = 1, kMouse = 0;

constexpr KeyInput nav(std::string_view seq, uint8_t key) { return {seq, KeyAction::DeviceKey, kNavigation, key, 0}; }
constexpr KeyInput num(std::string_view seq, uint8_t key) { return {seq, KeyAction::DeviceKey, kNumbered, key, 0}; }

constexpr std::array kArrows = {nav("\x1b[A", 0x01), nav("\x1b[B", 0x02), nav("\x1b[C", 0x04), nav("\x1b[D", 0x08)};
constexpr std::array kNavOthers = {nav("\x1b[H", 0x20), nav("\x1b[F", 0x40), nav("+", 0x80), nav("-", 0x10)};
constexpr std::array kNumbers = {num("1", 1), num("2", 2), num("3", 3), num("4", 4), num("5", 5),
                                 num("6", 6), num("7", 7), num("8", 8), num("9", 9)};
constexpr std::array kButtons = {KeyInput{"l", KeyAction::DeviceKey, kMouse, 0, 0x01},
                                 KeyInput{"r", KeyAction::DeviceKey, kMouse, 0, 0x02}};
constexpr std::array kPicture = {KeyInput{"p", KeyAction::Picture}};
constexpr std::array kQuit = {KeyInput{"q", KeyAction::Quit}};

// Ctrl-C reaches padsim as a signal, so it is named here without an input.
constexpr std::array<KeyRow, 6> kRows = {{
    {"arrows", "navigation keys Up/Down/Left/Right (group 4)", "navigation", kArrows},
    {"Home End + -", "navigation Home, End, Increase, Decrease (group 4)", "navigation", kNavOthers},
    {"1..9", "numbered keys 1..9 (group 1)", "numbered", kNumbers},
    {"l  r", "left / right mouse button (group 0)", "mouse buttons", kButtons},
    {"p", "PNG picture (to --png FILE, else padsim.png)", "PNG", kPicture},
    {"q  Ctrl-C", "quit", "quit", kQuit},
}};

const KeyInput* find(std::string_view seq) {
    for (const auto& row : kRows)
        for (const auto& in : row.inputs)
            if (in.sequence == seq) return &in;
    return nullptr;
}

}  // namespace

std::span<const KeyRow> keyRows() { return kRows; }

std::vector<const KeyInput*> decodeKeys(std::string_view bytes) {
    std::vector<const KeyInput*> out;
    for (size_t i = 0; i < bytes.size(); ++i) {
        if (bytes[i] == '\x1b') {
            if (i + 2 >= bytes.size() || bytes[i + 1] != '[') continue;
            if (const KeyInput* k = find(bytes.substr(i, 3))) out.push_back(k);
            i += 2;
            // The rest of a longer sequence ("ESC [ 1 ; 5 A", "ESC [ 5 ~").
            while (i + 1 < bytes.size() && bytes[i] != '~' && (bytes[i] < 'A' || bytes[i] > 'z')) ++i;
            continue;
        }
        if (const KeyInput* k = find(bytes.substr(i, 1))) out.push_back(k);
    }
    return out;
}

std::string keyHelp() {
    std::string s;
    for (const auto& row : kRows) {
        std::string label(row.label);
        label.resize(std::max<size_t>(label.size() + 1, 19), ' ');
        s += "      " + label + std::string(row.description) + "\n";
    }
    return s;
}

std::string keyReminder() {
    std::string s = "keys:";
    for (const auto& row : kRows) s += "  " + std::string(row.label) + " (" + std::string(row.brief) + ")";
    return s;
}

}  // namespace padsim
