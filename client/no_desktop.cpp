// The desktop where the library is built without X11: there is none, so the
// mouse calls fail cleanly.
#include "client/desktop.h"

namespace tavik::client {

Desktop* x11Desktop() { return nullptr; }

}  // namespace tavik::client
