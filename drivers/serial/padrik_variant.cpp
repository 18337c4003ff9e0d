// Padrik: the tactile display on a serial port. The reference variant: every
// operation is the spine's default.
#include "drivers/core/variant.h"

namespace tavik::drv {
namespace {

class SerialVariant final : public ProtocolVariant {};

}  // namespace

ProtocolVariant& pluginVariant() {
    static SerialVariant variant;
    return variant;
}

}  // namespace tavik::drv
