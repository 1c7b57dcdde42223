// serial_speed_linux.cpp - line speeds without a Bnnn constant.
//
// Linux takes any rate through the termios2 interface (BOTHER).  Its
// headers clash with <termios.h>, hence this file of its own.
#include "platform/posix/posix_port.h"

#if defined(__linux__)
#  include <asm/termbits.h>
#  include <sys/ioctl.h>

bool posix_set_custom_speed(int fd, uint32_t baud)
{
    struct termios2 tio;
    if (ioctl(fd, TCGETS2, &tio) != 0)
        return false;
    tio.c_cflag &= ~CBAUD;
    tio.c_cflag |= BOTHER;
    tio.c_ispeed = baud;
    tio.c_ospeed = baud;
    tio.c_cflag &= ~(CBAUD << IBSHIFT);   // input speed follows the output speed
    if (ioctl(fd, TCSETS2, &tio) != 0)
        return false;
    // The driver rounds to the rate its divisor gives, or substitutes
    // another one silently: read it back and accept 5 % off at most (a
    // UART copes with about that much).
    if (ioctl(fd, TCGETS2, &tio) != 0)
        return false;
    uint32_t got = tio.c_ospeed;
    uint32_t off = got > baud ? got - baud : baud - got;
    return static_cast<uint64_t>(off) * 20 <= baud;
}

#else

bool posix_set_custom_speed(int, uint32_t) { return false; }

#endif
