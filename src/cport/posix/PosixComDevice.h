// The serial device on POSIX systems: termios, ioctl and poll in place of the system calls
// the port engine is written against.
#pragma once

#include "cport/PortDetails.h"
#include "PosixRequestDevice.h"

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

    // The device a port name opens (PortDevicePath).
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
    int SetRS485Delays(int BeforeMs, int AfterMs) override;
    RS485Mode GetRS485Mode() const override;

    int SetCommMask(uint32_t Mask) override;
    int WaitCommEvent(uint32_t& Events, const StopEvent& Stop) override;

protected:
    // What the driver reports back: the settings it took, and its line error counters (0 or
    // errno; Supported false for a driver without counters). Tests play a driver that keeps
    // other settings than it was given, or counts errors, through them; a pseudo-terminal
    // does neither.
    virtual int ReadTermios(int Fd, termios& T) const;
    virtual int ReadErrorCounters(int Fd, serial_icounter_struct& Counters, bool& Supported) const;
    // The driver calls of RS-485 and of RTS around a write (TIOCGRS485, TIOCSRS485, TIOCMBIS,
    // TIOCMBIC, TIOCOUTQ, TIOCSERGETLSR): 0 or errno. Tests play a driver with or without
    // RS-485 through it and see the calls in order.
    virtual int SerialIoctl(int Fd, unsigned long Request, void* Arg) const;

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
    int SendBytes(Overlapped& Ovl, int Fd, int& Transferred);
    // Waits for the device or the request's wake descriptor; tells whether the request
    // was cancelled meanwhile (or the device is closing).
    int WaitReady(Overlapped& Ovl, int Fd, short Events, const Nanos* Left, bool& Cancelled,
                  bool& Hangup);
    Nanos LineQuietAt() const override;
    int ApplyModemLines(int Fd, const DCB& Dcb);
    // ---- RS-485 (rtsToggle): the driver's mode where it has one, else RTS raised by the
    // writes themselves. Both with FMutex held.
    int ApplyRS485(int Fd, bool On);
    void RestoreRS485(int Fd);
    // Raises or lowers RTS for a write in the port's own RS-485 mode.
    void DriveSendRts(int Fd, bool On);
    // Waits until the bytes written have left the line, within Deadline; a cancel of the
    // request or a hang-up ends the wait at once.
    void WaitSent(Overlapped& Ovl, int Fd, Nanos Deadline);
    int ReadErrorCounts(int Fd, ErrorCounts& Counts) const;

    // With FMutex held.
    bool FIsPty = false;
    termios FSaved{};
    bool FRestoreLowLatency = false;
    int FSavedSerialFlags = 0;
    bool FRestoreClosingWait = false;
    unsigned short FSavedClosingWait = 0;
    ErrorCounts FLastCounts;
    RS485Mode FRS485 = RS485Mode::Off;
    int FRS485Before = 0;       // ms
    int FRS485After = 0;
    bool FRS485Saved = false;   // FSavedRS485 holds the driver's own settings, put back on close
    serial_rs485 FSavedRS485{};
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
