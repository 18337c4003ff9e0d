// Containment of SIGBUS on mapped shared sections. Any local process that can
// open a section can shrink it with ftruncate; every later access of a mapped
// page past the new end raises SIGBUS in every process that maps it. The
// handler installed here replaces a registered mapping that faults with
// private zero pages at the same address, marks it lost and lets the access
// go on: the section is treated as gone instead of ending the process.
// Faults outside registered mappings go to the handler that was there before.
#pragma once

#include <cstddef>

namespace tavik::platform {

// Registers [addr, addr + size) and installs the handler on first use.
// Returns a handle for mappingLost/unregisterMapping, or -1 when the table is
// full (the mapping then works, but a fault in it is not contained).
int registerMapping(void* addr, std::size_t size);

// Forgets a mapping; call before unmapping it. -1 is ignored.
void unregisterMapping(int handle);

// True once a fault replaced the mapping: its contents are private zeros now
// and no longer shared with anyone.
bool mappingLost(int handle);

}  // namespace tavik::platform
