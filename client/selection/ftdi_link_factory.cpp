// The FTDI link of a build that has the FTDI library (or its double).
#include "client/selection/ftdi_selection.h"

namespace tavik::selection {

std::unique_ptr<ftdi::FtdiLink> systemFtdiLink() { return ftdi::createFtdiLink(); }

}  // namespace tavik::selection
