// The device interface of the port engine: the records and operations of the serial calls
// the port is written against, which each platform's device turns into its own calls.
#pragma once

#include "base/WakeUp.h"

#include <QString>
#include <cerrno>
#include <cstdint>
#include <functional>
#include <memory>

namespace zentrop {

// Line state of a device, with the system's field layout.
struct DCB {
    // Bits of Flags.
    enum : uint32_t {
        fBinary = 0x0001,
        fParity = 0x0002,
        fOutxCtsFlow = 0x0004,
        fOutxDsrFlow = 0x0008,
        fDtrControlEnable = 0x0010,
        fDtrControlHandshake = 0x0020,
        fDtrControlMask = 0x0030,
        fDsrSensitivity = 0x0040,
        fTXContinueOnXoff = 0x0080,
        fOutX = 0x0100,
        fInX = 0x0200,
        fErrorChar = 0x0400,
        fNull = 0x0800,
        fRtsControlEnable = 0x1000,
        fRtsControlHandshake = 0x2000,
        fRtsControlToggle = 0x3000,
        fRtsControlMask = 0x3000,
        fAbortOnError = 0x4000,
    };
    // Values of Parity and StopBits.
    enum : uint8_t { NOPARITY, ODDPARITY, EVENPARITY, MARKPARITY, SPACEPARITY };
    enum : uint8_t { ONESTOPBIT, ONE5STOPBITS, TWOSTOPBITS };

    uint32_t DCBlength = 0;
    uint32_t BaudRate = 0;
    uint32_t Flags = 0;
    uint16_t wReserved = 0;
    uint16_t XonLim = 0;
    uint16_t XoffLim = 0;
    uint8_t ByteSize = 0;
    uint8_t Parity = 0;
    uint8_t StopBits = 0;
    char XonChar = 0;
    char XoffChar = 0;
    char ErrorChar = 0;
    char EofChar = 0;
    char EvtChar = 0;
    uint16_t wReserved1 = 0;

    bool operator==(const DCB&) const = default;
};
static_assert(sizeof(DCB) == 28);

// Time-outs in milliseconds; 0xFFFFFFFF (MAXDWORD) in ReadIntervalTimeout has its own meaning.
struct COMMTIMEOUTS {
    uint32_t ReadIntervalTimeout = 0;
    uint32_t ReadTotalTimeoutMultiplier = 0;
    uint32_t ReadTotalTimeoutConstant = 0;
    uint32_t WriteTotalTimeoutMultiplier = 0;
    uint32_t WriteTotalTimeoutConstant = 0;

    bool operator==(const COMMTIMEOUTS&) const = default;
};

inline constexpr uint32_t MAXDWORD = 0xFFFFFFFF;

// Queue state reported with the line errors.
struct COMSTAT {
    uint32_t cbInQue = 0;
    uint32_t cbOutQue = 0;
};

// Flags of PurgeComm: the abort flags end pending requests, the clear flags empty queues.
enum : uint32_t {
    PURGE_TXABORT = 0x0001,
    PURGE_RXABORT = 0x0002,
    PURGE_TXCLEAR = 0x0004,
    PURGE_RXCLEAR = 0x0008,
};

// Line error flags of ClearCommError.
enum : uint32_t {
    CE_RXOVER = 0x0001,
    CE_OVERRUN = 0x0002,
    CE_RXPARITY = 0x0004,
    CE_FRAME = 0x0008,
    CE_BREAK = 0x0010,
    CE_TXFULL = 0x0100,
    CE_IOE = 0x0400,
    CE_MODE = 0x8000,
};

// Modem input signals of GetCommModemStatus.
enum : uint32_t {
    MS_CTS_ON = 0x0010,
    MS_DSR_ON = 0x0020,
    MS_RING_ON = 0x0040,
    MS_RLSD_ON = 0x0080,
};

// Modem output lines driven by EscapeCommFunction.
enum : uint32_t {
    SETRTS = 3,
    CLRRTS = 4,
    SETDTR = 5,
    CLRDTR = 6,
};

// The device's record of one request, kept by the caller from start to completion. While
// the request is waited for it names the waiting thread's wake descriptor, through which a
// cancel reaches it at once.
class Overlapped {
public:
    Overlapped() = default;
    Overlapped(const Overlapped&) = delete;
    Overlapped& operator=(const Overlapped&) = delete;

    int hEvent = -1;            // the waiter's wake descriptor; -1 while nobody waits

