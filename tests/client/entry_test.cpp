// Entering a port, notifications, display writes and direct calls, in one
// process against a stand-in controller: a thread that owns a queue, names
// itself in the port map and answers the shared blocks it is sent.
#include "client/port_entry.h"
#include "client/tavikutil.h"
#include "common/data_maps.h"
#include "common/messages.h"
#include "common/shared_block.h"
#include "common/slot_reclaim.h"
#include "platform/process.h"
#include "platform/atomic_word.h"
#include "platform/shared_section.h"
#include "platform/thread_queue.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <filesystem>
#include <fstream>
#include <mutex>
#include <sys/mman.h>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>
#include <vector>

using namespace tavik;
using namespace std::chrono_literals;

namespace {

// The library reads its settings folder at its first call.
const bool settingsIsolated = [] {
    auto dir = std::filesystem::temp_directory_path() / ("client-entry-" + std::to_string(::getpid()));
    std::filesystem::create_directories(dir);
    ::setenv("XDG_CONFIG_HOME", dir.c_str(), 1);
    ::setenv("TAVIK_PATH", "/nonexistent/TAVIK", 1);
    ::setenv("PATH", "/nonexistent", 1);  // no controller may be started by these tests
    return true;
}();

int nextPort() {
    static int port = 10 + ::getpid() % 40;
    return port++;
}

struct Served {
    int32_t code;
    int64_t lParam;
    std::vector<uint8_t> payload;
};

// Plays the controller's side of the command message.
class FakeController {
public:
    explicit FakeController(int port) {
        map_ = PortMap::open(port);
        map_->claimController(1000);
        registerMessages(msgs_);
        thread_ = std::thread([this] { run(); });
        std::unique_lock lock(m_);
        cv_.wait(lock, [&] { return ready_; });
    }
    ~FakeController() {
        stop_ = true;
        thread_.join();
    }
    PortDataMap& map() { return map_->map(); }
    // 1 or -1 for the blocks it serves, 0 to leave them unanswered.
    std::atomic<int32_t> answer{1};
    std::atomic<int32_t> replyByte{0};

    std::vector<Served> served() {
        std::lock_guard lock(m_);
        return served_;
    }
    bool waitServed(std::size_t n) {
        std::unique_lock lock(m_);
        return cv_.wait_for(lock, 5s, [&] { return served_.size() >= n; });
    }

private:
    void run() {
        auto q = platform::ThreadQueue::createForCurrentThread();
        map().controllerThreadId = q->threadId();
        map().controllerVersion[0] = 4;
        map().controllerVersion[1] = 2;
        map().controllerVersion[2] = 1;
        {
            std::lock_guard lock(m_);
            ready_ = true;
        }
        cv_.notify_all();
        while (!stop_) {
            platform::ThreadMessage msg;
            if (!q->wait(msg, 20) || msg.message != msgs_.command) continue;
            Served s{static_cast<int32_t>(msg.wParam), msg.lParam, {}};
            const bool withBlock = s.code == 3 || s.code == 7 || s.code == 10;
            std::optional<SharedBlock> block;
            if (withBlock && (block = SharedBlock::open(static_cast<int32_t>(msg.lParam)))) {
                s.payload.assign(block->payload(), block->payload() + block->payloadSize());
                if (s.code == 7) *block->word(4) = replyByte;
            }
            {
                // Recorded before the answer, so the requester sees it on return.
                std::lock_guard lock(m_);
                served_.push_back(std::move(s));
                cv_.notify_all();
            }
            if (block && answer != 0) publishBlockResult(*block, answer);
        }
    }

    std::optional<PortMap> map_;
    MessageNumbers msgs_;
    std::thread thread_;
    std::atomic<bool> stop_{false};
    std::mutex m_;
    std::condition_variable cv_;
    bool ready_ = false;
    std::vector<Served> served_;
};

// What the callbacks saw, and on which thread.
struct Seen {
    std::mutex m;
    std::condition_variable cv;
    std::vector<std::vector<int>> calls;
    std::vector<int32_t> threads;
    std::vector<std::string> data;
    void add(std::vector<int> call, std::string bytes = {}) {
        std::lock_guard lock(m);
        calls.push_back(std::move(call));
        threads.push_back(platform::currentThreadId());
        data.push_back(std::move(bytes));
        cv.notify_all();
    }
    bool waitFor(std::size_t n) {
        std::unique_lock lock(m);
        return cv.wait_for(lock, 5s, [&] { return calls.size() >= n; });
    }
    void clear() {
        std::lock_guard lock(m);
        calls.clear();
        threads.clear();
        data.clear();
    }
};
Seen seen;

void onStatus(int s) { seen.add({0, s}); }
void onKey(int a, int b, int c) { seen.add({4, a, b, c}); }
void onBroadcast(int a, int b, int c) { seen.add({5, a, b, c}); }
void onData(int code, int count, const unsigned char* d) {
    seen.add({6, code, count}, std::string(reinterpret_cast<const char*>(d), static_cast<std::size_t>(count)));
}
void onPen(int a, int b, int c, int d) { seen.add({11, a, b, c, d}); }

int32_t deadProcessId() {
    pid_t child = ::fork();
    if (child == 0) ::_exit(0);
    int status = 0;
    ::waitpid(child, &status, 0);
    return child;
}

class Entry : public ::testing::Test {
protected:
    void SetUp() override { seen.clear(); }
    void TearDown() override { gdEnd(); }
};

}  // namespace

