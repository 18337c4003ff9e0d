// Shared sections, port maps and shared blocks across real processes.
#include <gtest/gtest.h>

#include <cstring>
#include <string>

#include "common/data_maps.h"
#include "common/shared_block.h"
#include "platform/shared_section.h"
#include "tests/support/child.h"

using namespace tavik;
using platform::SharedSection;
using test::Child;
using test::Signal;

namespace {

// Each test uses its own port index so runs never meet stale sections of
// another test; the indexes are high enough to stay clear of real ports.
std::string uniqueName(const char* tag) { return std::string("tavik-test-") + tag + "-" + std::to_string(::getpid()); }

}  // namespace

TEST(PortMapNames, SerialAndConnectionForms) {
    EXPECT_EQ(portMapName(0), "Data Map (Com1) for GD Driver Ver.2.00");
    EXPECT_EQ(portMapName(63), "Data Map (Com64) for GD Driver Ver.2.00");
    EXPECT_EQ(portMapName(64), "Data Map (Connection 64) for GD Driver Ver.2.00");
    EXPECT_EQ(portMapName(-1), "");
    EXPECT_EQ(portDisplayName(2), "Com3");
    EXPECT_EQ(portDisplayName(64), "USB1");
    EXPECT_EQ(sharedBlockName(0), "GD Driver V2 shared #0");
    EXPECT_EQ(sharedBlockName(10), "GD Driver V2 shared #a");
    EXPECT_EQ(sharedBlockName(1023), "GD Driver V2 shared #3ff");
}

TEST(SharedSections, LifetimeFollowsLiveHolders) {
    const std::string name = uniqueName("life");
    EXPECT_FALSE(SharedSection::open(name, SharedSection::Access::ReadWrite));
    Signal created, done;
    Child holder([&] {
        bool fresh = false;
        auto s = SharedSection::create(name, 4096, &fresh);
        if (!s || !fresh) return 1;
        std::memcpy(s->data(), "alive", 6);
        created.post();
        done.wait();  // hold until killed
        return 0;
    });
    ASSERT_TRUE(created.wait());
    {
        auto s = SharedSection::open(name, SharedSection::Access::ReadOnly);
        ASSERT_TRUE(s);
        EXPECT_STREQ(static_cast<const char*>(s->data()), "alive");
        EXPECT_FALSE(SharedSection::open(name, SharedSection::Access::ReadWrite, 8192)) << "short section mapped";
    }
    holder.kill();
    holder.waitExit();
    // Every holder died: the section counts as absent, and creating it again
    // gives fresh zero bytes.
    EXPECT_FALSE(SharedSection::exists(name));
    EXPECT_FALSE(SharedSection::open(name, SharedSection::Access::ReadWrite));
    bool fresh = false;
    auto again = SharedSection::create(name, 4096, &fresh);
    ASSERT_TRUE(again);
    EXPECT_TRUE(fresh);
    EXPECT_EQ(static_cast<const char*>(again->data())[0], 0);
}

TEST(SharedSections, SecondHolderInOneProcessKeepsItAlive) {
    const std::string name = uniqueName("two");
    auto a = SharedSection::create(name, 64);
    ASSERT_TRUE(a);
    bool fresh = true;
    auto b = SharedSection::create(name, 64, &fresh);
    ASSERT_TRUE(b);
    EXPECT_FALSE(fresh);
    a.reset();
    EXPECT_TRUE(SharedSection::exists(name));
    b.reset();
    EXPECT_FALSE(SharedSection::exists(name));
}

TEST(PortMaps, OpenedByAnotherProcessUntouchedOnlyCreatorClears) {
    const int32_t port = 40 + ::getpid() % 20;
    Signal created, checked;
    Child creator([&] {
        bool fresh = false;
        auto pm = PortMap::open(port, &fresh);
        if (!pm || !fresh) return 1;
        // A creator clears and names the map; then fills device fields.
        if (pm->map().portIndex != port || pm->map().textCells != 32 || pm->map().graphicWidth != 64 || pm->map().graphicHeight != 48 ||
            pm->map().reserved36 != 64 || pm->map().foregroundSlot != -1 || pm->map().monitorPort != -1 || pm->map().displayRequest != -1)
            return 2;
        pm->map().baudRate = 115200;
        pm->map().entryCount = 3;
        pm->map().foregroundSlot = 5;
        pm->map().slots[2].processId = 77;
        pm->map().slots[2].graphic[9999] = 9;
        setFieldString(pm->map().deviceName, "PX-64");
        created.post();
        checked.wait();
        return 0;
    });
    ASSERT_TRUE(created.wait());
    bool fresh = true;
    auto pm = PortMap::open(port, &fresh);
    ASSERT_TRUE(pm);
    EXPECT_FALSE(fresh);
    EXPECT_EQ(pm->map().baudRate, 115200);
    EXPECT_EQ(pm->map().entryCount, 3);
    EXPECT_EQ(pm->map().foregroundSlot, 5);
    EXPECT_EQ(pm->map().slots[2].processId, 77);
    EXPECT_EQ(pm->map().slots[2].graphic[9999], 9);
    EXPECT_EQ(fieldString(pm->map().deviceName), "PX-64");

    PortDataMap copy{};
    EXPECT_TRUE(readPortMap(port, nullptr, copy));
    EXPECT_EQ(copy.entryCount, 3);
    EXPECT_TRUE(readPortMap(-1, &*pm, copy));
    EXPECT_FALSE(readPortMap(-1, nullptr, copy));
    checked.post();
    EXPECT_EQ(creator.waitExit(), 0);
}

