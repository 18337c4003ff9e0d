// Status lines a plug-in writes into the host's status window, in the user's
// interface language. A missing sink prints the lines on standard error.
#pragma once

#include <mutex>
#include <string>
#include <string_view>

#include "drivers/core/plugin_api.h"

namespace tavik::drv {

class StatusLines {
public:
    void setSink(TavikWindowHandle handle);
    // Writes one line (UTF-8); safe from any thread.
    void write(std::string_view line);

    // The texts, formatted in the current interface language.
    static std::string connectedDevice(std::string_view name);
    static std::string portOpenFailed(int portIndex);
    static std::string threadFailed();
    static std::string portReleased(std::string_view portName);
    static std::string usbConnectFailed(std::string_view description);
    static std::string usbReleased();
    // The device stopped answering reads (unplugged or switched off).
    static std::string deviceLost(std::string_view portName);
    // The port could not be set to the map's speed and runs at `actual`.
    static std::string speedRefused(int requested, int actual);

    const std::string& last() const { return last_; }

private:
    std::mutex mutex_;
    const TavikStatusSink* sink_ = nullptr;
    std::string last_;
};

}  // namespace tavik::drv
