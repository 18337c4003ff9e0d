// Mirroring a port data map onto a second "monitor" port, whose controller
// then shows the same slots on a second display.
#pragma once

#include "client/library_state.h"
#include "common/data_maps.h"

namespace tavik::client {

// Copies the device description, counts, slot selection, all slots and busy
// flags and the two controller settings from `source` into `target`; the
// versions, controllerThreadId, status, closingSlot, directOperationSlot and
// monitorPort of `target` stay as they are.
void copyMapState(PortDataMap& target, const PortDataMap& source);

enum class MirrorScope {
    Whole,                 // after entering and display-mode changes
    Slot,                  // the writer's slot and displayRequest
    SlotAndForeground,     // the same plus foregroundSlot (suspension)
};

// Ends every operation that changes the own map: when the own map names a
// monitor port, copies `scope` of it into that port's map (opened once and
// kept); otherwise closes a mirror map left open.
void mirrorToMonitor(Library& lib, MirrorScope scope, int32_t slot = -1);

}  // namespace tavik::client