TEST_F(Entry, UnknownModelAndOtherIdentifiedModelAreRefusedWithoutTrace) {
    FakeController c(nextPort());
    const int port = c.map().portIndex;
    EXPECT_EQ(gdStart("Pinora PX-9", port, nullptr), 0);
    EXPECT_EQ(c.map().entryCount, 0);
    EXPECT_EQ(gdGetEntriesCount(), -1);

    c.map().deviceIdentified = 1;
    setFieldString(c.map().deviceName, "Pinora PX-2");
    EXPECT_EQ(gdStart("Pinora PX-1", port, nullptr), 0);
    EXPECT_EQ(c.map().entryCount, 0);
    EXPECT_EQ(c.map().slots[0].notifyThreadId, 0);
    EXPECT_EQ(gdStart("pinora px-2", port, nullptr), 1);  // case is ignored
    EXPECT_EQ(gdEnd(), 1);
    EXPECT_EQ(gdEnd(), 0);
    EXPECT_EQ(c.map().entryCount, 0);
}

TEST_F(Entry, FirstEntryFillsDeviceFieldsAndQueriesReadThem) {
    FakeController c(nextPort());
    const int port = c.map().portIndex;
    ASSERT_EQ(gdStart("qx-64x48", port, nullptr), 1);
    PortDataMap& m = c.map();
    EXPECT_STREQ(m.deviceName, "QX-64X48");
    EXPECT_STREQ(m.driverFile, "Padrik.dll");
    EXPECT_EQ(m.baudRate, 38400);
    EXPECT_EQ(m.textCells, 32);
    EXPECT_EQ(m.graphicWidth, 64);
    EXPECT_EQ(m.graphicHeight, 48);
    EXPECT_EQ(m.entryCount, 1);
    EXPECT_EQ(m.slots[0].processId, ::getpid());
    EXPECT_NE(m.slots[0].notifyThreadId, 0);
    EXPECT_EQ(gdStart("Pinora PX-1", port + 1, nullptr), 1);  // already entered: nothing changes
    EXPECT_EQ(m.entryCount, 1);

    unsigned char v[3] = {};
    ASSERT_EQ(gdGetTavikVersion(v), 1);
    EXPECT_EQ(v[0], 4);
    EXPECT_EQ(v[1], 2);
    EXPECT_EQ(v[2], 1);
    EXPECT_EQ(gdGetDriverVersion(v), 0);  // no plug-in yet
    EXPECT_EQ(Version(), 66052);

    const char* name = nullptr;
    int cells = 0, w = 0, h = 0, p = -1, status = -1;
    EXPECT_EQ(gdQueryEquipment(-1, &name, &cells, &w, &h), 0);  // not identified yet
    EXPECT_EQ(gdGetPortInfo(&p, &status, &name), 1);
    EXPECT_EQ(p, port);
    EXPECT_EQ(name, nullptr);
    m.deviceIdentified = 1;
    ASSERT_EQ(gdQueryEquipment(port, &name, &cells, &w, &h), 1);
    EXPECT_STREQ(name, "QX-64X48");
    EXPECT_EQ(cells, 32);
    EXPECT_EQ(w, 64);
    const TavikWChar* wname = nullptr;
    ASSERT_EQ(gdQueryEquipmentW(-1, &wname, nullptr, nullptr, nullptr), 1);
    EXPECT_EQ(wname[0], 'Q');
    EXPECT_EQ(wname[8], 0);
}

