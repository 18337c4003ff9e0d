// End to end: applications on the client library (real processes) start the
// real controller, which loads the serial plug-in on padsim's pseudo-terminal.
// Skipped when the controller, the plug-in or padsim has not been built.
#include "tests/client/client_fixture.h"

#include <gtest/gtest.h>

#include <csignal>
#include <cstdlib>
#include <filesystem>
#include <memory>
#include <sstream>
#include <unistd.h>

using namespace tavik::test;

namespace {

constexpr int W = 64, H = 48;

// A banded plane of the dots for which `on(row, column)` holds.
template <typename F>
std::vector<unsigned char> plane(F on) {
    std::vector<unsigned char> p(W * ((H + 7) / 8), 0);
    for (int r = 0; r < H; ++r)
        for (int x = 0; x < W; ++x)
            if (on(r, x)) p[(r / 8) * W + x] |= static_cast<unsigned char>(1u << (r % 8));
    return p;
}

template <typename F>
std::vector<std::string> gridOf(F on) {
    std::vector<std::string> rows(H, std::string(W, '.'));
    for (int r = 0; r < H; ++r)
        for (int x = 0; x < W; ++x)
            if (on(r, x)) rows[r][x] = '#';
    return rows;
}

class EndToEnd : public client_test::ClientEndToEnd {
protected:
    EndToEnd() : ClientEndToEnd("client-e2e", 1) {}
    bool textShows(unsigned char cell) {
        const std::string want = hexOf(std::vector<unsigned char>(32, cell));
        return pad_->waitState([&](const std::string& s) { return Padsim::value(s, "text") == want; });
    }
};

}  // namespace

TEST_F(EndToEnd, OneApplicationDrivesTheDisplay) {
    Child& a = app();
    ASSERT_EQ(a.result(start()), 1);
    EXPECT_EQ(controllers().size(), 1u);
    EXPECT_EQ(a.call("version"), "version 1 4 2 1");
    ASSERT_TRUE(a.expect("status 1"));
    ASSERT_TRUE(waitUntil([&] { return a.call("equipment") == "equipment 1 32 64 48 QX-64X48"; }));
    EXPECT_EQ(a.call("driverversion"), "driverversion 1 4 2 1");
    ASSERT_EQ(a.result("display 3"), 1);

    // Text cells go to the device unchanged.
    std::vector<unsigned char> text(32);
    for (int i = 0; i < 32; ++i) text[i] = static_cast<unsigned char>(i * 7 + 1);
    ASSERT_EQ(a.result("text " + hexOf(text)), 1);
    EXPECT_TRUE(pad_->waitState([&](const std::string& s) { return Padsim::value(s, "text") == hexOf(text); }));

    // Two planes: a dot raised in both shows in the second plane only.
    auto on1 = [](int r, int x) { return (r + x) % 7 == 0 || (r == 15 && x == 0) || (r == 47 && x == 63); };
    auto on2 = [](int r, int x) { return x == 10 || r == 40; };
    ASSERT_EQ(a.result("graphic " + hexOf(plane(on1)) + " " + hexOf(plane(on2)) + " 5"), 1);
    auto want1 = gridOf([&](int r, int x) { return on1(r, x) && !on2(r, x); });
    auto want2 = gridOf(on2);
    EXPECT_TRUE(pad_->waitState([&](const std::string& s) {
        return Padsim::grid(s, "plane1") == want1 && Padsim::grid(s, "plane2") == want2;
    })) << pad_->state();
    EXPECT_EQ(Padsim::value(pad_->state(), "plane2_level"), "5");

    // Plane 1 alone leaves no second-plane dot behind.
    ASSERT_EQ(a.result("graphic " + hexOf(plane(on1)) + " - 0"), 1);
    auto only1 = gridOf(on1);
    auto none = gridOf([](int, int) { return false; });
    EXPECT_TRUE(pad_->waitState([&](const std::string& s) {
        return Padsim::grid(s, "plane1") == only1 && Padsim::grid(s, "plane2") == none;
    })) << pad_->state();

    // One value per dot: 1 is the first plane, 2 and up the second.
    std::vector<unsigned char> dots(W * H, 0);
    for (int r = 0; r < H; ++r)
        for (int x = 0; x < W; ++x) dots[r * W + x] = r == x ? 1 : (x == 2 * r - 20 ? 2 : 0);
    ASSERT_EQ(a.result("v2 1 " + hexOf(dots)), 1);
    EXPECT_TRUE(pad_->waitState([&](const std::string& s) {
        return Padsim::grid(s, "plane1") == gridOf([](int r, int x) { return r == x; }) &&
               Padsim::grid(s, "plane2") == gridOf([](int r, int x) { return x == 2 * r - 20 && r != x; });
    })) << pad_->state();

    // A device key reaches the key callback.
    pad_->command("key 4 1 0");
    auto key = a.expect("key ");
    ASSERT_TRUE(key);
    EXPECT_EQ(*key, "key 4 1 0");

    // Direct commands need the right and an open port.
    EXPECT_EQ(a.result("post 95 0 010203"), 0);
    ASSERT_EQ(a.result("directstart"), 1);
    EXPECT_EQ(a.call("send a5 0 1000"), "send 1 90");  // padsim answers 0x5a
    EXPECT_EQ(a.call("send a5 0 0"), "send 1 0");       // no reply asked for
    EXPECT_EQ(a.result("post 95 0 010203"), 1);
    EXPECT_EQ(a.result("bytes 0a0b0c"), 1);
    EXPECT_TRUE(waitUntil([&] {
        const std::string log = pad_->log();
        const auto a = log.find("outside frames: 0a"), b = log.find("outside frames: 0b"),
                   c = log.find("outside frames: 0c");
        return a != std::string::npos && b != std::string::npos && c != std::string::npos && a < b && b < c;
    })) << pad_->log();
    EXPECT_NE(pad_->log().find("rx 95 param 0 len 3: unknown frame: 01 02 03"), std::string::npos);
    EXPECT_EQ(a.result("directend"), 1);
    EXPECT_EQ(a.result("ccb 1 0102030405060708"), 1);

    // Close and reopen the port; restart while open does nothing.
    ASSERT_EQ(a.result("close"), 1);
    EXPECT_TRUE(a.expect("status 8"));
    EXPECT_EQ(a.result("close"), 0);
    EXPECT_EQ(a.call("reopen"), "reopen 1 0");
    EXPECT_TRUE(a.expect("status 1"));
    EXPECT_EQ(a.result("restart"), 1);
    // After a close, a restart starts the plug-in again. A restart asked while
    // the port is still closing (status 8) does nothing, so the wait is for the
    // 0 this close leaves, not the one the first close left.
    a.forget("status ");
    ASSERT_EQ(a.result("close"), 1);
    EXPECT_TRUE(a.expect("status 0"));
    EXPECT_EQ(a.result("restart"), 1);
    EXPECT_TRUE(a.expect("status 1"));

    ASSERT_EQ(a.result("end"), 1);
    EXPECT_EQ(a.result("end"), 0);
    EXPECT_TRUE(waitUntil([&] { return controllers().empty(); }));
}

