// Setting a serial port's speed to any bit rate (termios2 with BOTHER), not
// only the standard termios rates. Kept apart because the kernel's termios2
// header cannot share a file with <termios.h>.
#pragma once

namespace tavik::drv {

// Sets both directions of the open tty `fd` to exactly `baud` bit/s, leaving
// every other setting as it is. Returns the speed the port runs at afterwards:
// `baud` on success, the speed it had when it refused (or for a speed of 0 or
// less, which is not tried), 0 when `fd` is no tty. Never blocks.
int setExactSpeed(int fd, int baud);

}  // namespace tavik::drv
