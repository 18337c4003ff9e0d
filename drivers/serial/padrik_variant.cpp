// Padrik: the tactile display on a serial port. The reference variant: only
// port opening and the release line are its own.
#include "common/data_maps.h"
#include "drivers/core/plugin.h"
#include "drivers/core/serial_transport.h"
#include "platform/atomic_word.h"

namespace tavik::drv {
namespace {

class SerialVariant final : public ProtocolVariant {
public:
    std::unique_ptr<Transport> openTransport(DriverPlugin& plugin, bool& refusedSilently) override {
        refusedSilently = false;
        const int port = plugin.portIndex();
        plugin.openPortName = serialDevicePath(port);
        auto t = openSerialTransport(plugin.openPortName, platform::loadWord(plugin.map()->baudRate));
        if (!t) plugin.status().write(StatusLines::portOpenFailed(port));
        return t;
    }

    std::string releasedLine(const DriverPlugin& plugin) const override {
        return StatusLines::portReleased(plugin.openPortName);
    }
};

}  // namespace

ProtocolVariant& pluginVariant() {
    static SerialVariant variant;
    return variant;
}

}  // namespace tavik::drv
