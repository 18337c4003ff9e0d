// termios2 speed setting.
#include "drivers/core/serial_speed.h"

#include <asm/termbits.h>
#include <sys/ioctl.h>

namespace tavik::drv {

int setExactSpeed(int fd, int baud) {
    struct termios2 tio {};
    if (::ioctl(fd, TCGETS2, &tio) != 0) return 0;
    const int before = static_cast<int>(tio.c_ospeed);
    if (baud <= 0) return before;
    tio.c_cflag &= ~static_cast<tcflag_t>(CBAUD | (CBAUD << IBSHIFT));
    tio.c_cflag |= BOTHER | (BOTHER << IBSHIFT);
    tio.c_ispeed = static_cast<speed_t>(baud);
    tio.c_ospeed = static_cast<speed_t>(baud);
    if (::ioctl(fd, TCSETS2, &tio) != 0) return before;
    struct termios2 now {};
    if (::ioctl(fd, TCGETS2, &now) != 0) return before;
    return static_cast<int>(now.c_ospeed);
}

}  // namespace tavik::drv
