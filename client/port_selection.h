// The port selection of gdStart when "QueryConditionAlways" is set. The
// selection dialog belongs to a later part of the library; until it exists
// the selection reports "cancelled" (0), so gdStart fails cleanly.
#pragma once

#include "client/tavikutil.h"

namespace tavik::client {

int startSelection(GdStatusCallback statusCallback);

}  // namespace tavik::client
