// The device unplugged in the middle of the traffic and plugged back in, with
// real processes: the TAVIK program with the serial plug-in, the virtual
// display (padsim) as the device, this test as the client. Nothing crashes,
// the plug-in tells of the loss, and the client's close and reopen bring the
// display back.
#include <gtest/gtest.h>

#include <csignal>
#include <fcntl.h>
#include <fstream>
#include <spawn.h>
#include <sstream>
#include <sys/wait.h>
#include <unistd.h>

#include "common/shared_block.h"
#include "platform/atomic_word.h"
#include "tests/drivers/plugin_harness.h"
#include "tests/support/files.h"
#include "tests/support/padsim.h"

extern char** environ;

using namespace tavik;
using namespace tavik::test;

namespace {

constexpr int kBoundMs = 20000;  // for things that must happen; only a hang reaches it
constexpr std::chrono::milliseconds kBound{kBoundMs};

}  // namespace

TEST(Unplug, DeviceGoneMidTrafficThenBackServesTheClientAfterReopen) {
    TempSettings settings;
    const char* bin = std::getenv("TAVIK_BIN_DIR");
    ASSERT_NE(bin, nullptr);
    ::setenv("TAVIK_PLUGIN_DIR", bin, 1);
    ::unsetenv("DISPLAY");
    auto padsim = std::make_unique<Padsim>(settings.folder());
    ASSERT_TRUE(padsim->started());
    const int port = ::getpid() % 60;
    settings.mapPort(port, padsim->link());
    auto map = PortMap::open(port);
    ASSERT_TRUE(map);
    PortDataMap& m = map->map();
    fillDeviceFields(m);
    NotifyThread client;
    enterDisplaySlot(m, 0, ::getpid(), client.threadId(), true);
    MessageNumbers msgs;
    ASSERT_TRUE(registerMessages(msgs));

    // The controller, its standard error (the status lines) in a file.
    const std::string errors = settings.folder() + "/tavik.err";
    std::string path = std::string(bin) + "/TAVIK", remote = " /Remote ", portArg = "/Port:" + std::to_string(port);
    char* argv[] = {path.data(), remote.data(), portArg.data(), nullptr};
    posix_spawn_file_actions_t fa;
    posix_spawn_file_actions_init(&fa);
    posix_spawn_file_actions_addopen(&fa, 2, errors.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
    pid_t controller = -1;
    ASSERT_EQ(::posix_spawn(&controller, path.c_str(), &fa, nullptr, argv, environ), 0);
    posix_spawn_file_actions_destroy(&fa);
    auto post = [&](uint64_t code, int64_t arg) {
        return platform::postThreadMessage(platform::loadWord(m.controllerThreadId), msgs.command, code, arg);
    };
    ASSERT_TRUE(waitUntil([&] { return platform::loadWord(m.deviceIdentified) == 1; }, kBound));
    const std::vector<uint8_t> first(32, 0x11);
    writeSlot(m, 0, first, {});
    ASSERT_TRUE(padsim->waitState("text", hexOf(first), kBound));

    // Pictures stream to the device while it goes away.
    std::atomic<bool> streaming{true};
    std::thread writer([&] {
        for (uint8_t salt = 0; streaming; ++salt) {
            std::vector<uint8_t> dots(64 * 48);
            for (size_t i = 0; i < dots.size(); ++i) dots[i] = static_cast<uint8_t>((i + salt) % 3);
            writeSlot(m, 0, std::vector<uint8_t>(32, salt), dots);
            std::this_thread::sleep_for(std::chrono::milliseconds(20));
        }
    });
    std::this_thread::sleep_for(std::chrono::milliseconds(300));
    padsim->kill();
    EXPECT_TRUE(waitUntil([&] { return readFile(errors).find("Lost the connection to the device (" + padsim->link() + ").") != std::string::npos; }, kBound))
        << readFile(errors);
    std::this_thread::sleep_for(std::chrono::milliseconds(300));
    streaming = false;
    writer.join();
    EXPECT_EQ(::kill(controller, 0), 0) << "the controller is still there";

    // The device is back; the client closes and reopens the port.
    padsim.reset();  // its files go before the new one makes them
    padsim = std::make_unique<Padsim>(settings.folder());
    ASSERT_TRUE(padsim->started());
    platform::storeWord(m.status, kStatusClosing);
    platform::storeWord(m.closingSlot, 0);
    ASSERT_TRUE(post(kCmdClosePort, 0));
    ASSERT_TRUE(waitUntil([&] { return platform::loadWord(m.status) == kStatusNoConnection; }, kBound));
    auto block = SharedBlock::create(8);
    ASSERT_TRUE(block);
    ASSERT_TRUE(post(kCmdReopenPort, block->number()));
    platform::storeWord(m.closingSlot, -1);
    EXPECT_EQ(awaitBlockResult(*block, kBoundMs), 1);
    const std::vector<uint8_t> second(32, 0x2A);
    writeSlot(m, 0, second, {});
    EXPECT_TRUE(padsim->waitState("text", hexOf(second), kBound));
    ASSERT_TRUE(padsim->command("key 4 7 0 0"));
    ASSERT_TRUE(waitUntil([&] {
        for (const auto& e : client.events())
            if (e.code == kNotifyKey && (e.lParam & 0xFFFF) == 0x0704) return true;
        return false;
    }, kBound));

    // The client leaves: the controller ends normally.
    platform::addWord(m.entryCount, -1);
    int status = -1;
    const bool ended = waitUntil([&] { return ::waitpid(controller, &status, WNOHANG) == controller; }, kBound);
    if (!ended) {
        ::kill(controller, SIGKILL);
        ::waitpid(controller, nullptr, 0);
    }
    EXPECT_TRUE(ended && WIFEXITED(status) && WEXITSTATUS(status) == 1);
}
