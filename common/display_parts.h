// Which slot each part of the display shows, and which slot a key goes to.
// Normally one slot is shown whole (the foreground slot, else the default
// slot); a live client may claim the text line or the pin field (the flags
// kClaimsTextLine / kClaimsPinField of its slot), e.g. a braille server that
// keeps the text line while the pins follow the window in front.
#pragma once

#include <cstdint>

#include "common/data_maps.h"

namespace tavik {

// Decrease + Increase on the navigation keys, no shift: goes to the claimant.
constexpr int32_t kSwitchChordGroup = 4;
constexpr int32_t kSwitchChordKeys = 0x90;

// The first live slot in display mode, not suspended, whose flags have `flag`;
// -1 when there is none.
int32_t claimant(PortDataMap& map, int32_t flag);

struct DisplaySources {
    int32_t text = -1;     // the slot whose text is on the text line
    int32_t graphic = -1;  // the slot whose graphic is on the pins
};

// The sources when `shown` is the slot shown whole (-1: none).
DisplaySources displaySources(PortDataMap& map, int32_t shown);

// The slot a key event (bytes: group, key, modifier) goes to: the switch chord
// to the chord's claimant, the text-line keys (group 2) to the text line's
// claimant, the navigation keys and the stick (groups 4 and 5) to the pin
// field's claimant; everything else, and every key without a claimant, to the
// foreground slot, else the default slot, else (nothing in front) a claimant.
int32_t keyAddressee(PortDataMap& map, uint32_t event);

}  // namespace tavik
