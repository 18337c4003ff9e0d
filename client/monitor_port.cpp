// The monitor port: gdOpenMonitorPort, gdCloseMonitorPort and mirroring.
#include "client/monitor_port.h"

#include "client/controller_launch.h"
#include "platform/atomic_word.h"

#include <cstring>

namespace tavik::client {

void copyMapState(PortDataMap& t, const PortDataMap& s) {
    t.portIndex = s.portIndex;
    t.baudRate = s.baudRate;
    t.textCells = s.textCells;
    t.graphicWidth = s.graphicWidth;
    t.graphicHeight = s.graphicHeight;
    t.reserved36 = s.reserved36;
    t.deviceIdentified = s.deviceIdentified;
    std::memcpy(t.deviceName, s.deviceName, sizeof t.deviceName);
    std::memcpy(t.deviceInfo, s.deviceInfo, sizeof t.deviceInfo);
    std::memcpy(t.driverFile, s.driverFile, sizeof t.driverFile);
    t.entryCount = s.entryCount;
    t.displayClientCount = s.displayClientCount;
    t.foregroundSlot = s.foregroundSlot;
    t.defaultSlot = s.defaultSlot;
    t.displayRequest = s.displayRequest;
    std::memcpy(t.slots, s.slots, sizeof t.slots);
    std::memcpy(t.slotBusy, s.slotBusy, sizeof t.slotBusy);
    t.screenReaderFirst = s.screenReaderFirst;
    t.allowHideWindow = s.allowHideWindow;
}

void mirrorToMonitor(Library& lib, MirrorScope scope, int32_t slot) {
    if (!lib.ownMap) return;
    PortDataMap& own = lib.map();
    const int32_t monitor = platform::loadWord(own.monitorPort);
    if (monitor == -1 || !isPortIndex(monitor) || monitor == lib.ownMap->portIndex()) {
        lib.mirror.reset();
        return;
    }
    if (lib.mirror && lib.mirror->portIndex() != monitor) lib.mirror.reset();
    if (!lib.mirror) {
        lib.mirror = PortMap::openExisting(monitor, true);
        if (!lib.mirror) return;
    }
    PortDataMap& target = lib.mirror->map();
    switch (scope) {
    case MirrorScope::Whole: {
        copyMapState(target, own);
        // The monitor map keeps naming its own port.
        target.portIndex = monitor;
        break;
    }
    case MirrorScope::SlotAndForeground:
        target.foregroundSlot = own.foregroundSlot;
        [[fallthrough]];
    case MirrorScope::Slot:
        if (isSlot(slot)) std::memcpy(&target.slots[slot], &own.slots[slot], sizeof(ClientSlot));
        target.displayRequest = own.displayRequest;
        break;
    }
}

}  // namespace tavik::client

using namespace tavik;
using namespace tavik::client;

TAVIK_API int gdOpenMonitorPort(int sourcePort, int monitorPort) {
    Library& lib = library();
    if (lib.entrySlot != -1 || lib.monitorSource || lib.ownMap) return 0;
    if (!isPortIndex(sourcePort) || !isPortIndex(monitorPort) || sourcePort == monitorPort) return 0;
    auto source = PortMap::openExisting(sourcePort, true);
    if (!source) return 0;
    if (platform::loadWord(source->map().monitorPort) != -1) return 0;
    auto own = PortMap::open(monitorPort);
    if (!own) return 0;
    copyMapState(own->map(), source->map());
    own->map().portIndex = monitorPort;
    withdrawDeadController(*own);
    if (!controllerAlive(*own) && !launchController(*own, lib.messages.command)) return 0;
    platform::storeWord(source->map().monitorPort, monitorPort);
    lib.monitorSource = std::move(source);
    lib.ownMap = std::make_shared<PortMap>(std::move(*own));
    return 1;
}

TAVIK_API int gdCloseMonitorPort(void) {
    Library& lib = library();
    if (!lib.monitorSource) return 0;
    platform::storeWord(lib.monitorSource->map().monitorPort, -1);
    lib.monitorSource.reset();
    if (lib.ownMap) platform::storeWord(lib.map().entryCount, 0);
    lib.ownMap.reset();
    return 1;
}
