// The USB-serial node of a USB device found by its serial number.
#include "drivers/usb/usb_serial_node.h"

#include "platform/usb_tty.h"

namespace tavik::drv {

std::string findUsbSerialNode(std::string_view serial, const std::string& sysClassTty, const std::string& devDir) {
    if (serial.empty()) return {};
    for (const platform::UsbTtyNode& node : platform::scanUsbTtyNodes({sysClassTty, devDir}))
        if (node.name.rfind("ttyUSB", 0) == 0 && node.serial == serial) return node.devicePath;
    return {};
}

}  // namespace tavik::drv
