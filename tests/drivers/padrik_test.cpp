// The serial plug-in end to end against the device model on a
// pseudo-terminal: life cycle, identification, display, foreground
// following, events, and the device vanishing.
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

std::vector<uint8_t> pattern(int w, int h, int salt) {
    std::vector<uint8_t> dots(static_cast<size_t>(w * h));
    for (int y = 0; y < h; ++y)
        for (int x = 0; x < w; ++x) dots[static_cast<size_t>(y * w + x)] = static_cast<uint8_t>((x * 7 + y * 3 + salt) % 5);
    return dots;
}

// One settings folder for the whole program: a loaded plug-in resolves its
// settings paths once, when it is attached.
TempSettings& sharedSettings() {
    static TempSettings settings;
    return settings;
}

struct Rig {
    TempSettings& settings = sharedSettings();
    int port;
    std::string link;
    std::optional<PortMap> map;
    explicit Rig(int offset) : port(testPort(offset)) {
        link = settings.folder() + "/tty" + std::to_string(offset);
        settings.mapPort(port, link);
        map = PortMap::open(port);
        fillDeviceFields(map->map());
    }
    PortDataMap& m() { return map->map(); }
};

// A copy of a plug-in, attached afresh: its module state starts anew.
std::string freshCopy(const std::string& name, const std::string& as) {
    const std::string copy = sharedSettings().folder() + "/" + as + ".so";
    std::filesystem::copy_file(std::string(std::getenv("TAVIK_BIN_DIR")) + "/" + name + ".so", copy,
                               std::filesystem::copy_options::overwrite_existing);
    return copy;
}

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

TEST(Padrik, LifecycleIdentificationAndRestartWithoutReidentifying) {
    Rig rig(0);
    PluginLib lib("Padrik");
    ASSERT_TRUE(lib.loaded()) << dlerror();
    EXPECT_EQ(lib.Version(), 66052);
    EXPECT_EQ(lib.drvEnd(), 0) << "never started: nothing happens";
    EXPECT_EQ(lib.drvStart(), 0) << "no map yet";
    ASSERT_EQ(lib.drvInit(rig.port), 1);
    EXPECT_EQ(rig.m().driverVersion[0], 4);
    EXPECT_EQ(rig.m().driverVersion[1], 2);
    EXPECT_EQ(rig.m().driverVersion[2], 1);

    FakeDevice device(tactile(), rig.link);
    ASSERT_EQ(lib.drvStart(), 1);
    EXPECT_EQ(lib.drvIsConnected(), 1);
    EXPECT_EQ(lib.drvStart(), 0) << "already connected";
    ASSERT_TRUE(waitUntil([&] { return rig.m().deviceIdentified == 1; }));
    EXPECT_EQ(rig.m().status, kStatusConnected);
    EXPECT_TRUE(lib.waitLine("Connected device: PX-64"));
    EXPECT_TRUE(lib.waitLine("Connected device: PX-64 virtual"));
    EXPECT_EQ(rig.m().deviceInfo[2], 0);

    EXPECT_EQ(lib.drvEnd(), 0);
    EXPECT_EQ(lib.drvIsConnected(), 0);
    EXPECT_EQ(rig.m().status, kStatusNoConnection);
    EXPECT_TRUE(lib.waitLine("Released the connection port (" + rig.link + ")."));
    int idents = 0;
    device.inspect([&](const padsim::DeviceModel& d) { idents = static_cast<int>(d.state().identifications); });
    EXPECT_EQ(idents, 1);

    // Reconnect: the map still says identified, so no second identification.
    ASSERT_EQ(lib.drvStart(), 1);
    ASSERT_TRUE(waitUntil([&] { return rig.m().status == kStatusConnected; }));
    std::this_thread::sleep_for(std::chrono::milliseconds(200));
    device.inspect([&](const padsim::DeviceModel& d) { EXPECT_EQ(d.state().identifications, 1u); });
    lib.drvEnd();
}

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
    const std::string copy = rig.settings.folder() + "/PadrikJa.so";
    std::filesystem::copy_file(std::string(std::getenv("TAVIK_BIN_DIR")) + "/Padrik.so", copy,
                               std::filesystem::copy_options::overwrite_existing);
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

