// Reclaiming the slots of clients that died without ending their entry.
#include "common/slot_reclaim.h"

#include "common/messages.h"
#include "platform/atomic_word.h"

#include <cstdint>
#include <unistd.h>

namespace tavik {
namespace {

// Subtracts one from a shared counter without taking it below zero.
void decrementToZero(int32_t& word) {
    int32_t v = platform::loadWord(word);
    while (v > 0 && !platform::exchangeWord(word, v, v - 1)) v = platform::loadWord(word);
}

// A slot that takes over the display is sent in full, and the
// communication thread is woken for it.
void handOver(PortDataMap& m, int32_t slot) {
    if (isSlot(slot)) {
        platform::storeWord(m.slots[slot].textChanged, 2);
        platform::storeWord(m.slots[slot].graphicChanged, 2);
    }
    setDisplayRequest(m, slot);
}

// The display-mode end of slot k: default and foreground hand-over, flags and count.
void endDisplayMode(PortDataMap& m, int32_t k) {
    if (platform::loadWord(m.defaultSlot) == k) {
        int32_t next = -1;
        for (int32_t s = kSlotCount - 1; s >= 0; --s) {
            if (s != k && (platform::loadWord(m.slots[s].displayFlags) & kDefaultClient) != 0) {
                next = s;
                break;
            }
        }
        platform::storeWord(m.defaultSlot, next);
        if (platform::loadWord(m.foregroundSlot) == -1) handOver(m, next);
    }
    if (platform::loadWord(m.foregroundSlot) == k) {
        platform::storeWord(m.foregroundSlot, -1);
        handOver(m, platform::loadWord(m.defaultSlot));
    }
    const int32_t flags = platform::loadWord(m.slots[k].displayFlags);
    if (flags != 0) {
        decrementToZero(m.displayClientCount);
        platform::storeWord(m.slots[k].displayFlags, 0);
    }
    // A part it claimed shows the slot in front again (or nothing).
    if (flags & (kClaimsTextLine | kClaimsPinField)) handOver(m, eventAddressee(m));
}

}  // namespace

int32_t reclaimClaim(int32_t reclaimerPid) {
    return static_cast<int32_t>(kReclaimClaimBase + reclaimerPid);
}

std::optional<int32_t> reclaimerOf(int32_t processIdField) {
    const int64_t pid = int64_t{processIdField} - kReclaimClaimBase;
    if (processIdField >= 0 || pid <= 0 || pid > kMaxProcessId) return std::nullopt;
    return static_cast<int32_t>(pid);
}

int countTakenSlots(PortDataMap& map) {
    int n = 0;
    for (auto& s : map.slots)
        if (platform::loadWord(s.notifyThreadId) != 0) ++n;
    return n;
}

int reclaimDeadSlots(PortDataMap& m, const ProcessAlivePredicate& isAlive, int busyTries,
                     const ProcessAlivePredicate& isThreadAlive) {
    int freed = 0;
    const int32_t self = static_cast<int32_t>(::getpid());
    for (int32_t k = 0; k < kSlotCount; ++k) {
        ClientSlot& slot = m.slots[k];
        const int32_t tid = platform::loadWord(slot.notifyThreadId);
        if (tid == 0) continue;
        const int32_t pid = platform::loadWord(slot.processId);
        if (pid < 0) {
            // Claimed by another reclaimer. One that died before it finished would hold the
            // slot, its entry and so the port's controller for good: its claim is taken over.
            // A live one, and any other negative value, is left alone.
            const std::optional<int32_t> claimer = reclaimerOf(pid);
            if (!claimer || *claimer == self || isAlive(*claimer)) continue;
        } else if (pid == 0 ? (!isThreadAlive || isThreadAlive(tid)) : isAlive(pid)) {
            continue;
        }
        // Claim the slot: whoever swaps the id out frees it, nobody else.
        const int32_t claim = reclaimClaim(self);
        if (!platform::exchangeWord(slot.processId, pid, claim)) continue;
        if (platform::loadWord(slot.notifyThreadId) != tid) {
            // Freed and taken again meanwhile: not ours to free.
            platform::exchangeWord(slot.processId, claim, pid);
            continue;
        }

        // Going on whatever the wait gives: the dead owner may hold the flag.
        const bool took = takeSlotBusy(m, k, busyTries);
        (void)took;
        endDisplayMode(m, k);
        if (platform::loadWord(m.closingSlot) == k && platform::loadWord(m.entryCount) > 1)
            platform::storeWord(m.closingSlot, -1);
        platform::exchangeWord(m.directOperationSlot, k, -1);
        platform::storeWord(slot.processId, 0);
        platform::storeWord(slot.notifyThreadId, 0);
        decrementToZero(m.entryCount);
        setSlotBusy(m, k, 0);
        ++freed;
    }
    return freed;
}

}  // namespace tavik
