// Display parts and key routing.
#include "common/display_parts.h"

#include "common/messages.h"
#include "platform/atomic_word.h"

namespace tavik {

int32_t claimant(PortDataMap& map, int32_t flag) {
    for (int32_t k = 0; k < kSlotCount; ++k) {
        ClientSlot& s = map.slots[k];
        const int32_t flags = platform::loadWord(s.displayFlags);
        if ((flags & flag) && (flags & kDisplayModeOn) && !(flags & kDisplaySuspended) &&
            platform::loadWord(s.processId) != 0)
            return k;
    }
    return -1;
}

DisplaySources displaySources(PortDataMap& map, int32_t shown) {
    if (!isSlot(shown)) shown = -1;
    const int32_t text = claimant(map, kClaimsTextLine);
    const int32_t graphic = claimant(map, kClaimsPinField);
    return {text >= 0 ? text : shown, graphic >= 0 ? graphic : shown};
}

int32_t keyAddressee(PortDataMap& map, uint32_t event) {
    const int32_t group = static_cast<int32_t>(event & 0xFF);
    const int32_t keys = static_cast<int32_t>((event >> 8) & 0xFF);
    const int32_t shift = static_cast<int32_t>((event >> 16) & 0xFF);
    int32_t to = -1;
    if (group == kSwitchChordGroup && keys == kSwitchChordKeys && shift == 0)
        to = claimant(map, kTakesSwitchChord);
    else if (group == 2)
        to = claimant(map, kClaimsTextLine);
    else if (group == 4 || group == 5)
        to = claimant(map, kClaimsPinField);
    if (to >= 0) return to;
    to = eventAddressee(map);
    if (to >= 0) return to;
    // Nothing in front: every key goes to whoever claims a part.
    for (const int32_t flag : {kClaimsTextLine, kClaimsPinField, kTakesSwitchChord})
        if ((to = claimant(map, flag)) >= 0) return to;
    return -1;
}

}  // namespace tavik
