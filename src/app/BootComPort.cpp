// The upgrade port's line settings.
#include "BootComPort.h"

namespace {

constexpr int kReadInterval = 10;
constexpr int kReadTotalMultiplier = 10;
constexpr int kReadTotalConstant = 500;

TBaudRate BaudRateOf(int baud)
{
    for (int i = static_cast<int>(TBaudRate::br110); i <= static_cast<int>(TBaudRate::br256000); ++i) {
        if (BaudRateValue(static_cast<TBaudRate>(i)) == baud)
            return static_cast<TBaudRate>(i);
    }
    return TBaudRate::brCustom;
}

} // namespace

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
