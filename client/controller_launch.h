// Finding and starting the controller program for a port, and waiting until
// it announces itself in the port data map.
#pragma once

#include <cstdint>
#include <string>

#include "common/data_maps.h"

namespace tavik::client {

// The controller program: the file named by env TAVIK_PATH when it is an
// existing regular file, else "TAVIK" beside this library, else "TAVIK" on
// PATH; "" when none exists.
std::string findControllerProgram();

// Starts the controller with "/Remote" and "/Port:<index>", waits up to 10 s
// (polling every 10 ms) for a non-zero controllerVersion byte, then posts the
// open-port command to controllerThreadId. False when the program cannot be
// started, ends before announcing itself, or does not announce itself in time.
bool launchController(PortDataMap& map, int32_t portIndex, uint32_t commandMessage);

// True when any of the three controllerVersion bytes is non-zero.
bool controllerReady(PortDataMap& map);

}  // namespace tavik::client
