// Thread queues and registered messages across processes.
#include <gtest/gtest.h>

#include <atomic>
#include <thread>

#include "common/data_maps.h"
#include "common/display_parts.h"
#include "common/messages.h"
#include "platform/thread_queue.h"
#include "tests/support/child.h"

using namespace tavik;
using namespace tavik::platform;
using test::Child;

TEST(Messages, RegisteredNumbersAreStableAndDistinct) {
    MessageNumbers a, b;
    ASSERT_TRUE(registerMessages(a));
    ASSERT_TRUE(registerMessages(b));
    EXPECT_EQ(a.command, b.command);
    EXPECT_NE(a.command, a.notify);
    EXPECT_GE(a.command, 0xC000u);
    EXPECT_LE(a.notify, 0xFFFFu);
    EXPECT_EQ(registerMessage(""), 0u);
    // Another process derives the same numbers.
    const uint32_t cmd = a.command;
    Child child([&] {
        MessageNumbers c;
        return registerMessages(c) && c.command == cmd ? 0 : 1;
    });
    EXPECT_EQ(child.waitExit(), 0);
}

TEST(ThreadQueues, MessageFromAnotherProcessReachesThread) {
    std::atomic<int32_t> tid{0};
    ThreadMessage got{};
    bool received = false;
    std::thread receiver([&] {
        auto q = ThreadQueue::createForCurrentThread();
        if (!q) return;
        tid = q->threadId();
        received = q->wait(got, 5000);
    });
    while (tid == 0) std::this_thread::yield();
    const int32_t target = tid;
    Child poster([&] { return postThreadMessage(target, 0xC123, 4, -2) ? 0 : 1; });
    EXPECT_EQ(poster.waitExit(), 0);
    receiver.join();
    ASSERT_TRUE(received);
    EXPECT_EQ(got.message, 0xC123u);
    EXPECT_EQ(got.wParam, 4u);
    EXPECT_EQ(got.lParam, -2);
}

TEST(ThreadQueues, PostToMissingQueueFailsAndFullQueueBlocksBounded) {
    EXPECT_FALSE(postThreadMessage(0, 1, 0, 0));
    EXPECT_FALSE(postThreadMessage(currentThreadId(), 1, 0, 0)) << "no queue yet";
    auto q = ThreadQueue::createForCurrentThread();
    ASSERT_TRUE(q);
    EXPECT_FALSE(ThreadQueue::createForCurrentThread()) << "one queue per thread";
    ThreadMessage m{};
    EXPECT_FALSE(q->peek(m));
    EXPECT_FALSE(q->wait(m, 20));
    int posted = 0;
    while (posted < 200 && postThreadMessage(currentThreadId(), 7, static_cast<uint64_t>(posted), 0, 20)) ++posted;
    EXPECT_GE(posted, 1);
    EXPECT_LT(posted, 200) << "a full queue must refuse after its bound";
    for (int i = 0; i < posted; ++i) {
        ASSERT_TRUE(q->peek(m));
        EXPECT_EQ(m.wParam, static_cast<uint64_t>(i)) << "order kept";
    }
    EXPECT_FALSE(q->peek(m));
}

// Keys as (group, keys, shift) packed the way the device's key frame gives them.
constexpr uint32_t keyEvent(uint32_t group, uint32_t keys, uint32_t shift) { return group | keys << 8 | shift << 16; }

TEST(Notify, ClaimedPartsTakeTheirSourcesAndTheirKeys) {
    PortDataMap map{};
    clearPortMap(map);
    auto live = [&](int slot, int32_t flags) {
        map.slots[slot].processId = 100 + slot;
        map.slots[slot].displayFlags = flags;
    };
    live(3, kDisplayModeOn | kDefaultClient);
    map.defaultSlot = 3;
    live(7, kDisplayModeOn | kClaimsTextLine | kTakesSwitchChord);
    EXPECT_EQ(displaySources(map, 3).text, 7);
    EXPECT_EQ(displaySources(map, 3).graphic, 3);
    EXPECT_EQ(keyAddressee(map, keyEvent(2, 15, 0)), 7);     // a key above a cell
    EXPECT_EQ(keyAddressee(map, keyEvent(4, 0x08, 0)), 3);   // navigation stays with the slot in front
    EXPECT_EQ(keyAddressee(map, keyEvent(4, 0x90, 0)), 7);   // the switch chord
    EXPECT_EQ(keyAddressee(map, keyEvent(4, 0x90, 0x20)), 3);  // ... not with a shift key
    // Moved to the pins: navigation and the stick go along, the text-line keys come back.
    map.slots[7].displayFlags = kDisplayModeOn | kClaimsPinField | kTakesSwitchChord;
    EXPECT_EQ(displaySources(map, 3).text, 3);
    EXPECT_EQ(displaySources(map, 3).graphic, 7);
    EXPECT_EQ(keyAddressee(map, keyEvent(2, 15, 0)), 3);
    EXPECT_EQ(keyAddressee(map, keyEvent(5, 0x02, 0)), 7);
    EXPECT_EQ(keyAddressee(map, keyEvent(1, 5, 0)), 3);
    // Nothing in front: every key to the claimant.
    map.defaultSlot = -1;
    EXPECT_EQ(keyAddressee(map, keyEvent(1, 5, 0)), 7);
    // A suspended or ended claimant claims nothing.
    map.defaultSlot = 3;
    map.slots[7].displayFlags |= kDisplaySuspended;
    EXPECT_EQ(displaySources(map, 3).graphic, 3);
    map.slots[7].displayFlags = kDisplayModeOn | kClaimsPinField;
    map.slots[7].processId = 0;
    EXPECT_EQ(keyAddressee(map, keyEvent(5, 0x02, 0)), 3);
}

TEST(Notify, AddresseeRulesAndUndeliverableSlots) {
    PortDataMap map{};
    clearPortMap(map);
    EXPECT_EQ(eventAddressee(map), -1);
    map.defaultSlot = 4;
    EXPECT_EQ(eventAddressee(map), 4);
    map.foregroundSlot = 2;
    EXPECT_EQ(eventAddressee(map), 2);
    map.foregroundSlot = 99;  // hostile values never index the slots
    EXPECT_EQ(eventAddressee(map), 4);
    MessageNumbers msgs;
    registerMessages(msgs);
    EXPECT_FALSE(postNotify(map, msgs, 4, kNotifyKey, 0)) << "notifyThreadId 0 is not delivered";
    EXPECT_FALSE(postNotify(map, msgs, 16, kNotifyKey, 0));

    auto q = ThreadQueue::createForCurrentThread();
    ASSERT_TRUE(q);
    map.slots[4].notifyThreadId = q->threadId();
    map.slots[9].notifyThreadId = q->threadId();
    EXPECT_TRUE(postNotifyToAddressee(map, msgs, kNotifyKey, 0x04030201));
    EXPECT_EQ(postNotifyToAll(map, msgs, kNotifyBroadcast, 5), 2);
    ThreadMessage m{};
    ASSERT_TRUE(q->peek(m));
    EXPECT_EQ(m.message, msgs.notify);
    EXPECT_EQ(m.wParam, static_cast<uint64_t>(kNotifyKey));
    EXPECT_EQ(m.lParam, 0x04030201);
}
