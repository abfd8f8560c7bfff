// Line speeds beyond the termios constants. The kernel's termios2 record lives in a header
// that clashes with <termios.h>, so these calls sit in a file of their own.
#pragma once

#include <cstdint>

namespace zentrop {

// Sets an arbitrary output and input speed on a tty; 0 or errno.
int SetArbitraryBaudRate(int Fd, uint32_t Rate);
// The output speed the driver has in force; 0 or errno.
int GetActualBaudRate(int Fd, uint32_t& Rate);

} // namespace zentrop
