// A plug-in that lacks most required exports, for the controller's
// "export missing" path.
#include "common/export.h"

#include <cstdint>

TAVIK_API int32_t Version() { return 66052; }
TAVIK_API int32_t drvInit(int32_t) { return 1; }
