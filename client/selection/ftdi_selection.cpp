// Connection info entries and the FTDI device search.
#include "client/selection/ftdi_selection.h"

#include "common/connection_record.h"

#include <atomic>
#include <string>

namespace tavik::selection {

namespace {

constexpr std::size_t kMaxField = sizeof(ConnectionInfoEntry::serialNumber) - 1;

std::string_view cut(std::string_view s) { return s.substr(0, kMaxField); }

}  // namespace

int32_t connectionInfoEntry(ConnectionInfoMap& map, std::string_view serial, std::string_view description) {
    serial = cut(serial);
    description = cut(description);
    for (int32_t i = 0; i < kConnectionCount; ++i) {
        ConnectionInfoEntry& e = map.entries[i];
        if (std::atomic_ref<int32_t>(e.inUse).load() != 0 && fieldString(e.serialNumber) == serial)
            return kFirstUsbPort + i;
    }
    for (int32_t i = 0; i < kConnectionCount; ++i) {
        ConnectionInfoEntry& e = map.entries[i];
        int32_t expected = 0;
        if (!std::atomic_ref<int32_t>(e.inUse).compare_exchange_strong(expected, 1)) continue;
        setFieldString(e.serialNumber, std::string(serial));
        setFieldString(e.description, std::string(description));
        return kFirstUsbPort + i;
    }
    return -1;
}

int32_t selectFtConnection(ftdi::FtdiLink* link, ConnectionInfoMap* map) {
    if (!link || !map) return -1;
    int count = 0;
    if (link->deviceCount(count) != ftdi::kOk || count <= 0) return -1;
    // The last device must be free to open; it is released at once.
    if (link->openByIndex(count - 1) != ftdi::kOk) return -1;
    link->close();
    std::string serial, description;
    if (link->serialNumber(0, serial) != ftdi::kOk || link->description(0, description) != ftdi::kOk) return -1;
    if (cut(description) != kFtdiDescription) return -1;
    const int32_t port = connectionInfoEntry(*map, serial, description);
    // The plug-in opens only what this user's own selection registered.
    if (port != -1) rememberConnectionSerial(cut(serial));
    return port;
}

}  // namespace tavik::selection