TEST_F(Entry, SecondClientTakesNextSlotAndKeepsDeviceFields) {
    FakeController c(nextPort());
    PortDataMap& m = c.map();
    // A first client, alive, entered as "Pinora PX-2".
    m.slots[0].processId = ::getppid();
    m.slots[0].notifyThreadId = 12345;
    m.entryCount = 1;
    setFieldString(m.deviceName, "Pinora PX-2");
    m.baudRate = 1234;
    m.graphicWidth = 40;
    ASSERT_EQ(gdStart("Pinora PX-1", m.portIndex, nullptr), 1);  // not identified: no refusal
    EXPECT_EQ(m.slots[1].processId, ::getpid());
    EXPECT_NE(m.slots[1].notifyThreadId, 0);
    EXPECT_EQ(m.entryCount, 2);
    EXPECT_STREQ(m.deviceName, "Pinora PX-2");
    EXPECT_EQ(m.baudRate, 1234);
    EXPECT_EQ(m.graphicWidth, 40);
    EXPECT_EQ(gdEnd(), 1);
    EXPECT_EQ(m.slots[1].notifyThreadId, 0);
    EXPECT_EQ(m.slots[0].notifyThreadId, 12345);
    EXPECT_EQ(m.entryCount, 1);
}

TEST_F(Entry, SlotsOfDeadClientsAreReclaimedOnEntry) {
    FakeController c(nextPort());
    PortDataMap& m = c.map();
    for (int k = 0; k < 16; ++k) {
        m.slots[k].processId = deadProcessId();
        m.slots[k].notifyThreadId = 777 + k;
    }
    m.slots[5].processId = ::getppid();  // one of them still lives
    m.entryCount = 16;
    m.defaultSlot = 3;
    m.slots[3].displayFlags = 3;
    m.displayClientCount = 1;
    m.directOperationSlot = 7;
    ASSERT_EQ(gdStart("Pinora PX-2", m.portIndex, nullptr), 1);
    EXPECT_EQ(m.entryCount, 2);
    EXPECT_EQ(m.slots[0].processId, ::getpid());
    EXPECT_EQ(m.slots[5].notifyThreadId, 777 + 5);
    EXPECT_EQ(m.slots[9].notifyThreadId, 0);
    EXPECT_EQ(m.defaultSlot, -1);
    EXPECT_EQ(m.displayClientCount, 0);
    EXPECT_EQ(m.directOperationSlot, -1);
}

TEST_F(Entry, FullPortIsRefused) {
    FakeController c(nextPort());
    PortDataMap& m = c.map();
    for (int k = 0; k < 16; ++k) {
        m.slots[k].processId = ::getppid();
        m.slots[k].notifyThreadId = 900 + k;
    }
    m.entryCount = 16;
    EXPECT_EQ(gdStart("Pinora PX-2", m.portIndex, nullptr), 0);
    EXPECT_EQ(m.entryCount, 16);
}

TEST_F(Entry, NotificationsReachCallbacksOnTheNotificationThread) {
    FakeController c(nextPort());
    PortDataMap& m = c.map();
    ASSERT_EQ(gdStart("Pinora PX-2", m.portIndex, onStatus), 1);
    const int32_t tid = m.slots[0].notifyThreadId;
    ASSERT_EQ(gdStartDisplayMode(3, onKey, onBroadcast, onData), 1);
    ASSERT_EQ(gdSetPenEventCallback(onPen), 1);
    MessageNumbers msgs;
    registerMessages(msgs);

    m.status = 1;
    ASSERT_TRUE(seen.waitFor(1));
    ASSERT_TRUE(platform::postThreadMessage(tid, msgs.notify, 4, 0x7700000000030201LL));
    ASSERT_TRUE(seen.waitFor(2));
    ASSERT_TRUE(platform::postThreadMessage(tid, msgs.notify, 5, static_cast<int64_t>(0x80FF0102u)));
    ASSERT_TRUE(seen.waitFor(3));
    ASSERT_TRUE(platform::postThreadMessage(tid, msgs.notify, 11, 0x04030201));
    ASSERT_TRUE(seen.waitFor(4));

    auto block = SharedBlock::create(8 + 3);
    ASSERT_TRUE(block);
    *block->word(4) = 0x1233;
    std::memcpy(block->payload() + 8, "abc", 3);
    ASSERT_TRUE(platform::postThreadMessage(tid, msgs.notify, 6, block->number()));
    EXPECT_EQ(awaitBlockResult(*block, 5000), 1);
    ASSERT_TRUE(seen.waitFor(5));

    {
        std::lock_guard lock(seen.m);
        EXPECT_EQ(seen.calls[0], (std::vector<int>{0, 1}));
        EXPECT_EQ(seen.calls[1], (std::vector<int>{4, 1, 2, 3}));
        EXPECT_EQ(seen.calls[2], (std::vector<int>{5, 2, static_cast<int>(0xFF80FF01u), 0x80}));
        EXPECT_EQ(seen.calls[3], (std::vector<int>{11, 1, 2, 3, 4}));
        EXPECT_EQ(seen.calls[4], (std::vector<int>{6, 0x33, 3}));
        EXPECT_EQ(seen.data[4], "abc");
        for (int32_t t : seen.threads) EXPECT_EQ(t, tid);
    }

    // Display mode ended: no callback takes a data block, key events are dropped.
    ASSERT_EQ(gdEndDisplayMode(), 1);
    auto unanswered = SharedBlock::create(8);
    ASSERT_TRUE(unanswered);
    ASSERT_TRUE(platform::postThreadMessage(tid, msgs.notify, 4, 0x01));
    ASSERT_TRUE(platform::postThreadMessage(tid, msgs.notify, 6, unanswered->number()));
    EXPECT_EQ(awaitBlockResult(*unanswered, 5000), -1);
    m.status = 8;
    ASSERT_TRUE(seen.waitFor(6));
    std::lock_guard lock(seen.m);
    EXPECT_EQ(seen.calls[5], (std::vector<int>{0, 8}));  // the key event was dropped
}

