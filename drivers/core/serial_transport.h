// The serial-port transport (termios): raw 8N1, no flow control, the map's
// speed (any bit rate, not only the standard ones), DTR raised while open. Port index i ("Com{i+1}") maps to a device
// path through TAVIK.ini section "Ports", key "Com{i+1}", default /dev/ttyS{i}.
#pragma once

#include <memory>
#include <string>

#include "drivers/core/transport.h"

namespace tavik::drv {

// The device path of a serial port index from the settings.
std::string serialDevicePath(int portIndex);

// Opens and configures the port; null when the device cannot be opened.
// Configuration problems are not failures: `actualBaud` (when given) receives
// the speed the port runs at (`baudRate` when the port cannot tell), so the
// caller can say so when it differs.
std::unique_ptr<Transport> openSerialTransport(const std::string& path, int baudRate, int* actualBaud = nullptr);

}  // namespace tavik::drv
