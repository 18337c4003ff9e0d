// Loading the device table from TAVIK.ini and looking models up by name.
#include "client/device_table.h"

#include "common/ini_store.h"
#include "common/model_traits.h"
#include "common/settings.h"

#include <cctype>
#include <string>

namespace tavik::client {

std::vector<DeviceRow> builtInRows(uint16_t language) {
    const bool japanese = isJapanese(language);
    std::vector<DeviceRow> rows;
    for (const Model model : builtInRowOrder()) {
        const ModelTraits& t = traitsOf(model);
        if (t.japaneseOnly && !japanese) continue;
        rows.push_back({std::string(t.name), std::string(t.driver), t.speed, t.textCells, t.pinsX, t.pinsY,
                        t.ftdi ? 1 : 0});
    }
    return rows;
}

void loadDeviceTable(DeviceTable& table, const std::string& iniPath, uint16_t language) {
    const int32_t port = profileGetInt("connection", "port", 0, iniPath);
    if (static_cast<uint32_t>(port) < 64u) table.selectedPort = port;

    table.rows.clear();
    for (int k = 1; k <= kMaxIniRows; ++k) {
        const std::string key = "device" + std::to_string(k);
        std::string name = profileGetString("devices", key, "", iniPath);
        if (name.empty()) break;
        if (name.size() > 39) name.resize(39);
        DeviceRow row;
        row.name = name;
        row.driver = profileGetString(name, "driver", "Padrik.dll", iniPath);
        if (row.driver.size() > 259) row.driver.resize(259);
        row.speed = profileGetInt(name, "speed", 38400, iniPath);
        row.textSize = profileGetInt(name, "TextSize", 0, iniPath);
        row.graphicXSize = profileGetInt(name, "GraphicXSize", 32, iniPath);
        row.graphicYSize = profileGetInt(name, "GraphicYSize", 24, iniPath);
        row.usbDirect = 0;
        table.rows.push_back(std::move(row));
    }
    for (auto& row : builtInRows(language)) table.rows.push_back(std::move(row));

    const int32_t device = profileGetInt("connection", "device", 0, iniPath);
    if (device >= 0 && static_cast<std::size_t>(device) < table.rows.size()) table.selectedDevice = device;
}

std::optional<int32_t> findDeviceRow(const std::vector<DeviceRow>& rows, std::string_view name) {
    auto same = [](std::string_view a, std::string_view b) {
        if (a.size() != b.size()) return false;
        for (std::size_t i = 0; i < a.size(); ++i)
            if (std::tolower(static_cast<unsigned char>(a[i])) != std::tolower(static_cast<unsigned char>(b[i])))
                return false;
        return true;
    };
    for (std::size_t i = 0; i < rows.size(); ++i)
        if (same(rows[i].name, name)) return static_cast<int32_t>(i);
    return std::nullopt;
}

}  // namespace tavik::client
