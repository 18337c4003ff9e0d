// The library state and the port entry calls: gdStart, gdStartW, gdEnd,
// gdRestart, gdClosePort, gdReopenPort, gdHideTavikWindow.
#include "client/port_entry.h"

#include "client/controller_launch.h"
#include "client/monitor_port.h"
#include "client/port_selection.h"
#include "client/text_convert.h"
#include "common/ini_store.h"
#include "common/settings.h"
#include "common/shared_block.h"
#include "common/slot_reclaim.h"
#include "platform/atomic_word.h"
#include "platform/process.h"
#include "platform/thread_queue.h"

#include <atomic>
#include <cstdio>
#include <cstring>
#include <sched.h>

namespace tavik::client {

Library::Library() {
    ReadUiLanguage();
    InitSettingsPaths();
    registerMessages(messages);
    connectionInfo = ConnectionInfo::open();
}

Library::~Library() {
    endEntry(*this);
    notifier.reset();
}

Library& library() {
    static Library lib;
    return lib;
}

void decrementToZero(int32_t& word) {
    int32_t v = platform::loadWord(word);
    while (v > 0 && !platform::exchangeWord(word, v, v - 1)) v = platform::loadWord(word);
}

namespace {

// Posts a command to the port's controller; false when it was not delivered
// (no controller, or its queue is gone with its process).
bool post(Library& lib, int32_t code, int64_t lParam) {
    const int32_t tid = platform::loadWord(lib.map().controllerThreadId);
    return platform::postThreadMessage(tid, lib.messages.command, static_cast<uint64_t>(code), lParam);
}


void fillDeviceFields(PortDataMap& m, int32_t portIndex, const DeviceRow& row) {
    std::memset(m.deviceName, 0, sizeof m.deviceName);
    std::memset(m.deviceInfo, 0, sizeof m.deviceInfo);
    setFieldString(m.deviceName, row.name);
    setFieldString(m.driverFile, row.driver);
    m.portIndex = portIndex;
    m.baudRate = row.speed;
    m.textCells = row.textSize;
    m.graphicWidth = row.graphicXSize;
    m.graphicHeight = row.graphicYSize;
    m.reserved36 = 64;
    platform::storeWord(m.deviceIdentified, 0);
}

}  // namespace

int32_t takeFreeSlot(PortDataMap& m, int32_t threadId, int32_t processId) {
    for (int32_t k = 0; k < kSlotCount; ++k) {
        ClientSlot& s = m.slots[k];
        if (platform::loadWord(s.notifyThreadId) != 0) continue;
        if (platform::exchangeWord(s.notifyThreadId, 0, threadId)) {
            platform::storeWord(s.processId, processId);
            return k;
        }
    }
    return -1;
}

void releaseSlot(PortDataMap& m, int32_t slot) {
    if (!isSlot(slot)) return;
    // The id goes first: once the thread id is 0 another client may take the
    // slot and write its own id.
    platform::storeWord(m.slots[slot].processId, 0);
    platform::storeWord(m.slots[slot].notifyThreadId, 0);
}

GeometryFix fixGeometry(const PortDataMap& m) {
    GeometryFix g;
    g.graphic = graphicSize(m);
    g.textCells = textSize(m);
    return g;
}

int openEntry(Library& lib, int32_t portIndex, const DeviceRow& row, GdStatusCallback statusCallback) {
    if (lib.entrySlot != -1) return 1;
    if (lib.ownMap || !isPortIndex(portIndex)) return 0;  // a monitor port is open in this process
    platform::SectionError error;
    auto opened = PortMap::open(portIndex, nullptr, &error);
    if (!opened) {
        // Another user's map under this port's name: say whose, or the entry
        // would just fail without a word.
        if (error.kind == platform::SectionError::Kind::Foreign)
            std::fprintf(stderr, "tavikutil: %s\n", platform::describeSectionError(error).c_str());
        return 0;
    }
    auto mouse = MouseMap::open();
    if (!mouse) return 0;
    auto map = std::make_shared<PortMap>(std::move(*opened));
    PortDataMap& m = map->map();

    const auto alive = [](int32_t id) { return platform::processAlive(id); };
    reclaimDeadSlots(m, alive, kReclaimBusyTries, alive);

    if (platform::loadWord(m.deviceIdentified) != 0) {
        // The name as the map would hold it for this row.
        std::string stored = row.name.substr(0, sizeof m.deviceName - 1);
        if (fieldString(m.deviceName) != stored) return 0;
    }
    if (platform::loadWord(m.entryCount) >= kSlotCount) return 0;
    if (platform::loadWord(m.entryCount) == 0) fillDeviceFields(m, portIndex, row);

    // Pairs with the controller's withdraw-then-recheck when it decides to
    // end: either it sees this entry and stays, or this entry sees its thread
    // id gone (read in the same order below) and starts a new controller.
    platform::addWordSeqCst(m.entryCount, 1);
    lib.callbacks.status = statusCallback;
    auto fail = [&] {
        decrementToZero(m.entryCount);
        lib.callbacks.status = nullptr;
        return 0;
    };

    auto notifier = NotificationThread::start(map, lib.callbacks, lib.messages.notify, [map] {
        // A controller that died while clients are entered is replaced by
        // the one client that withdraws it.
        if (withdrawDeadController(*map)) startController(map->portIndex());
    });
    if (!notifier) return fail();
    sched_yield();
    withdrawDeadController(*map);
    if (!controllerAlive(*map) && !launchController(*map, lib.messages.command)) {
        notifier->stop();
        return fail();
    }
    const int32_t slot = takeFreeSlot(m, notifier->threadId(), platform::currentProcessId());
    if (slot < 0) {
        notifier->stop();
        return fail();
    }
    lib.entrySlot = slot;
    lib.geometry = fixGeometry(m);
    lib.ownMap = std::move(map);
    lib.mouseMap = std::move(mouse);
    lib.notifier = std::move(notifier);
    if (platform::loadWord(m.allowHideWindow) == 1) post(lib, kCmdShowWindow, 0);
    mirrorToMonitor(lib, MirrorScope::Whole);
    return 1;
}

int endEntry(Library& lib) {
    if (!lib.entered()) return 0;
    if (auto closeViewer = lib.closeViewer.load()) closeViewer();
    lib.callbacks.status = nullptr;
    gdEndDisplayMode();
    PortDataMap& m = lib.map();
    const int32_t slot = lib.entrySlot;
    if (platform::loadWord(m.closingSlot) == slot && platform::loadWord(m.entryCount) > 1)
        platform::storeWord(m.closingSlot, -1);
    platform::exchangeWord(m.directOperationSlot, slot, -1);
    lib.callbacks.directOperation = nullptr;
    releaseSlot(m, slot);
    lib.entrySlot = -1;
    decrementToZero(m.entryCount);
    if (platform::loadWord(m.monitorPort) != -1 && platform::loadWord(m.entryCount) == 0 && lib.mirror) {
        platform::storeWord(m.monitorPort, -1);
        platform::storeWord(lib.mirror->map().entryCount, 0);
    }
    if (lib.notifier) lib.notifier->stop();
    lib.notifier.reset();
    lib.ownMap.reset();
    lib.mouseMap.reset();
    lib.monitorSource.reset();
    lib.mirror.reset();
    return 1;
}

}  // namespace tavik::client

