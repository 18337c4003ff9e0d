// What the controller core needs of its main window: the status line, the
// connect button's label, the Hide button, the title and the window's
// visibility. Unless said otherwise a method is called on the main thread.
// The core never knows whether a real window or the headless
// stand-in (status lines on standard error) is behind it.
#pragma once

#include <string>
#include <string_view>

#include "drivers/core/monitor_host.h"
#include "drivers/core/plugin_api.h"

namespace tavik::controller {

class ControllerWindow {
public:
    virtual ~ControllerWindow() = default;

    // Replaces the status line (control 257). Called from any thread: the
    // driver plug-in writes its lines from its own threads. Never blocks long.
    virtual void setStatusText(std::string_view utf8Line) = 0;
    // Button 1: "&Disconnect" when `connected`, else "&Connect".
    virtual void setConnectLabel(bool connected) = 0;
    // Button 259 ("&Hide") visible or not (main thread).
    virtual void setHideButtonVisible(bool visible) = 0;
    virtual void setTitle(std::string_view utf8Title) = 0;
    // Shown minimised without taking the focus (the state at start-up).
    virtual void showMinimizedNoActivate() = 0;
    virtual void showNormal() = 0;
    virtual void hide() = 0;
    // Whether the WIN+G hot key belongs to this window (never headless).
    virtual bool hotKeyRegistered() const { return false; }
    // The windowing host for the plug-in's monitor window; null headless.
    virtual const TavikMonitorHost* monitorHost() { return nullptr; }

    // The handle given to the plug-in's drvSetStatusWindow: a status sink
    // whose lines land in setStatusText. Valid while the window lives.
    TavikWindowHandle statusHandle() {
        sink_.context = this;
        sink_.setText = [](void* context, const char* line) {
            if (context && line) static_cast<ControllerWindow*>(context)->setStatusText(line);
        };
        return reinterpret_cast<TavikWindowHandle>(&sink_);
    }

private:
    TavikStatusSink sink_{};
};

}  // namespace tavik::controller
