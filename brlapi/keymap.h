// The display's keys as braille commands. Navigation keys (group 4) pan the
// braille window and move by line; the keys above the text cells (group 2,
// key 13 + i above cell i) route the cursor to cell i; the function keys of
// group 2 bring the window back to the cursor (1), move by line (2, 3) and pan
// (5..8 right, 9..12 left), so that the braille can be read from the text line
// alone while the navigation keys serve another application. Decrease and
// Increase pressed together switch where the braille goes.
#pragma once

#include <cstdint>

namespace tavik::brl {

// The three bytes of a device key frame: group, key (bits or number), modifier.
struct DeviceKey {
    int group = 0, key = 0, modifier = 0;
};

// Navigation key bits of group 4.
namespace navkey {
constexpr int kUp = 0x01, kDown = 0x02, kRight = 0x04, kLeft = 0x08;
constexpr int kDecrease = 0x10, kHome = 0x20, kEnd = 0x40, kIncrease = 0x80;
}  // namespace navkey
constexpr int kNavigationGroup = 4, kTextLineGroup = 2;
constexpr int kFirstRoutingKey = 13;

struct MappedKey {
    enum class Kind { None, Command, SwitchDestination } kind = Kind::None;
    uint64_t code = 0;  // the command key code
};

// `cells`: how many cells a routing key can reach (the display's columns).
MappedKey mapDeviceKey(const DeviceKey& k, uint32_t cells);

}  // namespace tavik::brl