TEST_F(Entry, DisplayWritesFillTheSlotAndNameItWhenShown) {
    FakeController c(nextPort());
    PortDataMap& m = c.map();
    ASSERT_EQ(gdStart("QX-64X48", m.portIndex, nullptr), 1);
    EXPECT_EQ(gdDisplayTextData(nullptr), 1);  // not in display mode, not default: no request
    EXPECT_EQ(m.displayRequest, -1);
    EXPECT_EQ(m.slots[0].textChanged, 1);
    ASSERT_EQ(gdStartDisplayMode(3, nullptr, nullptr, nullptr), 1);
    EXPECT_EQ(m.defaultSlot, 0);
    EXPECT_EQ(m.displayClientCount, 1);

    std::vector<unsigned char> text(32, 0x11), plane(64 * 6, 0);
    plane[64] = 0x80;
    ASSERT_EQ(gdDisplayTextData(text.data()), 1);
    EXPECT_EQ(m.displayRequest, 0);
    EXPECT_EQ(m.slots[0].text[31], 0x11);
    EXPECT_EQ(m.slots[0].text[32], 0);
    m.displayRequest = -1;
    ASSERT_EQ(gdDisplayGraphicData(plane.data(), nullptr, 3), 1);
    EXPECT_EQ(m.slots[0].graphic[15 * 64], 1);
    EXPECT_EQ(m.displayRequest, 0);
    std::vector<unsigned char> dots(64 * 48, 5);
    EXPECT_EQ(gdDisplayV2GraphicData(nullptr, 4), 0);
    EXPECT_EQ(gdDisplayV2GraphicData(dots.data(), 3), 0);
    ASSERT_EQ(gdDisplayV2GraphicData(dots.data(), 4), 1);
    EXPECT_EQ(m.slots[0].graphicFormat, 4);
    EXPECT_EQ(m.slots[0].graphic[64 * 48 - 1], 5);
    EXPECT_EQ(m.slotBusy[0], 0);

    // Anyone may rewrite the map's geometry: a write still reads only the
    // 64 x 48 the entry was made with. The dots end right before a page no
    // access is allowed to, so reading one byte more ends the test.
    const long page = ::sysconf(_SC_PAGESIZE);
    auto* pages = static_cast<unsigned char*>(
        ::mmap(nullptr, 2 * page, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0));
    ASSERT_NE(pages, MAP_FAILED);
    ASSERT_EQ(::mprotect(pages + page, page, PROT_NONE), 0);
    unsigned char* tight = pages + page - 64 * 48;
    std::memset(tight, 1, 64 * 48);
    m.graphicWidth = 100;
    m.graphicHeight = 100;
    ASSERT_EQ(gdDisplayV2GraphicData(tight, 1), 1);
    EXPECT_EQ(m.slots[0].graphic[64 * 48 - 1], 1);
    EXPECT_EQ(m.slots[0].graphic[64 * 48], 0) << "more than the entry's 64 x 48 dots were copied";
    m.textCells = 128;
    unsigned char* tightText = pages + page - 32;
    std::memset(tightText, 0x22, 32);
    ASSERT_EQ(gdDisplayTextData(tightText), 1);
    EXPECT_EQ(m.slots[0].text[31], 0x22);
    m.graphicWidth = 64;
    m.graphicHeight = 48;
    m.textCells = 32;
    ::munmap(pages, 2 * page);

    ASSERT_EQ(gdSuspendDisplay(1), 1);
    EXPECT_EQ(m.slots[0].displayFlags, 3 | 8);
    ASSERT_EQ(gdSuspendDisplay(0), 1);
    ASSERT_EQ(gdEnd(), 1);
    EXPECT_EQ(m.defaultSlot, -1);
    EXPECT_EQ(m.displayClientCount, 0);
    EXPECT_EQ(gdDisplayTextData(text.data()), 0);  // no entry
}

