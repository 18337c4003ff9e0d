// The serial plug-in end to end against the device model on a
// pseudo-terminal: what only it does (refused ports in both languages,
// multi-level formats, foreground following, checked map values, exact
// speeds, threads that will not stop, deaf clients). What every plug-in
// does alike is in plugins_test.cpp.
#include <gtest/gtest.h>

#include <asm/termbits.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <sys/syscall.h>

#include <cstdlib>
#include <fcntl.h>
#include <filesystem>
#include <fstream>
#include <future>
#include <unistd.h>

#include "planes.h"
#include "platform/atomic_word.h"
#include "platform/word_wait.h"
#include "tests/drivers/plugin_harness.h"
#include "tests/drivers/port_rigs.h"

using namespace tavik;
using namespace tavik::test;

namespace {

int testPort(int offset) { return 40 + (::getpid() + offset) % 23; }

padsim::DeviceConfig tactile(bool multiLevel = false) {
    padsim::DeviceConfig c;
    c.model = "PX-64 virtual";
    c.setMultiLevel(multiLevel);
    return c;
}

std::vector<uint8_t> pattern(int w, int h, int salt) { return dotPattern(w, h, salt, 5); }

struct Rig : SerialRig {
    explicit Rig(int offset) : SerialRig(testPort(offset), "tty" + std::to_string(offset)) {}
};

// A thread with a queue that never reads it, filled until a post fails.
class DeafClient {
public:
    DeafClient() {
        thread_ = std::thread([this] {
            auto q = platform::ThreadQueue::createForCurrentThread();
            if (!q) return;
            tid_ = q->threadId();
            std::unique_lock<std::mutex> lock(mutex_);
            cv_.wait(lock, [this] { return stop_; });
        });
        while (tid_ == 0) std::this_thread::yield();
        while (platform::postThreadMessage(tid_, 0xC001, 0, 0, 0)) {
        }
    }
    ~DeafClient() {
        {
            std::lock_guard<std::mutex> lock(mutex_);
            stop_ = true;
        }
        cv_.notify_all();
        thread_.join();
    }
    int32_t threadId() const { return tid_; }

private:
    std::thread thread_;
    std::atomic<int32_t> tid_{0};
    std::mutex mutex_;
    std::condition_variable cv_;
    bool stop_ = false;
};

}  // namespace

TEST(Padrik, RefusesPortsItCannotServeInTheUsersLanguage) {
    Rig rig(1);
    {
        PluginLib lib("Padrik");
        ASSERT_TRUE(lib.loaded());
        // The mapped device does not exist.
        ASSERT_EQ(lib.drvInit(rig.port), 1);
        EXPECT_EQ(lib.drvStart(), 0);
        EXPECT_EQ(rig.m().status, kStatusPortOpenFailed);
        EXPECT_TRUE(lib.waitLine("Couldn't open the connection port (Com" + std::to_string(rig.port + 1) + ")."));
        EXPECT_EQ(lib.drvIsConnected(), 0);
        // USB port indexes are not the serial plug-in's.
        auto usb = PortMap::open(64 + ::getpid() % 16);
        ASSERT_TRUE(usb);
        ASSERT_EQ(lib.drvInit(usb->portIndex()), 1);
        EXPECT_EQ(lib.drvStart(), 0);
        EXPECT_EQ(usb->map().status, kStatusNoConnection);
    }
    // The Japanese interface keeps the Japanese texts. The language is read
    // when the library is attached, so a copy of it is attached afresh.
    const std::string copy = freshCopy("Padrik", "PadrikJa");
    ::setenv("LC_ALL", "ja_JP.UTF-8", 1);
    {
        PluginLib lib(copy);
        ::unsetenv("LC_ALL");
        ASSERT_EQ(lib.drvInit(rig.port), 1);
        EXPECT_EQ(lib.drvStart(), 0);
        EXPECT_TRUE(lib.waitLine("接続ポート(Com" + std::to_string(rig.port + 1) + ")が開けませんでした。"));
        FakeDevice device(tactile(), rig.link);
        ASSERT_EQ(lib.drvStart(), 1);
        EXPECT_EQ(lib.drvEnd(), 0);
        EXPECT_TRUE(lib.waitLine("接続ポート(" + rig.link + ")を解放しました。"));
    }
    ::unsetenv("LC_ALL");
}

