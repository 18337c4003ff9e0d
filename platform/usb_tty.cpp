// sysfs walk from /sys/class/tty/<node>/device up to the USB device folder
// (the first holding idVendor and idProduct).
#include "platform/usb_tty.h"

#include <algorithm>
#include <charconv>
#include <filesystem>
#include <fstream>
#include <tuple>

namespace tavik::platform {
namespace fs = std::filesystem;

namespace {

// tty device -> interface -> USB device: a few levels suffice.
constexpr int kMaxLevelsUp = 4;

std::string firstLine(const fs::path& file) {
    std::ifstream in(file);
    std::string line;
    std::getline(in, line);
    while (!line.empty() && (line.back() == '\r' || line.back() == ' ' || line.back() == '\t')) line.pop_back();
    return line;
}

// "ttyUSB12" -> {1, 12}; "ttyACM0" -> {0, 0}; other names -> false.
bool nodeOrder(const std::string& name, int& family, unsigned& number) {
    std::string_view digits;
    if (name.rfind("ttyACM", 0) == 0) family = 0;
    else if (name.rfind("ttyUSB", 0) == 0) family = 1;
    else return false;
    digits = std::string_view(name).substr(6);
    if (digits.empty() || digits.size() > 6) return false;
    auto [end, ec] = std::from_chars(digits.data(), digits.data() + digits.size(), number);
    return ec == std::errc() && end == digits.data() + digits.size();
}

std::string driverOf(const fs::path& deviceLink) {
    std::error_code ec;
    for (const fs::path& p : {deviceLink / "driver", deviceLink / ".." / "driver"}) {
        fs::path target = fs::read_symlink(p, ec);
        if (!ec) return target.filename().string();
    }
    return {};
}

}  // namespace

bool parseUsbId(std::string_view text, uint16_t& out) {
    if (text.size() != 4) return false;
    unsigned value = 0;
    auto [end, ec] = std::from_chars(text.data(), text.data() + 4, value, 16);
    if (ec != std::errc() || end != text.data() + 4) return false;
    out = static_cast<uint16_t>(value);
    return true;
}

std::vector<UsbTtyNode> scanUsbTtyNodes(const SysfsRoots& roots) {
    struct Candidate {
        int family;
        unsigned number;
        std::string name;
    };
    std::vector<Candidate> candidates;
    std::error_code ec;
    for (fs::directory_iterator it(roots.sysClassTty, ec), end; !ec && it != end; it.increment(ec)) {
        Candidate c{0, 0, it->path().filename().string()};
        if (nodeOrder(c.name, c.family, c.number)) candidates.push_back(std::move(c));
    }
    std::sort(candidates.begin(), candidates.end(),
              [](const Candidate& a, const Candidate& b) { return std::tie(a.family, a.number) < std::tie(b.family, b.number); });

    std::vector<UsbTtyNode> nodes;
    for (const Candidate& c : candidates) {
        const fs::path deviceLink = fs::path(roots.sysClassTty) / c.name / "device";
        fs::path dir = fs::canonical(deviceLink, ec);
        if (ec) continue;
        UsbTtyNode node;
        bool found = false;
        for (int level = 0; level <= kMaxLevelsUp && !dir.empty(); ++level, dir = dir.parent_path()) {
            if (fs::exists(dir / "idVendor", ec) && fs::exists(dir / "idProduct", ec)) {
                found = parseUsbId(firstLine(dir / "idVendor"), node.vendor) &&
                        parseUsbId(firstLine(dir / "idProduct"), node.product);
                if (fs::exists(dir / "serial", ec)) node.serial = firstLine(dir / "serial");
                break;
            }
            if (dir == dir.root_path()) break;
        }
        if (!found) continue;
        node.name = c.name;
        node.devicePath = roots.devDir + "/" + c.name;
        node.driver = driverOf(fs::canonical(deviceLink, ec));
        nodes.push_back(std::move(node));
    }
    return nodes;
}

}  // namespace tavik::platform