TEST_F(Entry, DirectOperationRightAndDirectCalls) {
    FakeController c(nextPort());
    PortDataMap& m = c.map();
    ASSERT_EQ(gdStart("Pinora PX-2", m.portIndex, nullptr), 1);
    const unsigned char data[3] = {9, 8, 7};
    EXPECT_EQ(gdPostDirectCommand(0x40, 1, 3, data), 0);  // no right

    m.directOperationSlot = 5;  // held by another application
    EXPECT_EQ(gdStartDirectOperation(nullptr), 0);
    EXPECT_EQ(gdEndDirectOperation(), 0);
    EXPECT_EQ(gdSendV2CCB(data, 1), 0);
    EXPECT_EQ(m.directOperationSlot, 5);
    m.directOperationSlot = -1;

    ASSERT_EQ(gdStartDirectOperation(nullptr), 1);
    EXPECT_EQ(gdStartDirectOperation(nullptr), 0);  // twice: refused
    EXPECT_EQ(gdPostDirectCommand(0x40, 1, 3, data), 0);  // port not open
    m.status = 1;

    c.replyByte = 0x5A;
    int reply = -1;
    ASSERT_EQ(gdSendDirectCommand(0x1C2, 0x103, 0x10003, data, 250, &reply), 1);
    EXPECT_EQ(reply, 0x5A);
    ASSERT_TRUE(c.waitServed(1));
    auto s = c.served().back();
    EXPECT_EQ(s.code, 7);
    ASSERT_EQ(s.payload.size(), 3u + 21u);
    int32_t words[5];
    std::memcpy(words, s.payload.data(), sizeof words);
    EXPECT_EQ(words[1], 250);
    EXPECT_EQ(words[2], 0xC2);
    EXPECT_EQ(words[3], 0x03);
    EXPECT_EQ(words[4], 3);
    EXPECT_EQ(s.payload[20], 9);
    EXPECT_EQ(s.payload[22], 7);
    EXPECT_EQ(s.payload[23], 0);

    c.replyByte = 0;
    reply = -1;
    ASSERT_EQ(gdSendDirectCommand(0x40, 0, 0, nullptr, 0, &reply), 1);
    EXPECT_EQ(reply, 0);
    EXPECT_EQ(c.served().back().payload.size(), 21u);  // length 0: no data bytes
    EXPECT_EQ(gdPostDirectCommand(0x40, 0, 2, nullptr), 0);  // bytes announced but absent

    ASSERT_EQ(gdSendDirectBytes(2, data), 1);
    s = c.served().back();
    EXPECT_EQ(s.code, 10);
    ASSERT_EQ(s.payload.size(), 2u + 9u);
    EXPECT_EQ(s.payload[4], 2);
    EXPECT_EQ(s.payload[8], 9);
    EXPECT_EQ(s.payload[10], 0);

    c.answer = -1;
    EXPECT_EQ(gdPostDirectCommand(0x40, 0, 0, nullptr), 0);
    c.answer = 1;

    ASSERT_EQ(gdEndDirectOperation(), 1);
    EXPECT_EQ(gdPostDirectCommand(0x40, 0, 0, nullptr), 0);

    std::vector<unsigned char> items(16, 0xAB);
    ASSERT_EQ(gdSendV2CCB(items.data(), 2), 1);
    s = c.served().back();
    std::memcpy(words, s.payload.data(), sizeof words);
    EXPECT_EQ(words[2], 0xA0);
    EXPECT_EQ(words[3], 0);  // own slot number
    EXPECT_EQ(words[4], 16);
    EXPECT_EQ(m.directOperationSlot, -1);

    ASSERT_EQ(gdStartDirectOperation(nullptr), 1);
    ASSERT_EQ(gdEnd(), 1);  // leaving gives the right back
    EXPECT_EQ(m.directOperationSlot, -1);
}

