// The controller as a process: this test plays the client (creates the port
// map, takes a slot, posts commands) against the real TAVIK program with the
// fake plug-in, and watches the map and the plug-in's call log.
#include "common/data_maps.h"
#include "common/messages.h"
#include "common/shared_block.h"
#include "platform/atomic_word.h"
#include "platform/thread_queue.h"
#include "tests/support/wait.h"
#include "tests/support/temp_dir.h"

#include <gtest/gtest.h>

#include <chrono>
#include <csignal>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <functional>
#include <optional>
#include <spawn.h>
#include <string>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>
#include <vector>

extern char** environ;

using namespace tavik;
namespace fs = std::filesystem;

namespace {

// Generous bound for things that must happen; only a hung controller reaches it.
constexpr int kBoundMs = 20000;

class ControllerProcess : public ::testing::Test {
protected:
    void SetUp() override {
        const char* bin = std::getenv("TAVIK_BIN_DIR");
        binDir_ = bin ? bin : "build/bin";
        tmp_ = folder_.emplace("controller-test").path();
        log_ = tmp_ + "/driver.log";
        ::setenv("XDG_CONFIG_HOME", tmp_.c_str(), 1);
        ::setenv("TAVIK_PLUGIN_DIR", binDir_.c_str(), 1);
        ::setenv("FAKE_DRV_LOG", log_.c_str(), 1);
        ASSERT_TRUE(registerMessages(msgs_));
        // A port no other process holds now, so this test is its creator.
        for (int i = 0; i < 20 && !map_; ++i) {
            int32_t port = 60 + (::getpid() + i) % 20;  // a range the other suites leave alone
            bool created = false;
            auto pm = PortMap::open(port, &created);
            if (pm && created) {
                map_.emplace(std::move(*pm));
                port_ = port;
            }
        }
        ASSERT_TRUE(map_) << "no free port map";
        queue_ = platform::ThreadQueue::createForCurrentThread();
        ASSERT_TRUE(queue_);
    }

    void TearDown() override {
        if (controller_ > 0) {
            ::kill(controller_, SIGKILL);
            ::waitpid(controller_, nullptr, 0);
        }
        if (child_ > 0) {
            ::kill(child_, SIGKILL);
            ::waitpid(child_, nullptr, 0);
        }
        folder_.reset();
    }

    PortDataMap& m() { return map_->map(); }

    // What a client's first entry writes, with this process in slot 0.
    void enterAsClient(const char* driver, int32_t pid = 0) {
        setFieldString(m().deviceName, "Fake PX");
        setFieldString(m().driverFile, driver);
        m().baudRate = 38400;
        m().entryCount = 1;
        m().slots[0].processId = pid ? pid : ::getpid();
        m().slots[0].notifyThreadId = pid ? pid : queue_->threadId();
    }

    void leaveAsClient() {
        platform::storeWord(m().slots[0].notifyThreadId, 0);
        platform::addWord(m().entryCount, -1);
    }

    void startController(const std::vector<std::string>& args) {
        const std::string path = binDir_ + "/TAVIK";
        std::vector<char*> argv{const_cast<char*>(path.c_str())};
        for (const auto& a : args) argv.push_back(const_cast<char*>(a.c_str()));
        argv.push_back(nullptr);
        ASSERT_EQ(::posix_spawn(&controller_, path.c_str(), nullptr, nullptr, argv.data(), environ), 0);
    }

    std::vector<std::string> remoteArgs() { return {" /Remote ", "/Port:" + std::to_string(port_) + " "}; }

    bool ready() {
        return m().controllerVersion[0] == 4 && m().controllerVersion[1] == 2 && m().controllerVersion[2] == 1 &&
               platform::loadWord(m().controllerThreadId) != 0;
    }

    // Exit code of the controller, or -1 when it did not end within the bound.
    int waitExit() {
        int code = -1;
        test::waitUntil([&] {
            int status = 0;
            pid_t r = ::waitpid(controller_, &status, WNOHANG);
            if (r != controller_) return false;
            code = WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
            controller_ = -1;
            return true;
        });
        return code;
    }

    bool post(uint64_t code, int64_t arg) {
        return platform::postThreadMessage(platform::loadWord(m().controllerThreadId), msgs_.command, code, arg);
    }

