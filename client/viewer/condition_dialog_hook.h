// Hooks through which the condition dialog follows the viewer: the dialog
// sets them while it is open; the viewer calls them after every condition
// change (from the application's or the notification thread) and when it closes.
#pragma once

#include "client/viewer/bitmap_viewer.h"

namespace tavik::viewer {

using ConditionDialogRefresh = void (*)(BitmapViewerRecord* record);
using ConditionDialogClose = void (*)();

// Either may be null (no dialog open). Safe from any thread.
void setConditionDialogHooks(ConditionDialogRefresh refresh, ConditionDialogClose close);
// Shows the record's condition in the open dialog; nothing without one.
void refreshConditionDialog(BitmapViewerRecord* record);
// Closes an open dialog as Cancel does; nothing without one.
void closeConditionDialog();

}  // namespace tavik::viewer
