// A wake-up object: one thread signals it, another waits on its descriptor (in poll, beside
// the descriptors it serves) and drains it. Stays set until drained, so a signal given before
// the wait starts is never missed.
#pragma once

#include "base/UniqueFd.h"

namespace zentrop {

class WakeUp {
public:
    WakeUp();

    // False when the system could not make one; callers treat that as already set.
    bool Valid() const { return FFd.Valid(); }
    // What a waiter polls for POLLIN.
    int Fd() const { return FFd.Get(); }
    // Safe from any thread, and from a signal handler.
    void Signal() const;
    // Clears it; true when it was set.
    bool Drain() const;
    // Whether it is set, without clearing it.
    bool IsSet() const;

private:
    UniqueFd FFd;
};

} // namespace zentrop