TEST_F(Entry, CloseReopenRestartAndWindowCommands) {
    FakeController c(nextPort());
    PortDataMap& m = c.map();
    EXPECT_EQ(gdClosePort(), 0);  // no entry
    ASSERT_EQ(gdStart("Pinora PX-2", m.portIndex, nullptr), 1);
    int result = -1;
    EXPECT_EQ(gdReopenPort(&result), 1);  // nothing to reopen
    EXPECT_EQ(result, 0);
    EXPECT_EQ(gdRestart(), 1);  // status 0: open-port command
    ASSERT_TRUE(c.waitServed(1));
    EXPECT_EQ(c.served()[0].code, 1);
    EXPECT_EQ(c.served()[0].lParam, m.portIndex);

    m.status = 1;
    ASSERT_EQ(gdClosePort(), 1);
    EXPECT_EQ(m.status, 8);
    EXPECT_EQ(m.closingSlot, 0);
    EXPECT_EQ(gdClosePort(), 0);
    ASSERT_TRUE(c.waitServed(2));
    EXPECT_EQ(c.served()[1].code, 2);

    m.closingSlot = 4;  // another application's close
    EXPECT_EQ(gdReopenPort(&result), 0);
    m.closingSlot = 0;
    ASSERT_EQ(gdReopenPort(&result), 1);
    EXPECT_EQ(m.closingSlot, -1);
    EXPECT_EQ(c.served()[2].code, 3);
    EXPECT_EQ(c.served()[2].payload.size(), 8u);

    m.status = 1;
    EXPECT_EQ(gdRestart(), 1);  // open already: nothing posted
    m.allowHideWindow = 3;
    EXPECT_EQ(gdHideTavikWindow(1), 0);
    m.allowHideWindow = 2;
    EXPECT_EQ(gdHideTavikWindow(1), 1);
    ASSERT_TRUE(c.waitServed(4));
    EXPECT_EQ(c.served()[3].code, 9);
    EXPECT_EQ(c.served()[3].lParam, 1);
    EXPECT_EQ(c.served().size(), 4u);
}

TEST_F(Entry, DeadControllerIsNoticedAndPostsThatFailAreReported) {
    const int port = nextPort();
    auto c = std::make_optional<FakeController>(port);
    auto view = PortMap::openExisting(port, true);
    ASSERT_TRUE(view);
    PortDataMap& m = view->map();
    ASSERT_EQ(gdStart("Pinora PX-2", port, nullptr), 1);
    m.status = 1;
    m.allowHideWindow = 2;
    // The controller dies: its queue and its claim go, its thread id stays.
    c.reset();
    EXPECT_EQ(gdClosePort(), 0) << "a close nobody will carry out reported as done";
    EXPECT_NE(m.status, 8);
    EXPECT_EQ(m.closingSlot, -1);
    EXPECT_EQ(gdHideTavikWindow(1), 0);
    // No controller program can be started here: the restart says so, and
    // the dead controller is no longer named in the map.
    EXPECT_EQ(gdRestart(), 0);
    EXPECT_EQ(m.controllerThreadId, 0);
    EXPECT_EQ(m.controllerVersion[0], 0);

    // A new controller for the port is used at once.
    c.emplace(port);
    m.status = 0;
    EXPECT_EQ(gdRestart(), 1);
    ASSERT_TRUE(c->waitServed(1));
    EXPECT_EQ(c->served()[0].code, 1);
    ASSERT_EQ(gdEnd(), 1);
}

// A taker that died between taking a slot and writing its process id leaves
// no slot behind; one still in between is left alone.
TEST(SlotTake, SlotOfATakerThatDiedHalfwayIsReclaimed) {
    auto m = std::make_unique<PortDataMap>();
    clearPortMap(*m);
    int32_t goneTid = 0;
    std::thread([&] { goneTid = platform::currentThreadId(); }).join();
    m->slots[3].notifyThreadId = goneTid;  // taken, id never written
    m->slots[5].notifyThreadId = platform::currentThreadId();  // being taken right now
    m->entryCount = 2;
    const auto alive = [](int32_t id) { return platform::processAlive(id); };
    EXPECT_EQ(reclaimDeadSlots(*m, alive, 0, alive), 1);
    EXPECT_EQ(m->slots[3].notifyThreadId, 0);
    EXPECT_EQ(m->slots[3].processId, 0);
    EXPECT_EQ(m->slots[5].notifyThreadId, platform::currentThreadId());
    EXPECT_EQ(m->entryCount, 1);
}

// Many takers race for the slots: every slot taken carries its own taker's
// process id, never a loser's.
TEST(SlotTake, LosersNeverWriteIntoTheWinnersSlot) {
    auto m = std::make_unique<PortDataMap>();
    std::memset(m.get(), 0, sizeof(PortDataMap));
    constexpr int kThreads = 6;
    constexpr int kRounds = 100000;
    std::atomic<int> wrong{0};
    std::vector<std::thread> threads;
    for (int t = 0; t < kThreads; ++t)
        threads.emplace_back([&, t] {
            const int32_t tid = 1000 + t, pid = 5000 + t;
            for (int r = 0; r < kRounds; ++r) {
                const int32_t k = client::takeFreeSlot(*m, tid, pid);
                if (k < 0) continue;
                for (int i = 0; i < 20; ++i)
                    if (platform::loadWord(m->slots[k].processId) != pid && i > 0) {
                        wrong.fetch_add(1);
                        break;
                    }
                client::releaseSlot(*m, k);
            }
        });
    for (auto& th : threads) th.join();
    EXPECT_EQ(wrong.load(), 0);
    for (auto& s : m->slots) {
        EXPECT_EQ(s.notifyThreadId, 0);
        EXPECT_EQ(s.processId, 0);
    }
}

