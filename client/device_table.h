// The table of device models the library can open: rows named in TAVIK.ini
// first, then the built-in rows for the interface language.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace tavik::client {

struct DeviceRow {
    std::string name;    // model name (at most 39 characters); also its TAVIK.ini section
    std::string driver;  // plug-in file the controller loads (at most 259 characters)
    int32_t speed = 38400;
    int32_t textSize = 0;
    int32_t graphicXSize = 32;
    int32_t graphicYSize = 24;
    int32_t usbDirect = 0;
};

// Rows read from TAVIK.ini ("devices" keys device1..device32); the first empty
// key ends the list.
constexpr int kMaxIniRows = 32;

// The built-in rows, from the model table: five with the Japanese interface, four (no note-taker) otherwise.
std::vector<DeviceRow> builtInRows(uint16_t language);

struct DeviceTable {
    std::vector<DeviceRow> rows;
    int32_t selectedPort = 0;
    int32_t selectedDevice = 0;
};

// Reloads `table` from the INI file at `iniPath`: "connection"/"port" is taken
// when 0..63, the rows are replaced, "connection"/"device" is taken when it
// names a row; values out of range keep the previous selection. Built-in rows
// are always appended after the INI rows, so none is lost to a full table.
void loadDeviceTable(DeviceTable& table, const std::string& iniPath, uint16_t language);

// Index of the first row whose name equals `name` without regard to ASCII
// case; nullopt when none does.
std::optional<int32_t> findDeviceRow(const std::vector<DeviceRow>& rows, std::string_view name);

}  // namespace tavik::client