    std::vector<std::string> logLines() {
        std::vector<std::string> lines;
        std::ifstream in(log_);
        for (std::string line; std::getline(in, line);) lines.push_back(line);
        return lines;
    }
    int logCount(const std::string& prefix) {
        int n = 0;
        for (const auto& l : logLines())
            if (l.rfind(prefix, 0) == 0) ++n;
        return n;
    }
    bool logHas(const std::string& line) {
        for (const auto& l : logLines())
            if (l == line) return true;
        return false;
    }

    // A direct command through a shared block; returns the block's result and
    // the reply byte.
    std::pair<int32_t, int32_t> directCommand(int32_t command, int32_t waitMs) {
        const char data[] = "abc";
        auto block = SharedBlock::create(3 + 21);
        if (!block) return {0, 0};
        *block->word(4) = waitMs;
        *block->word(8) = command;
        *block->word(12) = 2;
        *block->word(16) = 3;
        std::memcpy(block->payload() + 20, data, 3);
        if (!post(kCmdDirectCommand, block->number())) return {0, 0};
        int32_t result = awaitBlockResult(*block, kBoundMs);
        return {result, block->read(4)};
    }

    int32_t directBytes(const std::string& bytes) {
        auto block = SharedBlock::create(static_cast<int32_t>(bytes.size()) + 9);
        if (!block) return 0;
        *block->word(4) = static_cast<int32_t>(bytes.size());
        std::memcpy(block->payload() + 8, bytes.data(), bytes.size());
        if (!post(kCmdDirectBytes, block->number())) return 0;
        return awaitBlockResult(*block, kBoundMs);
    }

    int32_t reopen() {
        auto block = SharedBlock::create(8);
        if (!block || !post(kCmdReopenPort, block->number())) return 0;
        return awaitBlockResult(*block, kBoundMs);
    }

