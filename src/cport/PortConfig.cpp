// The port's settings: the one path that stores a new settings value and applies what it
// changes, the property setters on it, the update bracket, and the apply operations that
// send the line state, time-outs and queue sizes to an open device.
#include "PortPrivate.h"

namespace zentrop {

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

const PortSettings& TCustomComPort::Settings() const { return d->Settings; }
QString TCustomComPort::Port() const { return d->Port; }
TComEvents TCustomComPort::Events() const { return d->Events; }
void TCustomComPort::SetEvents(TComEvents Value) { d->Events = Value; }
TSyncMethod TCustomComPort::SyncMethod() const { return d->SyncMethod; }
bool TCustomComPort::AnnounceRxCount() const { return d->AnnounceRxCount; }
void TCustomComPort::SetAnnounceRxCount(bool Value) { d->AnnounceRxCount = Value; }
QThread::Priority TCustomComPort::ThreadPriority() const { return d->ThreadPriority; }
void TCustomComPort::SetThreadPriority(QThread::Priority Value) { d->ThreadPriority = Value; }
TStoredGroups TCustomComPort::StoredGroups() const { return d->StoredGroups; }
void TCustomComPort::SetStoredGroups(TStoredGroups Value) { d->StoredGroups = Value; }
TComParity* TCustomComPort::Parity() const { return d->Parity.get(); }
TComFlowControl* TCustomComPort::FlowControl() const { return d->FlowControl.get(); }
TComTimeouts* TCustomComPort::Timeouts() const { return d->Timeouts.get(); }
TComBuffer* TCustomComPort::Buffer() const { return d->Buffer.get(); }
int TCustomComPort::UpdateDepth() const { return d->UpdateDepth; }

void TCustomComPort::SetSettings(const PortSettings& Value)
{
    StoreSettings(Value, ChangedParts(d->Settings, Value));
}

void TCustomComPort::StoreSettings(const PortSettings& Value, SettingsParts Apply)
{
    // Stored first: a value the device refuses stays, as the caller's exception says.
    d->Settings = Value;
    if (Apply.Contains(SettingsPart::Buffer))
        ApplyBufferSettings();
    if (Apply.Contains(SettingsPart::Line))
        ApplyLineSettings();
    if (Apply.Contains(SettingsPart::Timeouts))
        ApplyTimeoutSettings();
}

void TCustomComPort::SetBaudRate(TBaudRate Value) { SetSettings(With(d->Settings, &PortSettings::BaudRate, Value)); }
void TCustomComPort::SetCustomBaudRate(int Value) { SetSettings(With(d->Settings, &PortSettings::CustomBaudRate, Value)); }
void TCustomComPort::SetStopBits(TStopBits Value) { SetSettings(With(d->Settings, &PortSettings::StopBits, Value)); }
void TCustomComPort::SetDataBits(TDataBits Value) { SetSettings(With(d->Settings, &PortSettings::DataBits, Value)); }
void TCustomComPort::SetDiscardNull(bool Value) { SetSettings(With(d->Settings, &PortSettings::DiscardNull, Value)); }
void TCustomComPort::SetEventChar(char Value) { SetSettings(With(d->Settings, &PortSettings::EventChar, Value)); }

void TCustomComPort::SetPort(const QString& Value)
{
    if (d->Port == Value)
        return;
    d->Port = Value;
    if (d->Connected && !d->Designing && !d->Loading) {
        Close();
        Open();
    }
}

void TCustomComPort::SetSyncMethod(TSyncMethod Value)
{
    if (d->SyncMethod == Value)
        return;
    if (d->Connected && !d->Designing && !d->Loading)
        throw EComPort(d->Port, ComErr::ConnChangeProp);
    d->SyncMethod = Value;
}

void TCustomComPort::SetParity(const TComParity* Value)
{
    d->Parity->Assign(Value);
    ApplyLineSettings();
}

void TCustomComPort::SetFlowControl(const TComFlowControl* Value)
{
    d->FlowControl->Assign(Value);
    ApplyLineSettings();
}

void TCustomComPort::SetTimeouts(const TComTimeouts* Value)
{
    d->Timeouts->Assign(Value);
    ApplyTimeoutSettings();
}

void TCustomComPort::SetBuffer(const TComBuffer* Value)
{
    d->Buffer->Assign(Value);
    ApplyBufferSettings();
}

void TCustomComPort::BeginUpdate()
{
    ++d->UpdateDepth;
}

void TCustomComPort::EndUpdate()
{
    if (d->UpdateDepth <= 0)
        return;
    if (--d->UpdateDepth == 0)
        ApplyAllSettings();
}

bool TCustomComPort::Private::CanApply() const
{
    return Connected && UpdateDepth == 0 && !Designing && !Loading;
}

void TCustomComPort::ApplyAllSettings()
{
    ApplyBufferSettings();
    ApplyLineSettings();
    ApplyTimeoutSettings();
}

void TCustomComPort::ApplyLineSettings()
{
    if (!d->CanApply())
        return;
    // The record has no room for RS-485's pauses: the device takes them just before it.
    if (d->Settings.FlowControl.ControlRTS == TRTSFlowControl::rtsToggle)
        if (const int err = d->Device->SetRS485Delays(d->RS485Before, d->RS485After))
            d->RaiseDevice(ComErr::SetStateFailed, err);
    if (const int err = d->Device->SetCommState(LineState(d->Settings)))
        d->RaiseDevice(ComErr::SetStateFailed, err);
}

void TCustomComPort::SetRS485Delays(int BeforeMs, int AfterMs)
{
    if (d->RS485Before == BeforeMs && d->RS485After == AfterMs)
        return;
    d->RS485Before = BeforeMs;
    d->RS485After = AfterMs;
    if (d->Settings.FlowControl.ControlRTS == TRTSFlowControl::rtsToggle)
        ApplyLineSettings();
}

int TCustomComPort::RS485DelayBefore() const { return d->RS485Before; }
int TCustomComPort::RS485DelayAfter() const { return d->RS485After; }

RS485Mode TCustomComPort::GetRS485Mode() const
{
    return d->Connected ? d->Device->GetRS485Mode() : RS485Mode::Off;
}

void TCustomComPort::ApplyTimeoutSettings()
{
    if (!d->CanApply())
        return;
    if (const int err = d->Device->SetCommTimeouts(TimeoutRecord(d->Settings.Timeouts)))
        d->RaiseDevice(ComErr::SetTimeoutsFailed, err);
}

void TCustomComPort::ApplyBufferSettings()
{
    if (!d->CanApply())
        return;
    if (const int err = d->Device->SetupComm(d->Settings.Buffer.InputSize, d->Settings.Buffer.OutputSize))
        d->RaiseDevice(ComErr::SetupCommFailed, err);
}

} // namespace zentrop
