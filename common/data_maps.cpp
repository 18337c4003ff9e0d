// Port data maps and the connection info map.
#include "common/data_maps.h"

#include "common/settings.h"
#include "platform/atomic_word.h"
#include "platform/word_wait.h"

#include <cstdio>
#include <cstring>
#include <thread>

namespace tavik {

std::string portMapName(int32_t portIndex) {
    char buf[64];
    if (portIndex < 0) return {};
    if (portIndex < kSerialPortCount)
        std::snprintf(buf, sizeof buf, "Data Map (Com%d) for GD Driver Ver.2.00", portIndex + 1);
    else
        std::snprintf(buf, sizeof buf, "Data Map (Connection %d) for GD Driver Ver.2.00", portIndex);
    return buf;
}

std::string portDisplayName(int32_t portIndex) {
    char buf[32];
    if (portIndex >= kFirstUsbPort)
        std::snprintf(buf, sizeof buf, "USB%d", portIndex - 63);
    else
        std::snprintf(buf, sizeof buf, "Com%d", portIndex + 1);
    return buf;
}

void clearPortMap(PortDataMap& m) {
    std::memset(m.controllerVersion, 0, sizeof m.controllerVersion);
    std::memset(m.driverVersion, 0, sizeof m.driverVersion);
    m.controllerThreadId = 0;
    m.status = kStatusNoConnection;
    m.textCells = 32;
    m.graphicWidth = 64;
    m.graphicHeight = 48;
    m.reserved36 = 64;
    m.deviceIdentified = 0;
    m.entryCount = 0;
    m.displayClientCount = 0;
    m.foregroundSlot = -1;
    m.defaultSlot = -1;
    m.displayRequest = kNoRequest;
    m.closingSlot = -1;
    m.directOperationSlot = -1;
    for (auto& s : m.slots) {
        s.processId = 0;
        s.notifyThreadId = 0;
        s.displayFlags = 0;
    }
    for (auto& b : m.slotBusy) b = 0;
    m.screenReaderFirst = 0;
    m.allowHideWindow = 0;
    m.monitorPort = -1;
}

std::optional<PortMap> PortMap::open(int32_t portIndex, bool* created, platform::SectionError* error) {
    if (portIndex < 0) return std::nullopt;
    const std::string name = portMapName(portIndex);
    EnsureEveryoneSecurity();
    bool fresh = false;
    // A new map is cleared before anyone else can open it: an entry made by
    // another process right after the creation is never wiped out.
    auto section = platform::SharedSection::create(name, kPortMapSize, &fresh, [portIndex](void* bytes) {
        auto& m = *static_cast<PortDataMap*>(bytes);
        clearPortMap(m);
        m.portIndex = portIndex;
    }, error);
    if (!section) return std::nullopt;
    if (created) *created = fresh;
    return PortMap(std::move(*section), portIndex);
}

std::optional<PortMap> PortMap::adopt(int fd, int32_t portIndex) {
    if (portIndex < 0) return std::nullopt;
    auto section = platform::SharedSection::adopt(fd, portMapName(portIndex), kPortMapSize);
    if (!section) return std::nullopt;
    return PortMap(std::move(*section), portIndex);
}

std::optional<PortMap> PortMap::openExisting(int32_t portIndex, bool writable) {
    if (portIndex < 0) return std::nullopt;
    auto section = platform::SharedSection::open(
        portMapName(portIndex),
        writable ? platform::SharedSection::Access::ReadWrite : platform::SharedSection::Access::ReadOnly,
        kPortMapSize);
    if (!section) return std::nullopt;
    return PortMap(std::move(*section), portIndex);
}

bool readPortMap(int32_t portIndex, const PortMap* own, PortDataMap& dest) {
    if (own && (portIndex == -1 || own->portIndex() == portIndex)) {
        std::memcpy(&dest, &own->map(), kPortMapSize);
        return true;
    }
    if (portIndex < 0) return false;
    auto other = PortMap::openExisting(portIndex, false);
    if (!other) return false;
    std::memcpy(&dest, &other->map(), kPortMapSize);
    return true;
}

void setDisplayRequest(PortDataMap& map, int32_t value) {
    platform::storeWord(map.displayRequest, value);
    platform::wakeWordWaiters(map.displayRequest);
}

bool waitSlotFree(PortDataMap& map, int32_t slot, int tries) {
    if (!isSlot(slot)) return false;
    for (int i = 0; i < tries; ++i) {
        if (platform::loadWord(map.slotBusy[slot]) == 0) return true;
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
    return false;
}

void setSlotBusy(PortDataMap& map, int32_t slot, int32_t value) {
    if (isSlot(slot)) platform::storeWord(map.slotBusy[slot], value);
}

bool takeSlotBusy(PortDataMap& map, int32_t slot, int tries) {
    if (!isSlot(slot)) return false;
    for (int i = 0; i < tries; ++i) {
        if (platform::tryTakeFlag(map.slotBusy[slot])) return true;
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
    return false;
}

std::optional<ConnectionInfo> ConnectionInfo::open() {
    EnsureEveryoneSecurity();
    auto section = platform::SharedSection::create(kConnectionInfoName, kConnectionInfoSize);
    if (!section) return std::nullopt;
    return ConnectionInfo(std::move(*section));
}

std::string fieldString(const char* field, std::size_t width) {
    std::size_t n = 0;
    while (n < width && field[n] != 0) ++n;
    return std::string(field, n);
}

void setFieldString(char* field, std::size_t width, const std::string& value) {
    if (width == 0) return;
    std::size_t n = value.size() < width - 1 ? value.size() : width - 1;
    std::memcpy(field, value.data(), n);
    std::memset(field + n, 0, width - n);
}

}  // namespace tavik
