// Reclaiming the client slots of processes that ended without leaving the
// port: frees each such slot the way the client's own end would, so the slot
// can be taken again and the port's entry count falls to what is really there.
#pragma once

#include <cstdint>
#include <functional>
#include <optional>

#include "common/data_maps.h"

namespace tavik {

// Tells whether the process with this id still runs (platform::processAlive
// in production, a table in tests).
using ProcessAlivePredicate = std::function<bool(int32_t processId)>;

// Busy-flag tries (1 ms apart) a reclaim waits before it frees a slot whose
// flag is still held; a dead owner may have died holding it.
constexpr int kReclaimBusyTries = 200;

// Frees every taken slot (notifyThreadId != 0) whose processId is positive and
// names a process `isAlive` reports as gone, as the owner's end would have:
//  - the display mode ends: a default slot passes to the highest-numbered
//    other slot with the default-client flag (or -1) and, with no foreground
//    slot, becomes the display request; a foreground slot gives way to the
//    default slot; displayFlags := 0 and displayClientCount drops by one;
//  - a closing request of the slot is dropped while other entries remain, and
//    its direct-operation right is released;
//  - processId := 0, notifyThreadId := 0 (the slot is free), entryCount drops
//    by one (never below 0), the slot's busy flag is cleared.
// Safe against a concurrent reclaimer in another process: the slot is claimed
// by exchanging its processId for the reclaimer's claim (reclaimClaim) first,
// so only one side frees it; the id goes back to 0 just before the slot is
// freed. A claim whose reclaimer has ended (it died while waiting for the busy
// flag) is taken over the same way, so the slot does not stay held for good;
// other negative processIds are never touched. A taken slot whose
// processId is still 0 is being taken right now (the thread id is exchanged
// in first, the owner's id written next): it is freed only when
// `isThreadAlive` is given and reports its notifyThreadId gone (the taker
// died in between).
// Every value read from the map is only compared, never used as an index
// unless it is a slot number. Blocks only while waiting for a held busy flag
// (up to busyTries ms per reclaimed slot). Returns the number of slots freed.
int reclaimDeadSlots(PortDataMap& map, const ProcessAlivePredicate& isAlive, int busyTries = kReclaimBusyTries,
                     const ProcessAlivePredicate& isThreadAlive = {});

// A reclaimer's claim in a slot's processId: its own process id placed in the
// lowest negative values, where no owner id and no small stray value lies.
inline constexpr int64_t kReclaimClaimBase = INT32_MIN;
inline constexpr int64_t kMaxProcessId = int64_t{1} << 22;  // Linux's largest pid_max
int32_t reclaimClaim(int32_t reclaimerPid);
// The reclaimer a processId value names as a claim; nullopt for any other value.
std::optional<int32_t> reclaimerOf(int32_t processIdField);

// Number of taken slots (notifyThreadId != 0).
int countTakenSlots(PortDataMap& map);

}  // namespace tavik