using namespace tavik;
using namespace tavik::client;

TAVIK_API int gdStart(const char* deviceName, int portIndex, GdStatusCallback statusCallback) {
    Library& lib = library();
    if (profileGetInt("Priority", "QueryConditionAlways", 0, TavikIniPath()) != 0 && portIndex < 64)
        return startSelection(statusCallback);
    if (!deviceName) return 0;
    loadDeviceTable(lib.devices, TavikIniPath(), UiLanguage());
    auto row = findDeviceRow(lib.devices.rows, deviceName);
    if (!row) return 0;
    lib.devices.selectedDevice = *row;
    return openEntry(lib, portIndex, lib.devices.rows[*row], statusCallback);
}

TAVIK_API int gdStartW(const TavikWChar* deviceName, int portIndex, GdStatusCallback statusCallback) {
    if (!deviceName) return 0;
    // The name is converted into an 80-byte buffer: at most 79 bytes.
    const std::string name = utf16ToUtf8(deviceName, 1024, 79);
    return gdStart(name.c_str(), portIndex, statusCallback);
}

TAVIK_API int gdEnd(void) { return endEntry(library()); }

TAVIK_API int gdRestart(void) {
    Library& lib = library();
    if (!lib.entered()) return 0;
    PortDataMap& m = lib.map();
    const int32_t port = lib.ownMap->portIndex();
    // A controller that died is replaced; a live one is asked to open the port.
    withdrawDeadController(*lib.ownMap);
    if (!controllerAlive(*lib.ownMap)) return launchController(*lib.ownMap, lib.messages.command) ? 1 : 0;
    if (platform::loadWord(m.status) != 0) return 1;
    return post(lib, kCmdOpenPort, port) ? 1 : 0;
}

TAVIK_API int gdClosePort(void) {
    Library& lib = library();
    if (!lib.entered()) return 0;
    PortDataMap& m = lib.map();
    if (platform::loadWord(m.status) == kStatusClosing || platform::loadWord(m.closingSlot) != -1) return 0;
    if (!controllerAlive(*lib.ownMap)) return 0;
    const int32_t before = platform::loadWord(m.status);
    if (!platform::exchangeWord(m.closingSlot, -1, lib.entrySlot)) return 0;
    platform::storeWord(m.status, kStatusClosing);
    if (!post(lib, kCmdClosePort, 0)) {
        // Nobody will close the port: the request is taken back.
        platform::exchangeWord(m.status, kStatusClosing, before);
        platform::exchangeWord(m.closingSlot, lib.entrySlot, -1);
        return 0;
    }
    mirrorToMonitor(lib, MirrorScope::Whole);
    return 1;
}

TAVIK_API int gdReopenPort(int* result) {
    if (result) *result = 0;
    Library& lib = library();
    if (!lib.entered()) return 0;
    PortDataMap& m = lib.map();
    const int32_t closing = platform::loadWord(m.closingSlot);
    if (closing == -1) return 1;
    if (closing != lib.entrySlot) return 0;
    auto block = SharedBlock::create(8);
    if (!block) return 0;
    if (!post(lib, kCmdReopenPort, block->number())) return 0;
    const int32_t answer = awaitBlockResult(*block, kReopenBoundMs);
    if (result) *result = block->read(4);
    if (answer != 1) return 0;
    platform::storeWord(m.closingSlot, -1);
    return 1;
}

TAVIK_API int gdHideTavikWindow(int flag) {
    Library& lib = library();
    if (!lib.entered()) return 0;
    const int32_t allow = platform::loadWord(lib.map().allowHideWindow);
    if (allow != 1 && allow != 2) return 0;
    return post(lib, kCmdShowWindow, flag) ? 1 : 0;
}
