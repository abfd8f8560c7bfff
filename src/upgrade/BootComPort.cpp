// The upgrade port's line settings, the port as the upgrade run sees it, and the shared run.
#include "upgrade/BootComPort.h"

namespace zentrop {

namespace {

constexpr int kReadInterval = 10;
constexpr int kReadTotalMultiplier = 10;
constexpr int kReadTotalConstant = 500;

} // namespace

void ComPortLine::CheckInterrupted() const
{
    if (FInterrupted)
        throw EUpgradeInterrupted(QStringLiteral("The upgrade was interrupted."));
}

template <typename Request>
int ComPortLine::Guarded(Request request)
{
    CheckInterrupted();
    int result = 0;
    try {
        result = request();
    } catch (const EComPort&) {
        // A cancelled request fails; that failure is the interruption, not a port fault.
        CheckInterrupted();
        throw;
    }
    // A read that the interruption cut short must not read as a missing answer.
    CheckInterrupted();
    return result;
}

void ComPortLine::Open()
{
    Guarded([this] {
        FPort.Open();
        return 0;
    });
}

void ComPortLine::PurgeBuffers(bool input, bool output)
{
    Guarded([&] {
        FPort.PurgeBuffers(input, output);
        return 0;
    });
    if (FTap)
        FTap->Purged();
}

int ComPortLine::Write(const void* buffer, int count)
{
    const int written = Guarded([&] { return FPort.Write(buffer, count); });
    if (FTap)
        FTap->Written(static_cast<const uint8_t*>(buffer), written);
    return written;
}

int ComPortLine::Read(void* buffer, int count)
{
    const int got = Guarded([&] { return FPort.Read(buffer, count); });
    if (FTap)
        FTap->Received(static_cast<const uint8_t*>(buffer), count, got);
    return got;
}

int ComPortLine::InputWaiting()
{
    return Guarded([this] {
        try {
            return FPort.InputQueueCount();
        } catch (const EComPort&) {
            // Only a look: a device that went away is reported by the write or read that
            // follows, as that request's own error.
            return 0;
        }
    });
}

int ComPortLine::StrayBytes(int quietMs)
{
    // A read's time counts from when the line is quiet: one that returns at the first byte or
    // after quietMs with none, under the run's own time-outs again afterwards.
    TComTimeouts* timeouts = FPort.Timeouts();
    const int interval = timeouts->ReadInterval();
    const int multiplier = timeouts->ReadTotalMultiplier();
    const int constant = timeouts->ReadTotalConstant();
    timeouts->SetReadInterval(static_cast<int>(MAXDWORD));
    timeouts->SetReadTotalMultiplier(static_cast<int>(MAXDWORD));
    timeouts->SetReadTotalConstant(quietMs);
    const auto restore = [&] {
        timeouts->SetReadInterval(interval);
        timeouts->SetReadTotalMultiplier(multiplier);
        timeouts->SetReadTotalConstant(constant);
    };
    uint8_t b = 0;
    int got = 0;
    try {
        got = Read(&b, 1);
    } catch (...) {
        restore();
        throw;
    }
    restore();
    return got;
}

void ComPortLine::Interrupt()
{
    FInterrupted = true;
    try {
        FPort.CancelRequests();
    } catch (const Exception&) {
        // A closed port has nothing in progress to cancel.
    }
}

void SetUpgradeLineSettings(TCustomComPort& port, int baud)
{
    port.BeginUpdate();
    const TBaudRate rate = BaudRateOf(baud);
    if (rate == TBaudRate::brCustom)
        port.SetCustomBaudRate(baud);
    port.SetBaudRate(rate);
    port.SetDataBits(TDataBits::dbEight);
    port.Parity()->SetBits(TParityBits::prNone);
    port.SetStopBits(TStopBits::sbOneStopBit);
    TComFlowControl* flow = port.FlowControl();
    flow->SetOutCTSFlow(false);
    flow->SetOutDSRFlow(false);
    flow->SetControlDTR(TDTRFlowControl::dtrDisable);
    flow->SetControlRTS(TRTSFlowControl::rtsDisable);
    flow->SetXonXoffOut(false);
    flow->SetXonXoffIn(false);
    port.SetEvents(TComEvents());
    port.SetSyncMethod(TSyncMethod::smDisableEvents);
    TComTimeouts* timeouts = port.Timeouts();
    timeouts->SetReadInterval(kReadInterval);
    timeouts->SetReadTotalMultiplier(kReadTotalMultiplier);
    timeouts->SetReadTotalConstant(kReadTotalConstant);
    port.EndUpdate();
}

PortUpgrade::PortUpgrade(TCustomComPort& port, UpgradeObserver& observer, Bootloader::PauseFunction pause,
                           LineTap* tap)
    : FLine(port, tap), FBoot(FLine, observer, std::move(pause))
{
}

UpgradeResult PortUpgrade::Run(UpgradeMode mode, const PageList& flashPages, const PageList& eepromPages)
{
    return FBoot.WriteToDevice(mode, flashPages, eepromPages);
}

} // namespace zentrop
