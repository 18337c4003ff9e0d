// The keyboard of the live view: one table of the keys padsim understands on
// its terminal. It drives both the decoding of what the terminal sends and
// the key lines of the help text and of the live view.
#pragma once

#include <cstdint>
#include <span>
#include <string>
#include <string_view>
#include <vector>

namespace padsim {

enum class KeyAction : uint8_t { DeviceKey, Picture, Quit };

// One input (a character or an "ESC [ x" sequence) and what it does.
struct KeyInput {
    std::string_view sequence;
    KeyAction action = KeyAction::DeviceKey;
    uint8_t group = 0, key = 0, buttons = 0;  // payload of a device key event
};

// A line of the help text: the inputs it names and what they are for.
struct KeyRow {
    std::string_view label;        // "arrows", "1..9"
    std::string_view description;  // "navigation keys Up/Down/Left/Right (group 4)"
    std::string_view brief;        // "navigation", for the live view's reminder
    std::span<const KeyInput> inputs;
};

// Every row, in help-text order.
std::span<const KeyRow> keyRows();

// What the bytes read from the terminal ask for, in order. Unknown characters
// are skipped; an escape sequence the table does not hold is skipped whole
// (up to its final letter or '~'). A sequence cut at the end of `bytes` is
// dropped (the terminal sends a key's bytes in one write).
std::vector<const KeyInput*> decodeKeys(std::string_view bytes);

// The key lines of the help text ("      arrows             navigation ...").
std::string keyHelp();
// The one-line reminder under the live view ("keys: arrows (navigation)  ...").
std::string keyReminder();

}  // namespace padsim
