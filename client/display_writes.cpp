// Display mode and the display writes: each write takes the own slot's busy
// flag, writes the slot, applies the display request rule, gives the flag
// back and mirrors the slot to a monitor port.
#include "client/library_state.h"
#include "client/monitor_port.h"
#include "client/slot_writes.h"
#include "platform/atomic_word.h"

using namespace tavik;
using namespace tavik::client;

namespace {

// The busy flag is waited for up to 5000 tries of 1 ms.
constexpr int kSlotWaitTries = 5000;

// Runs `write` on the own slot under its busy flag; false (nothing written)
// without an entry or when the flag stays taken.
template <typename Write>
bool withOwnSlot(Library& lib, Write&& write) {
    if (!lib.entered() || lib.ownMap->lost()) return false;
    PortDataMap& m = lib.map();
    const int32_t slot = lib.entrySlot;
    if (!takeSlotBusy(m, slot, kSlotWaitTries)) return false;
    write(m, slot);
    setSlotBusy(m, slot, 0);
    // A map shrunk under the write took it into private memory: not shown.
    return !lib.ownMap->lost();
}

int displayWrite(Library& lib, auto&& write) {
    bool ok = withOwnSlot(lib, [&](PortDataMap& m, int32_t slot) {
        write(m.slots[slot]);
        requestDisplay(m, slot);
    });
    if (!ok) return 0;
    mirrorToMonitor(lib, MirrorScope::Slot, lib.entrySlot);
    return 1;
}

}  // namespace

TAVIK_API int gdStartDisplayMode(int flags, GdKeyCallback key, GdBroadcastCallback broadcast,
                                 GdDataBlockCallback dataBlock) {
    Library& lib = library();
    if (!lib.entered()) return 0;
    PortDataMap& m = lib.map();
    const int32_t slot = lib.entrySlot;
    // Takes the flag when it comes free, and goes on regardless when it
    // stays taken (the slot is this application's own).
    const bool took = takeSlotBusy(m, slot, kSlotWaitTries);
    if (!took) setSlotBusy(m, slot, 1);
    startDisplayMode(m, slot, flags);
    lib.callbacks.key = key;
    lib.callbacks.broadcast = broadcast;
    lib.callbacks.dataBlock = dataBlock;
    setSlotBusy(m, slot, 0);
    mirrorToMonitor(lib, MirrorScope::Whole);
    return 1;
}

TAVIK_API int gdEndDisplayMode(void) {
    Library& lib = library();
    if (!lib.entered()) return 0;
    PortDataMap& m = lib.map();
    const int32_t slot = lib.entrySlot;
    if (!takeSlotBusy(m, slot, kSlotWaitTries)) setSlotBusy(m, slot, 1);
    lib.callbacks.key = nullptr;
    lib.callbacks.broadcast = nullptr;
    lib.callbacks.dataBlock = nullptr;
    lib.callbacks.pen = nullptr;
    endDisplayMode(m, slot);
    setSlotBusy(m, slot, 0);
    mirrorToMonitor(lib, MirrorScope::Whole);
    return 1;
}

TAVIK_API int gdDisplayGraphicData(const unsigned char* plane1, const unsigned char* plane2, int level) {
    Library& lib = library();
    if (!lib.entered()) return 0;
    const auto size = lib.geometry.graphic;
    if (!size) return 0;
    return displayWrite(lib, [&](ClientSlot& s) { writePlanes(s, *size, plane1, plane2, level); });
}

TAVIK_API int gdDisplayV2GraphicData(const unsigned char* dots, int format) {
    Library& lib = library();
    if (!lib.entered() || !dots) return 0;
    if (format != 0 && format != 1 && format != 2 && format != 4 && format != 8) return 0;
    const auto size = lib.geometry.graphic;
    if (!size) return 0;
    return displayWrite(lib, [&](ClientSlot& s) { writeDotValues(s, *size, dots, format); });
}

TAVIK_API int gdDisplayTextData(const unsigned char* text) {
    Library& lib = library();
    if (!lib.entered()) return 0;
    const int32_t cells = lib.geometry.textCells;
    return displayWrite(lib, [&](ClientSlot& s) { writeText(s, cells, text, nullptr); });
}

TAVIK_API int gdDisplayTextData2(const unsigned char* text, const unsigned char* text2) {
    Library& lib = library();
    if (!lib.entered()) return 0;
    const int32_t cells = lib.geometry.textCells;
    return displayWrite(lib, [&](ClientSlot& s) { writeText(s, cells, text, text2); });
}

TAVIK_API int gdSuspendDisplay(int flag) {
    Library& lib = library();
    int32_t showNext = -1;
    bool ok = withOwnSlot(lib, [&](PortDataMap& m, int32_t slot) { showNext = suspendSlot(m, slot, flag != 0); });
    if (!ok) return 0;
    // The slot that takes over is marked after the own flag is given back:
    // it may be this very slot (in front and the default client at once).
    if (showNext != -1) showInFull(lib.map(), showNext);
    mirrorToMonitor(lib, MirrorScope::SlotAndForeground, lib.entrySlot);
    return 1;
}

TAVIK_API int gdClaimDisplayParts(int parts) {
    Library& lib = library();
    if (parts & ~0x7) return 0;
    const int32_t claims = ((parts & 1) ? kClaimsTextLine : 0) | ((parts & 2) ? kClaimsPinField : 0) |
                           ((parts & 4) ? kTakesSwitchChord : 0);
    bool inDisplayMode = false;
    int32_t shown = -1;
    bool ok = withOwnSlot(lib, [&](PortDataMap& m, int32_t slot) { shown = claimParts(m, slot, claims, inDisplayMode); });
    if (!ok || !inDisplayMode) return 0;
    // The slot shown whole gets back what it no longer shares, or shares now.
    if (shown != lib.entrySlot) showInFull(lib.map(), shown);
    requestAfterClaims(lib.map(), shown);
    mirrorToMonitor(lib, MirrorScope::Slot, lib.entrySlot);
    return 1;
}

TAVIK_API int gdSetPenEventCallback(GdPenCallback callback) {
    library().callbacks.pen = callback;
    return 1;
}
