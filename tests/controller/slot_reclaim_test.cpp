// Reclaiming the slots of clients that died without ending their entry.
#include "common/slot_reclaim.h"

#include <gtest/gtest.h>

#include <memory>
#include <set>

using namespace tavik;

namespace {

std::unique_ptr<PortDataMap> freshMap() {
    auto m = std::make_unique<PortDataMap>();
    clearPortMap(*m);
    return m;
}

void take(PortDataMap& m, int slot, int32_t pid, int32_t flags = 0) {
    m.slots[slot].processId = pid;
    m.slots[slot].notifyThreadId = pid + 1000;
    m.slots[slot].displayFlags = flags;
    m.entryCount += 1;
    if (flags != 0) m.displayClientCount += 1;
}

ProcessAlivePredicate aliveSet(std::set<int32_t> alive) {
    return [alive](int32_t pid) { return alive.count(pid) != 0; };
}

}  // namespace

TEST(SlotReclaim, DeadDefaultClientPassesDefaultOn) {
    auto m = freshMap();
    take(*m, 2, 200, kDisplayModeOn | kDefaultClient);   // alive, default-capable
    take(*m, 5, 500, kDisplayModeOn | kDefaultClient);   // dies; current default
    take(*m, 9, 900, kDisplayModeOn);                    // alive, plain display client
    m->defaultSlot = 5;
    m->displayRequest = 5;
    m->slotBusy[5] = 1;  // died while writing its slot

    EXPECT_EQ(reclaimDeadSlots(*m, aliveSet({200, 900}), 0), 1);
    EXPECT_EQ(m->slots[5].processId, 0);
    EXPECT_EQ(m->slots[5].notifyThreadId, 0);
    EXPECT_EQ(m->slots[5].displayFlags, 0);
    EXPECT_EQ(m->slotBusy[5], 0);
    EXPECT_EQ(m->defaultSlot, 2);
    EXPECT_EQ(m->displayRequest, 2);  // no foreground slot: the new default is shown
    EXPECT_EQ(m->displayClientCount, 2);
    EXPECT_EQ(m->entryCount, 2);
    EXPECT_EQ(countTakenSlots(*m), 2);

    // Nothing left to reclaim: a second pass changes nothing.
    EXPECT_EQ(reclaimDeadSlots(*m, aliveSet({200, 900}), 0), 0);
    EXPECT_EQ(m->entryCount, 2);
}

TEST(SlotReclaim, DeadForegroundClientGivesWayToDefault) {
    auto m = freshMap();
    take(*m, 0, 100, kDisplayModeOn | kDefaultClient);
    take(*m, 3, 300, kDisplayModeOn);
    m->defaultSlot = 0;
    m->foregroundSlot = 3;
    m->displayRequest = 3;

    EXPECT_EQ(reclaimDeadSlots(*m, aliveSet({100}), 0), 1);
    EXPECT_EQ(m->foregroundSlot, -1);
    EXPECT_EQ(m->displayRequest, 0);
    EXPECT_EQ(m->defaultSlot, 0);

    // The last default client dies while another slot is in front: no default
    // remains and the foreground slot's request stands.
    auto n = freshMap();
    take(*n, 1, 100, kDisplayModeOn | kDefaultClient);
    take(*n, 4, 400, kDisplayModeOn);
    n->defaultSlot = 1;
    n->foregroundSlot = 4;
    n->displayRequest = 4;
    EXPECT_EQ(reclaimDeadSlots(*n, aliveSet({400}), 0), 1);
    EXPECT_EQ(n->defaultSlot, -1);
    EXPECT_EQ(n->foregroundSlot, 4);
    EXPECT_EQ(n->displayRequest, 4);
}

TEST(SlotReclaim, ClosingAndDirectOperationRights) {
    auto m = freshMap();
    take(*m, 0, 100);
    take(*m, 1, 101);
    m->closingSlot = 1;
    m->directOperationSlot = 1;
    EXPECT_EQ(reclaimDeadSlots(*m, aliveSet({100}), 0), 1);
    EXPECT_EQ(m->closingSlot, -1);  // others remain: their reopen must not be blocked
    EXPECT_EQ(m->directOperationSlot, -1);

    // The last client's close request stays, as its own end would leave it.
    auto n = freshMap();
    take(*n, 6, 600);
    n->closingSlot = 6;
    EXPECT_EQ(reclaimDeadSlots(*n, aliveSet({}), 0), 1);
    EXPECT_EQ(n->closingSlot, 6);
    EXPECT_EQ(n->entryCount, 0);
}

