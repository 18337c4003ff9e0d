// Status line texts in English and Japanese.
#include "drivers/core/status_lines.h"

#include <cstdio>

#include "common/settings.h"

namespace tavik::drv {

void StatusLines::setSink(TavikWindowHandle handle) {
    std::lock_guard<std::mutex> lock(mutex_);
    sink_ = reinterpret_cast<const TavikStatusSink*>(handle);
}

void StatusLines::write(std::string_view line) {
    std::lock_guard<std::mutex> lock(mutex_);
    last_.assign(line);
    if (sink_ && sink_->setText) {
        sink_->setText(sink_->context, last_.c_str());
    } else {
        std::fprintf(stderr, "%s\n", last_.c_str());
    }
}

std::string StatusLines::connectedDevice(std::string_view name) {
    return std::string(pickText("Connected device: ", "接続されている機器: ")) + std::string(name);
}

std::string StatusLines::portOpenFailed(int portIndex) {
    char buf[128];
    std::snprintf(buf, sizeof buf, pickText("Couldn't open the connection port (Com%d).", "接続ポート(Com%d)が開けませんでした。"),
                  portIndex + 1);
    return buf;
}

std::string StatusLines::threadFailed() {
    return pickText("Failed in creating a comunication thread.", "通信スレッドが起動できませんでした。");
}

std::string StatusLines::portReleased(std::string_view portName) {
    return pickText("Released the connection port (", "接続ポート(") + std::string(portName) +
           pickText(").", ")を解放しました。");
}

std::string StatusLines::usbConnectFailed(std::string_view description) {
    return pickText("Couldn't connect to ", "") + std::string(description) + pickText(".", "に接続できませんでした。");
}

std::string StatusLines::usbReleased() { return pickText("Released the USB connection.", "ＵＳＢ接続を解放しました。"); }

std::string StatusLines::deviceLost(std::string_view portName) {
    return pickText("Lost the connection to the device (", "機器との接続が切れました(") + std::string(portName) +
           pickText(").", ")。");
}

std::string StatusLines::speedRefused(int requested, int actual) {
    char buf[160];
    std::snprintf(buf, sizeof buf,
                  pickText("The port does not take %d bit/s; it runs at %d bit/s.",
                           "通信速度 %d bps は設定できません。%d bps で通信します。"),
                  requested, actual);
    return buf;
}

}  // namespace tavik::drv
