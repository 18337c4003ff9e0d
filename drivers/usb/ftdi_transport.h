// The plug-ins' Transport over an FtdiLink: opening by serial number with the
// fixed USB line settings, queue-count reads, draining by the output count.
#pragma once

#include <memory>
#include <string_view>

#include "drivers/core/transport.h"
#include "drivers/usb/ftdi_link.h"

namespace tavik::drv {

// The USB model's line: 921600 bit/s, 8 data bits, no parity, one stop bit,
// no handshake.
inline constexpr int kUsbBaudRate = 921600;
ftdi::LineSettings usbLineSettings();

// Opens the device with `serial` on `link` and configures it: queues
// 4096/4096, time-outs 15 s, DTR raised, both buffers purged, the line
// settings, the latency timer at 1 ms. Null when the device cannot be opened
// (a failing setting after a successful open is not a failure, as for a
// serial port). The transport owns the link and closes the device (DTR
// cleared, buffers purged) when destroyed.
std::unique_ptr<Transport> openFtdiTransport(std::unique_ptr<ftdi::FtdiLink> link, std::string_view serial);

}  // namespace tavik::drv
