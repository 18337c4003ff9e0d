// Finds the USB-serial device node (/dev/ttyUSB*) of a USB device by its
// serial number, through sysfs. Used when the kernel's serial driver holds
// the FTDI chip, so the plug-in talks to it as a plain serial port.
#pragma once

#include <string>
#include <string_view>

namespace tavik::drv {

// The node ("/dev/ttyUSB0") whose USB device reports `serial` exactly, or ""
// when there is none (or `serial` is empty). `sysClassTty` and `devDir` are
// the folders searched (other roots only in tests). Never throws.
std::string findUsbSerialNode(std::string_view serial, const std::string& sysClassTty = "/sys/class/tty",
                              const std::string& devDir = "/dev");

}  // namespace tavik::drv
