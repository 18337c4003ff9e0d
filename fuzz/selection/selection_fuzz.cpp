// Fuzz target for the text the port detection reads from settings and sysfs:
// "Com" names, USB id rules and four-digit USB ids.
#include <cstdint>
#include <string_view>

#include "client/selection/com_ports.h"
#include "client/selection/usb_detection.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const std::string_view text(reinterpret_cast<const char*>(data), size);
    (void)tavik::selection::comNameIndex(text);
    uint16_t id = 0;
    (void)tavik::selection::parseUsbId(text, id);
    tavik::selection::UsbTtyNode node{"ttyUSB0", "/dev/ttyUSB0", 0x0403, 0x6001, "ftdi_sio", "A1"};
    (void)tavik::selection::matchesRule(node, text);
    return 0;
}
