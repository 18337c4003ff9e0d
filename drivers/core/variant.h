// The operations in which the three plug-ins differ. The serial tactile
// display plug-in is the reference: every default below is its behaviour;
// the USB and note-taker plug-ins override only what differs.
#pragma once

#include <cstdint>
#include <memory>
#include <span>
#include <string>

#include "drivers/core/device_link.h"
#include "drivers/core/transport.h"
#include "frame_parser.h"
#include "identification.h"

namespace tavik::drv {

class DriverPlugin;

class ProtocolVariant {
public:
    virtual ~ProtocolVariant() = default;

    // Which port indexes this plug-in serves (serial: 0..63).
    virtual bool acceptsPort(const DriverPlugin& plugin, int32_t portIndex) const;
    // Opens the device for the plug-in's port. On failure writes the status
    // line, and returns null; `refusedSilently` set means drvStart fails
    // without a status line or status change. The default opens the serial
    // port of the index at the map's speed.
    virtual std::unique_ptr<Transport> openTransport(DriverPlugin& plugin, bool& refusedSilently);
    // The status line written when the port has been released. The default
    // names the serial device that openTransport opened.
    virtual std::string releasedLine(const DriverPlugin& plugin) const;

    virtual DeviceLink::FrameWrites frameWrites() const { return DeviceLink::FrameWrites::HeaderThenPayload; }
    // How the computer reacts to each device frame.
    virtual const proto::ReactionTable& reactions() const { return proto::kTactileReactions; }
    // Whether the device's multi-level flag may be used at all.
    virtual bool allowsMultiLevel() const { return true; }

    // Sends one two-plane graphic (dots: W x H bytes). The default sends two
    // run-length coded 0x93 planes.
    virtual void sendTwoPlaneGraphic(DriverPlugin& plugin, std::span<const uint8_t> dots, int width, int height,
                                     uint8_t level);
    // Sends the empty graphic of a clear on a device without multi-level. The
    // default sends the two 0x93 planes of an all-zero image (also for a
    // variant whose graphics take another form).
    virtual void sendClearGraphic(DriverPlugin& plugin, int width, int height);
    // After a successful identification.
    virtual void afterIdentification(DriverPlugin& plugin, const proto::IdentInfo& info) {
        (void)plugin;
        (void)info;
    }
    // After the final clear, before the output drains, at communication thread end.
    virtual void atThreadEnd(DriverPlugin& plugin) { (void)plugin; }

    // The name of the device openTransport opened last (status lines).
    const std::string& openedPortName() const { return openedPortName_; }

protected:
    std::string openedPortName_;
};

// Each plug-in module defines the variant it runs.
ProtocolVariant& pluginVariant();

}  // namespace tavik::drv
