// The library's per-process state: the entry (slot, port map, mouse map,
// notification thread), the callbacks, the device table and the monitor maps.
// One copy per process, made at the first call; leaving the process leaves
// an open entry as gdEnd does.
#pragma once

#include <array>
#include <atomic>
#include <cstdint>
#include <memory>
#include <optional>

#include "client/callbacks.h"
#include "client/device_table.h"
#include "client/mouse_map.h"
#include "client/notification_thread.h"
#include "client/slot_writes.h"
#include "common/data_maps.h"
#include "common/messages.h"

namespace tavik::client {

struct Library {
    Library();
    ~Library();
    Library(const Library&) = delete;
    Library& operator=(const Library&) = delete;

    MessageNumbers messages;
    std::optional<ConnectionInfo> connectionInfo;

    int32_t entrySlot = -1;                 // 0..15 while entered, else -1
    GeometryFix geometry;                   // what the display writes read from the application
    std::shared_ptr<PortMap> ownMap;        // the entered port, or the monitor port
    std::optional<MouseMap> mouseMap;       // open during an entry
    std::unique_ptr<NotificationThread> notifier;
    Callbacks callbacks;

    DeviceTable devices;

    std::optional<PortMap> monitorSource;   // gdOpenMonitorPort's source map
    std::optional<PortMap> mirror;          // the map of own monitorPort, while mirroring

    std::unique_ptr<PortDataMap> equipment = std::make_unique<PortDataMap>();  // gdQueryEquipment's copy
    std::array<uint16_t, 24> equipmentNameW{};
    std::array<char, 24> portInfoName{};    // gdGetPortInfo's terminated copy of deviceName

    // Set by the bitmap viewer when it opens: closes it before the entry ends
    // (the library links without the viewer when it is absent).
    std::atomic<void (*)()> closeViewer{nullptr};

    bool entered() const { return entrySlot >= 0 && ownMap != nullptr; }
    PortDataMap& map() const { return ownMap->map(); }
};

// The process's library state.
Library& library();

}  // namespace tavik::client
