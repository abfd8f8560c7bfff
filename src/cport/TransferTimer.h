// Deadline arithmetic of one device transfer under the system's time-out rules, on a
// monotonic clock. Kept apart from the device calls so that it is tested without waiting.
#pragma once

#include "cport/ComDevice.h"

#include <cstdint>
#include <optional>

namespace zentrop {

using Nanos = int64_t;

// The monotonic clock's current time.
Nanos MonotonicNow();

// When a read of Count bytes ends: when Count bytes have arrived, when more than the
// interval passes between two bytes, or when multiplier x Count + constant has passed since
// the start, whichever comes first. A zero value switches its timer off; an interval of
// MAXDWORD with both totals zero returns at once with what has arrived, and with a
// multiplier of MAXDWORD and a constant below MAXDWORD returns as soon as anything arrives
// or when the constant has passed.
class ReadTimer {
public:
    ReadTimer(const COMMTIMEOUTS& Timeouts, int Count, Nanos Start);

    // Bytes arrived at Now; Total is how many the read holds now.
    void BytesArrived(int Total, Nanos Now);
    // The read ends with what it holds, without waiting any longer.
    bool Done(int Total, Nanos Now) const;
    // Time left to wait for more bytes; nothing when there is no limit.
    std::optional<Nanos> Remaining(Nanos Now) const;

private:
    int FCount;
    bool FAtOnce = false;
    bool FFirstByteEnds = false;
    std::optional<Nanos> FTotalDeadline;
    Nanos FInterval = 0;              // 0: no interval timer
    std::optional<Nanos> FIntervalDeadline;
};

// A write of Count bytes may take multiplier x Count + constant; both zero is no limit.
class WriteTimer {
public:
    WriteTimer(const COMMTIMEOUTS& Timeouts, int Count, Nanos Start);

    std::optional<Nanos> Remaining(Nanos Now) const;

private:
    std::optional<Nanos> FDeadline;
};

// How long one character takes on the line the record describes: start bit, data bits,
// parity bit and stop bits at its baud rate; 0 when it names no rate.
Nanos CharacterTime(const DCB& Dcb);

// How long closing a device waits for Queued bytes still in its output queue to leave
// before it discards them: the write time-out those bytes would have, and never longer
// than kCloseDrainLimit, so that a line held up by its handshake or a stuck adapter cannot
// hold up the close.
inline constexpr Nanos kCloseDrainLimit = Nanos(2000) * 1000000;
Nanos CloseDrainBudget(const COMMTIMEOUTS& Timeouts, int Queued);

} // namespace zentrop
