// The requests of a POSIX device: each waits on its thread's wake-up, so that a purge or a
// close ends it at once, and counts its time-outs from when the line is quiet.
#include "PosixRequestDevice.h"

#include <algorithm>
#include <cerrno>
#include <poll.h>
#include <unistd.h>

namespace zentrop {

bool PosixRequestDevice::ValidLine(const DCB& Dcb)
{
    return Dcb.ByteSize >= 5 && Dcb.ByteSize <= 8 && Dcb.Parity <= DCB::SPACEPARITY
           && Dcb.StopBits <= DCB::TWOSTOPBITS && Dcb.BaudRate != 0 && Dcb.BaudRate <= 0x7FFFFFFF;
}

void PosixRequestDevice::DrainWake(int Fd)
{
    uint64_t value = 0;
    while (::read(Fd, &value, sizeof value) < 0 && errno == EINTR) {
    }
}

const WakeUp& PosixRequestDevice::ThreadWake()
{
    // A thread waits for one request at a time, so one wake-up per thread serves all its
    // requests on every device: none is made or closed per transfer. A wake that comes after
    // its request ended is found by the thread's next wait, which drains it and goes on.
    static thread_local const WakeUp wake;
    return wake;
}

void PosixRequestDevice::ResetRequests()
{
    FTimeouts = COMMTIMEOUTS{};
    FDiscardNull = false;
    FInputSize = 0;
    FEventChar = 0;
    FCharacterNs = 0;
    FLineFreeNs = 0;
    FEventMask = 0;
    FTxSent = false;
}

void PosixRequestDevice::TakeLine(const DCB& Dcb)
{
    FDiscardNull = (Dcb.Flags & DCB::fNull) != 0;
    FEventChar = Dcb.EvtChar;
    FCharacterNs = CharacterTime(Dcb);
}

bool PosixRequestDevice::IsOpen() const
{
    std::lock_guard lock(FMutex);
    return FFd >= 0;
}

int PosixRequestDevice::SetCommTimeouts(const COMMTIMEOUTS& Timeouts)
{
    std::lock_guard lock(FMutex);
    if (FFd < 0 || FClosing)
        return EBADF;
    FTimeouts = Timeouts;
    return 0;
}

int PosixRequestDevice::SetupComm(int InputSize, int)
{
    // The queues are the kernel's or the server's; the input size the port asked for only
    // sets when the queue counts as 80 % full.
    std::lock_guard lock(FMutex);
    if (FFd < 0 || FClosing)
        return EBADF;
    FInputSize = InputSize;
    return 0;
}

int PosixRequestDevice::ReadFile(char* Buffer, int Count, int& Transferred, Overlapped& Ovl)
{
    Transferred = 0;
    return Start(Ovl, Buffer, Count, false);
}

int PosixRequestDevice::WriteFile(const char* Buffer, int Count, int& Transferred, Overlapped& Ovl)
{
    Transferred = 0;
    // The buffer is only read from; the record keeps one pointer type for both directions.
    return Start(Ovl, const_cast<char*>(Buffer), Count, true);
}

int PosixRequestDevice::Start(Overlapped& Ovl, char* Buffer, int Count, bool IsWrite)
{
    if (Count < 0 || (Count > 0 && !Buffer))
        return EINVAL;
    if (Ovl.Pending)
        return EBUSY;
    std::lock_guard lock(FMutex);
    if (FFd < 0 || FClosing)
        return EBADF;
    Ovl.IsWrite = IsWrite;
    Ovl.Buffer = Buffer;
    Ovl.Count = Count;
    Ovl.Timeouts = FTimeouts;
    Ovl.Generation = IsWrite ? FWriteGeneration : FReadGeneration;
    Ovl.StartNs = IsWrite ? MonotonicNow() : LineQuietAt();
    Ovl.Pending = true;
    return 0;
}

bool PosixRequestDevice::IsCancelled(const Overlapped& Ovl) const
{
    return FClosing || FFd < 0
           || Ovl.Generation != (Ovl.IsWrite ? FWriteGeneration : FReadGeneration);
}

void PosixRequestDevice::WakeWaiting(bool Reads, bool Writes)
{
    for (const Waiter& waiter : FWaiting)
        if (waiter.Ovl->IsWrite ? Writes : Reads)
            waiter.Wake->Signal();
}

void PosixRequestDevice::AbortRequests(uint32_t Flags)
{
    if (Flags & PURGE_RXABORT)
        ++FReadGeneration;
    if (Flags & PURGE_TXABORT)
        ++FWriteGeneration;
    WakeWaiting(Flags & PURGE_RXABORT, Flags & PURGE_TXABORT);
}

void PosixRequestDevice::StopRequests()
{
    FClosing = true;
    ++FReadGeneration;
    ++FWriteGeneration;
    WakeWaiting(true, true);
    FEventWake.Signal();
}

int PosixRequestDevice::SleepForEvent(const StopEvent& Stop, int Fd, short Events, int TimeoutMs,
                                       short& Revents)
{
    pollfd fds[3] = {{Stop.Handle(), POLLIN, 0}, {FEventWake.Fd(), POLLIN, 0}, {Fd, Events, 0}};
    if (::poll(fds, 3, TimeoutMs) < 0)
        return errno;
    if (fds[0].revents)
        return ECANCELED;
    if (fds[1].revents)
        FEventWake.Drain();
    Revents = fds[2].revents;
    return 0;
}

int PosixRequestDevice::GetOverlappedResult(Overlapped& Ovl, int& Transferred)
{
    Transferred = 0;
    if (!Ovl.Pending)
        return 0;
    Ovl.Pending = false;

    const WakeUp& wake = ThreadWake();
    if (!wake.Valid())
        return EMFILE;
    std::shared_lock use(FUse);
    int fd = -1;
    bool discardNull = false;
    {
        std::lock_guard lock(FMutex);
        if (IsCancelled(Ovl))
            return ECANCELED;
        Ovl.hEvent = wake.Fd();
        FWaiting.push_back({&Ovl, &wake});
        fd = FFd;
        discardNull = FDiscardNull;
    }
    const int err = Ovl.IsWrite ? RunWrite(Ovl, fd, Transferred)
                                : RunRead(Ovl, fd, discardNull, Transferred);
    std::lock_guard lock(FMutex);
    FWaiting.erase(std::find_if(FWaiting.begin(), FWaiting.end(), [&](const Waiter& w) { return w.Ovl == &Ovl; }));
    Ovl.hEvent = -1;
    // A write that returned counts as sent; its bytes leave at the line's pace.
    if (Ovl.IsWrite && Transferred > 0)
        FLineFreeNs = std::max(FLineFreeNs, Ovl.StartNs) + Nanos(Transferred) * FCharacterNs;
    return err;
}

} // namespace zentrop