TEST_F(Entry, PortInfoNameIsATerminatedCopyAndItemCountsAreChecked) {
    FakeController c(nextPort());
    PortDataMap& m = c.map();
    ASSERT_EQ(gdStart("QX-64X48", m.portIndex, nullptr), 1);
    // Anyone can fill the name field to its end, without a terminating zero.
    std::memset(m.deviceName, 'N', sizeof m.deviceName);
    std::memset(m.deviceInfo, 'I', sizeof m.deviceInfo);
    m.deviceIdentified = 1;
    const char* name = nullptr;
    ASSERT_EQ(gdGetPortInfo(nullptr, nullptr, &name), 1);
    ASSERT_NE(name, nullptr);
    EXPECT_NE(name, m.deviceName) << "a pointer into the shared map";
    EXPECT_EQ(std::string(name), std::string(23, 'N'));
    m.deviceName[0] = 'X';  // later changes do not reach the copy
    EXPECT_EQ(name[0], 'N');

    // 8192 items of 8 bytes do not fit the 16-bit length; nor do absurd counts.
    ASSERT_EQ(gdStartDirectOperation(nullptr), 1);
    ASSERT_EQ(gdEndDirectOperation(), 1);
    m.status = 1;
    std::vector<unsigned char> items(8 * 8192, 1);
    EXPECT_EQ(gdSendV2CCB(items.data(), 8192), 0);
    EXPECT_EQ(gdSendV2CCB(items.data(), 0x20000001), 0);
    EXPECT_EQ(gdSendV2CCB(items.data(), -1), 0);
    EXPECT_TRUE(c.served().empty()) << "a truncated item list was sent";
    ASSERT_EQ(gdSendV2CCB(items.data(), 8191), 1);
    ASSERT_TRUE(c.waitServed(1));
    EXPECT_EQ(c.served()[0].payload.size(), 20u + 8 * 8191 + 1);
    ASSERT_EQ(gdEnd(), 1);
}

// The calling thread's voluntary context switches: every wait for a busy
// flag sleeps, so a call that waits shows up here whatever the machine's speed.
long waitsSoFar() {
    std::ifstream in("/proc/thread-self/status");
    for (std::string line; std::getline(in, line);)
        if (line.rfind("voluntary_ctxt_switches:", 0) == 0) return std::stol(line.substr(24));
    return -1;
}

// The application in front that is also the default client suspends itself:
// its own slot takes over, and the call must not wait for its own busy flag.
TEST_F(Entry, SuspendByTheFrontAndDefaultClientDoesNotWaitForItself) {
    FakeController c(nextPort());
    PortDataMap& m = c.map();
    ASSERT_EQ(gdStart("QX-64X48", m.portIndex, nullptr), 1);
    ASSERT_EQ(gdStartDisplayMode(3, nullptr, nullptr, nullptr), 1);
    m.foregroundSlot = 0;
    m.slots[0].textChanged = 0;
    m.slots[0].graphicChanged = 0;
    const long before = waitsSoFar();
    ASSERT_GE(before, 0);
    ASSERT_EQ(gdSuspendDisplay(1), 1);
    const long waits = waitsSoFar() - before;
    EXPECT_LT(waits, 50) << "the call waited for a busy flag it held itself";
    EXPECT_EQ(m.foregroundSlot, -1);
    EXPECT_EQ(m.displayRequest, 0);
    EXPECT_EQ(m.slots[0].textChanged, 1);  // shown again in full
    EXPECT_EQ(m.slots[0].graphicChanged, 1);
    EXPECT_EQ(m.slotBusy[0], 0);
    ASSERT_EQ(gdEnd(), 1);
}

// Another process shrinks the port map while this one is entered: the
// application lives on, its writes report failure, and it can still leave.
TEST_F(Entry, ShrunkPortMapMakesWritesFailInsteadOfKilling) {
    FakeController c(nextPort());
    const int32_t port = c.map().portIndex;
    ASSERT_EQ(gdStart("QX-64X48", port, nullptr), 1);
    ASSERT_EQ(gdStartDisplayMode(3, nullptr, nullptr, nullptr), 1);
    std::vector<unsigned char> text(32, 0x44);
    ASSERT_EQ(gdDisplayTextData(text.data()), 1);
    const int fd = ::shm_open(platform::sectionObjectName(portMapName(port)).c_str(), O_RDWR, 0);
    ASSERT_GE(fd, 0);
    ASSERT_EQ(::ftruncate(fd, 0), 0);
    ::close(fd);
    EXPECT_EQ(gdDisplayTextData(text.data()), 0);
    EXPECT_EQ(gdDisplayTextData(text.data()), 0);
    EXPECT_EQ(gdSendDirectBytes(1, text.data()), 0);
    EXPECT_EQ(gdEnd(), 1);
}

