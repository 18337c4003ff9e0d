// Chooses the FtdiLink implementation: the pseudo-terminal double when
// TAVIK_FTDI_DOUBLE names its device list, else libftdi1.
#include <cstdlib>

#include "drivers/usb/ftdi_link.h"

namespace tavik::ftdi {

std::unique_ptr<FtdiLink> createFtdiLink() {
    if (const char* list = std::getenv("TAVIK_FTDI_DOUBLE"); list && *list) return createPtyDoubleLink(list);
    return createLibftdiLink();
}

#ifndef TAVIK_HAVE_LIBFTDI
std::unique_ptr<FtdiLink> createLibftdiLink() { return nullptr; }
#endif

}  // namespace tavik::ftdi
