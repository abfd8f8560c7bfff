// The settings objects: equal values are ignored, changes reach the owning port's device.
#include "ComSettings.h"

#include "ComPort.h"
#include "base/Exception.h"
#include "base/Format.h"
#include "base/ResStrings.h"

TComSettings::TComSettings(TCustomComPort* OwnerPort)
    : FOwnerPort(OwnerPort)
{
}

void TComSettings::RaiseAssignError(const QObject* Source) const
{
    const QString sourceName = Source ? QString::fromLatin1(Source->metaObject()->className())
                                      : QStringLiteral("nil");
    throw EConvertError(Format(LoadResString(res::SAssignError),
                               {sourceName, QString::fromLatin1(metaObject()->className())}));
}

// ---- TComTimeouts

void TComTimeouts::Assign(const QObject* Source)
{
    const auto* s = qobject_cast<const TComTimeouts*>(Source);
    if (!s)
        RaiseAssignError(Source);
    FReadInterval = s->FReadInterval;
    FReadTotalMultiplier = s->FReadTotalMultiplier;
    FReadTotalConstant = s->FReadTotalConstant;
    FWriteTotalMultiplier = s->FWriteTotalMultiplier;
    FWriteTotalConstant = s->FWriteTotalConstant;
}

void TComTimeouts::Change(int& field, int value)
{
    if (field == value)
        return;
    field = value;
    if (OwnerPort())
        OwnerPort()->ApplyTimeoutSettings();
}

void TComTimeouts::SetReadInterval(int Value) { Change(FReadInterval, Value); }
void TComTimeouts::SetReadTotalMultiplier(int Value) { Change(FReadTotalMultiplier, Value); }
void TComTimeouts::SetReadTotalConstant(int Value) { Change(FReadTotalConstant, Value); }
void TComTimeouts::SetWriteTotalMultiplier(int Value) { Change(FWriteTotalMultiplier, Value); }
void TComTimeouts::SetWriteTotalConstant(int Value) { Change(FWriteTotalConstant, Value); }

// ---- TComFlowControl

void TComFlowControl::Assign(const QObject* Source)
{
    const auto* s = qobject_cast<const TComFlowControl*>(Source);
    if (!s)
        RaiseAssignError(Source);
    FOutCTSFlow = s->FOutCTSFlow;
    FOutDSRFlow = s->FOutDSRFlow;
    FControlDTR = s->FControlDTR;
    FControlRTS = s->FControlRTS;
    FXonXoffOut = s->FXonXoffOut;
    FXonXoffIn = s->FXonXoffIn;
    FDSRSensitivity = s->FDSRSensitivity;
    FTxContinueOnXoff = s->FTxContinueOnXoff;
    FXonChar = s->FXonChar;
    FXoffChar = s->FXoffChar;
}

TFlowControl TComFlowControl::FlowControl() const
{
    if (FControlRTS == TRTSFlowControl::rtsHandshake && FOutCTSFlow && !FXonXoffIn && !FXonXoffOut)
        return TFlowControl::fcHardware;
    if (FControlRTS == TRTSFlowControl::rtsDisable && !FOutCTSFlow && FXonXoffIn && FXonXoffOut)
        return TFlowControl::fcSoftware;
    if (FControlRTS == TRTSFlowControl::rtsDisable && !FOutCTSFlow && !FXonXoffIn && !FXonXoffOut)
        return TFlowControl::fcNone;
    return TFlowControl::fcCustom;
}

void TComFlowControl::SetFlowControl(TFlowControl Value)
{
    if (Value != TFlowControl::fcCustom) {
        FControlRTS = TRTSFlowControl::rtsDisable;
        FOutCTSFlow = false;
        FXonXoffIn = false;
        FXonXoffOut = false;
        if (Value == TFlowControl::fcHardware) {
            FControlRTS = TRTSFlowControl::rtsHandshake;
            FOutCTSFlow = true;
        } else if (Value == TFlowControl::fcSoftware) {
            FXonXoffIn = true;
            FXonXoffOut = true;
        }
    }
    Apply();
}

void TComFlowControl::Apply()
{
    if (OwnerPort())
        OwnerPort()->ApplyLineSettings();
}

template <typename T>
void TComFlowControl::Change(T& field, T value)
{
    if (field == value)
        return;
    field = value;
    Apply();
}

void TComFlowControl::SetOutCTSFlow(bool Value) { Change(FOutCTSFlow, Value); }
void TComFlowControl::SetOutDSRFlow(bool Value) { Change(FOutDSRFlow, Value); }
void TComFlowControl::SetControlDTR(TDTRFlowControl Value) { Change(FControlDTR, Value); }
void TComFlowControl::SetControlRTS(TRTSFlowControl Value) { Change(FControlRTS, Value); }
void TComFlowControl::SetXonXoffOut(bool Value) { Change(FXonXoffOut, Value); }
void TComFlowControl::SetXonXoffIn(bool Value) { Change(FXonXoffIn, Value); }
void TComFlowControl::SetDSRSensitivity(bool Value) { Change(FDSRSensitivity, Value); }
void TComFlowControl::SetTxContinueOnXoff(bool Value) { Change(FTxContinueOnXoff, Value); }
void TComFlowControl::SetXonChar(char Value) { Change(FXonChar, Value); }
void TComFlowControl::SetXoffChar(char Value) { Change(FXoffChar, Value); }

// ---- TComParity

void TComParity::Assign(const QObject* Source)
{
    const auto* s = qobject_cast<const TComParity*>(Source);
    if (!s)
        RaiseAssignError(Source);
    FBits = s->FBits;
    FCheck = s->FCheck;
    FReplace = s->FReplace;
    FReplaceChar = s->FReplaceChar;
}

template <typename T>
void TComParity::Change(T& field, T value)
{
    if (field == value)
        return;
    field = value;
    if (OwnerPort())
        OwnerPort()->ApplyLineSettings();
}

void TComParity::SetBits(TParityBits Value) { Change(FBits, Value); }
void TComParity::SetCheck(bool Value) { Change(FCheck, Value); }
void TComParity::SetReplace(bool Value) { Change(FReplace, Value); }
void TComParity::SetReplaceChar(char Value) { Change(FReplaceChar, Value); }

// ---- TComBuffer

void TComBuffer::Assign(const QObject* Source)
{
    const auto* s = qobject_cast<const TComBuffer*>(Source);
    if (!s)
        RaiseAssignError(Source);
    FInputSize = s->FInputSize;
    FOutputSize = s->FOutputSize;
}

void TComBuffer::Change(int& field, int value)
{
    // The comparison is with the stored even size, so an odd value one above it still
    // counts as a change and re-applies.
    if (field == value)
        return;
    field = (value > 0 && value % 2 != 0) ? value - 1 : value;
    if (OwnerPort())
        OwnerPort()->ApplyBufferSettings();
}

void TComBuffer::SetInputSize(int Value) { Change(FInputSize, Value); }
void TComBuffer::SetOutputSize(int Value) { Change(FOutputSize, Value); }
