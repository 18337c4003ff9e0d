// Serial and USB ports for the plug-in tests, the program's settings folder and FTDI double.
#include "tests/drivers/port_rigs.h"

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <unistd.h>

#include "common/connection_record.h"
#include "platform/atomic_word.h"

namespace tavik::test {

TempSettings& programSettings() {
    static TempSettings settings;
    return settings;
}

FtdiDouble::FtdiDouble() { ::setenv("TAVIK_FTDI_DOUBLE", list.c_str(), 1); }

FtdiDouble& FtdiDouble::get() {
    static FtdiDouble ftdi;
    return ftdi;
}

std::vector<std::string> FtdiDouble::log() const {
    std::ifstream in(list + ".log");
    std::vector<std::string> lines;
    for (std::string l; std::getline(in, l);) lines.push_back(l);
    return lines;
}

bool FtdiDouble::logged(const std::string& line) const {
    for (const std::string& l : log())
        if (l == line) return true;
    return false;
}

SerialRig::SerialRig(int portIndex, const std::string& linkName, int width, int height)
    : port(portIndex), link(programSettings().folder() + "/" + linkName) {
    programSettings().mapPort(port, link);
    map = PortMap::open(port);
    fillDeviceFields(map->map(), width, height, 32);
}

void SerialRig::setSize(int w, int h) {
    platform::storeWord(m().graphicWidth, w);
    platform::storeWord(m().graphicHeight, h);
}

UsbRig::UsbRig(int entryIndex, bool listed) : entry(entryIndex), port(kFirstUsbPort + entryIndex) {
    FtdiDouble& ftdi = FtdiDouble::get();
    serial = "TVK" + std::to_string(::getpid()) + "E" + std::to_string(entry);
    link = programSettings().folder() + "/usb" + std::to_string(entry);
    ConnectionInfoEntry& e = ftdi.info->map().entries[entry];
    saved = e;
    setFieldString(e.serialNumber, serial);
    setFieldString(e.description, kDescription);
    platform::storeWord(e.inUse, 1);
    rememberConnectionSerial(serial);  // as the user's own selection does
    if (listed) std::ofstream(ftdi.list, std::ios::app) << serial << "|" << kDescription << "|" << link << "\n";
    map = PortMap::open(port);
    fillDeviceFields(map->map());
}

UsbRig::~UsbRig() { FtdiDouble::get().info->map().entries[entry] = saved; }

std::string freshCopy(const std::string& name, const std::string& as) {
    const std::string copy = programSettings().folder() + "/" + as + ".so";
    std::filesystem::copy_file(std::string(std::getenv("TAVIK_BIN_DIR")) + "/" + name + ".so", copy,
                               std::filesystem::copy_options::overwrite_existing);
    return copy;
}

std::vector<uint8_t> dotPattern(int w, int h, int salt, int levels) {
    std::vector<uint8_t> dots(static_cast<size_t>(w) * static_cast<size_t>(h));
    for (int y = 0; y < h; ++y)
        for (int x = 0; x < w; ++x)
            dots[static_cast<size_t>(y) * static_cast<size_t>(w) + static_cast<size_t>(x)] =
                static_cast<uint8_t>((x * 7 + y * 3 + salt) % levels);
    return dots;
}

}  // namespace tavik::test
