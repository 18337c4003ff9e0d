// The rules of a client's own slot: what each display write puts into it,
// which slot the write asks to be shown, and the display-mode bookkeeping of
// the port. Pure functions on a mapped PortDataMap; the caller holds the
// slot's busy flag where the rules need it.
#pragma once

#include <cstdint>
#include <optional>

#include "common/data_maps.h"

namespace tavik::client {

struct GraphicSize {
    int32_t width;
    int32_t height;
};

// The sizes an entry's display writes use, fixed when the entry is made (and
// again when the application asks gdQueryEquipment for its own port): the
// map is writable by anyone, and a size that grew later would make a write
// read past the application's buffer.
struct GeometryFix {
    std::optional<GraphicSize> graphic;
    int32_t textCells = 0;
};

// The map's graphic size when it fits the slot (both positive, W x H <= 10000);
// nullopt otherwise, and a graphic write then fails without writing.
std::optional<GraphicSize> graphicSize(const PortDataMap& map);
// The map's text cell count clamped to 0..128 (the size of a text row).
int32_t textSize(const PortDataMap& map);

// Two banded planes (W x ceil(H/8) bytes each): bit (r mod 8) of byte
// (r div 8) x W + x is row r, column x. Plane 1 makes each dot 1 or 0 (so it
// clears every second-plane dot); plane 2 sets or clears bit 1 and stores `level`.
// Then format 0 and graphicChanged.
void writePlanes(ClientSlot& slot, GraphicSize size, const uint8_t* plane1, const uint8_t* plane2, int32_t level);
// One byte per dot; planeLevel 0, the given format, graphicChanged.
void writeDotValues(ClientSlot& slot, GraphicSize size, const uint8_t* dots, int32_t format);
// `cells` bytes of text and text2 (zeros for an absent row); textChanged.
void writeText(ClientSlot& slot, int32_t cells, const uint8_t* text, const uint8_t* text2);

// Busy-flag tries (1 ms apart) for marking another slot to be shown in full.
constexpr int kHandOverBusyTries = 1000;

// Marks a slot that takes over the display as changed in full (text when the
// device has cells, graphic when its size fits), under that slot's busy flag
// when it can be had: the communication thread sends only what is marked, so
// without this the pins would keep showing the slot that gave way.
void showInFull(PortDataMap& map, int32_t slot);

// The display request rule after a write: the own slot is named in
// displayRequest when it is the foreground slot, or there is no foreground
// slot and it is the default slot, or it claims a part of the display.
void requestDisplay(PortDataMap& map, int32_t slot);

// Suspends (bit 3; a foreground slot gives way to the default slot, named in
// displayRequest) or resumes. Returns the slot that took over, which the
// caller marks with showInFull once it has given its own busy flag back (it
// may be the caller's own slot), or -1.
int32_t suspendSlot(PortDataMap& map, int32_t slot, bool suspend);

// Sets the slot's claims (kClaimsTextLine, kClaimsPinField, kTakesSwitchChord;
// 0 gives them back) and marks the own slot in full; the caller holds the own
// busy flag. Returns the slot now shown whole (to be marked with showInFull once
// the flag is given back) or -1; false in `ok` when the slot is not in display mode.
int32_t claimParts(PortDataMap& map, int32_t slot, int32_t claims, bool& ok);
// Names in displayRequest what shows the display after a change of claims:
// the slot shown whole, else no slot (the claimed parts are shown by themselves).
void requestAfterClaims(PortDataMap& map, int32_t shown);

// Display mode start: cleared slot contents, planeLevel 10, format 1, the
// flags; bit 1 makes the slot the default slot; displayClientCount + 1.
void startDisplayMode(PortDataMap& map, int32_t slot, int32_t flags);
// Display mode end: a default slot hands over to the highest other slot with
// bit 1 (or -1), a foreground slot gives way to the default slot (the slot
// that takes over is shown in full), and a slot in display mode leaves the count.
void endDisplayMode(PortDataMap& map, int32_t slot);

}  // namespace tavik::client
