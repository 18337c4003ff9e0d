// The open viewer of the process as the rest of the client library sees it:
// the device event handlers that display mode registers (they run on the
// notification thread), the condition operations the dialog shares, and the
// close that leaving the port performs.
#pragma once

#include "client/viewer/condition_ops.h"

namespace tavik::viewer {

// Key event (type, key byte, modifier byte) from a tactile display; 1 handled, 0 not
// (also without an open viewer). Calls the record's key hook first.
int displayKeyHandler(int t, int k, int m);
// Key event from a braille note-taker.
int noteTakerKeyHandler(int t, int k, int m);
// Broadcast event: code, value (the event shifted right by 8 bits), last byte.
int broadcastKeyHandler(int c, int v, int b);
// Data block: code, byte count, bytes (may be null when count is 0).
int dataBlockHandler(int code, int count, const unsigned char* bytes);

// Runs one condition operation on the open viewer's condition and refreshes the
// view; 1 when something changed, 0 without a change or without a viewer.
int viewerConditionOperation(const ConditionOp& op);
// Shows the open viewer's condition in the condition dialog (nothing else changes);
// false without a viewer.
bool refreshOpenConditionDialog();
// True while a viewer is open.
bool viewerIsOpen();
// Closes the viewer without leaving display mode (gdEnd leaves it itself).
void closeViewerForEnd();

}  // namespace tavik::viewer
