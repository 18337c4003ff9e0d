// The ports the plug-in tests connect through: a serial port mapped to the fake device's link,
// or a USB connection entry that the FTDI double lists with the link as its line. Both fill the
// port map as the first client does. One settings folder and one FTDI device list serve the
// whole test program: a loaded plug-in resolves its settings paths once, when it is attached.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "common/data_maps.h"
#include "tests/drivers/plugin_harness.h"

namespace tavik::test {

TempSettings& programSettings();

// The FTDI double of the program: TAVIK_FTDI_DOUBLE names its device list from the first call
// on; `log` is what the double was asked to do, a line a call.
struct FtdiDouble {
    std::string list = programSettings().folder() + "/ftdi.list";
    std::optional<ConnectionInfo> info = ConnectionInfo::open();
    FtdiDouble();
    static FtdiDouble& get();
    std::vector<std::string> log() const;
    bool logged(const std::string& line) const;
};

// A serial port mapped to `<settings>/<linkName>`, its map filled for a width x height display.
struct SerialRig {
    int port;
    std::string link;
    std::optional<PortMap> map;
    SerialRig(int portIndex, const std::string& linkName, int width = 64, int height = 48);
    PortDataMap& m() { return map->map(); }
    void setSize(int w, int h);
};

// A USB connection: its entry in the connection info map, the double's list line (unless
// `listed` is false) and the port map as the first client fills it (at 115200 bit/s, which the
// USB plug-in must not use). The entry is given back at the end.
struct UsbRig {
    static constexpr const char* kDescription = "New PX-2 USB driver";
    int entry;
    int port;
    std::string serial;
    std::string link;
    ConnectionInfoEntry saved{};
    std::optional<PortMap> map;

    explicit UsbRig(int entryIndex, bool listed = true);
    ~UsbRig();
    UsbRig(const UsbRig&) = delete;
    UsbRig& operator=(const UsbRig&) = delete;
    PortDataMap& m() { return map->map(); }
};

// A copy of the plug-in `name` under the name `as`, attached afresh when loaded: its module
// state (language, cell count) starts anew, as in a restarted controller.
std::string freshCopy(const std::string& name, const std::string& as);

// A w x h picture of `levels` levels (0 .. levels-1) that differs from dot to dot and with `salt`.
std::vector<uint8_t> dotPattern(int w, int h, int salt, int levels);

}  // namespace tavik::test
