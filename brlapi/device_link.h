// The server's road to the display: an ordinary application entry on the
// port through the client library, in display mode. It claims the part of the
// display the braille goes to (the text line or the pin field) with that part's
// keys, whatever window is in front; the rest of the display and the other keys
// stay with the application in front, and the controller's routing otherwise
// stays as it is.
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
    void claim(Destination where) override;

private:
    DeviceLink() = default;
    static void onKey(int group, int key, int modifier);

    Equipment equipment_;
    Fd wake_;
    std::mutex mutex_;
    std::vector<DeviceKey> keys_;
};

}  // namespace tavik::brl
