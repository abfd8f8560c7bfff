// Arbitrary line speeds through the kernel's termios2 record (BOTHER).
#include "PosixBaudRate.h"

#include <asm/ioctls.h>
#include <asm/termbits.h>
#include <cerrno>
#include <sys/ioctl.h>

namespace zentrop {

int SetArbitraryBaudRate(int Fd, uint32_t Rate)
{
    termios2 tio{};
    if (::ioctl(Fd, TCGETS2, &tio) != 0)
        return errno;
    tio.c_cflag &= ~(CBAUD | (CBAUD << IBSHIFT));
    tio.c_cflag |= BOTHER | (BOTHER << IBSHIFT);
    tio.c_ispeed = Rate;
    tio.c_ospeed = Rate;
    return ::ioctl(Fd, TCSETS2, &tio) == 0 ? 0 : errno;
}

int GetActualBaudRate(int Fd, uint32_t& Rate)
{
    termios2 tio{};
    if (::ioctl(Fd, TCGETS2, &tio) != 0)
        return errno;
    Rate = tio.c_ospeed;
    return 0;
}

} // namespace zentrop