    // The transfer a device started and has not yet completed.
    bool Pending = false;
    bool IsWrite = false;
    char* Buffer = nullptr;
    int Count = 0;
    int64_t StartNs = 0;        // monotonic start time
    uint64_t Generation = 0;    // the device's cancel generation at the start
    COMMTIMEOUTS Timeouts;      // the time-outs in force at the start
};

// A manual-reset event through which one thread ends another's wait for device events:
// once set, every wait on it ends at once.
class StopEvent {
public:
    // False when the system could not make one; a wait on it then ends at once.
    bool Valid() const { return FWake.Valid(); }
    void Set() { FWake.Signal(); }
    bool IsSet() const { return FWake.IsSet(); }
    // What a device waits on besides itself.
    int Handle() const { return FWake.Fd(); }

private:
    WakeUp FWake;   // never drained: once set, every wait ends
};

// How a line whose RTS is raised while sending (rtsToggle) is driven: not at all (no such
// line state), by the driver's RS-485 mode, or by the port raising RTS around each write.
enum class RS485Mode { Off, Driver, Port };

// Every operation returns 0 or the system's error code (errno).
class ComDevice {
public:
    virtual ~ComDevice() = default;

    // The system's name of the device a port name stands for (shown in debug texts).
    virtual QString DeviceName(const QString& Port) const = 0;
    // Opens the device for exclusive use; on failure nothing stays open.
    virtual int Open(const QString& Port) = 0;
    // Ends pending requests and closes; does nothing when closed.
    virtual void Close() = 0;
    virtual bool IsOpen() const = 0;

    virtual int SetCommState(const DCB& Dcb) = 0;
    virtual int SetCommTimeouts(const COMMTIMEOUTS& Timeouts) = 0;
    virtual int SetupComm(int InputSize, int OutputSize) = 0;
    virtual int PurgeComm(uint32_t Flags) = 0;
    // Takes the line errors that occurred since the last call, and the queue sizes.
    virtual int ClearCommError(uint32_t& Errors, COMSTAT& Stat) = 0;
    virtual int GetCommModemStatus(uint32_t& Status) = 0;
    // Raises or lowers a modem output line (SETDTR, CLRDTR, SETRTS, CLRRTS). Unlike the line
    // state, a device that has no such lines fails it: the caller asked for a line change.
    virtual int EscapeCommFunction(uint32_t Function) = 0;
    // Holds the line in the break state (On) or ends it. A device with no line to hold, such
    // as one a test records, says so with ENOTSUP.
    virtual int SetCommBreak(bool On)
    {
        (void)On;
        return ENOTSUP;
    }

    // The pauses between raising RTS and the first bit sent, and between the last bit and
    // lowering RTS, while RTS is raised for sending (ms); taken by the next line state.
    virtual int SetRS485Delays(int BeforeMs, int AfterMs)
    {
        (void)BeforeMs;
        (void)AfterMs;
        return 0;
    }
    // How the line state in force drives RTS while sending.
    virtual RS485Mode GetRS485Mode() const { return RS485Mode::Off; }

    // Start a transfer under the time-outs in force; Transferred is what completed at once.
    // The buffer must stay valid until GetOverlappedResult returns.
    virtual int ReadFile(char* Buffer, int Count, int& Transferred, Overlapped& Ovl) = 0;
    virtual int WriteFile(const char* Buffer, int Count, int& Transferred, Overlapped& Ovl) = 0;
    // Waits until the request completes and gives the bytes it transferred; a request
    // that was never started completes at once with 0 bytes.
    virtual int GetOverlappedResult(Overlapped& Ovl, int& Transferred) = 0;

    // The events (EV_ bits) the next waits report; 0 ends a wait in progress with none.
    virtual int SetCommMask(uint32_t Mask) = 0;
    // Waits until an event of the mask occurs and gives the events that did. A set Stop
    // ends the wait with ECANCELED; a device that went away fails it. Runs on its own
    // thread beside the port's reads and writes.
    virtual int WaitCommEvent(uint32_t& Events, const StopEvent& Stop) = 0;
};

// The error says that the device went away (unplugged, the other end of a pseudo-terminal
// closed, a network server that reset or dropped the connection): nothing more can be done
// with this opening of it.
bool DeviceGone(int Error);

// Devices the ports create; the system's serial devices unless a test installs its own.
using ComDeviceFactory = std::function<std::unique_ptr<ComDevice>()>;
std::unique_ptr<ComDevice> CreateComDevice();
// Installs a factory (an empty one restores the system's) and returns the one it replaces.
ComDeviceFactory SetComDeviceFactory(ComDeviceFactory Factory);

} // namespace zentrop
