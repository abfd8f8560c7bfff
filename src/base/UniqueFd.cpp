// Closing an owned descriptor.
#include "base/UniqueFd.h"

#include <unistd.h>

namespace zentrop {

void UniqueFd::Reset(int Fd) noexcept
{
    // Linux frees the descriptor even when close reports EINTR: it is never retried.
    if (FFd >= 0)
        ::close(FFd);
    FFd = Fd;
}

} // namespace zentrop
