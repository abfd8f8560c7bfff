// The settings objects: each reads and changes its part of the owning port's settings value,
// whose apply path ignores equal values and sends changes to the device.
#include "cport/ComSettings.h"

#include "cport/ComPort.h"
#include "base/ClassName.h"
#include "base/Exception.h"
#include "base/Format.h"
#include "base/ResStrings.h"

namespace zentrop {

TComSettings::TComSettings(TCustomComPort* OwnerPort)
    : FOwnerPort(OwnerPort)
{
}

void TComSettings::RaiseAssignError(const QObject* Source) const
{
    const QString sourceName = Source ? ClassName(Source->metaObject())
                                      : QStringLiteral("nil");
    throw EConvertError(Format(LoadResString(res::SAssignError),
                               {sourceName, ClassName(metaObject())}));
}

template <typename Part>
const Part& TComSettings::Current(Part PortSettings::*Member, const Part& Own) const
{
    return FOwnerPort ? FOwnerPort->Settings().*Member : Own;
}

template <typename Part>
void TComSettings::Change(Part PortSettings::*Member, Part& Own, const Part& Value, SettingsParts Also)
{
    if (!FOwnerPort) {
        Own = Value;
        return;
    }
    PortSettings settings = FOwnerPort->Settings();
    settings.*Member = Value;
    FOwnerPort->StoreSettings(settings, ChangedParts(FOwnerPort->Settings(), settings) | Also);
}

template <typename Part>
void TComSettings::Copy(Part PortSettings::*Member, Part& Own, const Part& Value)
{
    if (!FOwnerPort) {
        Own = Value;
        return;
    }
    PortSettings settings = FOwnerPort->Settings();
    settings.*Member = Value;
    FOwnerPort->StoreSettings(settings, {});
}

// ---- TComTimeouts

const TimeoutSettings& TComTimeouts::Values() const { return Current(&PortSettings::Timeouts, FOwn); }

void TComTimeouts::Assign(const QObject* Source)
{
    const auto* s = qobject_cast<const TComTimeouts*>(Source);
    if (!s)
        RaiseAssignError(Source);
    Copy(&PortSettings::Timeouts, FOwn, s->Values());
}

void TComTimeouts::Set(int TimeoutSettings::*Field, int Value)
{
    TimeoutSettings values = Values();
    values.*Field = Value;
    Change(&PortSettings::Timeouts, FOwn, values);
}

void TComTimeouts::SetReadInterval(int Value) { Set(&TimeoutSettings::ReadInterval, Value); }
void TComTimeouts::SetReadTotalMultiplier(int Value) { Set(&TimeoutSettings::ReadTotalMultiplier, Value); }
void TComTimeouts::SetReadTotalConstant(int Value) { Set(&TimeoutSettings::ReadTotalConstant, Value); }
void TComTimeouts::SetWriteTotalMultiplier(int Value) { Set(&TimeoutSettings::WriteTotalMultiplier, Value); }
void TComTimeouts::SetWriteTotalConstant(int Value) { Set(&TimeoutSettings::WriteTotalConstant, Value); }

// ---- TComFlowControl

const FlowControlSettings& TComFlowControl::Values() const { return Current(&PortSettings::FlowControl, FOwn); }

void TComFlowControl::Assign(const QObject* Source)
{
    const auto* s = qobject_cast<const TComFlowControl*>(Source);
    if (!s)
        RaiseAssignError(Source);
    Copy(&PortSettings::FlowControl, FOwn, s->Values());
}

TFlowControl TComFlowControl::FlowControl() const
{
    return Values().Preset();
}

void TComFlowControl::SetFlowControl(TFlowControl Value)
{
    FlowControlSettings values = Values();
    values.SetPreset(Value);
    // A preset is sent even when it changes nothing.
    Change(&PortSettings::FlowControl, FOwn, values, {SettingsPart::Line});
}

template <typename T>
void TComFlowControl::Set(T FlowControlSettings::*Field, T Value)
{
    FlowControlSettings values = Values();
    values.*Field = Value;
    Change(&PortSettings::FlowControl, FOwn, values);
}

void TComFlowControl::SetOutCTSFlow(bool Value) { Set(&FlowControlSettings::OutCTSFlow, Value); }
void TComFlowControl::SetOutDSRFlow(bool Value) { Set(&FlowControlSettings::OutDSRFlow, Value); }
void TComFlowControl::SetControlDTR(TDTRFlowControl Value) { Set(&FlowControlSettings::ControlDTR, Value); }
void TComFlowControl::SetControlRTS(TRTSFlowControl Value) { Set(&FlowControlSettings::ControlRTS, Value); }
void TComFlowControl::SetXonXoffOut(bool Value) { Set(&FlowControlSettings::XonXoffOut, Value); }
void TComFlowControl::SetXonXoffIn(bool Value) { Set(&FlowControlSettings::XonXoffIn, Value); }
void TComFlowControl::SetDSRSensitivity(bool Value) { Set(&FlowControlSettings::DSRSensitivity, Value); }
void TComFlowControl::SetTxContinueOnXoff(bool Value) { Set(&FlowControlSettings::TxContinueOnXoff, Value); }
void TComFlowControl::SetXonChar(char Value) { Set(&FlowControlSettings::XonChar, Value); }
void TComFlowControl::SetXoffChar(char Value) { Set(&FlowControlSettings::XoffChar, Value); }

// ---- TComParity

const ParitySettings& TComParity::Values() const { return Current(&PortSettings::Parity, FOwn); }

void TComParity::Assign(const QObject* Source)
{
    const auto* s = qobject_cast<const TComParity*>(Source);
    if (!s)
        RaiseAssignError(Source);
    Copy(&PortSettings::Parity, FOwn, s->Values());
}

template <typename T>
void TComParity::Set(T ParitySettings::*Field, T Value)
{
    ParitySettings values = Values();
    values.*Field = Value;
    Change(&PortSettings::Parity, FOwn, values);
}

void TComParity::SetBits(TParityBits Value) { Set(&ParitySettings::Bits, Value); }
void TComParity::SetCheck(bool Value) { Set(&ParitySettings::Check, Value); }
void TComParity::SetReplace(bool Value) { Set(&ParitySettings::Replace, Value); }
void TComParity::SetReplaceChar(char Value) { Set(&ParitySettings::ReplaceChar, Value); }

// ---- TComBuffer

const BufferSettings& TComBuffer::Values() const { return Current(&PortSettings::Buffer, FOwn); }

void TComBuffer::Assign(const QObject* Source)
{
    const auto* s = qobject_cast<const TComBuffer*>(Source);
    if (!s)
        RaiseAssignError(Source);
    Copy(&PortSettings::Buffer, FOwn, s->Values());
}

void TComBuffer::Set(int BufferSettings::*Field, int Value)
{
    // The comparison is with the stored even size, so an odd value one above it still
    // counts as a change and re-applies.
    BufferSettings values = Values();
    if (values.*Field == Value)
        return;
    values.*Field = (Value > 0 && Value % 2 != 0) ? Value - 1 : Value;
    Change(&PortSettings::Buffer, FOwn, values, {SettingsPart::Buffer});
}

void TComBuffer::SetInputSize(int Value) { Set(&BufferSettings::InputSize, Value); }
void TComBuffer::SetOutputSize(int Value) { Set(&BufferSettings::OutputSize, Value); }

} // namespace zentrop
