// Slot contents and the display-selection fields of the port data map.
#include "client/slot_writes.h"

#include "client/port_entry.h"
#include "common/messages.h"
#include "platform/atomic_word.h"

#include <cstring>

namespace tavik::client {

std::optional<GraphicSize> graphicSize(const PortDataMap& map) {
    const int32_t w = map.graphicWidth;
    const int32_t h = map.graphicHeight;
    if (w <= 0 || h <= 0 || w > kGraphicBytes || h > kGraphicBytes) return std::nullopt;
    if (static_cast<int64_t>(w) * h > kGraphicBytes) return std::nullopt;
    return GraphicSize{w, h};
}

int32_t textSize(const PortDataMap& map) {
    const int32_t t = map.textCells;
    return t < 0 ? 0 : (t > kTextBytes ? kTextBytes : t);
}

void writePlanes(ClientSlot& slot, GraphicSize size, const uint8_t* plane1, const uint8_t* plane2, int32_t level) {
    const int32_t w = size.width;
    if (plane1) {
        for (int32_t r = 0; r < size.height; ++r) {
            const uint8_t* band = plane1 + (r / 8) * w;
            const uint8_t bit = static_cast<uint8_t>(1u << (r % 8));
            uint8_t* dots = slot.graphic + r * w;
            // A plane-1 write leaves no second-plane dot behind: a raised dot
            // becomes first-plane only, a lowered one is cleared.
            for (int32_t x = 0; x < w; ++x) dots[x] = (band[x] & bit) ? 1 : 0;
        }
    }
    if (plane2) {
        for (int32_t r = 0; r < size.height; ++r) {
            const uint8_t* band = plane2 + (r / 8) * w;
            const uint8_t bit = static_cast<uint8_t>(1u << (r % 8));
            uint8_t* dots = slot.graphic + r * w;
            for (int32_t x = 0; x < w; ++x)
                dots[x] = (band[x] & bit) ? static_cast<uint8_t>(dots[x] | 2) : static_cast<uint8_t>(dots[x] & 0xFD);
        }
        slot.planeLevel = level;
    }
    slot.graphicFormat = 0;
    platform::storeWord(slot.graphicChanged, 1);
}

void writeDotValues(ClientSlot& slot, GraphicSize size, const uint8_t* dots, int32_t format) {
    std::memcpy(slot.graphic, dots, static_cast<std::size_t>(size.width) * size.height);
    slot.planeLevel = 0;
    slot.graphicFormat = format;
    platform::storeWord(slot.graphicChanged, 1);
}

void writeText(ClientSlot& slot, int32_t cells, const uint8_t* text, const uint8_t* text2) {
    const auto n = static_cast<std::size_t>(cells < 0 ? 0 : (cells > kTextBytes ? kTextBytes : cells));
    if (text)
        std::memcpy(slot.text, text, n);
    else
        std::memset(slot.text, 0, n);
    if (text2)
        std::memcpy(slot.text2, text2, n);
    else
        std::memset(slot.text2, 0, n);
    platform::storeWord(slot.textChanged, 1);
}

void showInFull(PortDataMap& map, int32_t slot) {
    if (!isSlot(slot)) return;
    const bool took = takeSlotBusy(map, slot, kHandOverBusyTries);
    ClientSlot& s = map.slots[slot];
    if (platform::loadWord(map.textCells) != 0) platform::storeWord(s.textChanged, 1);
    if (graphicSize(map)) platform::storeWord(s.graphicChanged, 1);
    if (took) setSlotBusy(map, slot, 0);
}

void requestDisplay(PortDataMap& map, int32_t slot) {
    const int32_t fg = platform::loadWord(map.foregroundSlot);
    if (fg == slot || (fg == -1 && platform::loadWord(map.defaultSlot) == slot) ||
        (isSlot(slot) && (platform::loadWord(map.slots[slot].displayFlags) & (kClaimsTextLine | kClaimsPinField))))
        setDisplayRequest(map, slot);
}

int32_t claimParts(PortDataMap& map, int32_t slot, int32_t claims, bool& ok) {
    ok = false;
    if (!isSlot(slot)) return -1;
    ClientSlot& s = map.slots[slot];
    const int32_t flags = platform::loadWord(s.displayFlags);
    if (flags == 0) return -1;
    platform::storeWord(s.displayFlags, (flags & ~kClaimFlags) | (claims & kClaimFlags));
    ok = true;
    if (platform::loadWord(map.textCells) != 0) platform::storeWord(s.textChanged, 1);
    if (graphicSize(map)) platform::storeWord(s.graphicChanged, 1);
    return eventAddressee(map);
}

void requestAfterClaims(PortDataMap& map, int32_t shown) {
    setDisplayRequest(map, isSlot(shown) ? shown : kNoRequest);
}

int32_t suspendSlot(PortDataMap& map, int32_t slot, bool suspend) {
    if (!isSlot(slot)) return -1;
    ClientSlot& s = map.slots[slot];
    if (suspend) {
        platform::storeWord(s.displayFlags, platform::loadWord(s.displayFlags) | kDisplaySuspended);
        if (platform::exchangeWord(map.foregroundSlot, slot, -1)) {
            const int32_t def = platform::loadWord(map.defaultSlot);
            setDisplayRequest(map, def);
            return isSlot(def) ? def : -1;
        }
    } else {
        platform::storeWord(s.displayFlags, platform::loadWord(s.displayFlags) & ~kDisplaySuspended);
    }
    return -1;
}

void startDisplayMode(PortDataMap& map, int32_t slot, int32_t flags) {
    if (!isSlot(slot)) return;
    ClientSlot& s = map.slots[slot];
    s.planeLevel = 10;
    std::memset(s.text, 0, sizeof s.text);
    std::memset(s.text2, 0, sizeof s.text2);
    platform::storeWord(s.graphicChanged, 0);
    s.graphicFormat = 1;
    std::memset(s.graphic, 0, sizeof s.graphic);
    platform::storeWord(s.displayFlags, flags);
    if (flags & kDefaultClient) platform::storeWord(map.defaultSlot, slot);
    platform::addWord(map.displayClientCount, 1);
}

void endDisplayMode(PortDataMap& map, int32_t slot) {
    if (!isSlot(slot)) return;
    if (platform::loadWord(map.defaultSlot) == slot) {
        int32_t next = -1;
        for (int32_t k = kSlotCount - 1; k >= 0; --k) {
            if (k != slot && (platform::loadWord(map.slots[k].displayFlags) & kDefaultClient)) {
                next = k;
                break;
            }
        }
        platform::storeWord(map.defaultSlot, next);
        if (platform::loadWord(map.foregroundSlot) == -1) {
            showInFull(map, next);
            setDisplayRequest(map, next);
        }
    }
    if (platform::exchangeWord(map.foregroundSlot, slot, -1)) {
        const int32_t def = platform::loadWord(map.defaultSlot);
        showInFull(map, def);
        setDisplayRequest(map, def);
    }
    const int32_t flags = platform::loadWord(map.slots[slot].displayFlags);
    if (flags != 0) {
        decrementToZero(map.displayClientCount);
        platform::storeWord(map.slots[slot].displayFlags, 0);
    }
    // Parts it claimed show the slot in front again.
    if (flags & (kClaimsTextLine | kClaimsPinField)) {
        const int32_t shown = eventAddressee(map);
        showInFull(map, shown);
        requestAfterClaims(map, shown);
    }
}

}  // namespace tavik::client