TEST(Padrik, MultiLevelFormatsOnAMultiLevelDevice) {
    Rig rig(3);
    NotifyThread client;
    enterDisplaySlot(rig.m(), 2, ::getpid(), client.threadId(), true);
    PluginLib lib("Padrik");
    FakeDevice device(tactile(true), rig.link);
    ASSERT_EQ(lib.drvInit(rig.port), 1);
    ASSERT_EQ(lib.drvStart(), 1);
    ASSERT_TRUE(waitUntil([&] { return rig.m().deviceIdentified == 1; }));
    for (int format : {1, 2, 4, 8}) {
        std::vector<uint8_t> dots(64 * 48);
        for (size_t i = 0; i < dots.size(); ++i) dots[i] = static_cast<uint8_t>((i * 13 + format) % (1u << format));
        writeSlot(rig.m(), 2, {}, dots, format);
        ASSERT_TRUE(device.waitFor([&](const padsim::DeviceModel& d) {
            return d.state().multiLevelFormat == format && d.state().levels == dots;
        })) << "format " << format;
        auto payload = device.lastFrame(0xA2);
        ASSERT_GE(payload.size(), 8u);
        EXPECT_EQ(payload[0], 0x23);
        EXPECT_EQ(payload[6], 64);
        EXPECT_EQ(payload[7], 48);
    }
    // Format 0 still goes as two planes.
    writeSlot(rig.m(), 2, {}, pattern(64, 48, 2), 0);
    ASSERT_TRUE(device.waitFor([&](const padsim::DeviceModel&) { return true; }, 100) || true);
    ASSERT_TRUE(waitUntil([&] { return device.framesWith(0x93) == 2; }));
    lib.drvEnd();
    // The final clear on a multi-level device is the 0xA2 clear header.
    auto clear = device.lastFrame(0xA2);
    ASSERT_EQ(clear.size(), 8u);
    EXPECT_EQ(clear[0], 0x02);
}

TEST(Padrik, ShownSlotFollowsForegroundAndFallsBackToDefault) {
    Rig rig(4);
    const std::string pidFile = programSettings().folder() + "/foreground";
    ::setenv("TAVIK_FOREGROUND_PID_FILE", pidFile.c_str(), 1);
    auto setForeground = [&](int pid) { std::ofstream(pidFile) << pid << "\n"; };
    setForeground(0);
    NotifyThread a, b;
    const int32_t pidA = 100001, pidB = 100002, pidC = 100003;
    enterDisplaySlot(rig.m(), 0, pidA, a.threadId(), true);
    enterDisplaySlot(rig.m(), 1, pidB, b.threadId(), false);
    enterDisplaySlot(rig.m(), 2, pidC, b.threadId(), false);
    rig.m().slots[2].displayFlags |= kDisplaySuspended;
    std::vector<uint8_t> textA(32, 0x11), textB(32, 0x22), textC(32, 0x33);
    writeSlot(rig.m(), 0, textA, pattern(64, 48, 0));
    writeSlot(rig.m(), 1, textB, pattern(64, 48, 1));
    writeSlot(rig.m(), 2, textC, pattern(64, 48, 2));

    PluginLib lib("Padrik");
    FakeDevice device(tactile(), rig.link);
    ASSERT_EQ(lib.drvInit(rig.port), 1);
    ASSERT_EQ(lib.drvStart(), 1);
    auto shows = [&](const std::vector<uint8_t>& t) {
        return device.waitFor([&](const padsim::DeviceModel& d) { return d.state().text == t; });
    };
    // No foreground client: the default slot.
    ASSERT_TRUE(waitUntil([&] { return rig.m().status == kStatusConnected && rig.m().deviceIdentified == 1; }));
    platform::storeWord(rig.m().displayRequest, 0);
    ASSERT_TRUE(shows(textA));
    setForeground(pidB);
    ASSERT_TRUE(shows(textB));
    EXPECT_EQ(rig.m().foregroundSlot, 1);
    // A suspended client in front is never shown: back to the default.
    setForeground(pidC);
    ASSERT_TRUE(shows(textA));
    EXPECT_EQ(rig.m().foregroundSlot, -1);
    // A window of no client: the default slot again.
    setForeground(pidB);
    ASSERT_TRUE(shows(textB));
    setForeground(424242);
    ASSERT_TRUE(shows(textA));
    // With no default client the display is cleared.
    setForeground(pidB);
    ASSERT_TRUE(shows(textB));
    rig.m().defaultSlot = -1;
    setForeground(0);
    ASSERT_TRUE(shows(std::vector<uint8_t>(32, 0)));
    // Screen reader first: following stops.
    rig.m().screenReaderFirst = 1;
    setForeground(pidB);
    std::this_thread::sleep_for(std::chrono::milliseconds(300));
    EXPECT_EQ(rig.m().foregroundSlot, -1);
    lib.drvEnd();
    ::unsetenv("TAVIK_FOREGROUND_PID_FILE");
}