TEST_F(Entry, NoControllerMeansNoEntry) {
    const int port = nextPort();
    EXPECT_EQ(gdStart("Pinora PX-2", port, nullptr), 0);
    auto live = PortMap::openExisting(port, false);
    EXPECT_FALSE(live);  // the map this call made is gone again
}

TEST_F(Entry, QueryConditionAlwaysSendsSerialPortsToTheSelection) {
    FakeController serial(nextPort());
    FakeController usb(64 + ::getpid() % 16);
    const char* home = std::getenv("XDG_CONFIG_HOME");
    const std::string ini = std::string(home) + "/Orvane/TAVIK200_J/TAVIK.ini";
    std::filesystem::create_directories(std::filesystem::path(ini).parent_path());
    {
        std::ofstream(ini) << "[Priority]\nQueryConditionAlways=1\n";
    }
    // No selection dialog in this build: a serial port is not entered.
    EXPECT_EQ(gdStart("Pinora PX-2", serial.map().portIndex, nullptr), 0);
    EXPECT_EQ(serial.map().entryCount, 0);
    // A USB port index is entered directly.
    EXPECT_EQ(gdStart("Pinora New PX-2", usb.map().portIndex, nullptr), 1);
    EXPECT_EQ(usb.map().entryCount, 1);
    EXPECT_EQ(gdEnd(), 1);
    std::filesystem::remove(ini);
}

TEST_F(Entry, MonitorPortCopiesTheSourceAndEntriesMirrorTheirWrites) {
    FakeController source(nextPort());
    FakeController monitor(nextPort());
    PortDataMap& src = source.map();
    PortDataMap& mon = monitor.map();
    setFieldString(src.deviceName, "QX-64X48");
    setFieldString(src.driverFile, "Padrik.dll");
    src.textCells = 32;
    src.entryCount = 1;
    src.slots[2].processId = ::getppid();
    src.slots[2].notifyThreadId = 4242;
    src.slots[2].text[0] = 0x3C;

    ASSERT_EQ(gdOpenMonitorPort(src.portIndex, mon.portIndex), 1);
    EXPECT_EQ(src.monitorPort, mon.portIndex);
    EXPECT_EQ(mon.portIndex, monitor.map().portIndex);
    EXPECT_STREQ(mon.deviceName, "QX-64X48");
    EXPECT_EQ(mon.entryCount, 1);
    EXPECT_EQ(mon.slots[2].text[0], 0x3C);
    EXPECT_EQ(mon.controllerVersion[0], 4);  // the target's own fields stay
    EXPECT_EQ(gdOpenMonitorPort(src.portIndex, mon.portIndex), 0);  // one monitor at a time
    EXPECT_EQ(gdStart("QX-64X48", src.portIndex, nullptr), 0);   // no entry beside a monitor
    ASSERT_EQ(gdCloseMonitorPort(), 1);
    EXPECT_EQ(src.monitorPort, -1);
    EXPECT_EQ(mon.entryCount, 0);
    EXPECT_EQ(gdCloseMonitorPort(), 0);

    // An entry on a mirrored port copies its writes into the monitor's map.
    src.monitorPort = mon.portIndex;
    ASSERT_EQ(gdStart("QX-64X48", src.portIndex, nullptr), 1);
    EXPECT_EQ(mon.entryCount, 2);
    ASSERT_EQ(gdStartDisplayMode(3, nullptr, nullptr, nullptr), 1);
    std::vector<unsigned char> text(32, 0x77);
    ASSERT_EQ(gdDisplayTextData(text.data()), 1);
    const int slot = src.displayRequest;
    ASSERT_TRUE(isSlot(slot));
    EXPECT_EQ(mon.displayRequest, slot);
    EXPECT_EQ(static_cast<unsigned char>(mon.slots[slot].text[31]), 0x77);
    src.entryCount = 1;  // the other entry leaves
    src.slots[2].notifyThreadId = 0;
    ASSERT_EQ(gdEnd(), 1);  // the last entry ends the mirroring
    EXPECT_EQ(src.monitorPort, -1);
    EXPECT_EQ(mon.entryCount, 0);
}
