// The serial device on POSIX systems: termios, ioctl and poll in place of the system calls
// the port engine is written against.
#pragma once

#include "cport/PosixPortDetails.h"
#include "cport/PosixRequestDevice.h"

#include <string>
#include <linux/serial.h>
#include <termios.h>

namespace zentrop {

// Sets the character size, parity, stop bits, handshakes and flow control characters of a
// terminal record as the line state asks; the speed and modem lines are set apart.
void TermiosFromDCB(const DCB& Dcb, termios& t);
// The modem output lines (TIOCM_ bits) the line state raises and lowers.
void ModemLinesFromDCB(const DCB& Dcb, int& Set, int& Clear);

class PosixComDevice : public PosixRequestDevice {
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

    int SetCommState(const DCB& Dcb) override;
    int PurgeComm(uint32_t Flags) override;
    int ClearCommError(uint32_t& Errors, COMSTAT& Stat) override;
    int GetCommModemStatus(uint32_t& Status) override;
    int EscapeCommFunction(uint32_t Function) override;
    int SetCommBreak(bool On) override;

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
    std::atomic<uint64_t> FRxTaken{0};
    std::atomic<bool> FWakeOnTake{false};   // the wait watches queued bytes at the interval
    bool FHasModemLines = false;
    bool FHasCounters = false;

    struct ErrorCounts {
        int frame = 0, parity = 0, overrun = 0, bufOverrun = 0, brk = 0;
    };

    int RunRead(Overlapped& Ovl, int Fd, bool DiscardNull, int& Transferred) override;
    // Takes up to Want received bytes, the inbox's first: their count, or the read's result
    // with Err set.
    ssize_t TakeInput(int Fd, char* Into, size_t Want, int& Err);
    int RunWrite(Overlapped& Ovl, int Fd, int& Transferred) override;
    // Waits for the device or the request's wake descriptor; tells whether the request
    // was cancelled meanwhile (or the device is closing).
    int WaitReady(Overlapped& Ovl, int Fd, short Events, const Nanos* Left, bool& Cancelled,
                  bool& Hangup);
    Nanos LineQuietAt() const override;
    int ApplyModemLines(int Fd, const DCB& Dcb);
    int ReadErrorCounts(int Fd, ErrorCounts& Counts) const;

    // With FMutex held.
    bool FIsPty = false;
    termios FSaved{};
    bool FRestoreLowLatency = false;
    int FSavedSerialFlags = 0;
    bool FRestoreClosingWait = false;
    unsigned short FSavedClosingWait = 0;
    ErrorCounts FLastCounts;
    // A tty cannot be peeked at: to tell when the event character arrives, the event wait
    // takes the received bytes from the driver into this inbox, and reads take from it
    // before the driver. Only while the event character is watched, and while NULs are
    // discarded: those go on the way in, so that the queue count is what a read will get.
    // Bounded, so that a port nobody reads still leaves the driver's flow control to stop
    // the other side.
    std::string FInbox;
    PortDetailsRoots FRoots;
};

} // namespace zentrop
