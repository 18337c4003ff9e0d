// Com names and the "Ports" table of TAVIK.ini.
#include "client/selection/com_ports.h"

#include <array>
#include <charconv>
#include <filesystem>
#include <fstream>

#include "common/ini_store.h"

namespace tavik::selection {

namespace {

constexpr std::size_t kMaxValueBytes = 40;

bool equalsNoCase(std::string_view a, std::string_view b) {
    if (a.size() != b.size()) return false;
    for (std::size_t i = 0; i < a.size(); ++i) {
        auto lower = [](char c) { return (c >= 'A' && c <= 'Z') ? static_cast<char>(c - 'A' + 'a') : c; };
        if (lower(a[i]) != lower(b[i])) return false;
    }
    return true;
}

// True when /sys/class/tty/ttyS{i} is a serial port with a UART behind it
// (its "type" is not 0); the kernel lists placeholder ttyS nodes with type 0.
bool liveSerialPort(const std::string& sysClassTty, int32_t index) {
    std::ifstream in(sysClassTty + "/ttyS" + std::to_string(index) + "/type");
    int type = 0;
    return in && (in >> type) && type != 0;
}

}  // namespace

std::optional<int32_t> comNameIndex(std::string_view value) {
    if (value.size() > kMaxValueBytes) return std::nullopt;
    for (int32_t i = 0; i < kSerialPortCount; ++i)
        if (equalsNoCase(value, comName(i))) return i;
    return std::nullopt;
}

std::string comName(int32_t portIndex) { return "Com" + std::to_string(portIndex + 1); }

std::optional<int32_t> comIndexForNode(const std::string& devicePath, const std::string& iniPath,
                                       const std::string& sysClassTty) {
    std::array<bool, kSerialPortCount> keyed{};
    std::optional<int32_t> named;
    for (const auto& [key, value] : profileGetSection("Ports", iniPath)) {
        auto index = comNameIndex(key);
        if (!index) continue;
        keyed[static_cast<std::size_t>(*index)] = true;
        if (value == devicePath && (!named || *index < *named)) named = index;
    }
    if (named) return named;
    for (int32_t i = 0; i < kSerialPortCount; ++i) {
        if (keyed[static_cast<std::size_t>(i)] || liveSerialPort(sysClassTty, i)) continue;
        if (!profileWriteString("Ports", comName(i), devicePath, iniPath)) return std::nullopt;
        return i;
    }
    return std::nullopt;
}

}  // namespace tavik::selection
