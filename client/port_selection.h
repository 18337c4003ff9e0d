// The port selection of gdStartSelection, and of gdStart when
// "QueryConditionAlways" is set: the "Port selection" dialog, then entering
// the chosen port for the chosen model.
#pragma once

#include "client/tavikutil.h"

namespace tavik::client {

// 1 when an entry is open (also when one was open before); 0 when the dialog
// was cancelled, could not be shown (no display), or entering failed. Blocks
// while the dialog is open.
int startSelection(GdStatusCallback statusCallback, TavikWindow owner = 0);

}  // namespace tavik::client
