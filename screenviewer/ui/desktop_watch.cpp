// The hot key and the desktop's events of the main dialog.
#include "screenviewer/ui/desktop_watch.h"

#include <QSocketNotifier>

#include <cstdio>

#include "platform/desktop/desktop.h"
#include "screenviewer/ui/main_dialog.h"
#include "screenviewer/viewer.h"

namespace lumo::ui {

namespace {
constexpr int32_t kHotKeyId = 0;
// Win+Alt+V: Win+V is taken on GNOME (the notification list) and on KDE Plasma (the clipboard);
// neither desktop nor sway's default configuration binds Win+Alt+V.
constexpr uint32_t kKeysymV = 0x76;
constexpr uint32_t kHotKeyModifiers = tavik::desktop::kModSuper | tavik::desktop::kModAlt;
}  // namespace

DesktopWatch::DesktopWatch(Viewer& viewer, MainDialog& dialog)
    : viewer_(viewer), dialog_(dialog), events_(std::make_unique<tavik::desktop::DesktopEvents>()) {
    namespace d = tavik::desktop;
    hotKey_ = events_->addHotKey(kHotKeyId, kKeysymV, kHotKeyModifiers) == d::DesktopStatus::Ok;
    dialog_.setHotKeyTitle(hotKey_);
    // A key another program holds is named on stderr by the desktop layer, with this desktop's
    // way to rebind it.
    auto* n = new QSocketNotifier(events_->fd(), QSocketNotifier::Read, this);
    connect(n, &QSocketNotifier::activated, this, [this] {
        for (const auto& e : events_->take()) {
            switch (e.kind) {
            case d::DesktopEvent::Kind::HotKey:
                if (e.hotKeyId == kHotKeyId) dialog_.bringForward();
                break;
            case d::DesktopEvent::Kind::ScreenResized: viewer_.publishView(); break;
            case d::DesktopEvent::Kind::DisplayLost:
                std::fputs("Lumo: the X display went away; the viewer ends.\n", stderr);
                dialog_.endSession();
                break;
            case d::DesktopEvent::Kind::DisplayBack: break;
            }
        }
    });
}

// The desktop layer's events object releases the grab without waiting for a
// reconnect that a lost display may have started.
DesktopWatch::~DesktopWatch() = default;

}  // namespace lumo::ui
