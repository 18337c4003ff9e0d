// The controller window where there is no display: every status line goes to
// standard error as "TAVIK <port>: <line>"; the other window state is only
// remembered, so the core behaves the same with and without a display.
#pragma once

#include <mutex>
#include <string>

#include "controller/controller_window.h"

namespace tavik::controller {

class HeadlessWindow final : public ControllerWindow {
public:
    enum class Visibility { Minimized, Normal, Hidden };

    void setStatusText(std::string_view utf8Line) override;
    void setConnectLabel(bool connected) override;
    void setHideButtonVisible(bool visible) override;
    void setTitle(std::string_view utf8Title) override;
    void showMinimizedNoActivate() override;
    void showNormal() override;
    void hide() override;

    // Remembered state, for tests and diagnostics.
    std::string statusText() const;
    std::string title() const;
    bool connectLabelSaysDisconnect() const;
    bool hideButtonVisible() const;
    Visibility visibility() const;

    // When false, status lines are only remembered (tests).
    void setPrintLines(bool print) { print_ = print; }

private:
    mutable std::mutex mutex_;
    std::string status_;
    std::string title_ = "Tactile Device Controller";
    bool disconnectLabel_ = false;
    bool hideButton_ = false;
    Visibility visibility_ = Visibility::Hidden;
    bool print_ = true;
};

}  // namespace tavik::controller