TEST(SlotReclaim, OnlyTakenSlotsOfKnownDeadProcesses) {
    auto m = freshMap();
    take(*m, 0, 100);
    m->slots[1].processId = 0;  // being taken: id not yet written
    m->slots[1].notifyThreadId = 77;
    m->slots[2].processId = -5;  // hostile id
    m->slots[2].notifyThreadId = 78;
    m->slots[3].processId = 333;  // free slot with a stale id
    m->slots[3].notifyThreadId = 0;
    m->entryCount = 3;
    int asked = 0;
    auto pred = [&](int32_t) {
        ++asked;
        return true;
    };
    EXPECT_EQ(reclaimDeadSlots(*m, pred, 0), 0);
    EXPECT_EQ(asked, 1);  // only slot 0 was worth asking about
    EXPECT_EQ(m->entryCount, 3);
    EXPECT_EQ(m->slots[1].notifyThreadId, 77);
    EXPECT_EQ(m->slots[2].notifyThreadId, 78);
}

TEST(SlotReclaim, HostileCountsNeverGoNegative) {
    auto m = freshMap();
    take(*m, 7, 700, kDisplayModeOn | kDefaultClient);
    m->entryCount = 0;
    m->displayClientCount = -3;
    m->defaultSlot = 9999;
    m->foregroundSlot = INT32_MIN;
    m->displayRequest = 12;
    m->closingSlot = 70000;
    EXPECT_EQ(reclaimDeadSlots(*m, aliveSet({}), 0), 1);
    EXPECT_EQ(m->entryCount, 0);
    EXPECT_EQ(m->displayClientCount, -3);  // left as found, never lowered further
    EXPECT_EQ(m->defaultSlot, 9999);
    EXPECT_EQ(m->foregroundSlot, INT32_MIN);
    EXPECT_EQ(m->displayRequest, 12);
    EXPECT_EQ(m->closingSlot, 70000);
    EXPECT_EQ(m->slots[7].notifyThreadId, 0);
}

// A reclaimer that died while it freed a slot (its claim in the processId) would hold the slot,
// the entry and so the controller for good: a later pass takes its claim over. A live claimer's
// slot, and negative values that are no claim (the old anonymous -1), are left alone.
TEST(SlotReclaim, AClaimLeftByADeadReclaimerIsTakenOver) {
    EXPECT_EQ(reclaimerOf(reclaimClaim(300)), 300);
    EXPECT_EQ(reclaimerOf(reclaimClaim(4194304)), 4194304);
    for (int32_t notClaim : {-1, -5, 0, 300, INT32_MIN, INT32_MIN + 4194305}) EXPECT_FALSE(reclaimerOf(notClaim));

    auto m = freshMap();
    take(*m, 0, 100, kDisplayModeOn | kDefaultClient);
    m->defaultSlot = 0;
    m->slotBusy[0] = 1;                       // the owner died holding its flag...
    m->slots[0].processId = reclaimClaim(300);  // ...and the reclaimer 300 died waiting for it
    take(*m, 4, 400);
    m->slots[4].processId = reclaimClaim(500);  // reclaimer 500 is still at work
    take(*m, 6, 600);
    m->slots[6].processId = -1;

    EXPECT_EQ(reclaimDeadSlots(*m, aliveSet({500}), 0), 1);
    EXPECT_EQ(m->slots[0].notifyThreadId, 0);
    EXPECT_EQ(m->slots[0].processId, 0);
    EXPECT_EQ(m->slotBusy[0], 0);
    EXPECT_EQ(m->defaultSlot, -1);
    EXPECT_EQ(m->displayClientCount, 0);
    EXPECT_EQ(m->entryCount, 2);
    EXPECT_EQ(m->slots[4].processId, reclaimClaim(500));
    EXPECT_EQ(m->slots[6].processId, -1);
    EXPECT_EQ(countTakenSlots(*m), 2);
}
