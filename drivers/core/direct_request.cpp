// Reading direct request blocks and checking the direct-operation right.
#include "drivers/core/direct_request.h"

#include <cstdio>
#include <cstring>
#include <fstream>
#include <string>

#include "frame.h"
#include "platform/atomic_word.h"
#include "platform/process.h"
#include "platform/thread_queue.h"

namespace tavik::drv {
namespace {

// One read of an int32 field of a block (0 when it does not fit the payload).
int32_t field(const SharedBlock& block, std::size_t offset) {
    int32_t* w = block.word(offset);
    return w ? platform::loadWord(*w) : 0;
}

struct ObjectId {
    unsigned major = 0, minor = 0;
    unsigned long inode = 0;
};

// Device and inode of the mapping that holds `address` in this process.
std::optional<ObjectId> mappedObject(const void* address) {
    const auto a = reinterpret_cast<unsigned long>(address);
    std::ifstream maps("/proc/self/maps");
    for (std::string line; std::getline(maps, line);) {
        unsigned long from = 0, to = 0, offset = 0;
        char perms[8] = {};
        ObjectId id;
        if (std::sscanf(line.c_str(), "%lx-%lx %7s %lx %x:%x %lu", &from, &to, perms, &offset, &id.major, &id.minor,
                        &id.inode) != 7)
            continue;
        if (a >= from && a < to) return id.inode != 0 ? std::optional<ObjectId>(id) : std::nullopt;
    }
    return std::nullopt;
}

}  // namespace

int clampedReplyWaitMs(int32_t requested) {
    if (requested < 0) return 0;
    return requested > kMaxDirectReplyWaitMs ? kMaxDirectReplyWaitMs : requested;
}

std::optional<DirectCommandRequest> readDirectCommand(const SharedBlock& block) {
    const int32_t size = block.payloadSize();
    if (size < static_cast<int32_t>(sizeof(DirectCommandBlock))) return std::nullopt;
    DirectCommandRequest r{};
    r.replyWaitMs = field(block, offsetof(DirectCommandBlock, reply));
    r.command = static_cast<uint8_t>(field(block, offsetof(DirectCommandBlock, command)));
    r.parameter = static_cast<uint8_t>(field(block, offsetof(DirectCommandBlock, parameter)));
    int64_t n = field(block, offsetof(DirectCommandBlock, length));
    if (n < 0) n = 0;
    if (n > int64_t{size} - int64_t{sizeof(DirectCommandBlock)} || n > int64_t{proto::kMaxFramePayload})
        return std::nullopt;
    r.data = {block.payload() + sizeof(DirectCommandBlock), static_cast<std::size_t>(n)};
    return r;
}

std::optional<DirectBytesRequest> readDirectBytes(const SharedBlock& block) {
    const int32_t size = block.payloadSize();
    if (size < static_cast<int32_t>(sizeof(DirectBytesBlock))) return std::nullopt;
    const int64_t n = field(block, offsetof(DirectBytesBlock, length));
    if (n <= 0) return DirectBytesRequest{};
    if (n > int64_t{size} - int64_t{sizeof(DirectBytesBlock)}) return std::nullopt;
    return DirectBytesRequest{{block.payload() + sizeof(DirectBytesBlock), static_cast<std::size_t>(n)}};
}

void storeDirectReply(const SharedBlock& block, uint8_t reply) {
    if (int32_t* w = block.word(offsetof(DirectCommandBlock, reply))) platform::storeWord(*w, reply);
}

bool processHoldsMappedObject(int32_t pid, const void* address) {
    if (pid <= 0) return false;
    const auto id = mappedObject(address);
    if (!id) return false;
    // "1: FLOCK  ADVISORY  READ  1234 00:1a:5678 0 EOF"; lines of waiters
    // carry "->" after the number and hold nothing.
    // This process holds the object too (it mapped it to serve it): when the
    // holder asked for is this process, it must hold it a second time.
    const int needed = pid == platform::currentProcessId() ? 2 : 1;
    int found = 0;
    std::ifstream locks("/proc/locks");
    for (std::string line; std::getline(locks, line);) {
        char kind[16] = {}, mode[16] = {}, access[16] = {};
        int holder = 0;
        ObjectId held;
        if (std::sscanf(line.c_str(), "%*d: %15s %15s %15s %d %x:%x:%lu", kind, mode, access, &holder, &held.major,
                        &held.minor, &held.inode) != 7)
            continue;
        if (holder == pid && held.inode == id->inode && held.major == id->major && held.minor == id->minor &&
            ++found == needed)
            return true;
    }
    return false;
}

std::optional<RightHolder> directRightHolder(PortDataMap& map, const SharedBlock& block) {
    const int32_t slot = platform::loadWord(map.directOperationSlot);
    if (!isSlot(slot)) return std::nullopt;
    const int32_t pid = platform::loadWord(map.slots[slot].processId);
    if (pid <= 0 || !processHoldsMappedObject(pid, block.payload())) return std::nullopt;
    return RightHolder{slot, pid};
}

bool stillHoldsRight(PortDataMap& map, const RightHolder& holder) {
    return platform::loadWord(map.directOperationSlot) == holder.slot &&
           platform::loadWord(map.slots[holder.slot].processId) == holder.processId &&
           platform::processAlive(holder.processId);
}

}  // namespace tavik::drv