TEST(Padrik, MapSizesAndLevelsAreCheckedBeforeTheyAreUsed) {
    Rig rig(7);
    NotifyThread client;
    enterDisplaySlot(rig.m(), 0, ::getpid(), client.threadId(), true);
    PluginLib lib("Padrik");
    FakeDevice device(tactile(), rig.link);
    ASSERT_EQ(lib.drvInit(rig.port), 1);
    ASSERT_EQ(lib.drvStart(), 1);
    ASSERT_TRUE(waitUntil([&] { return rig.m().deviceIdentified == 1; }));

    // A second-plane level of 256 has a low byte of 0, which the device would
    // take for the first plane: the highest level goes instead.
    writeSlot(rig.m(), 0, std::vector<uint8_t>(32, 1), pattern(64, 48, 6), 0, 256);
    ASSERT_TRUE(device.waitFor([&](const padsim::DeviceModel& d) {
        return d.state().text == std::vector<uint8_t>(32, 1) && d.state().plane2Level == 255;
    }));

    // Sizes whose product overflows 32 bits: 2 x 0x40000001 wraps negative,
    // 0x10000 x 0x10000 wraps to 0. Nothing is copied; the text still goes.
    const int before = device.framesWith(0x93);
    uint8_t mark = 2;
    for (auto [w, h] : {std::pair{2, 0x40000001}, std::pair{0x10000, 0x10000}, std::pair{-2, -5000}}) {
        platform::storeWord(rig.m().graphicWidth, w);
        platform::storeWord(rig.m().graphicHeight, h);
        writeSlot(rig.m(), 0, std::vector<uint8_t>(32, mark), pattern(64, 48, mark));
        ASSERT_TRUE(device.waitFor([&](const padsim::DeviceModel& d) { return d.state().text == std::vector<uint8_t>(32, mark); }))
            << w << " x " << h;
        ++mark;
    }
    EXPECT_EQ(device.framesWith(0x93), before);
    // A sound size again: the picture goes.
    platform::storeWord(rig.m().graphicWidth, 64);
    platform::storeWord(rig.m().graphicHeight, 48);
    writeSlot(rig.m(), 0, {}, pattern(64, 48, 9));
    EXPECT_TRUE(waitUntil([&] { return device.framesWith(0x93) == before + 2; }));
    lib.drvEnd();
}

TEST(Padrik, ARestartedControllerTakesWhatTheStoredIdentificationSays) {
    Rig rig(8);
    NotifyThread client;
    enterDisplaySlot(rig.m(), 1, ::getpid(), client.threadId(), true);
    // The map outlived the controller that identified a multi-level device.
    rig.m().deviceIdentified = 1;
    rig.m().deviceInfo[2] = 2;
    FakeDevice device(tactile(true), rig.link);
    // The client's levels are in its slot before the start: the first turn
    // sends the slot in front in full, and an empty slot written after it
    // would have gone as two planes by right.
    std::vector<uint8_t> dots(64 * 48);
    for (size_t i = 0; i < dots.size(); ++i) dots[i] = static_cast<uint8_t>(i % 16);
    writeSlot(rig.m(), 1, {}, dots, 4);
    PluginLib lib(freshCopy("Padrik", "PadrikRestart"));
    ASSERT_EQ(lib.drvInit(rig.port), 1);
    ASSERT_EQ(lib.drvStart(), 1);
    EXPECT_TRUE(device.waitFor([&](const padsim::DeviceModel& d) { return d.state().levels == dots; }));
    EXPECT_EQ(device.framesWith(0x93), 0) << "sent as levels, not as two planes";
    device.inspect([&](const padsim::DeviceModel& d) { EXPECT_EQ(d.state().identifications, 0u); });
    lib.drvEnd();
}

