// Setting a serial port's speed to any bit rate (termios2 with BOTHER), not
// only the standard termios rates. Kept apart because the kernel's termios2
// header cannot share a file with <termios.h>.
#pragma once

namespace tavik::drv {

// Sets both directions of the open tty `fd` to exactly `baud` bit/s, leaving
// every other setting as it is. Returns the speed the port reports
// afterwards (equal to `baud` on success), or 0 when the port refused the
// request altogether. Never blocks.
int setExactSpeed(int fd, int baud);

}  // namespace tavik::drv