TEST(PortMaps, SlotBusyFlags) {
    auto pm = PortMap::open(30 + ::getpid() % 10);
    ASSERT_TRUE(pm);
    EXPECT_TRUE(waitSlotFree(pm->map(), 3, 1));
    EXPECT_TRUE(takeSlotBusy(pm->map(), 3, 1));
    EXPECT_FALSE(takeSlotBusy(pm->map(), 3, 2));
    EXPECT_FALSE(waitSlotFree(pm->map(), 3, 2));
    setSlotBusy(pm->map(), 3, 0);
    EXPECT_TRUE(waitSlotFree(pm->map(), 3, 1));
    // Out-of-range slots never index the map.
    EXPECT_FALSE(waitSlotFree(pm->map(), 16, 1));
    EXPECT_FALSE(takeSlotBusy(pm->map(), -1, 1));
    setSlotBusy(pm->map(), 99, 1);
}

TEST(SharedBlocks, NumberingSkipsLiveBlocksAcrossProcesses) {
    // An idle system gives block 0; with 0..9 alive in another process the
    // next is 10, named "#a".
    auto first = SharedBlock::create(8);
    ASSERT_TRUE(first);
    EXPECT_EQ(first->number(), 0);
    first.reset();

    Signal ready, release;
    Child holder([&] {
        std::vector<SharedBlock> blocks;
        for (int i = 0; i < 10; ++i) {
            auto b = SharedBlock::create(8);
            if (!b || b->number() != i) return 1;
            blocks.push_back(std::move(*b));
        }
        ready.post();
        release.wait();
        return 0;
    });
    ASSERT_TRUE(ready.wait());
    auto next = SharedBlock::create(12);
    ASSERT_TRUE(next);
    EXPECT_EQ(next->number(), 10);
    EXPECT_TRUE(SharedSection::exists("GD Driver V2 shared #a"));
    auto opened = SharedBlock::open(10);
    ASSERT_TRUE(opened);
    EXPECT_EQ(opened->payloadSize(), 12);
    release.post();
    EXPECT_EQ(holder.waitExit(), 0);
}

TEST(SharedBlocks, HostileSizesAreRefused) {
    auto b = SharedBlock::create(16);
    ASSERT_TRUE(b);
    // A block that claims more payload than its section holds is not opened.
    int32_t* size = reinterpret_cast<int32_t*>(b->payload() - 4);
    *size = 1 << 20;
    EXPECT_FALSE(SharedBlock::open(b->number()));
    *size = -5;
    EXPECT_FALSE(SharedBlock::open(b->number()));
    *size = 16;
    auto ok = SharedBlock::open(b->number());
    ASSERT_TRUE(ok);
    EXPECT_EQ(ok->word(16), nullptr);
    EXPECT_EQ(ok->word(2), nullptr);
    EXPECT_NE(ok->word(12), nullptr);
    EXPECT_FALSE(SharedBlock::open(-1));
    EXPECT_FALSE(SharedBlock::open(1024));
    EXPECT_FALSE(SharedBlock::create(0));
}

TEST(SharedBlocks, ResultHandshakeAndBound) {
    auto b = SharedBlock::create(8);
    ASSERT_TRUE(b);
    const int32_t number = b->number();
    Child server([&] {
        auto s = SharedBlock::open(number);
        if (!s) return 1;
        *s->word(4) = 42;
        publishBlockResult(*s, 1);
        return 0;
    });
    EXPECT_EQ(awaitBlockResult(*b, 5000), 1);
    EXPECT_EQ(b->read(4), 42);
    EXPECT_EQ(server.waitExit(), 0);

    // Nobody answers: the wait ends after its bound with 0.
    auto silent = SharedBlock::create(8);
    ASSERT_TRUE(silent);
    EXPECT_EQ(awaitBlockResult(*silent, 50), 0);
    EXPECT_EQ(silent->read(0), 0);
}
