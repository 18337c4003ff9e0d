// Reference behaviour of the operations the plug-ins may override.
#include "drivers/core/variant.h"

#include <array>

#include "drivers/core/plugin.h"
#include "drivers/core/serial_transport.h"
#include "platform/atomic_word.h"
#include "planes.h"
#include "rle.h"

namespace tavik::drv {

bool ProtocolVariant::acceptsPort(const DriverPlugin&, int32_t portIndex) const {
    return portIndex >= 0 && portIndex < kSerialPortCount;
}

std::unique_ptr<Transport> ProtocolVariant::openTransport(DriverPlugin& plugin, bool& refusedSilently) {
    refusedSilently = false;
    const int port = plugin.portIndex();
    openedPortName_ = serialDevicePath(port);
    const int baud = platform::loadWord(plugin.map()->baudRate);
    int actual = baud;
    auto t = openSerialTransport(openedPortName_, baud, &actual);
    if (!t) plugin.status().write(StatusLines::portOpenFailed(port));
    else if (actual != baud) plugin.setOpenNote(StatusLines::speedRefused(baud, actual));
    return t;
}

std::string ProtocolVariant::releasedLine(const DriverPlugin&) const {
    return StatusLines::portReleased(openedPortName_);
}

namespace {

// The two run-length coded 0x93 planes of an image.
void sendCodedPlanes(DriverPlugin& plugin, std::span<const uint8_t> dots, int width, int height, uint8_t level) {
    const std::size_t size = proto::planeSize(width, height);
    if (size == 0 || size > proto::kMaxPlaneBytes) return;
    std::array<uint8_t, proto::kMaxPlaneBytes> plane{};
    std::array<uint8_t, proto::rleMaxEncodedSize(proto::kMaxPlaneBytes)> coded{};
    for (int p = 1; p <= 2; ++p) {
        if (proto::packPlane(dots, width, height, p, plane) != size) return;
        const std::size_t n = proto::rleEncode({plane.data(), size}, coded);
        plugin.link()->writeFrame(proto::host::kPlaneRle, p == 1 ? 0 : level, {coded.data(), n});
    }
}

}  // namespace

void ProtocolVariant::sendTwoPlaneGraphic(DriverPlugin& plugin, std::span<const uint8_t> dots, int width, int height,
                                          uint8_t level) {
    sendCodedPlanes(plugin, dots, width, height, level);
}

void ProtocolVariant::sendClearGraphic(DriverPlugin& plugin, int width, int height) {
    // Always the coded planes of an all-zero image, whatever form the
    // variant's graphics take.
    static constexpr std::array<uint8_t, kGraphicBytes> kBlank{};
    if (width <= 0 || height <= 0 || int64_t{width} * int64_t{height} > int64_t{kBlank.size()}) return;
    const std::size_t n = static_cast<std::size_t>(width) * static_cast<std::size_t>(height);
    sendCodedPlanes(plugin, {kBlank.data(), n}, width, height, proto::kDefaultPlaneLevel);
}

}  // namespace tavik::drv
