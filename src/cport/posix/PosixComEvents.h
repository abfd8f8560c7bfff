// The event wait of the POSIX device: what one look at a line finds, and which events two
// looks in a row amount to. A tty reports no events of its own, so the wait compares
// looks taken on arrival of data or at a short interval.
#pragma once

#include <cstdint>

namespace zentrop {

// What one look at the line found.
struct LineLook {
    uint64_t Arrived = 0;     // bytes ever received: those reads and purges took plus the queue
    int InQueue = 0;
    int Held = 0;             // of those queued, bytes already in the device's inbox
    int OutQueue = 0;
    int ModemLines = 0;       // TIOCM_ bits
    // The driver's counters of line changes and errors (zero where it keeps none).
    int Cts = 0, Dsr = 0, Dcd = 0, Rng = 0;
    int Frame = 0, Parity = 0, Overrun = 0, BufOverrun = 0, Brk = 0;
};

// The input queue of a tty: the line discipline holds 4 KiB, whatever size was asked for.
inline constexpr int kLineDisciplineBytes = 4096;

// Input queued from this many bytes on counts as 80 % full: 80 % of the input queue size
// the port set, or of what the driver really holds when that is less (or none was set).
int Rx80FullBytes(int InputSize);

// The events (EV_ bits) of Mask that happened between two looks, with the queue 80 % full
// from Rx80Full bytes on; the empty output queue is the wait's own business, as it depends
// on what was sent.
uint32_t LineEvents(const LineLook& Before, const LineLook& Now, uint32_t Mask, int Rx80Full);

} // namespace zentrop
