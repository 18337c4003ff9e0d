// The port selection of gdStart when "QueryConditionAlways" is set. The
// selection dialog belongs to a later part of the library; until it exists
// the selection reports "cancelled" (0), so gdStart fails cleanly; with an
// entry already open it reports 1, as the selection does.
#pragma once

#include "client/tavikutil.h"

namespace tavik::client {

int startSelection(GdStatusCallback statusCallback);

}  // namespace tavik::client
