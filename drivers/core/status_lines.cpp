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
    char buf[96];
    std::snprintf(buf, sizeof buf, "接続ポート(Com%d)が開けませんでした。", portIndex + 1);
    return buf;
}

std::string StatusLines::threadFailed() {
    return pickText("Failed in creating a comunication thread.", "通信スレッドが起動できませんでした。");
}

std::string StatusLines::portReleased(std::string_view portName) {
    return "接続ポート(" + std::string(portName) + ")を解放しました。";
}

std::string StatusLines::usbConnectFailed(std::string_view description) {
    return std::string(description) + "に接続できませんでした。";
}

std::string StatusLines::usbReleased() { return "ＵＳＢ接続を解放しました。"; }

}  // namespace tavik::drv
