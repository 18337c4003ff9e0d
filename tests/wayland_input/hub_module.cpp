// A module with its own copy of the AT-SPI hub code, loaded by atspi_hub_test as a program loads
// its plug-ins.
#include <memory>

#include "platform/atspi/atspi_hub.h"

namespace {
std::shared_ptr<tavik::atspi::Hub> held;
}

extern "C" __attribute__((visibility("default"))) void* tavikTestAcquireHub() {
    held = tavik::atspi::Hub::acquire();
    return held.get();
}

extern "C" __attribute__((visibility("default"))) void tavikTestReleaseHub() { held.reset(); }
