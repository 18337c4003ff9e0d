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

// Subtracts one from a shared counter without taking it below zero.
void decrementToZero(int32_t& word);

}  // namespace tavik::client
