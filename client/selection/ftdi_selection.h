// The FTDI USB selection: registering a USB device in the connection info map
// (port indexes 64..79) and finding the "Pinora New PX-2" among the FTDI
// devices.
#pragma once

#include <cstdint>
#include <memory>
#include <string_view>

#include "common/data_maps.h"
#include "common/model_traits.h"
#include "drivers/usb/ftdi_link.h"

namespace tavik::selection {

// The model found on the FTDI USB link (NUL-terminated: handed to C callers).
inline const char* ftdiModelName() { return ftdiModel().name.data(); }
inline constexpr const char* kFtdiDescription = "New PX-2 USB driver";

// The port index of the entry in use whose serial number is exactly `serial`
// (case-sensitive); else the first free entry is taken (inUse := 1, serial
// number and description copied, each cut to 63 bytes) and its index given.
// -1 when all 16 entries are in use. An entry is claimed with an atomic
// compare-and-exchange, so two processes never take the same one.
int32_t connectionInfoEntry(ConnectionInfoMap& map, std::string_view serial, std::string_view description);

// gdSelectFTConnection over `link`: at least one device, the last one opens
// (and is closed again), device 0 has the description "New PX-2 USB driver"
// and gets a connection entry, whose serial number goes into the user's
// connection record (the plug-in opens no device missing from it). The port
// index (64..79), or -1 when any step fails. A null link or map fails.
int32_t selectFtConnection(ftdi::FtdiLink* link, ConnectionInfoMap* map);

// The FTDI link of this build (the double when TAVIK_FTDI_DOUBLE is set);
// null when the build has none.
std::unique_ptr<ftdi::FtdiLink> systemFtdiLink();

}  // namespace tavik::selection