TEST_F(EndToEnd, TwoApplicationsShareOnePort) {
    Child& a = app();
    Child& b = app();
    ASSERT_EQ(a.result(start()), 1);
    ASSERT_EQ(a.result("display 3"), 1);
    ASSERT_TRUE(a.expect("status 1"));
    ASSERT_EQ(b.result("start " + std::to_string(port_) + " qx-64x48"), 1);
    EXPECT_EQ(controllers().size(), 1u);
    EXPECT_EQ(b.result("entries"), 2);
    ASSERT_EQ(b.result("display 1"), 1);
    const int pidB = b.result("pid");

    ASSERT_EQ(a.result("text " + std::string(64, 'a')), 1);
    ASSERT_TRUE(textShows(0xAA));
    ASSERT_EQ(b.result("text " + std::string(64, 'b')), 1);  // neither in front nor default: waits

    foreground(pidB);
    EXPECT_TRUE(textShows(0xBB));
    pad_->command("key 1 3 0");
    auto key = b.expect("key ");
    ASSERT_TRUE(key);
    EXPECT_EQ(*key, "key 1 3 0");
    EXPECT_TRUE(a.seen("key ").empty());
    pad_->command("broadcast 1 2 3 4");
    EXPECT_TRUE(a.expect("broadcast "));
    EXPECT_TRUE(b.expect("broadcast "));

    // A suspended slot is never shown: the default comes back.
    ASSERT_EQ(b.result("suspend 1"), 1);
    EXPECT_TRUE(textShows(0xAA));
    ASSERT_EQ(b.result("suspend 0"), 1);
    EXPECT_TRUE(textShows(0xBB));
    foreground(0);
    EXPECT_TRUE(textShows(0xAA));

    // The direct-operation right belongs to one application.
    ASSERT_EQ(a.result("directstart"), 1);
    EXPECT_EQ(b.result("directstart"), 0);
    EXPECT_EQ(b.result("post 95 0 01"), 0);
    EXPECT_EQ(b.result("ccb 1 00"), 0);
    EXPECT_EQ(a.result("post 95 0 01"), 1);

    ASSERT_EQ(a.result("end"), 1);
    EXPECT_EQ(controllers().size(), 1u);
    EXPECT_EQ(b.result("entries"), 1);
    ASSERT_EQ(b.result("end"), 1);
    EXPECT_TRUE(waitUntil([&] { return controllers().empty(); }));
}

TEST_F(EndToEnd, ControllerEndsAfterTheLastApplicationWasKilled) {
    Child& a = app();
    ASSERT_EQ(a.result(start()), 1);
    ASSERT_TRUE(a.expect("status 1"));
    ASSERT_EQ(controllers().size(), 1u);
    a.kill(SIGKILL);
    ASSERT_TRUE(a.waitExit());
    EXPECT_TRUE(waitUntil([&] { return controllers().empty(); }));

    // The port is usable again afterwards, with a fresh controller.
    Child& b = app();
    ASSERT_EQ(b.result(start()), 1);
    EXPECT_EQ(b.result("entries"), 1);
    EXPECT_EQ(b.result("end"), 1);
}
