// A library for the run-time loading test: it names itself, and on request pins itself.
#include "platform/run_time_library.h"

extern "C" __attribute__((visibility("default"))) const char* probeName() { return "probe"; }

extern "C" __attribute__((visibility("default"))) void probePinSelf() {
    tavik::platform::keepModuleLoaded(reinterpret_cast<const void*>(&probePinSelf));
}
