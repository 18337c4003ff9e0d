// sysfs walk from /sys/class/tty/ttyUSBn/device up to the USB device folder
// (the first one holding idVendor and serial), comparing its serial number.
#include "drivers/usb/usb_serial_node.h"

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <vector>

namespace tavik::drv {
namespace fs = std::filesystem;

namespace {

// The USB device above a tty's device folder: interface, then device, so a
// few levels suffice.
constexpr int kMaxLevelsUp = 4;

std::string firstLine(const fs::path& file) {
    std::ifstream in(file);
    std::string line;
    std::getline(in, line);
    while (!line.empty() && (line.back() == '\n' || line.back() == '\r' || line.back() == ' ')) line.pop_back();
    return line;
}

}  // namespace

std::string findUsbSerialNode(std::string_view serial, const std::string& sysClassTty, const std::string& devDir) {
    if (serial.empty()) return {};
    std::error_code ec;
    std::vector<std::string> names;
    for (fs::directory_iterator it(sysClassTty, ec), end; !ec && it != end; it.increment(ec)) {
        const std::string name = it->path().filename().string();
        if (name.rfind("ttyUSB", 0) == 0) names.push_back(name);
    }
    std::sort(names.begin(), names.end());
    for (const std::string& name : names) {
        fs::path dir = fs::canonical(fs::path(sysClassTty) / name / "device", ec);
        if (ec) continue;
        for (int level = 0; level <= kMaxLevelsUp && !dir.empty(); ++level, dir = dir.parent_path()) {
            if (fs::exists(dir / "idVendor", ec) && fs::exists(dir / "serial", ec)) {
                if (firstLine(dir / "serial") == serial) return devDir + "/" + name;
                break;
            }
            if (dir == dir.root_path()) break;
        }
    }
    return {};
}

}  // namespace tavik::drv
