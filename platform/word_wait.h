// Waiting for a 32-bit word of a shared section to change, across processes
// (futex on the mapped word), so a requester wakes as soon as its answer is
// written instead of at the next poll.
#pragma once

#include <cstdint>

namespace tavik::platform {

// Waits while `word` still equals `expected`, up to timeoutMs. Returns early on
// a wake or a change; spurious returns are possible, so callers re-check.
void waitWordChange(int32_t& word, int32_t expected, int timeoutMs);

// Wakes every waiter on `word` in every process.
void wakeWordWaiters(int32_t& word);

}  // namespace tavik::platform
