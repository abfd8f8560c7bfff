// The wake-up object on an eventfd: a counter that reads as ready while it is not zero.
#include "base/WakeUp.h"

#include <cerrno>
#include <cstdint>
#include <poll.h>
#include <sys/eventfd.h>
#include <unistd.h>

namespace zentrop {

WakeUp::WakeUp() : FFd(::eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK)) {}

void WakeUp::Signal() const
{
    const uint64_t one = 1;
    while (FFd.Valid() && ::write(FFd.Get(), &one, sizeof one) < 0 && errno == EINTR) {
    }
}

bool WakeUp::Drain() const
{
    uint64_t value = 0;
    for (;;) {
        if (::read(FFd.Get(), &value, sizeof value) == static_cast<ssize_t>(sizeof value))
            return true;
        if (errno != EINTR)
            return false;
    }
}

bool WakeUp::IsSet() const
{
    pollfd p{FFd.Get(), POLLIN, 0};
    return !FFd.Valid() || ::poll(&p, 1, 0) > 0;
}

} // namespace zentrop
