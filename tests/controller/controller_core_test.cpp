// The controller core in this process, with the fake plug-in: the user's
// connect and disconnect, the notification senders, the idle decisions and
// the refusal of requests it cannot serve.
#include "controller/controller.h"
#include "controller/headless_window.h"

#include "common/settings.h"
#include "common/shared_block.h"
#include "platform/atomic_word.h"
#include "platform/thread_queue.h"
#include "tests/support/temp_dir.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <optional>

using namespace tavik;
using namespace tavik::controller;

namespace {

class ControllerCore : public ::testing::Test {
protected:
    void SetUp() override {
        tmp_ = folder_.emplace("controller-core").path();
        ::setenv("XDG_CONFIG_HOME", tmp_.c_str(), 1);
        ::unsetenv("FAKE_DRV_LOG");
        InitSettingsPaths();
        ASSERT_TRUE(registerMessages(msgs_));
        queue_ = platform::ThreadQueue::createForCurrentThread();
        ASSERT_TRUE(queue_);
        for (int i = 0; i < 20 && !map_; ++i) {
            int32_t port = 60 + (::getpid() + 7 + i) % 20;
            bool created = false;
            auto pm = PortMap::open(port, &created);
            if (pm && created) {
                map_.emplace(std::move(*pm));
                port_ = port;
            }
        }
        ASSERT_TRUE(map_);
        setFieldString(m().driverFile, "FakeDrv.dll");
        m().entryCount = 1;
        m().slots[0].processId = ::getpid();
        m().slots[0].notifyThreadId = queue_->threadId();
        window_.setPrintLines(false);
    }
    void TearDown() override { folder_.reset(); }

    std::unique_ptr<Controller> make(ControllerLimits limits = {}) {
        const char* bin = std::getenv("TAVIK_BIN_DIR");
        return std::make_unique<Controller>(window_, msgs_, queue_->threadId(), bin ? bin : "build/bin", limits);
    }

    PortDataMap& m() { return map_->map(); }

    std::optional<tavik::test::TempDir> folder_;
    std::string tmp_;
    MessageNumbers msgs_;
    std::optional<platform::ThreadQueue> queue_;
    std::optional<PortMap> map_;
    int32_t port_ = -1;
    HeadlessWindow window_;
};

TEST_F(ControllerCore, OpenAndUserConnectToggle) {
    auto c = make();
    c->openPort(port_);
    ASSERT_TRUE(c->portOpened());
    EXPECT_EQ(m().controllerThreadId, queue_->threadId());
    EXPECT_EQ(m().status, kStatusConnected);
    EXPECT_TRUE(window_.connectLabelSaysDisconnect());
    EXPECT_TRUE(window_.hideButtonVisible());
    EXPECT_NE(window_.title().find("Ver 4.2.0 (" + portDisplayName(port_) + ")"), std::string::npos);
    EXPECT_EQ(window_.statusText(), "Connected device: ");

    m().closingSlot = 0;
    c->userConnectToggle();  // disconnect
    EXPECT_EQ(m().status, kStatusClosing);
    EXPECT_EQ(m().closingSlot, -1);
    EXPECT_FALSE(window_.connectLabelSaysDisconnect());
    c->userConnectToggle();  // connect
    EXPECT_EQ(m().status, kStatusConnected);
    EXPECT_TRUE(window_.connectLabelSaysDisconnect());

    c->shutdown();
    EXPECT_EQ(m().controllerThreadId, 0);
    EXPECT_EQ(m().status, kStatusNoConnection);
    EXPECT_EQ(m().controllerVersion[0], 0);
}

TEST_F(ControllerCore, NotificationsReachTheAddressedSlot) {
    auto c = make();
    EXPECT_FALSE(c->notifyKey(1));  // no port yet
    c->openPort(port_);
    ASSERT_TRUE(c->portOpened());

    EXPECT_FALSE(c->notifyKey(0x030201));  // neither foreground nor default slot
    m().defaultSlot = 0;
    ASSERT_TRUE(c->notifyKey(0x030201));
    platform::ThreadMessage msg;
    ASSERT_TRUE(queue_->wait(msg, 5000));
    EXPECT_EQ(msg.message, msgs_.notify);
    EXPECT_EQ(msg.wParam, 4u);
    EXPECT_EQ(msg.lParam, 0x030201);

    m().foregroundSlot = 0;
    m().defaultSlot = 4242;  // never used as an index
    ASSERT_TRUE(c->notifyPen(1, 2, 3, 4));
    ASSERT_TRUE(queue_->wait(msg, 5000));
    EXPECT_EQ(msg.wParam, 11u);
    EXPECT_EQ(msg.lParam, 0x04030201);

    EXPECT_EQ(c->notifyAll(0x55), 1);  // every slot is tried; only slot 0 has a thread
    ASSERT_TRUE(queue_->wait(msg, 5000));
    EXPECT_EQ(msg.wParam, 5u);
}

TEST_F(ControllerCore, IdleDecisions) {
    ControllerLimits limits;
    limits.strayEntryBoundMs = 0;
    auto c = make(limits);
    EXPECT_FALSE(c->idleCheck(true));  // nothing asked for yet: keeps waiting
    c->openPort(port_);
    ASSERT_TRUE(c->portOpened());
    EXPECT_FALSE(c->idleCheck(true));

    // Entries that never got a slot (clients that died while entering) are
    // dropped after the bound: first seen, then lowered.
    m().entryCount = 3;
    EXPECT_FALSE(c->idleCheck(true));
    EXPECT_FALSE(c->idleCheck(true));
    EXPECT_EQ(m().entryCount, 1);

    m().entryCount = -4;  // a corrupted count ends the controller too
    EXPECT_TRUE(c->idleCheck(false));
    m().entryCount = 1;
    c->requestQuit();
    EXPECT_TRUE(c->idleCheck(false));
}

TEST_F(ControllerCore, NoEntryMeansNoOpen) {
    m().entryCount = 0;
    auto c = make();
    c->openPort(port_);
    EXPECT_FALSE(c->portOpened());
    EXPECT_EQ(c->map(), nullptr);
    EXPECT_EQ(window_.statusText(), "Inner error: no entry.");
    EXPECT_EQ(m().controllerThreadId, 0);
    EXPECT_TRUE(c->idleCheck(true));  // the port has no client: nothing to wait for
}

TEST_F(ControllerCore, RefusedRequestsAreAnsweredAtOnce) {
    ControllerLimits limits;
    limits.requestThreads = 0;
    auto c = make(limits);
    c->openPort(port_);
    ASSERT_TRUE(c->portOpened());
    for (int code : {kCmdDirectCommand, kCmdDirectBytes, kCmdReopenPort}) {
        auto block = SharedBlock::create(24);
        ASSERT_TRUE(block);
        c->dispatchCommand(code, block->number());
        EXPECT_EQ(*block->result(), -1) << code;
    }
}

}  // namespace
