// Padrik_ft: the tactile display on an FTDI USB link. Port indexes 64..79 name
// entries of the connection info map; the device is opened by the entry's
// serial number at a fixed 921600 bit/s, frames go out in one write, and dot
// planes go uncompressed (0x92), each followed by draining the output.
// Clearing is the serial plug-in's (the coded planes of an all-zero image).
#include <array>
#include <optional>

#include <cstdio>

#include "common/connection_record.h"
#include "common/data_maps.h"
#include "drivers/core/plugin.h"
#include "drivers/core/serial_transport.h"
#include "drivers/usb/ftdi_link.h"
#include "drivers/usb/ftdi_transport.h"
#include "drivers/usb/usb_serial_node.h"
#include "planes.h"
#include "platform/atomic_word.h"

namespace tavik::drv {
namespace {

constexpr int kPlaneDrainMs = 1000;

struct UsbEntry {
    std::string serialNumber;
    std::string description;
};

class UsbVariant final : public ProtocolVariant {
public:
    // The connection info map lives as long as the library is loaded.
    UsbVariant() : info_(ConnectionInfo::open()) {}

    bool acceptsPort(const DriverPlugin&, int32_t portIndex) const override { return entry(portIndex).has_value(); }

    std::unique_ptr<Transport> openTransport(DriverPlugin& plugin, bool& refusedSilently) override {
        const auto e = entry(plugin.portIndex());
        refusedSilently = !e;
        if (!e) return nullptr;
        // Anyone can write the map: only a device this user registered is opened.
        if (!connectionSerialRemembered(e->serialNumber)) {
            std::fprintf(stderr, "Padrik_ft: serial number of port %d was not registered by this user\n",
                         static_cast<int>(plugin.portIndex()));
            plugin.status().write(StatusLines::usbConnectFailed(e->description));
            return nullptr;
        }
        openedPortName_ = e->description;
        auto t = openFtdiTransport(ftdi::createFtdiLink(), e->serialNumber);
        if (!t) {
            // The kernel's serial driver may hold the chip: then its tty node
            // reaches the same device.
            const std::string node = findUsbSerialNode(e->serialNumber);
            if (!node.empty()) t = openSerialTransport(node, kUsbBaudRate);
        }
        if (!t) plugin.status().write(StatusLines::usbConnectFailed(e->description));
        return t;
    }

    std::string releasedLine(const DriverPlugin&) const override { return StatusLines::usbReleased(); }

    DeviceLink::FrameWrites frameWrites() const override { return DeviceLink::FrameWrites::OneCall; }

    void sendTwoPlaneGraphic(DriverPlugin& plugin, std::span<const uint8_t> dots, int width, int height,
                             uint8_t level) override {
        const std::size_t size = proto::planeSize(width, height);
        if (size == 0 || size > proto::kMaxPlaneBytes) return;
        std::array<uint8_t, proto::kMaxPlaneBytes> plane{};
        for (int p = 1; p <= 2; ++p) {
            if (proto::packPlane(dots, width, height, p, plane) != size) return;
            plugin.link()->writeFrame(proto::host::kPlaneRaw, p == 1 ? 0 : level, {plane.data(), size});
            plugin.link()->transport().drainOutput(kPlaneDrainMs);
        }
    }

private:
    // A copy of the port's connection entry when the index is a USB one and
    // the entry is in use.
    std::optional<UsbEntry> entry(int32_t portIndex) const {
        if (!info_ || portIndex < kFirstUsbPort || portIndex > kLastPortIndex) return std::nullopt;
        ConnectionInfoEntry& e = info_->map().entries[portIndex - kFirstUsbPort];
        if (platform::loadWord(e.inUse) == 0) return std::nullopt;
        return UsbEntry{fieldString(e.serialNumber), fieldString(e.description)};
    }

    std::optional<ConnectionInfo> info_;
};

}  // namespace

ProtocolVariant& pluginVariant() {
    static UsbVariant variant;
    return variant;
}

}  // namespace tavik::drv
