// Command decoding with hostile values, the show/hide and reopen rules, and
// plug-in file resolution.
#include "controller/commands.h"
#include "controller/driver_library.h"

#include <gtest/gtest.h>

#include <cstdint>

using namespace tavik::controller;

TEST(DecodeCommand, AcceptsEveryCodeWithItsArgumentRange) {
    auto r = decodeCommand(1, 79);
    ASSERT_TRUE(r);
    EXPECT_EQ(r->command, Command::OpenPort);
    EXPECT_EQ(r->argument, 79);
    EXPECT_EQ(decodeCommand(2, 12345)->command, Command::ClosePort);
    EXPECT_EQ(decodeCommand(3, 0)->command, Command::ReopenPort);
    EXPECT_EQ(decodeCommand(7, 1023)->argument, 1023);
    EXPECT_EQ(decodeCommand(9, 1)->command, Command::ShowWindow);
    EXPECT_EQ(decodeCommand(10, 17)->command, Command::DirectBytes);
}

TEST(DecodeCommand, RefusesHostileValues) {
    // Unknown codes, including the notify codes and values beyond 32 bits.
    for (uint64_t code : {0ull, 4ull, 5ull, 6ull, 8ull, 11ull, 255ull, 0x100000001ull, ~0ull})
        EXPECT_FALSE(decodeCommand(code, 0)) << code;
    // Port indexes outside 0..79, and values that only look right in the low 32 bits.
    for (int64_t p : {int64_t{-1}, int64_t{80}, int64_t{INT32_MAX}, int64_t{INT32_MIN}, (int64_t{1} << 32) + 3})
        EXPECT_FALSE(decodeCommand(1, p)) << p;
    // Shared block numbers outside 0..1023.
    for (uint64_t code : {3ull, 7ull, 10ull})
        for (int64_t n : {int64_t{-1}, int64_t{1024}, int64_t{INT64_MAX}, INT64_MIN, (int64_t{1} << 32)})
            EXPECT_FALSE(decodeCommand(code, n)) << code << " " << n;
    for (int64_t a : {int64_t{-1}, int64_t{2}, int64_t{1} << 32}) EXPECT_FALSE(decodeCommand(9, a)) << a;
}

TEST(ShowHide, PolicyTable) {
    // Hide: allowed from "allow to hide" (2), and from stray values above 3.
    auto a = decideShowHide(2, 1);
    EXPECT_TRUE(a.change);
    EXPECT_TRUE(a.hide);
    EXPECT_EQ(a.newAllowHideWindow, 1);
    EXPECT_TRUE(decideShowHide(12345, 1).change);
    // "Show always" ignores hide requests; 0 and 1 are already hidden or hide-always.
    for (int32_t p : {3, 1, 0, -5, INT32_MIN}) EXPECT_FALSE(decideShowHide(p, 1).change) << p;

    // Show: from 0 ("hide always") and 1 (hidden on request) to 2 with the Hide button.
    for (int32_t p : {0, 1}) {
        a = decideShowHide(p, 0);
        EXPECT_TRUE(a.change);
        EXPECT_FALSE(a.hide);
        EXPECT_TRUE(a.showHideButton);
        EXPECT_EQ(a.newAllowHideWindow, 2);
    }
    for (int32_t p : {2, 3, -1, 99}) EXPECT_FALSE(decideShowHide(p, 0).change) << p;
    // Other arguments do nothing.
    EXPECT_FALSE(decideShowHide(2, 7).change);
}

TEST(Reopen, ResultFollowsStatusAndClosingSlot) {
    EXPECT_EQ(reopenState(1, 3).result, 1);  // the plug-in already reports the port open
    EXPECT_FALSE(reopenState(1, 3).stillClosing);
    EXPECT_EQ(reopenState(8, -1).result, 1);  // closing mark, but nobody's close request
    auto st = reopenState(8, 2);               // a client's close request still pending
    EXPECT_TRUE(st.stillClosing);
    EXPECT_EQ(st.result, -1);
}

TEST(PluginPath, WindowsNamesResolveInsideTheFolder) {
    EXPECT_EQ(resolvePluginPath("Padrik.dll", "/opt/tavik"), "/opt/tavik/Padrik.so");
    EXPECT_EQ(resolvePluginPath("Padrik_ft.DLL", "/opt/tavik/"), "/opt/tavik/Padrik_ft.so");
    EXPECT_EQ(resolvePluginPath("Notdrv.so", "/x"), "/x/Notdrv.so");
    EXPECT_EQ(resolvePluginPath("Notdrv", "/x"), "/x/Notdrv.so");
    for (const char* bad : {"", ".dll", "..", "../Padrik.dll", "/tmp/evil.dll", "sub/Padrik.dll", "a b.dll",
                            "Pad\\rik.dll", ".hidden.dll", "x\xff.dll"})
        EXPECT_FALSE(resolvePluginPath(bad, "/opt/tavik")) << bad;
}

TEST(BringToFront, ShowsWhateverThePolicyAndReachesEveryPort) {
    // The controllers' own message, with any argument, is a bring-to-front.
    for (int64_t a : {int64_t{0}, int64_t{1}, int64_t{-7}})
        EXPECT_EQ(decodeCommand(kCmdBringToFront, a)->command, Command::BringToFront) << a;
    // Shown in every policy; a hidden policy becomes "allow to hide", the
    // others stay, and "Show always" keeps its Hide button invisible.
    const struct {
        int32_t policy, after;
        bool hideButton;
    } cases[] = {{0, 2, true}, {1, 2, true}, {2, 2, true}, {3, 3, false}, {-4, 2, true}, {99, 2, true}};
    for (const auto& c : cases) {
        const ShowHideAction a = decideBringToFront(c.policy);
        EXPECT_TRUE(a.change) << c.policy;
        EXPECT_FALSE(a.hide) << c.policy;
        EXPECT_EQ(a.newAllowHideWindow, c.after) << c.policy;
        EXPECT_EQ(a.showHideButton, c.hideButton) << c.policy;
    }
    // Every serial port and every USB display, each once.
    const std::vector<int32_t> ports = controllerScanPorts();
    ASSERT_EQ(ports.size(), 80u);
    for (int32_t i = 0; i < 80; ++i) EXPECT_EQ(ports[static_cast<std::size_t>(i)], i);
}
