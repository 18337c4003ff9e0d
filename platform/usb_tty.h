// Enumeration of the USB-serial device nodes (ttyUSB*, ttyACM*) through sysfs,
// with the USB vendor, product, serial number and kernel driver of each. Our
// stand-in for the serial-port map of the registry. The roots are parameters
// so that tests run on a fake tree.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace tavik::platform {

struct SysfsRoots {
    std::string sysClassTty = "/sys/class/tty";
    std::string devDir = "/dev";
};

struct UsbTtyNode {
    std::string name;        // "ttyUSB0"
    std::string devicePath;  // devDir + "/" + name
    uint16_t vendor = 0;     // idVendor of the USB device above the node
    uint16_t product = 0;    // idProduct
    std::string driver;      // driver bound to the node's device ("cp210x", "cdc_acm", ...), "" if unknown
    std::string serial;      // the USB device's serial number, "" if it has none
};

// The nodes present now, ttyACM* before ttyUSB*, each in numeric order. A
// node without a readable USB vendor and product above it is left out.
// Never throws; a missing root gives an empty list.
std::vector<UsbTtyNode> scanUsbTtyNodes(const SysfsRoots& roots = {});

// Parses exactly four hexadecimal digits (sysfs "idVendor" form).
bool parseUsbId(std::string_view text, uint16_t& out);

}  // namespace tavik::platform
