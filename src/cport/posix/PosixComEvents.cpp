// The POSIX device's event wait. A tty tells of nothing but arrived bytes and a hangup, so
// the wait sleeps in poll on the device, the stop event and its own wake-up descriptor, and
// looks at the queues, modem lines and the driver's counters only when something may have
// changed: bytes arrived, a write went out, or the short interval passed while a line or
// counter the driver keeps is watched. A line with nothing to watch costs no CPU while idle.
// While the event character is watched, the wait takes arriving bytes into the device's
// inbox to look for it, as a tty has no way to peek at its queue.
#include "PosixComDevice.h"

#include "cport/ComConvert.h"

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <linux/serial.h>
#include <poll.h>
#include <sys/ioctl.h>
#include <unistd.h>

namespace zentrop {

using namespace EventMask;

namespace {

// How often lines, counters and a draining output queue are looked at while watched.
constexpr int kLookIntervalMs = 20;

constexpr uint32_t kModemEvents = EV_CTS | EV_DSR | EV_RLSD | EV_RING;
constexpr uint32_t kCounterEvents = kModemEvents | EV_ERR | EV_BREAK;
constexpr uint32_t kInputEvents = EV_RXCHAR | EV_RX80FULL | EV_RXFLAG;

// The most the inbox holds before the bytes are left to the driver's queue.
constexpr size_t kInboxLimit = 64 * 1024;

// 0 or errno; EINTR is retried.
int Ioctl(int fd, unsigned long request, void* arg)
{
    for (;;) {
        if (::ioctl(fd, request, arg) == 0)
            return 0;
        if (errno != EINTR)
            return errno;
    }
}

// A driver without the feature has nothing to report.
bool Unsupported(int err)
{
    return err == ENOTTY || err == EINVAL;
}

} // namespace

int Rx80FullBytes(int InputSize)
{
    const int queue = InputSize > 0 ? std::min(InputSize, kLineDisciplineBytes) : kLineDisciplineBytes;
    return std::max(1, queue * 8 / 10);
}

uint32_t LineEvents(const LineLook& Before, const LineLook& Now, uint32_t Mask, int Rx80Full)
{
    uint32_t events = 0;
    if (Now.Arrived > Before.Arrived)
        events |= EV_RXCHAR;
    if (Now.InQueue >= Rx80Full && Before.InQueue < Rx80Full)
        events |= EV_RX80FULL;
    // A counter catches a pulse that came and went between two looks at the lines.
    const int flipped = Before.ModemLines ^ Now.ModemLines;
    if ((flipped & TIOCM_CTS) || Now.Cts != Before.Cts)
        events |= EV_CTS;
    if ((flipped & TIOCM_DSR) || Now.Dsr != Before.Dsr)
        events |= EV_DSR;
    if ((flipped & TIOCM_CAR) || Now.Dcd != Before.Dcd)
        events |= EV_RLSD;
    if ((flipped & Now.ModemLines & TIOCM_RNG) || Now.Rng != Before.Rng)
        events |= EV_RING;
    if (Now.Frame != Before.Frame || Now.Parity != Before.Parity || Now.Overrun != Before.Overrun
        || Now.BufOverrun != Before.BufOverrun)
        events |= EV_ERR;
    if (Now.Brk != Before.Brk)
        events |= EV_BREAK;
    return events & Mask;
}

void PosixComDevice::NoteTaken(uint64_t Count)
{
    FRxTaken += Count;
    if (FWakeOnTake.exchange(false))
        FEventWake.Signal();
}

void PosixComDevice::NoteSent()
{
    if ((FEventMask & EV_TXEMPTY) && !FTxSent.exchange(true))
        FEventWake.Signal();
}

int PosixComDevice::SetCommMask(uint32_t Mask)
{
    std::lock_guard lock(FMutex);
    if (FFd < 0 || FClosing)
        return EBADF;
    int lines = 0;
    FHasModemLines = ::ioctl(FFd, TIOCMGET, &lines) == 0;
    serial_icounter_struct counters{};
    FHasCounters = ::ioctl(FFd, TIOCGICOUNT, &counters) == 0;
    FEventMask = Mask;
    FTxSent = false;
    // What happens from now on is reported; what came before is not, an event character
    // already received among it.
    if (Mask & EV_RXFLAG)
        PullInput(FFd);
    LineLook look;
    if (const int err = LookAtLine(FFd, Mask, FHasModemLines, FHasCounters, look))
        return err;
    FLastLook = look;
    FEventWake.Signal();
    return 0;
}

bool PosixComDevice::PullInput(int Fd)
{
    bool flagged = false;
    char chunk[4096];
    while (FInbox.size() < kInboxLimit) {
        const ssize_t n = ::read(Fd, chunk, std::min(sizeof chunk, kInboxLimit - FInbox.size()));
        if (n < 0 && errno == EINTR)
            continue;
        // Nothing more, or a hangup, which the wait's poll reports in its own way.
        if (n <= 0)
            break;
        size_t kept = size_t(n);
        if (FDiscardNull) {
            // Dropped on arrival, as the driver would: they were received, and are gone.
            kept = size_t(std::remove(chunk, chunk + n, '\0') - chunk);
            NoteTaken(uint64_t(size_t(n) - kept));
        }
        flagged = flagged || std::memchr(chunk, static_cast<unsigned char>(FEventChar), kept);
        FInbox.append(chunk, kept);
        // A read waiting on the driver would not see these bytes arrive.
        WakeWaiting(true, false);
    }
    return flagged;
}

int PosixComDevice::LookAtLine(int Fd, uint32_t Mask, bool Modem, bool Counters, LineLook& Look)
{
    // A read that takes bytes between the two counts would make them look new.
    for (;;) {
        const uint64_t taken = FRxTaken;
        int queued = 0;
        if (const int err = Ioctl(Fd, FIONREAD, &queued))
            return err;
        if (FRxTaken == taken) {
            Look.Held = static_cast<int>(FInbox.size());
            Look.InQueue = std::max(queued, 0) + Look.Held;
            Look.Arrived = taken + static_cast<uint64_t>(Look.InQueue);
            break;
        }
    }
    if (Modem && (Mask & kModemEvents)) {
        if (const int err = Ioctl(Fd, TIOCMGET, &Look.ModemLines); err && !Unsupported(err))
            return err;
    }
    if (Counters && (Mask & kCounterEvents)) {
        serial_icounter_struct c{};
        const int err = Ioctl(Fd, TIOCGICOUNT, &c);
        if (err && !Unsupported(err))
            return err;
        if (!err) {
            Look.Cts = c.cts;
            Look.Dsr = c.dsr;
            Look.Dcd = c.dcd;
            Look.Rng = c.rng;
            Look.Frame = c.frame;
            Look.Parity = c.parity;
            Look.Overrun = c.overrun;
            Look.BufOverrun = c.buf_overrun;
            Look.Brk = c.brk;
        }
    }
    if (Mask & EV_TXEMPTY) {
        if (const int err = Ioctl(Fd, TIOCOUTQ, &Look.OutQueue); err && !Unsupported(err))
            return err;
    }
    return 0;
}

int PosixComDevice::WaitCommEvent(uint32_t& Events, const StopEvent& Stop)
{
    Events = 0;
    if (!Stop.Valid())
        return EINVAL;
    // Keeps the descriptor from being closed under the wait; Close wakes the wait first.
    std::shared_lock use(FUse);
    int fd = -1;
    LineLook last;
    {
        std::lock_guard lock(FMutex);
        if (FFd < 0 || FClosing)
            return EBADF;
        fd = FFd;
        last = FLastLook;
    }
    // The last look is kept for the next wait, so that what happens while the events are
    // delivered is reported then.
    auto finish = [&](int Result) {
        FWakeOnTake = false;
        std::lock_guard lock(FMutex);
        FLastLook = last;
        return Result;
    };
    bool modem = false;
    bool counters = false;
    uint32_t mask = 0;
    // Looks at the line and compares with the last look; 0 or errno.
    auto look = [&]() {
        const bool sent = FTxSent.exchange(false);
        LineLook now;
        bool flagged = false;
        int rx80Full = 0;
        {
            std::lock_guard lock(FMutex);
            if (mask & EV_RXFLAG)
                flagged = PullInput(fd);
            if (const int err = LookAtLine(fd, mask, modem, counters, now))
                return err;
            rx80Full = Rx80FullBytes(FInputSize);
        }
        Events = LineEvents(last, now, mask, rx80Full) | (flagged ? uint32_t(EV_RXFLAG) : 0u);
        if (sent) {
            if (now.OutQueue == 0)
                Events |= EV_TXEMPTY & mask;
            else
                FTxSent = true;
        }
        now.Arrived = std::max(now.Arrived, last.Arrived);
        last = now;
        return 0;
    };
    for (;;) {
        {
            std::lock_guard lock(FMutex);
            if (FClosing)
                return finish(EBADF);
            modem = FHasModemLines;
            counters = FHasCounters;
        }
        mask = FEventMask;
        const bool watchInput = (mask & kInputEvents) != 0;
        // Bytes left in the queue keep the device readable, so poll cannot tell of new ones:
        // the line is looked at first, which reports what came meanwhile at once; then the
        // wait sleeps until the interval or a read that takes bytes (the flag goes up before
        // that look, so such a read either shows in it or wakes the wait).
        bool queued = false;
        if (watchInput && last.InQueue > 0) {
            FWakeOnTake = true;
            if (const int err = look())
                return finish(err);
            if (Events)
                return finish(0);
            queued = last.InQueue > last.Held;
        }
        const bool atInterval = ((mask & kModemEvents) && (modem || counters))
                                || ((mask & (EV_ERR | EV_BREAK)) && counters)
                                || ((mask & EV_TXEMPTY) && FTxSent) || queued;
        FWakeOnTake = queued;
        short revents = 0;
        if (const int err = SleepForEvent(Stop, fd, static_cast<short>(watchInput && !queued ? POLLIN : 0),
                                          atInterval ? kLookIntervalMs : -1, revents)) {
            if (err == EINTR)
                continue;
            return finish(err);
        }
        if (revents & POLLNVAL)
            return finish(EBADF);
        const bool hangup = (revents & (POLLHUP | POLLERR)) != 0;
        if (const int err = look())
            return finish(err);
        if (Events)
            return finish(0);
        // A device that hung up and has nothing more to tell is gone.
        if (hangup)
            return finish(EIO);
    }
}

} // namespace zentrop
