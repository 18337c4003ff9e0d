// Stand-in for the port selection until its dialog is built: nothing is
// selected, so nothing is entered.
#include "client/port_selection.h"

namespace tavik::client {

int startSelection(GdStatusCallback) { return 0; }

}  // namespace tavik::client
