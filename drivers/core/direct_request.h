// The shared blocks of direct requests as the plug-in reads them: their
// layouts, the checks every value read from them passes, and who may send.
// A block and the port data map are writable by any local process, so each
// field is read once and checked before it sizes anything.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>

#include "common/data_maps.h"
#include "common/shared_block.h"

namespace tavik::drv {

// Payload of a direct command block (command 7); `length` data bytes and one
// NUL follow the fixed part.
struct DirectCommandBlock {
    int32_t result;     // 0 pending, 1 done, -1 failed (written last)
    int32_t reply;      // in: milliseconds to wait for a one-byte reply (0: none); out: the byte
    int32_t command;    // low byte: the frame's command
    int32_t parameter;  // low byte: the frame's parameter
    int32_t length;     // data bytes that follow
};
static_assert(offsetof(DirectCommandBlock, result) == 0);
static_assert(offsetof(DirectCommandBlock, reply) == 4);
static_assert(offsetof(DirectCommandBlock, command) == 8);
static_assert(offsetof(DirectCommandBlock, parameter) == 12);
static_assert(offsetof(DirectCommandBlock, length) == 16);
static_assert(sizeof(DirectCommandBlock) == 20);

// Payload of a direct bytes block (command 10); `length` raw bytes follow.
struct DirectBytesBlock {
    int32_t result;
    int32_t length;
};
static_assert(offsetof(DirectBytesBlock, result) == 0);
static_assert(offsetof(DirectBytesBlock, length) == 4);
static_assert(sizeof(DirectBytesBlock) == 8);

// The longest reply wait a request gets, the one its requester also allows
// for (a longer wait in the block is cut to it).
constexpr int kMaxDirectReplyWaitMs = 600000;
// A negative wait waits for nothing; a longer one is cut to the maximum.
int clampedReplyWaitMs(int32_t requested);

struct DirectCommandRequest {
    int32_t replyWaitMs;
    uint8_t command;
    uint8_t parameter;
    std::span<const uint8_t> data;  // inside the block
};
// nullopt when the block is too small for its fixed part, or announces more
// data than it holds or than one frame carries. A negative length is no data.
std::optional<DirectCommandRequest> readDirectCommand(const SharedBlock& block);

struct DirectBytesRequest {
    std::span<const uint8_t> data;  // empty for a length of 0 or less
};
// nullopt when the block announces more bytes than it holds.
std::optional<DirectBytesRequest> readDirectBytes(const SharedBlock& block);

// Writes the reply byte into the block's `reply` word.
void storeDirectReply(const SharedBlock& block, uint8_t reply);

// The client that holds the port's direct-operation right.
struct RightHolder {
    int32_t slot;
    int32_t processId;
};
// The holder of the right when it is the process that made `block` (it holds
// the block open while it waits); nullopt when no slot holds the right or the
// block comes from any other process.
std::optional<RightHolder> directRightHolder(PortDataMap& map, const SharedBlock& block);
// True while `holder` still holds the right and its process lives.
bool stillHoldsRight(PortDataMap& map, const RightHolder& holder);

// True when process `pid` holds a lock on the object mapped at `address` in
// this process (every holder of a shared section does), not counting the
// hold of this process's own mapping. Reads /proc.
bool processHoldsMappedObject(int32_t pid, const void* address);

}  // namespace tavik::drv
