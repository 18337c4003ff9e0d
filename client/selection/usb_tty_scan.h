// The USB-serial nodes of the platform layer, under the names the detection
// code uses.
#pragma once

#include "platform/usb_tty.h"

namespace tavik::selection {

using platform::parseUsbId;
using platform::scanUsbTtyNodes;
using platform::SysfsRoots;
using platform::UsbTtyNode;

}  // namespace tavik::selection
