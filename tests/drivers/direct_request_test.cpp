// Direct commands and direct bytes posted by another process through shared
// blocks, served by the plug-in loaded with dlopen, as the controller does.
#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <unistd.h>

#include "common/messages.h"
#include "tests/drivers/plugin_harness.h"

using namespace tavik;
using namespace tavik::test;

namespace {

// The controller's part: a thread with a queue that serves each request on a
// thread of its own.
class MiniController {
public:
    explicit MiniController(PluginLib& lib) : lib_(lib) {
        thread_ = std::thread([this] {
            auto q = platform::ThreadQueue::createForCurrentThread();
            MessageNumbers msgs;
            registerMessages(msgs);
            tid_ = q->threadId();
            while (!stop_) {
                platform::ThreadMessage m{};
                if (!q->wait(m, 20) || m.message != msgs.command) continue;
                const int32_t block = static_cast<int32_t>(m.lParam);
                if (m.wParam == kCmdDirectCommand)
                    workers_.emplace_back([this, block] { lib_.chSendDirectCommand(block); });
                else if (m.wParam == kCmdDirectBytes)
                    workers_.emplace_back([this, block] { lib_.chSendDirectBytes(block); });
            }
            for (auto& w : workers_) w.join();
        });
        while (tid_ == 0) std::this_thread::yield();
    }
    ~MiniController() {
        stop_ = true;
        thread_.join();
    }
    int32_t tid() const { return tid_; }

private:
    PluginLib& lib_;
    std::thread thread_;
    std::vector<std::thread> workers_;
    std::atomic<int32_t> tid_{0};
    std::atomic<bool> stop_{false};
};

std::string run(const std::string& args) {
    const char* dir = std::getenv("TAVIK_BIN_DIR");
    std::string cmd = std::string(dir) + "/../tests/direct_client " + args;
    FILE* p = ::popen(cmd.c_str(), "r");
    if (!p) return "popen failed";
    char buf[128] = {};
    std::string out;
    while (std::fgets(buf, sizeof buf, p)) out += buf;
    int rc = ::pclose(p);
    if (rc != 0) out += "exit " + std::to_string(rc);
    return out;
}

}  // namespace

TEST(DirectRequests, ServedFromAnotherProcessWithAndWithoutReply) {
    TempSettings settings;
    const int port = 30 + ::getpid() % 10;
    const std::string link = settings.folder() + "/tty";
    settings.mapPort(port, link);
    auto map = PortMap::open(port);
    ASSERT_TRUE(map);
    fillDeviceFields(map->map());

    padsim::DeviceConfig config;
    config.answers = {{0xA0, {0x5A}}, {0x77, {}}};
    FakeDevice device(config, link);
    PluginLib lib("Padrik");
    ASSERT_EQ(lib.drvInit(port), 1);
    ASSERT_EQ(lib.drvStart(), 1);
    ASSERT_TRUE(waitUntil([&] { return map->map().deviceIdentified == 1; }));
    MiniController controller(lib);
    const std::string tid = std::to_string(controller.tid());

    // With a reply wait: the device's bare answer comes back in the block.
    EXPECT_EQ(run("command " + tid + " a0 3 2000 1 2 3 4 5 6 7 8"), "result 1 reply 90\n");
    auto payload = device.lastFrame(0xA0);
    EXPECT_EQ(payload, (std::vector<uint8_t>{1, 2, 3, 4, 5, 6, 7, 8}));
    // Without a reply wait: done as soon as the frame is written.
    EXPECT_EQ(run("command " + tid + " 77 0 0 aa"), "result 1 reply 0\n");
    EXPECT_TRUE(waitUntil([&] { return device.framesWith(0x77) == 1; }));
    // A silent device: the wait runs out and the request fails.
    EXPECT_EQ(run("command " + tid + " 77 0 300"), "result -1 reply 300\n");
    // Direct bytes: written without a frame; length 0 succeeds without writing.
    EXPECT_EQ(run("bytes " + tid + " 31 32 33"), "result 1\n");
    EXPECT_TRUE(waitUntil([&] { return device.junk() == std::vector<uint8_t>{0x31, 0x32, 0x33}; }));
    EXPECT_EQ(run("bytes " + tid), "result 1\n");

    // Nobody serves the request (the plug-in is not connected): refused.
    lib.drvEnd();
    EXPECT_EQ(run("command " + tid + " a0 0 0 1"), "result -1 reply 0\n");
    EXPECT_EQ(run("bytes " + tid + " 1"), "result -1\n");
}