    std::optional<tavik::test::TempDir> folder_;
    std::string binDir_, tmp_, log_;
    MessageNumbers msgs_;
    std::optional<PortMap> map_;
    std::optional<platform::ThreadQueue> queue_;
    int32_t port_ = -1;
    pid_t controller_ = -1;
    pid_t child_ = -1;
};

TEST_F(ControllerProcess, ServesEveryCommandAndEndsWithTheLastClient) {
    enterAsClient("FakeDrv.dll");
    startController(remoteArgs());
    ASSERT_TRUE(test::waitUntil([&] { return ready(); }));
    EXPECT_EQ(platform::loadWord(m().status), kStatusConnected);
    EXPECT_EQ(m().driverVersion[0], 4);
    EXPECT_TRUE(logHas("drvSetStatusWindow sink"));
    EXPECT_TRUE(logHas("drvInit " + std::to_string(port_)));
    EXPECT_EQ(logCount("drvStart"), 1);
    EXPECT_EQ(platform::loadWord(m().allowHideWindow), 2);  // no settings file: the default
    {
        // The controller holds a reference on the mouse map while it holds the port
        // (other controllers on this machine may hold more).
        auto mouse = platform::SharedSection::open(kMouseMapName, platform::SharedSection::Access::ReadOnly,
                                                   kMouseMapSize);
        ASSERT_TRUE(mouse);
        EXPECT_GE(*static_cast<const int32_t*>(mouse->data()), 1);
    }

    // The client's own open-port command after the start changes nothing.
    ASSERT_TRUE(post(kCmdOpenPort, port_));
    auto [result, reply] = directCommand(0x41, 100);
    EXPECT_EQ(result, 1);
    EXPECT_EQ(reply, 0x42);
    EXPECT_EQ(logCount("drvInit"), 1);
    EXPECT_EQ(logCount("drvStart"), 1);
    EXPECT_EQ(directBytes("hello"), 1);
    EXPECT_TRUE(logHas("chSendDirectBytes 0 \"hello\"") || logCount("chSendDirectBytes") == 1);

    // Hide and show through the window policy in the map.
    ASSERT_TRUE(post(kCmdShowWindow, 1));
    EXPECT_TRUE(test::waitUntil([&] { return platform::loadWord(m().allowHideWindow) == 1; }));
    ASSERT_TRUE(post(kCmdShowWindow, 0));
    EXPECT_TRUE(test::waitUntil([&] { return platform::loadWord(m().allowHideWindow) == 2; }));

    // Close: the map says closing before the plug-in ends, then the plug-in's 0.
    ASSERT_TRUE(post(kCmdClosePort, 0));
    EXPECT_TRUE(test::waitUntil([&] { return logHas("drvEnd status=8"); }));
    EXPECT_TRUE(test::waitUntil([&] { return platform::loadWord(m().status) == kStatusNoConnection; }));

    // Reopen starts the plug-in again and answers 1.
    EXPECT_EQ(reopen(), 1);
    EXPECT_EQ(logCount("drvStart"), 2);
    EXPECT_EQ(platform::loadWord(m().status), kStatusConnected);

    // The last client leaves: the controller ends the plug-in and withdraws.
    leaveAsClient();
    EXPECT_EQ(waitExit(), 1);
    EXPECT_EQ(logCount("drvEnd"), 2);
    EXPECT_TRUE(logHas("drvEnd status=1"));
    EXPECT_EQ(platform::loadWord(m().controllerThreadId), 0);
    EXPECT_EQ(m().controllerVersion[0], 0);
    EXPECT_EQ(m().driverVersion[0], 0);
    EXPECT_EQ(platform::loadWord(m().status), kStatusNoConnection);
}

TEST_F(ControllerProcess, EndsWhenTheOnlyClientIsKilled) {
    child_ = ::fork();
    ASSERT_GE(child_, 0);
    if (child_ == 0) {
        ::pause();
        ::_exit(0);
    }
    enterAsClient("FakeDrv.dll", child_);
    m().slots[0].displayFlags = kDisplayModeOn | kDefaultClient;
    m().displayClientCount = 1;
    m().defaultSlot = 0;
    startController({" /Remote /Port:" + std::to_string(port_) + " "});  // one argument, as a shell would pass it
    ASSERT_TRUE(test::waitUntil([&] { return ready(); }));

    ::kill(child_, SIGKILL);
    ::waitpid(child_, nullptr, 0);
    child_ = -1;
    EXPECT_EQ(waitExit(), 1);
    EXPECT_EQ(logCount("drvEnd"), 1);
    EXPECT_EQ(m().entryCount, 0);
    EXPECT_EQ(m().slots[0].notifyThreadId, 0);
    EXPECT_EQ(m().slots[0].processId, 0);
    EXPECT_EQ(m().displayClientCount, 0);
    EXPECT_EQ(m().defaultSlot, -1);
}

// A direct command that is still running inside the plug-in when the last
// client leaves: the controller waits for it within its bound and then ends
// without detaching the plug-in under it.
TEST_F(ControllerProcess, ARequestStillRunningAtTheEndNeverRunsPastThePluginsDetach) {
    ::setenv("FAKE_DRV_DIRECT_MS", "15000", 1);
    enterAsClient("FakeDrv.dll");
    startController(remoteArgs());
    ::unsetenv("FAKE_DRV_DIRECT_MS");
    ASSERT_TRUE(test::waitUntil([&] { return ready(); }));
    auto block = SharedBlock::create(3 + 21);
    ASSERT_TRUE(block);
    *block->word(8) = 0x41;
    ASSERT_TRUE(post(kCmdDirectCommand, block->number()));
    ASSERT_TRUE(test::waitUntil([&] { return logCount("chSendDirectCommand") == 1; }));
    leaveAsClient();
    EXPECT_EQ(waitExit(), 1);
    EXPECT_EQ(logCount("drvEnd"), 1);
    EXPECT_EQ(platform::loadWord(m().controllerThreadId), 0);
    EXPECT_FALSE(logHas("chSendDirectCommand ran after detach"));
}

TEST_F(ControllerProcess, EndsCleanlyOnSigterm) {
    enterAsClient("FakeDrv.dll");
    startController(remoteArgs());
    ASSERT_TRUE(test::waitUntil([&] { return ready(); }));
    ::kill(controller_, SIGTERM);
    EXPECT_EQ(waitExit(), 1);
    EXPECT_EQ(logCount("drvEnd"), 1);
    EXPECT_EQ(platform::loadWord(m().controllerThreadId), 0);
    EXPECT_EQ(m().entryCount, 1);  // the client is still entered; only the controller left
}

TEST_F(ControllerProcess, SurvivesHostileMapValuesAndMessages) {
    enterAsClient("FakeDrv.dll");
    startController(remoteArgs());
    ASSERT_TRUE(test::waitUntil([&] { return ready(); }));

    m().foregroundSlot = 9999;
    m().defaultSlot = -77;
    m().closingSlot = INT32_MAX;
    m().displayRequest = -123456;
    m().allowHideWindow = 12345;
    m().directOperationSlot = 16;
    for (int s = 1; s < kSlotCount; ++s) {
        m().slots[s].processId = -s;  // taken slots with nonsense owners
        m().slots[s].notifyThreadId = -s;
    }
    m().entryCount = 1;
    for (auto [code, arg] : std::vector<std::pair<uint64_t, int64_t>>{
             {0, 0}, {1, -1}, {1, 80}, {1, int64_t{1} << 40}, {3, -1}, {3, 1024}, {7, INT64_MIN},
             {7, 4000}, {10, 1 << 20}, {9, 7}, {9, 1}, {9, 0}, {~0ull, ~0ll}, {4, 1}, {3, 1000}, {7, 999}})
        ASSERT_TRUE(post(code, arg));

    // Still serving, and the port map still ours.
    EXPECT_EQ(directCommand(0x10, 0).first, 1);
    EXPECT_EQ(directBytes("x"), 1);
    EXPECT_EQ(logCount("drvInit"), 1);
    // A stray policy allowed the hide (-> 1), the show then restored 2.
    EXPECT_EQ(platform::loadWord(m().allowHideWindow), 2);

    leaveAsClient();
    m().entryCount = 0;
    EXPECT_EQ(waitExit(), 1);
}

TEST_F(ControllerProcess, DriverFailuresShowInStatusAndEndWithTheClient) {
    struct Case {
        const char* driver;
        int32_t status;
    } cases[] = {{"Missing.dll", kStatusDriverLoadFailed},
                 {"../bin/FakeDrv.dll", kStatusDriverLoadFailed},
                 {"FakeIncompleteDrv.dll", kStatusDriverExportMissing}};
    for (const auto& c : cases) {
        std::remove(log_.c_str());
        enterAsClient(c.driver);
        platform::storeWord(m().status, 0);
        startController(remoteArgs());
        ASSERT_TRUE(test::waitUntil([&] { return platform::loadWord(m().status) == c.status; })) << c.driver;
        EXPECT_EQ(platform::loadWord(m().controllerThreadId), 0) << c.driver;
        // The client gives up: the controller that never opened must not linger.
        leaveAsClient();
        EXPECT_EQ(waitExit(), 1) << c.driver;
    }
}

TEST_F(ControllerProcess, StartWithoutRemoteOrWithHelpOpensNothing) {
    enterAsClient("FakeDrv.dll");
    startController({"/Port:" + std::to_string(port_)});
    EXPECT_EQ(waitExit(), 1);
    startController({"--help"});
    EXPECT_EQ(waitExit(), 0);
    EXPECT_EQ(logCount("drvInit"), 0);
    EXPECT_EQ(platform::loadWord(m().controllerThreadId), 0);
}

}  // namespace

