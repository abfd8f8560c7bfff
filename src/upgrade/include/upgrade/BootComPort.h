// The upgrade run on the port engine: the port as the run sees it, the line settings of the
// upgrade port, and the one run path that the main window and the command line share.
#pragma once

#include "upgrade/Bootloader.h"
#include "cport/ComPort.h"

#include <atomic>

namespace zentrop {

// A run that was told to stop before it ended.
class EUpgradeInterrupted : public Exception {
public:
    using Exception::Exception;
};

// Hears what goes over the line during a run, for a byte trace and for telling a silent
// device from one that answered wrongly. Called on the run's thread, after each request.
class LineTap {
public:
    virtual ~LineTap() = default;
    virtual void Written(const uint8_t* bytes, int count) = 0;
    // The bytes of a read: got of the requested count arrived (0 when none in the time-out).
    virtual void Received(const uint8_t* bytes, int requested, int got) = 0;
    virtual void Purged() = 0;
};

class ComPortLine : public BootPort {
public:
    explicit ComPortLine(TCustomComPort& port, LineTap* tap = nullptr) : FPort(port), FTap(tap) {}

    bool Connected() const override { return FPort.Connected(); }
    void Open() override;
    void PurgeBuffers(bool input, bool output) override;
    int Write(const void* buffer, int count) override;
    int Read(void* buffer, int count) override;
    int InputWaiting() override;
    int StrayBytes(int quietMs) override;

    // Ends the run soon; safe from any thread. A read or write in progress is cancelled, and
    // every request after it raises EUpgradeInterrupted instead of reaching the device.
    void Interrupt();
    bool Interrupted() const { return FInterrupted; }

private:
    void CheckInterrupted() const;
    // Runs a request; once interrupted, its failure or its result counts as the interruption.
    template <typename Request>
    int Guarded(Request request);

    TCustomComPort& FPort;
    LineTap* FTap;
    std::atomic<bool> FInterrupted{false};
};

// The upgrade port's design values: 8 data bits, no parity, one stop bit, no flow control,
// no events (so no event thread takes the device's answers) and read time-outs of 10 ms per
// byte plus 500 ms. The rate is given in bits per second; one without a member of its own
// becomes a custom rate. Call it while the port is closed.
void SetUpgradeLineSettings(TCustomComPort& port, int baud = 115200);

// One "Do Upgrade" over a port of the engine: the bootloader's run, which Interrupt can stop
// from another thread. Port errors propagate; EUpgradeInterrupted ends a run that Interrupt
// stopped.
class PortUpgrade {
public:
    PortUpgrade(TCustomComPort& port, UpgradeObserver& observer, Bootloader::PauseFunction pause = {},
                 LineTap* tap = nullptr);

    UpgradeResult Run(UpgradeMode mode, const PageList& flashPages, const PageList& eepromPages);
    void SetWakeRetries(int retries) { FBoot.SetWakeRetries(retries); }
    // Safe from any thread, also before Run and after it.
    void Interrupt() { FLine.Interrupt(); }

private:
    ComPortLine FLine;
    Bootloader FBoot;
};

} // namespace zentrop