TEST(Padrik, TheMapSpeedIsSetExactlyAlsoWhenItIsNoStandardRate) {
    Rig rig(9);
    rig.m().baudRate = 250000;  // between 230400 and 460800
    FakeDevice device(tactile(), rig.link);
    PluginLib lib("Padrik");
    ASSERT_EQ(lib.drvInit(rig.port), 1);
    ASSERT_EQ(lib.drvStart(), 1);
    const int fd = ::open(rig.link.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
    ASSERT_GE(fd, 0);
    struct termios2 tio {};
    ASSERT_EQ(::ioctl(fd, TCGETS2, &tio), 0);
    ::close(fd);
    EXPECT_EQ(tio.c_ospeed, 250000u);
    EXPECT_EQ(tio.c_ispeed, 250000u);
    EXPECT_EQ(tio.c_cflag & CBAUD, static_cast<tcflag_t>(BOTHER));
    lib.drvEnd();

    // A speed no port takes: the port keeps its own, and the status window
    // says so after the connection line.
    rig.m().baudRate = -5;
    ASSERT_EQ(lib.drvStart(), 1);
    EXPECT_TRUE(lib.waitLine("The port does not take -5 bit/s; it runs at 250000 bit/s."));
    lib.drvEnd();
}

// The communication thread blocks where no stop can reach it (here opening
// the foreground file, a FIFO nobody writes; on a desktop a frozen X
// server). drvEnd and unloading must still return, and the plug-in must not
// start a second thread pair beside the stuck one.
TEST(Padrik, AThreadThatWillNotStopNeverHangsDrvEndOrUnloading) {
    Rig rig(10);
    const std::string fifo = programSettings().folder() + "/foreground.fifo";
    ASSERT_EQ(::mkfifo(fifo.c_str(), 0600), 0);
    ::setenv("TAVIK_FOREGROUND_PID_FILE", fifo.c_str(), 1);
    auto release = [&] {
        // Opening for writing lets the blocked reader go on (it reads pid 0).
        const int w = ::open(fifo.c_str(), O_WRONLY | O_NONBLOCK | O_CLOEXEC);
        if (w < 0) return false;
        (void)!::write(w, "0\n", 2);
        ::close(w);
        return true;
    };
    FakeDevice device(tactile(), rig.link);
    // A thread of this process sits in openat (nothing else here opens
    // files while the test waits).
    auto readerWaiting = [&] {
        for (const auto& task : std::filesystem::directory_iterator("/proc/self/task")) {
            std::ifstream in(task.path() / "syscall");
            long number = -1;
            if (in >> number && number == SYS_openat) return true;
        }
        return false;
    };
    std::optional<PluginLib> lib;
    lib.emplace(freshCopy("Padrik", "PadrikStuck"));
    ASSERT_EQ(lib->drvInit(rig.port), 1);
    ASSERT_EQ(lib->drvStart(), 1);
    ASSERT_TRUE(waitUntil([&] { return rig.m().deviceIdentified == 1; }));
    ASSERT_TRUE(waitUntil(readerWaiting));
    auto ended = std::async(std::launch::async, [&] { return lib->drvEnd(); });
    const bool returned = ended.wait_for(std::chrono::seconds(20)) == std::future_status::ready;
    if (!returned) release();
    ASSERT_TRUE(returned) << "drvEnd waited for a thread that does not end";
    EXPECT_EQ(lib->drvIsConnected(), 0);
    EXPECT_EQ(lib->drvStart(), 0) << "the stuck thread still uses the sending state";
    EXPECT_EQ(rig.m().status, kStatusThreadFailed);
    // Once it ends, the plug-in starts again.
    ASSERT_TRUE(waitUntil(release));
    ASSERT_TRUE(waitUntil([&] { return lib->drvStart() == 1; }, 10s));
    ASSERT_TRUE(waitUntil(readerWaiting));
    // Stuck again, and now the library is unloaded: drvEnd and dlclose
    // return, and the thread later ends inside the module kept mapped.
    auto unloaded = std::async(std::launch::async, [&] { lib.reset(); });
    const bool done = unloaded.wait_for(std::chrono::seconds(20)) == std::future_status::ready;
    if (!done) release();
    ASSERT_TRUE(done) << "unloading waited for a thread that does not end";
    ASSERT_TRUE(waitUntil(release));
    std::this_thread::sleep_for(std::chrono::milliseconds(800));  // the thread runs to its end
    ::unsetenv("TAVIK_FOREGROUND_PID_FILE");
}

TEST(Padrik, AClientThatStopsReadingItsQueueHoldsUpNoOtherClient) {
    Rig rig(11);
    DeafClient deaf;
    NotifyThread reader;
    enterDisplaySlot(rig.m(), 0, 100031, deaf.threadId(), true);
    enterDisplaySlot(rig.m(), 6, 100032, reader.threadId(), false);
    PluginLib lib("Padrik");
    FakeDevice device(tactile(), rig.link);
    ASSERT_EQ(lib.drvInit(rig.port), 1);
    ASSERT_EQ(lib.drvStart(), 1);
    ASSERT_TRUE(waitUntil([&] { return rig.m().deviceIdentified == 1; }));

    // Sixty shift broadcasts: the deaf client's full queue refuses each at
    // once; the other client gets every one, in order.
    constexpr int kCount = 60;
    for (int i = 0; i < kCount; ++i) {
        const uint8_t shift[] = {static_cast<uint8_t>(i), 0, 0, 0};
        device.send(padsim::DeviceModel::broadcastFrame(shift));
    }
    ASSERT_TRUE(reader.waitEvents(kCount, 20000)) << "the receive thread waited for the full queue";
    const auto events = reader.events();
    for (int i = 0; i < kCount; ++i) EXPECT_EQ(events[static_cast<size_t>(i)].lParam & 0xFF, i);
    // A key for the deaf client is dropped and counted too.
    const uint8_t key[] = {4, 1, 0, 0};
    device.send(padsim::DeviceModel::frame(0xE1, 0, key));
    EXPECT_TRUE(waitUntil([&] { return lib.droppedNotifications() == kCount + 1; }));
    lib.drvEnd();
}
