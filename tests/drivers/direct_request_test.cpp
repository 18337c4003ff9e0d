// Direct commands and direct bytes posted by another process through shared
// blocks, served by the plug-in loaded with dlopen, as the controller does.
#include <gtest/gtest.h>

#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include "common/messages.h"
#include "tests/drivers/plugin_harness.h"

extern char** environ;

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

std::string clientPath() { return std::string(std::getenv("TAVIK_BIN_DIR")) + "/../tests/direct_client"; }

// Runs direct_client to its end and returns what it printed.
std::string run(const std::string& args) {
    std::string cmd = clientPath() + " " + args;
    FILE* p = ::popen(cmd.c_str(), "r");
    if (!p) return "popen failed";
    char buf[128] = {};
    std::string out;
    while (std::fgets(buf, sizeof buf, p)) out += buf;
    int rc = ::pclose(p);
    if (rc != 0) out += "exit " + std::to_string(rc);
    return out;
}

// Starts direct_client in the background.
pid_t spawnClient(const std::vector<std::string>& args) {
    std::vector<std::string> all{clientPath()};
    all.insert(all.end(), args.begin(), args.end());
    std::vector<char*> argv;
    for (auto& a : all) argv.push_back(a.data());
    argv.push_back(nullptr);
    pid_t pid = -1;
    if (::posix_spawn(&pid, argv[0], nullptr, nullptr, argv.data(), environ) != 0) return -1;
    return pid;
}

// One settings folder for the whole program: a loaded plug-in resolves its
// settings paths once, when it is attached.
TempSettings& sharedSettings() {
    static TempSettings settings;
    return settings;
}

struct DirectRig {
    TempSettings& settings = sharedSettings();
    int port = 30 + ::getpid() % 10;
    std::string link = settings.folder() + "/tty";
    std::optional<PortMap> map;
    DirectRig() {
        settings.mapPort(port, link);
        map = PortMap::open(port);
        fillDeviceFields(map->map());
        map->map().directOperationSlot = -1;
        ::setenv("DIRECT_CLIENT_PORT", std::to_string(port).c_str(), 1);
    }
    ~DirectRig() { ::unsetenv("DIRECT_CLIENT_PORT"); }
    PortDataMap& m() { return map->map(); }
};

}  // namespace

TEST(DirectRequests, ServedFromAnotherProcessWithAndWithoutReply) {
    DirectRig rig;
    const int port = rig.port;
    const std::string& link = rig.link;
    auto& map = rig.map;

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

TEST(DirectRequests, OnlyTheHolderOfTheDirectOperationRightIsServed) {
    DirectRig rig;
    FakeDevice device(padsim::DeviceConfig{}, rig.link);
    PluginLib lib("Padrik");
    ASSERT_EQ(lib.drvInit(rig.port), 1);
    ASSERT_EQ(lib.drvStart(), 1);
    ASSERT_TRUE(waitUntil([&] { return rig.m().deviceIdentified == 1; }));
    MiniController controller(lib);
    const std::string tid = std::to_string(controller.tid());

    // Nobody holds the right: refused, nothing reaches the device.
    ::unsetenv("DIRECT_CLIENT_PORT");
    EXPECT_EQ(run("command " + tid + " 77 0 0 aa"), "result -1 reply 0\n");
    EXPECT_EQ(run("bytes " + tid + " 31 32"), "result -1\n");
    // Another client holds it (this process, which made no request).
    rig.m().slots[4].processId = ::getpid();
    rig.m().directOperationSlot = 4;
    EXPECT_EQ(run("command " + tid + " 77 0 0 bb"), "result -1 reply 0\n");
    EXPECT_EQ(run("bytes " + tid + " 33"), "result -1\n");
    EXPECT_EQ(device.framesWith(0x77), 0);
    EXPECT_TRUE(device.junk().empty());
    // The requester holds it: served.
    ::setenv("DIRECT_CLIENT_PORT", std::to_string(rig.port).c_str(), 1);
    EXPECT_EQ(run("command " + tid + " 77 0 0 cc"), "result 1 reply 0\n");
    EXPECT_TRUE(waitUntil([&] { return device.framesWith(0x77) == 1; }));
    EXPECT_EQ(device.lastFrame(0x77), std::vector<uint8_t>{0xCC});
}

// A request asking for a reply wait of about 24 days on a silent device holds
// the send lock while it waits. Its requester going away must end the wait,
// or no client's display is ever sent again.
TEST(DirectRequests, ALongReplyWaitEndsWithItsRequester) {
    DirectRig rig;
    NotifyThread client;
    enterDisplaySlot(rig.m(), 0, ::getpid(), client.threadId(), true);
    FakeDevice device(padsim::DeviceConfig{}, rig.link);
    PluginLib lib("Padrik");
    ASSERT_EQ(lib.drvInit(rig.port), 1);
    ASSERT_EQ(lib.drvStart(), 1);
    ASSERT_TRUE(waitUntil([&] { return rig.m().deviceIdentified == 1; }));
    MiniController controller(lib);

    const pid_t requester = spawnClient({"command", std::to_string(controller.tid()), "77", "0", "2000000000"});
    ASSERT_GT(requester, 0);
    ASSERT_TRUE(waitUntil([&] { return device.framesWith(0x77) == 1; }));
    // While the request waits, a display write stays queued behind it.
    writeSlot(rig.m(), 0, std::vector<uint8_t>(32, 0x21), {});
    ::kill(requester, SIGKILL);
    ::waitpid(requester, nullptr, 0);
    EXPECT_TRUE(device.waitFor(
        [&](const padsim::DeviceModel& d) { return d.state().text == std::vector<uint8_t>(32, 0x21); }, 20000));
    lib.drvEnd();
}