TEST(Padrik, TextAndBothPlanesReachThePinsExactly) {
    Rig rig(2);
    NotifyThread client;
    enterDisplaySlot(rig.m(), 0, ::getpid(), client.threadId(), true);
    PluginLib lib("Padrik");
    FakeDevice device(tactile(), rig.link);
    ASSERT_EQ(lib.drvInit(rig.port), 1);
    ASSERT_EQ(lib.drvStart(), 1);
    ASSERT_TRUE(waitUntil([&] { return rig.m().deviceIdentified == 1; }));

    std::vector<uint8_t> text(32);
    for (int i = 0; i < 32; ++i) text[static_cast<size_t>(i)] = static_cast<uint8_t>(0x80 | i);
    const auto dots = pattern(64, 48, 1);
    writeSlot(rig.m(), 0, text, dots, 0, 7);
    ASSERT_TRUE(device.waitFor([&](const padsim::DeviceModel& d) {
        return d.state().text == text && d.state().plane2Level == 7;
    }));
    device.inspect([&](const padsim::DeviceModel& d) {
        for (size_t i = 0; i < dots.size(); ++i) {
            ASSERT_EQ(d.state().plane1[i], dots[i] == 1 ? 1 : 0) << "dot " << i;
            ASSERT_EQ(d.state().plane2[i], dots[i] >= 2 ? 1 : 0) << "dot " << i;
        }
    });
    EXPECT_EQ(device.framesWith(0xA2), 0) << "not a multi-level device";

    // Leaving display mode with no slot requested clears the device once.
    platform::storeWord(rig.m().displayRequest, -1);
    ASSERT_TRUE(device.waitFor([&](const padsim::DeviceModel& d) {
        return d.state().text == std::vector<uint8_t>(32, 0);
    }));
    lib.drvEnd();
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
    const std::string pidFile = rig.settings.folder() + "/foreground";
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

TEST(Padrik, KeysBroadcastsAndDataBlocksReachTheirClients) {
    Rig rig(5);
    NotifyThread def, other;
    enterDisplaySlot(rig.m(), 0, 100011, def.threadId(), true);
    enterDisplaySlot(rig.m(), 3, 100012, other.threadId(), false);
    PluginLib lib("Padrik");
    FakeDevice device(tactile(), rig.link);
    ASSERT_EQ(lib.drvInit(rig.port), 1);
    ASSERT_EQ(lib.drvStart(), 1);
    ASSERT_TRUE(waitUntil([&] { return rig.m().deviceIdentified == 1; }));

    const uint8_t key[] = {4, 1, 0x20, 9};
    device.send(padsim::DeviceModel::frame(0xE1, 0, key));
    ASSERT_TRUE(def.waitEvents(1));
    EXPECT_EQ(def.events()[0].code, kNotifyKey);
    EXPECT_EQ(def.events()[0].lParam & 0xFFFFFFFF, 0x09200104);
    EXPECT_TRUE(other.events().empty()) << "keys go to the foreground, else default slot only";
    // The device expects no answer to a key frame; a short key payload pads with zeros.
    const uint8_t shortKey[] = {7};
    device.send(padsim::DeviceModel::frame(0xE1, 0, shortKey));
    ASSERT_TRUE(def.waitEvents(2));
    EXPECT_EQ(def.events()[1].lParam & 0xFFFFFFFF, 7);

    const uint8_t shift[] = {1, 2, 3, 4};
    device.send(padsim::DeviceModel::broadcastFrame(shift));
    ASSERT_TRUE(def.waitEvents(3));
    ASSERT_TRUE(other.waitEvents(1));
    EXPECT_EQ(other.events()[0].code, kNotifyBroadcast);
    EXPECT_EQ(other.events()[0].lParam & 0xFFFFFFFF, 0x04030201);

    const uint8_t data[] = {10, 20, 30, 40, 50};
    device.send(padsim::DeviceModel::dataBlockFrame(0x35, data));
    ASSERT_TRUE(def.waitEvents(4));
    auto block = def.events()[3];
    EXPECT_EQ(block.code, kNotifyDataBlock);
    EXPECT_EQ(block.data, (std::vector<uint8_t>{0x35, 10, 20, 30, 40, 50}));
    // A later key still arrives: the receive thread went on after the answer.
    device.send(padsim::DeviceModel::frame(0xE1, 0, key));
    ASSERT_TRUE(def.waitEvents(5));
    lib.drvEnd();
}

TEST(Padrik, DeviceVanishingMidFrameCrashesNothingAndRestartWorks) {
    Rig rig(6);
    NotifyThread client;
    enterDisplaySlot(rig.m(), 0, ::getpid(), client.threadId(), true);
    PluginLib lib("Padrik");
    ASSERT_EQ(lib.drvInit(rig.port), 1);
    {
        FakeDevice device(tactile(), rig.link);
        ASSERT_EQ(lib.drvStart(), 1);
        ASSERT_TRUE(waitUntil([&] { return rig.m().deviceIdentified == 1; }));
        // Half a key frame, then the device is gone.
        device.send({0xFF, 0xFF, 0xE1, 0x00, 0x04, 0x00, 0x01});
        writeSlot(rig.m(), 0, std::vector<uint8_t>(32, 5), pattern(64, 48, 3));
        device.stop();
        writeSlot(rig.m(), 0, std::vector<uint8_t>(32, 6), pattern(64, 48, 4));
        // The loss is told once, in the status window.
        EXPECT_TRUE(lib.waitLine("Lost the connection to the device (" + rig.link + ")."));
        EXPECT_EQ(lib.drvEnd(), 0);
    }
    FakeDevice again(tactile(), rig.link);
    ASSERT_EQ(lib.drvStart(), 1);
    ASSERT_TRUE(waitUntil([&] { return rig.m().status == kStatusConnected; }));
    writeSlot(rig.m(), 0, std::vector<uint8_t>(32, 7), pattern(64, 48, 5));
    EXPECT_TRUE(again.waitFor([&](const padsim::DeviceModel& d) { return d.state().text == std::vector<uint8_t>(32, 7); }));
    lib.drvEnd();
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
    const std::string fifo = rig.settings.folder() + "/foreground.fifo";
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
