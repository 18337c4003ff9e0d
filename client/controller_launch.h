// Finding and starting the controller program for a port, waiting until it
// announces itself in the port data map, and telling a live controller from
// one that died: the controller holds the port map's claim while its process
// lives, so an announced thread id without the claim belongs to a dead one.
#pragma once

#include <cstdint>
#include <string>

#include "common/data_maps.h"

namespace tavik::client {

// The controller program: the file named by env TAVIK_PATH when it is an
// existing regular file, else "TAVIK" beside this library, else "TAVIK" on
// PATH; "" when none exists.
std::string findControllerProgram();

// Waits up to 10 s (polling every 10 ms) until a controller is alive and
// announced (controllerAlive and a non-zero controllerVersion byte), then
// posts the open-port command to controllerThreadId. The controller program
// ("/Remote" "/Port:<index>") is started once, and only while nobody holds
// the port's claim: a claimed port has a controller starting or ending, and
// is waited for. False when the program cannot be started or no controller
// announces itself in time. A second controller started in a race ends by
// itself (it cannot claim the port) and the one that serves is used.
bool launchController(PortMap& map, uint32_t commandMessage);

// Starts the controller program for the port without waiting for it.
bool startController(int32_t portIndex);

// True when any of the three controllerVersion bytes is non-zero.
bool controllerReady(PortDataMap& map);

// True when a controller serves the port: it announced its thread id and a
// live process holds the port's controller claim.
bool controllerAlive(const PortMap& map);

// When the announced controller no longer exists (thread id set, claim free),
// withdraws it from the map: thread id, versions and status go to 0, so
// clients stop posting to it and a new controller can be started. True only
// for the one caller that withdrew it (the thread id is exchanged).
bool withdrawDeadController(PortMap& map);

}  // namespace tavik::client
