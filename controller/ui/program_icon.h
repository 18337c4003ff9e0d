// The controller's icon, drawn rather than loaded: a tablet of raised pins.
// The main window and the monitor window carry it, so the desktop's task list
// and window switcher show both as the controller's.
#pragma once

#include <QIcon>

namespace tavik::controller::ui {

QIcon programIcon();

}  // namespace tavik::controller::ui
