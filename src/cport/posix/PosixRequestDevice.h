// What the local and the network device share: the requests that wait on a descriptor (their
// start, cancel and wake-up on close or purge), the time-outs and queue size the port set,
// and the event wait's state. Each device reads and writes its descriptor its own way.
#pragma once

#include "base/WakeUp.h"
#include "cport/ComDevice.h"
#include "PosixComEvents.h"
#include "TransferTimer.h"

#include <atomic>
#include <mutex>
#include <shared_mutex>
#include <vector>

namespace zentrop {

class PosixRequestDevice : public ComDevice {
public:
    bool IsOpen() const override;
    int SetCommTimeouts(const COMMTIMEOUTS& Timeouts) override;
    int SetupComm(int InputSize, int OutputSize) override;
    int ReadFile(char* Buffer, int Count, int& Transferred, Overlapped& Ovl) override;
    int WriteFile(const char* Buffer, int Count, int& Transferred, Overlapped& Ovl) override;
    int GetOverlappedResult(Overlapped& Ovl, int& Transferred) override;

protected:
    // Whether a line state asks for a character size, parity, stop bits and speed at all.
    static bool ValidLine(const DCB& Dcb);
    static void DrainWake(int Fd);
    // The calling thread's wake-up, on which its waiting request also polls.
    static const WakeUp& ThreadWake();

    // All with FMutex held.
    // The settings of a newly opened device: none the port made yet.
    void ResetRequests();
    // What every device keeps of a line state it took.
    void TakeLine(const DCB& Dcb);
    bool IsCancelled(const Overlapped& Ovl) const;
    void WakeWaiting(bool Reads, bool Writes);
    // Ends the waiting requests the purge flags abort.
    void AbortRequests(uint32_t Flags);
    // Wakes every waiting request and the event wait for a close.
    void StopRequests();

    // The event wait's sleep, until Stop, a wake of the wait, Fd (for Events) or TimeoutMs
    // (-1: none): ECANCELED once stopped, EINTR for a signal, errno for a failed poll, else
    // 0 with what Fd reported in Revents.
    int SleepForEvent(const StopEvent& Stop, int Fd, short Events, int TimeoutMs, short& Revents);

    // Held shared by every waiting request, exclusively by Close before the descriptor goes.
    std::shared_mutex FUse;
    mutable std::mutex FMutex;   // everything below
    int FFd = -1;
    bool FClosing = false;
    COMMTIMEOUTS FTimeouts;
    bool FDiscardNull = false;
    int FInputSize = 0;         // the input queue size the port asked for; 0 before it did
    char FEventChar = 0;
    uint64_t FReadGeneration = 0;
    uint64_t FWriteGeneration = 0;
    // The requests waiting now, each with the wake-up of the thread that waits.
    struct Waiter {
        Overlapped* Ovl;
        const WakeUp* Wake;
    };
    std::vector<Waiter> FWaiting;
    // A read's time-outs count from the moment the bytes written before it have left, as
    // they would if a write ended when its bytes were sent: the other side gets its full
    // time to answer at every speed.
    Nanos FCharacterNs = 0;
    Nanos FLineFreeNs = 0;      // when the bytes written so far will have left the line

    // The event wait.
    std::atomic<uint32_t> FEventMask{0};
    WakeUp FEventWake;                     // a new mask, a write or closing wakes the wait
    std::atomic<bool> FTxSent{false};       // bytes went out since the last empty queue
    LineLook FLastLook;                    // the wait's last look, kept between waits

private:
    int Start(Overlapped& Ovl, char* Buffer, int Count, bool IsWrite);
    // When the bytes written so far will have left the line (now at the earliest); with
    // FMutex held.
    virtual Nanos LineQuietAt() const = 0;
    // Carry out a started request on the descriptor Fd, with NULs discarded or not as the
    // line state was when it began waiting.
    virtual int RunRead(Overlapped& Ovl, int Fd, bool DiscardNull, int& Transferred) = 0;
    virtual int RunWrite(Overlapped& Ovl, int Fd, int& Transferred) = 0;
};

} // namespace zentrop
