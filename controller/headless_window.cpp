// Headless controller window: status lines on standard error.
#include "controller/headless_window.h"

#include <cstdio>

namespace tavik::controller {

void HeadlessWindow::setStatusText(std::string_view line) {
    std::lock_guard lock(mutex_);
    status_.assign(line);
    if (print_) {
        // The title carries the port name once the port is open.
        std::fprintf(stderr, "%s: %.*s\n", title_.c_str(), static_cast<int>(line.size()), line.data());
        std::fflush(stderr);
    }
}

void HeadlessWindow::setConnectLabel(bool connected) {
    std::lock_guard lock(mutex_);
    disconnectLabel_ = connected;
}

void HeadlessWindow::setHideButtonVisible(bool visible) {
    std::lock_guard lock(mutex_);
    hideButton_ = visible;
}

void HeadlessWindow::setTitle(std::string_view t) {
    std::lock_guard lock(mutex_);
    title_.assign(t);
}

void HeadlessWindow::showMinimizedNoActivate() {
    std::lock_guard lock(mutex_);
    visibility_ = Visibility::Minimized;
}

void HeadlessWindow::showNormal() {
    std::lock_guard lock(mutex_);
    visibility_ = Visibility::Normal;
}

void HeadlessWindow::hide() {
    std::lock_guard lock(mutex_);
    visibility_ = Visibility::Hidden;
}

std::string HeadlessWindow::statusText() const {
    std::lock_guard lock(mutex_);
    return status_;
}
std::string HeadlessWindow::title() const {
    std::lock_guard lock(mutex_);
    return title_;
}
bool HeadlessWindow::connectLabelSaysDisconnect() const {
    std::lock_guard lock(mutex_);
    return disconnectLabel_;
}
bool HeadlessWindow::hideButtonVisible() const {
    std::lock_guard lock(mutex_);
    return hideButton_;
}
HeadlessWindow::Visibility HeadlessWindow::visibility() const {
    std::lock_guard lock(mutex_);
    return visibility_;
}

}  // namespace tavik::controller
