// Entering a port and leaving it again.
#pragma once

#include <cstdint>

#include "client/device_table.h"
#include "client/library_state.h"

namespace tavik::client {

// Enters `portIndex` for `row`: opens the port and mouse maps, frees the slots
// of clients that died without leaving, refuses a port identified as another
// model or holding 16 entries, fills the device fields when it is the first
// entry, starts the notification thread, starts the controller when none
// serves the port (up to about 10 s) and takes the first free slot. 1 also
// when an entry is already open; on failure the map and its entryCount are
// left as they were.
int openEntry(Library& lib, int32_t portIndex, const DeviceRow& row, GdStatusCallback statusCallback);

// Leaves the entry (gdEnd); 0 when there is none.
int endEntry(Library& lib);

// Takes the first free slot for the notification thread `threadId`: the
// thread id is exchanged in first (so a losing taker writes nothing into the
// winner's slot), then the owner's process id is written. A reclaim leaves a
// slot alone while its id is still 0. -1 when all 16 are taken.
int32_t takeFreeSlot(PortDataMap& map, int32_t threadId, int32_t processId);
// Frees a slot taken by takeFreeSlot: process id first, then the thread id.
void releaseSlot(PortDataMap& map, int32_t slot);

// The geometry an entry writes with, read once from the map at entry.
GeometryFix fixGeometry(const PortDataMap& map);

// Subtracts one from a shared counter without taking it below zero.
void decrementToZero(int32_t& word);

}  // namespace tavik::client
