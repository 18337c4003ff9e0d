// A build without the FTDI link: the FTDI selection finds nothing.
#include "client/selection/ftdi_selection.h"

namespace tavik::selection {

std::unique_ptr<ftdi::FtdiLink> systemFtdiLink() { return nullptr; }

}  // namespace tavik::selection