namespace {

// Runs "TAVIK --show" to its end; its exit code, or -1.
int runShow(const std::string& binDir) {
    const std::string path = binDir + "/TAVIK";
    char* argv[] = {const_cast<char*>(path.c_str()), const_cast<char*>("--show"), nullptr};
    pid_t pid = -1;
    if (::posix_spawn(&pid, path.c_str(), nullptr, nullptr, argv, environ) != 0) return -1;
    int status = 0;
    if (::waitpid(pid, &status, 0) != pid) return -1;
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

}  // namespace

TEST_F(ControllerProcess, ShowReachesAHighPortWhateverItsPolicy) {
    // "Hide always": the window hides as the port opens, and only a show
    // brings it back (the map's policy then reads 2). The test's ports lie
    // beyond the first four, most of them USB indexes.
    const fs::path folder = fs::path(tmp_) / "Orvane" / "TAVIK200_J";
    fs::create_directories(folder);
    std::ofstream(folder / "TAVIK.ini") << "[Priority]\r\nAllowHideWindow=0\r\n";
    enterAsClient("FakeDrv.dll");
    startController(remoteArgs());
    ASSERT_TRUE(test::waitUntil([&] { return ready(); }));
    ASSERT_EQ(platform::loadWord(m().allowHideWindow), 0);

    EXPECT_EQ(runShow(binDir_), 1);
    EXPECT_TRUE(test::waitUntil([&] { return platform::loadWord(m().allowHideWindow) == 2; })) << "port " << port_;

    leaveAsClient();
    EXPECT_EQ(waitExit(), 1);
}
