// The port's settings: the one path that stores a new settings value and applies what it
// changes, the property setters on it, the update bracket, and the apply operations that
// send the line state, time-outs and queue sizes to an open device.
#include "ComPort.h"

namespace {

// The value with one field replaced.
template <typename T>
PortSettings With(PortSettings Settings, T PortSettings::*Field, T Value)
{
    Settings.*Field = Value;
    return Settings;
}

// The line state record of a settings value.
DCB LineState(const PortSettings& S)
{
    DCB dcb;
    dcb.DCBlength = sizeof(DCB);
    dcb.BaudRate = static_cast<uint32_t>(S.BaudRate == TBaudRate::brCustom ? S.CustomBaudRate : BaudRateValue(S.BaudRate));
    dcb.ByteSize = static_cast<uint8_t>(5 + static_cast<int>(S.DataBits));
    dcb.Parity = static_cast<uint8_t>(S.Parity.Bits);
    dcb.StopBits = static_cast<uint8_t>(S.StopBits);
    dcb.XonLim = static_cast<uint16_t>(S.Buffer.InputSize / 4);
    dcb.XoffLim = dcb.XonLim;
    dcb.XonChar = S.FlowControl.XonChar;
    dcb.XoffChar = S.FlowControl.XoffChar;
    dcb.EvtChar = S.EventChar;
    const bool replace = S.Parity.Check && S.Parity.Replace;
    dcb.ErrorChar = replace ? S.Parity.ReplaceChar : char(0);

    uint32_t flags = DCB::fBinary;
    if (S.Parity.Check)
        flags |= DCB::fParity;
    if (S.FlowControl.OutCTSFlow)
        flags |= DCB::fOutxCtsFlow;
    if (S.FlowControl.OutDSRFlow)
        flags |= DCB::fOutxDsrFlow;
    static constexpr uint32_t kDtr[] = {0, DCB::fDtrControlEnable, DCB::fDtrControlHandshake};
    flags |= kDtr[static_cast<int>(S.FlowControl.ControlDTR)];
    if (S.FlowControl.DSRSensitivity)
        flags |= DCB::fDsrSensitivity;
    if (S.FlowControl.TxContinueOnXoff)
        flags |= DCB::fTXContinueOnXoff;
    if (S.FlowControl.XonXoffOut)
        flags |= DCB::fOutX;
    if (S.FlowControl.XonXoffIn)
        flags |= DCB::fInX;
    if (replace)
        flags |= DCB::fErrorChar;
    if (S.DiscardNull)
        flags |= DCB::fNull;
    static constexpr uint32_t kRts[] = {0, DCB::fRtsControlEnable, DCB::fRtsControlHandshake,
                                        DCB::fRtsControlToggle};
    flags |= kRts[static_cast<int>(S.FlowControl.ControlRTS)];
    dcb.Flags = flags;
    return dcb;
}

// The time-out record; -1 passes as 0xFFFFFFFF.
COMMTIMEOUTS TimeoutRecord(const TimeoutSettings& T)
{
    COMMTIMEOUTS t;
    t.ReadIntervalTimeout = static_cast<uint32_t>(T.ReadInterval);
    t.ReadTotalTimeoutMultiplier = static_cast<uint32_t>(T.ReadTotalMultiplier);
    t.ReadTotalTimeoutConstant = static_cast<uint32_t>(T.ReadTotalConstant);
    t.WriteTotalTimeoutMultiplier = static_cast<uint32_t>(T.WriteTotalMultiplier);
    t.WriteTotalTimeoutConstant = static_cast<uint32_t>(T.WriteTotalConstant);
    return t;
}

} // namespace

void TCustomComPort::SetSettings(const PortSettings& Value)
{
    StoreSettings(Value, ChangedParts(FSettings, Value));
}

void TCustomComPort::StoreSettings(const PortSettings& Value, SettingsParts Apply)
{
    // Stored first: a value the device refuses stays, as the caller's exception says.
    FSettings = Value;
    if (Apply.Contains(SettingsPart::Buffer))
        ApplyBufferSettings();
    if (Apply.Contains(SettingsPart::Line))
        ApplyLineSettings();
    if (Apply.Contains(SettingsPart::Timeouts))
        ApplyTimeoutSettings();
}

void TCustomComPort::SetBaudRate(TBaudRate Value) { SetSettings(With(FSettings, &PortSettings::BaudRate, Value)); }
void TCustomComPort::SetCustomBaudRate(int Value) { SetSettings(With(FSettings, &PortSettings::CustomBaudRate, Value)); }
void TCustomComPort::SetStopBits(TStopBits Value) { SetSettings(With(FSettings, &PortSettings::StopBits, Value)); }
void TCustomComPort::SetDataBits(TDataBits Value) { SetSettings(With(FSettings, &PortSettings::DataBits, Value)); }
void TCustomComPort::SetDiscardNull(bool Value) { SetSettings(With(FSettings, &PortSettings::DiscardNull, Value)); }
void TCustomComPort::SetEventChar(char Value) { SetSettings(With(FSettings, &PortSettings::EventChar, Value)); }

void TCustomComPort::SetPort(const QString& Value)
{
    if (FPort == Value)
        return;
    FPort = Value;
    if (FConnected && !FDesigning && !FLoading) {
        Close();
        Open();
    }
}

void TCustomComPort::SetSyncMethod(TSyncMethod Value)
{
    if (FSyncMethod == Value)
        return;
    if (FConnected && !FDesigning && !FLoading)
        throw EComPort(FPort, ComErr::ConnChangeProp);
    FSyncMethod = Value;
}

void TCustomComPort::SetParity(const TComParity* Value)
{
    FParity->Assign(Value);
    ApplyLineSettings();
}

void TCustomComPort::SetFlowControl(const TComFlowControl* Value)
{
    FFlowControl->Assign(Value);
    ApplyLineSettings();
}

void TCustomComPort::SetTimeouts(const TComTimeouts* Value)
{
    FTimeouts->Assign(Value);
    ApplyTimeoutSettings();
}

void TCustomComPort::SetBuffer(const TComBuffer* Value)
{
    FBuffer->Assign(Value);
    ApplyBufferSettings();
}

void TCustomComPort::BeginUpdate()
{
    ++FUpdateDepth;
}

void TCustomComPort::EndUpdate()
{
    if (FUpdateDepth <= 0)
        return;
    if (--FUpdateDepth == 0)
        ApplyAllSettings();
}

bool TCustomComPort::CanApply() const
{
    return FConnected && FUpdateDepth == 0 && !FDesigning && !FLoading;
}

void TCustomComPort::ApplyAllSettings()
{
    ApplyBufferSettings();
    ApplyLineSettings();
    ApplyTimeoutSettings();
}

void TCustomComPort::ApplyLineSettings()
{
    if (!CanApply())
        return;
    if (const int err = FDevice->SetCommState(LineState(FSettings)))
        RaiseDevice(ComErr::SetStateFailed, err);
}

void TCustomComPort::ApplyTimeoutSettings()
{
    if (!CanApply())
        return;
    if (const int err = FDevice->SetCommTimeouts(TimeoutRecord(FSettings.Timeouts)))
        RaiseDevice(ComErr::SetTimeoutsFailed, err);
}

void TCustomComPort::ApplyBufferSettings()
{
    if (!CanApply())
        return;
    if (const int err = FDevice->SetupComm(FSettings.Buffer.InputSize, FSettings.Buffer.OutputSize))
        RaiseDevice(ComErr::SetupCommFailed, err);
}
