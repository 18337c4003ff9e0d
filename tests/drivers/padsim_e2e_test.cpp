// The serial plug-in against the real virtual display process.
#include <gtest/gtest.h>

#include <unistd.h>

#include "platform/atomic_word.h"
#include "tests/drivers/plugin_harness.h"
#include "tests/support/files.h"
#include "tests/support/padsim.h"

using namespace tavik;
using namespace tavik::test;

TEST(PadsimEndToEnd, IdentifiesShowsPinsExactlyAndDeliversKeys) {
    TempSettings settings;
    Padsim padsim(settings.folder());
    ASSERT_TRUE(padsim.started());
    const int port = 20 + ::getpid() % 10;
    settings.mapPort(port, padsim.link());
    auto map = PortMap::open(port);
    ASSERT_TRUE(map);
    PortDataMap& m = map->map();
    fillDeviceFields(m);
    NotifyThread client;
    enterDisplaySlot(m, 0, ::getpid(), client.threadId(), true);

    PluginLib lib("Padrik");
    ASSERT_EQ(lib.drvInit(port), 1);
    ASSERT_EQ(lib.drvStart(), 1);
    ASSERT_TRUE(waitUntil([&] { return m.deviceIdentified == 1; }));
    EXPECT_TRUE(lib.waitLine("Connected device: PX-64"));
    EXPECT_EQ(m.graphicWidth, 64);
    EXPECT_EQ(m.graphicHeight, 48);
    EXPECT_EQ(m.textCells, 32);

    std::vector<uint8_t> text(32);
    for (int i = 0; i < 32; ++i) text[static_cast<size_t>(i)] = static_cast<uint8_t>(i * 5 + 1);
    std::vector<uint8_t> dots(64 * 48);
    for (int y = 0; y < 48; ++y)
        for (int x = 0; x < 64; ++x) dots[static_cast<size_t>(y * 64 + x)] = (x == y) ? 1 : ((x + y) % 11 == 0 ? 2 : 0);
    writeSlot(m, 0, text, dots);
    ASSERT_TRUE(padsim.waitState("text", hexOf(text)));
    ASSERT_TRUE(waitUntil([&] { return padsim.grid("plane2").size() == 48 && padsim.grid("plane2")[47][47] == '.' &&
                                       padsim.grid("plane1")[47][47] == '#'; }));
    auto p1 = padsim.grid("plane1"), p2 = padsim.grid("plane2");
    ASSERT_EQ(p1.size(), 48u);
    for (int y = 0; y < 48; ++y)
        for (int x = 0; x < 64; ++x) {
            const uint8_t d = dots[static_cast<size_t>(y * 64 + x)];
            ASSERT_EQ(p1[static_cast<size_t>(y)][static_cast<size_t>(x)], d == 1 ? '#' : '.') << x << "," << y;
            ASSERT_EQ(p2[static_cast<size_t>(y)][static_cast<size_t>(x)], d >= 2 ? '#' : '.') << x << "," << y;
        }

    ASSERT_TRUE(padsim.command("key 4 1 0 0"));
    ASSERT_TRUE(client.waitEvents(1));
    EXPECT_EQ(client.events()[0].code, kNotifyKey);
    EXPECT_EQ(client.events()[0].lParam & 0xFFFFFF, 0x000104);

    // padsim ends mid-session: nothing crashes, and a new padsim serves the
    // next start.
    padsim.kill();
    std::this_thread::sleep_for(std::chrono::milliseconds(200));
    EXPECT_EQ(lib.drvEnd(), 0);
    Padsim second(settings.folder());
    ASSERT_EQ(lib.drvStart(), 1);
    ASSERT_TRUE(waitUntil([&] { return m.status == kStatusConnected; }));
    writeSlot(m, 0, std::vector<uint8_t>(32, 0x3F), {});
    EXPECT_TRUE(second.waitState("text", hexOf(std::vector<uint8_t>(32, 0x3F))));
    lib.drvEnd();
}
