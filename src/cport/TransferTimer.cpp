// The time-out rules of reads and writes as deadlines on the monotonic clock.
#include "TransferTimer.h"

#include <algorithm>
#include <ctime>

namespace zentrop {

namespace {

constexpr Nanos kNsPerMs = 1000000;

std::optional<Nanos> TotalDeadline(uint32_t multiplier, uint32_t constant, int count, Nanos start)
{
    if (multiplier == 0 && constant == 0)
        return std::nullopt;
    // Capped at about 35 years, which no transfer outlives, so the arithmetic cannot overflow.
    constexpr int64_t kMaxMs = int64_t(1) << 40;
    const int64_t ms = std::min(int64_t(multiplier) * std::max(count, 0) + int64_t(constant), kMaxMs);
    return start + ms * kNsPerMs;
}

std::optional<Nanos> Left(std::optional<Nanos> deadline, Nanos now)
{
    if (!deadline)
        return std::nullopt;
    return std::max<Nanos>(*deadline - now, 0);
}

} // namespace

Nanos MonotonicNow()
{
    timespec ts{};
    clock_gettime(CLOCK_MONOTONIC, &ts);
    return Nanos(ts.tv_sec) * 1000000000 + ts.tv_nsec;
}

ReadTimer::ReadTimer(const COMMTIMEOUTS& Timeouts, int Count, Nanos Start)
    : FCount(Count)
{
    const uint32_t interval = Timeouts.ReadIntervalTimeout;
    const uint32_t multiplier = Timeouts.ReadTotalTimeoutMultiplier;
    const uint32_t constant = Timeouts.ReadTotalTimeoutConstant;
    if (interval == MAXDWORD && multiplier == 0 && constant == 0) {
        FAtOnce = true;
        return;
    }
    if (interval == MAXDWORD && multiplier == MAXDWORD && constant > 0 && constant < MAXDWORD) {
        FFirstByteEnds = true;
        FTotalDeadline = Start + Nanos(constant) * kNsPerMs;
        return;
    }
    FTotalDeadline = TotalDeadline(multiplier, constant, Count, Start);
    // An interval of MAXDWORD outside the two cases above is a gap of about 49 days: none.
    if (interval != 0 && interval != MAXDWORD)
        FInterval = Nanos(interval) * kNsPerMs;
}

void ReadTimer::BytesArrived(int Total, Nanos Now)
{
    if (Total > 0 && FInterval > 0)
        FIntervalDeadline = Now + FInterval;
}

bool ReadTimer::Done(int Total, Nanos Now) const
{
    if (Total >= FCount || FAtOnce)
        return true;
    if (FFirstByteEnds && Total > 0)
        return true;
    const std::optional<Nanos> left = Remaining(Now);
    return left && *left == 0;
}

std::optional<Nanos> ReadTimer::Remaining(Nanos Now) const
{
    std::optional<Nanos> total = Left(FTotalDeadline, Now);
    std::optional<Nanos> interval = Left(FIntervalDeadline, Now);
    if (!total)
        return interval;
    if (!interval)
        return total;
    return std::min(*total, *interval);
}

WriteTimer::WriteTimer(const COMMTIMEOUTS& Timeouts, int Count, Nanos Start)
    : FDeadline(TotalDeadline(Timeouts.WriteTotalTimeoutMultiplier,
                              Timeouts.WriteTotalTimeoutConstant, Count, Start))
{
}

std::optional<Nanos> WriteTimer::Remaining(Nanos Now) const
{
    return Left(FDeadline, Now);
}

Nanos CloseDrainBudget(const COMMTIMEOUTS& Timeouts, int Queued)
{
    const std::optional<Nanos> total = WriteTimer(Timeouts, Queued, 0).Remaining(0);
    return total ? std::min(*total, kCloseDrainLimit) : kCloseDrainLimit;
}

Nanos CharacterTime(const DCB& Dcb)
{
    if (Dcb.BaudRate == 0)
        return 0;
    // In half bits, so that one and a half stop bits count as they are.
    int halfBits = 2 * (1 + Dcb.ByteSize) + (Dcb.Parity != DCB::NOPARITY ? 2 : 0);
    halfBits += Dcb.StopBits == DCB::ONESTOPBIT ? 2 : Dcb.StopBits == DCB::ONE5STOPBITS ? 3 : 4;
    return Nanos(halfBits) * 500000000 / Nanos(Dcb.BaudRate);
}

} // namespace zentrop
