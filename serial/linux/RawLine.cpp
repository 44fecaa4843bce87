#include "serial/linux/RawLine.h"

#include <asm/termbits.h>
#include <cerrno>
#include <sys/ioctl.h>

namespace korv::linux_tty {
namespace {

// A driver may only get close to an odd rate (a CP210x adapter reports the
// rate its clock makes); within this the line still works, beyond it not.
constexpr unsigned kRateTolerancePerMille = 10;

bool rateClose(unsigned got, unsigned asked)
{
    const unsigned diff = got > asked ? got - asked : asked - got;
    return diff * 1000u <= asked * kRateTolerancePerMille;
}

} // namespace

int applyRawLine(int fd, unsigned bitRate)
{
    struct termios2 t {};
    if (ioctl(fd, TCGETS2, &t) != 0)
        return errno;

    // No character has a special meaning on input; faulty bytes (parity,
    // framing) are delivered as received since no parity check is made.
    t.c_iflag &= ~static_cast<tcflag_t>(IGNBRK | BRKINT | IGNPAR | PARMRK | INPCK | ISTRIP | INLCR
                                        | IGNCR | ICRNL | IUCLC | IXON | IXANY | IXOFF | IMAXBEL);
    t.c_oflag &= ~static_cast<tcflag_t>(OPOST);
    t.c_lflag &= ~static_cast<tcflag_t>(ISIG | ICANON | ECHO | ECHOE | ECHOK | ECHONL | IEXTEN);
    t.c_cflag &= ~static_cast<tcflag_t>(CBAUD | CIBAUD | CSIZE | CSTOPB | PARENB | CMSPAR | CRTSCTS);
    t.c_cflag |= CS8 | CREAD | CLOCAL | BOTHER | (BOTHER << IBSHIFT);
    t.c_ispeed = bitRate;
    t.c_ospeed = bitRate;
    t.c_cc[VMIN] = 0;
    t.c_cc[VTIME] = 0;
    if (ioctl(fd, TCSETS2, &t) != 0)
        return errno;

    struct termios2 back {};
    if (ioctl(fd, TCGETS2, &back) != 0)
        return errno;
    const tcflag_t frame = CSIZE | CSTOPB | PARENB | CRTSCTS;
    if ((back.c_cflag & frame) != CS8 || !rateClose(back.c_ospeed, bitRate)
        || !rateClose(back.c_ispeed, bitRate) || (back.c_iflag & (IXON | IXOFF)) != 0
        || (back.c_lflag & (ICANON | ECHO)) != 0)
        return EINVAL;
    return 0;
}

} // namespace korv::linux_tty
