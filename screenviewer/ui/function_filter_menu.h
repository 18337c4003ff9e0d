// The main dialog's menu of the function filters: "View Frame" (527) and the
// "Function Filter" popup (528) with items 529..535, each checkable, object
// names the ids. Triggering an item calls `command` with its id.
#pragma once

#include <functional>

#include "screenviewer/settings/lumo_settings.h"

class QMenuBar;
class QWidget;

namespace lumo::ui {

// Builds the menu bar for `dialog` (the caller places it); false in
// `loaded` would mean the popup could not be made (it always can here).
QMenuBar* makeFilterMenu(QWidget& dialog, bool japanese, const std::function<void(int id)>& command);
// Sets the check marks of 529..535 and 527.
void checkFilterMenu(QWidget& dialog, const tavik::lumo::FunctionFilters& filters, bool viewFrame);

}  // namespace lumo::ui
