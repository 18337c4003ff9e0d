// The device table: rows from TAVIK.ini before the built-in rows, lookup by
// name without regard to case, and the selection read from "connection".
#include "client/device_table.h"
#include "client/text_convert.h"
#include "common/ini_store.h"
#include "common/settings.h"

#include <gtest/gtest.h>

#include <array>
#include <cstdlib>
#include <unistd.h>
#include <filesystem>
#include <fstream>

using namespace tavik;
using namespace tavik::client;

namespace {

std::string writeIni(const std::string& text) {
    auto dir = std::filesystem::temp_directory_path() / ("client-devtable-" + std::to_string(::getpid()));
    std::filesystem::create_directories(dir);
    auto path = (dir / "TAVIK.ini").string();
    std::ofstream(path) << text;
    return path;
}

}  // namespace

TEST(DeviceTable, BuiltInRowsDependOnLanguage) {
    auto en = builtInRows(kLangEnglish);
    ASSERT_EQ(en.size(), 4u);
    EXPECT_EQ(en[2].name, "QX-64X48");
    EXPECT_EQ(en[2].textSize, 32);
    EXPECT_EQ(en[3].name, "Pinora New PX-2");
    EXPECT_EQ(en[3].speed, 921600);
    EXPECT_EQ(en[3].usbDirect, 1);
    auto ja = builtInRows(kLangJapanese);
    ASSERT_EQ(ja.size(), 5u);
    EXPECT_EQ(ja[2].name, "Notaro");
    EXPECT_EQ(ja[2].driver, "Notdrv.dll");
    EXPECT_EQ(builtInRows(0x0804).size(), 4u);  // other Asian languages are not Japanese
}

TEST(DeviceTable, IniRowsComeFirstAndLookupIgnoresCase) {
    const auto path = writeIni(
        "[devices]\ndevice1=My Pad\ndevice2=Pinora PX-2\ndevice4=Never\n"
        "[My Pad]\ndriver=Other.dll\nspeed=9600\nGraphicXSize=16\n"
        "[Pinora PX-2]\nGraphicXSize=40\n"
        "[connection]\nport=70\ndevice=3\n");
    DeviceTable t;
    t.selectedPort = 5;
    loadDeviceTable(t, path, kLangEnglish);
    ASSERT_EQ(t.rows.size(), 6u);  // device3 is missing: the list ends there
    EXPECT_EQ(t.rows[0].driver, "Other.dll");
    EXPECT_EQ(t.rows[0].speed, 9600);
    EXPECT_EQ(t.rows[0].graphicXSize, 16);
    EXPECT_EQ(t.rows[0].graphicYSize, 24);  // default
    EXPECT_EQ(t.rows[1].driver, "Padrik.dll");
    EXPECT_EQ(t.selectedPort, 5);   // 70 is not a serial port: kept
    EXPECT_EQ(t.selectedDevice, 3);

    EXPECT_EQ(findDeviceRow(t.rows, "my pad"), 0);
    EXPECT_EQ(findDeviceRow(t.rows, "PINORA px-2"), 1);  // the INI row, not the built-in one
    EXPECT_EQ(t.rows[*findDeviceRow(t.rows, "pinora px-2")].graphicXSize, 40);
    EXPECT_EQ(findDeviceRow(t.rows, "qx-64x48"), 4);
    EXPECT_FALSE(findDeviceRow(t.rows, "Pinora PX-3"));
    EXPECT_FALSE(findDeviceRow(t.rows, "Pinora PX-"));
    EXPECT_FALSE(findDeviceRow(t.rows, ""));
}

TEST(DeviceTable, ThirtyTwoIniRowsStillKeepTheBuiltInRows) {
    std::string ini = "[devices]\n";
    for (int k = 1; k <= 33; ++k) ini += "device" + std::to_string(k) + "=Model" + std::to_string(k) + "\n";
    ini += "[connection]\ndevice=99\n";
    DeviceTable t;
    loadDeviceTable(t, writeIni(ini), kLangEnglish);
    ASSERT_EQ(t.rows.size(), 36u);
    EXPECT_EQ(t.rows[31].name, "Model32");
    EXPECT_TRUE(findDeviceRow(t.rows, "Pinora PX-1"));
    EXPECT_EQ(t.selectedDevice, 0);
}

TEST(TextConvert, WideNamesRoundTripAndAreBounded) {
    const uint16_t name[] = {'Q', 'X', '-', 0x30C6, 0xD83D, 0xDE00, 0};
    const std::string utf8 = utf16ToUtf8(name, 100, 79);
    EXPECT_EQ(utf8, "QX-\xE3\x83\x86\xF0\x9F\x98\x80");
    EXPECT_EQ(utf16ToUtf8(name, 100, 5), "QX-");  // never splits a character
    std::array<uint16_t, 24> back{};
    EXPECT_EQ(utf8ToUtf16(utf8, back), 6u);
    EXPECT_EQ(back[5], 0xDE00);
    std::array<uint16_t, 3> small{};
    EXPECT_EQ(utf8ToUtf16("ABCDEF", small), 2u);
    EXPECT_EQ(small[2], 0);
}
