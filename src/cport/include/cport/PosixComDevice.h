// The serial device on POSIX systems: termios, ioctl and poll in place of the system calls
// the port engine is written against.
#pragma once

#include "cport/ComDevice.h"
#include "cport/PosixComEvents.h"
#include "cport/PosixPortDetails.h"
#include "cport/TransferTimer.h"

#include <atomic>
#include <mutex>
#include <shared_mutex>
#include <string>
#include <linux/serial.h>
#include <termios.h>
#include <vector>

namespace zentrop {

// Sets the character size, parity, stop bits, handshakes and flow control characters of a
// terminal record as the line state asks; the speed and modem lines are set apart.
void TermiosFromDCB(const DCB& Dcb, termios& t);
// The modem output lines (TIOCM_ bits) the line state raises and lowers.
void ModemLinesFromDCB(const DCB& Dcb, int& Set, int& Clear);

class PosixComDevice : public ComDevice {
public:
    // Roots: where the console and the login programs are looked up; tests give trees of
    // their own.
    explicit PosixComDevice(PortDetailsRoots Roots = {}) : FRoots(std::move(Roots)) {}
    ~PosixComDevice() override;

    // "/..." is a path as given, "COMn" is /dev/ttyS(n-1), any other name is under /dev/.
    static QString DevicePath(const QString& Port);

    QString DeviceName(const QString& Port) const override { return DevicePath(Port); }
    int Open(const QString& Port) override;
    void Close() override;
    bool IsOpen() const override;

    int SetCommState(const DCB& Dcb) override;
    int SetCommTimeouts(const COMMTIMEOUTS& Timeouts) override;
    int SetupComm(int InputSize, int OutputSize) override;
    int PurgeComm(uint32_t Flags) override;
    int ClearCommError(uint32_t& Errors, COMSTAT& Stat) override;
    int GetCommModemStatus(uint32_t& Status) override;
    int EscapeCommFunction(uint32_t Function) override;
    int SetCommBreak(bool On) override;

    int ReadFile(char* Buffer, int Count, int& Transferred, Overlapped& Ovl) override;
    int WriteFile(const char* Buffer, int Count, int& Transferred, Overlapped& Ovl) override;
    int GetOverlappedResult(Overlapped& Ovl, int& Transferred) override;

    int SetCommMask(uint32_t Mask) override;
    int WaitCommEvent(uint32_t& Events, const StopEvent& Stop) override;

protected:
    // What the driver reports back: the settings it took, and its line error counters (0 or
    // errno; Supported false for a driver without counters). Tests play a driver that keeps
    // other settings than it was given, or counts errors, through them; a pseudo-terminal
    // does neither.
    virtual int ReadTermios(int Fd, termios& T) const;
    virtual int ReadErrorCounters(int Fd, serial_icounter_struct& Counters, bool& Supported) const;

private:
    // ---- the event wait (PosixComEvents.cpp)
    // Both with FMutex held.
    int LookAtLine(int Fd, uint32_t Mask, bool Modem, bool Counters, LineLook& Look);
    bool PullInput(int Fd);
    // Reads and purges tell the wait what they took, writes what they sent.
    void NoteTaken(uint64_t Count);
    void NoteSent();
    std::atomic<uint32_t> FEventMask{0};
    WakeFd FEventWake;                     // a new mask, a write or closing wakes the wait
    std::atomic<uint64_t> FRxTaken{0};
    std::atomic<bool> FTxSent{false};       // bytes went out since the last empty queue
    std::atomic<bool> FWakeOnTake{false};   // the wait watches queued bytes at the interval
    bool FHasModemLines = false;
    bool FHasCounters = false;
    LineLook FLastLook;                    // the wait's last look, kept between waits

    struct ErrorCounts {
        int frame = 0, parity = 0, overrun = 0, bufOverrun = 0, brk = 0;
    };

    int Start(Overlapped& Ovl, char* Buffer, int Count, bool IsWrite);
    int RunRead(Overlapped& Ovl, int Fd, bool DiscardNull, int& Transferred);
    // Takes up to Want received bytes, the inbox's first: their count, or the read's result
    // with Err set.
    ssize_t TakeInput(int Fd, char* Into, size_t Want, int& Err);
    int RunWrite(Overlapped& Ovl, int Fd, int& Transferred);
    // Waits for the device or the request's wake descriptor; tells whether the request
    // was cancelled meanwhile (or the device is closing).
    int WaitReady(Overlapped& Ovl, int Fd, short Events, const Nanos* Left, bool& Cancelled,
                  bool& Hangup);
    bool IsCancelled(const Overlapped& Ovl) const;
    // When the bytes written so far will have left the line (now at the earliest).
    Nanos LineQuietAt() const;
    void WakeWaiting(bool Reads, bool Writes);
    int ApplyModemLines(int Fd, const DCB& Dcb);
    int ReadErrorCounts(int Fd, ErrorCounts& Counts) const;

    // Held shared by every waiting request, exclusively by Close before the descriptor goes.
    std::shared_mutex FUse;
    mutable std::mutex FMutex;   // everything below
    int FFd = -1;
    bool FClosing = false;
    bool FIsPty = false;
    termios FSaved{};
    bool FRestoreLowLatency = false;
    int FSavedSerialFlags = 0;
    bool FRestoreClosingWait = false;
    unsigned short FSavedClosingWait = 0;
    COMMTIMEOUTS FTimeouts;
    bool FDiscardNull = false;
    int FInputSize = 0;         // the input queue size the port asked for; 0 before it did
    uint64_t FReadGeneration = 0;
    uint64_t FWriteGeneration = 0;
    std::vector<Overlapped*> FWaiting;
    ErrorCounts FLastCounts;
    // A tty cannot be peeked at: to tell when the event character arrives, the event wait
    // takes the received bytes from the driver into this inbox, and reads take from it
    // before the driver. Only while the event character is watched, and while NULs are
    // discarded: those go on the way in, so that the queue count is what a read will get.
    // Bounded, so that a port nobody reads still leaves the driver's flow control to stop
    // the other side.
    char FEventChar = 0;
    std::string FInbox;
    // The kernel takes written bytes at once and sends them later at the line's pace. A
    // read's time-outs count from the moment the bytes written before it have left, as
    // they would if a write ended when its bytes were sent: the other side gets its full
    // time to answer at every speed.
    Nanos FCharacterNs = 0;
    Nanos FLineFreeNs = 0;      // when the bytes written so far will have left the line
    PortDetailsRoots FRoots;
};

} // namespace zentrop
