// The server's road to the display: an ordinary application entry on the
// port through the client library, in display mode as the port's default
// client. The controller keeps owning the port and its routing: this entry is
// shown, and gets the keys, while no other application's window is in front
// (always, with the controller's "screen reader first" setting).
#pragma once

#include <cstdint>
#include <memory>
#include <mutex>
#include <span>
#include <string>
#include <vector>

#include "brlapi/display.h"
#include "brlapi/fd.h"

namespace tavik::brl {

class DeviceLink final : public Display {
public:
    // Enters `port` for `model` and waits (about 5 s at most) until the device
    // has identified itself. nullptr with `error` set on failure.
    static std::unique_ptr<DeviceLink> open(const std::string& model, int port, std::string& error);
    ~DeviceLink() override;
    DeviceLink(const DeviceLink&) = delete;
    DeviceLink& operator=(const DeviceLink&) = delete;

    const Equipment& equipment() const override { return equipment_; }
    int keyFd() const override { return wake_.get(); }
    std::vector<DeviceKey> takeKeys() override;
    bool showText(std::span<const uint8_t> cells) override;
    bool showPins(std::span<const uint8_t> plane) override;

private:
    DeviceLink() = default;
    static void onKey(int group, int key, int modifier);

    Equipment equipment_;
    Fd wake_;
    std::mutex mutex_;
    std::vector<DeviceKey> keys_;
};

}  // namespace tavik::brl
