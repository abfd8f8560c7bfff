// The port's settings: the property setters and their rules, the update bracket, and the
// apply operations that send the line state, time-outs and queue sizes to an open device.
#include "ComPort.h"

void TCustomComPort::SetBaudRate(TBaudRate Value)
{
    if (FBaudRate == Value)
        return;
    FBaudRate = Value;
    ApplyLineSettings();
}

void TCustomComPort::SetCustomBaudRate(int Value)
{
    if (FCustomBaudRate == Value)
        return;
    FCustomBaudRate = Value;
    ApplyLineSettings();
}

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

void TCustomComPort::SetStopBits(TStopBits Value)
{
    if (FStopBits == Value)
        return;
    FStopBits = Value;
    ApplyLineSettings();
}

void TCustomComPort::SetDataBits(TDataBits Value)
{
    if (FDataBits == Value)
        return;
    FDataBits = Value;
    ApplyLineSettings();
}

void TCustomComPort::SetDiscardNull(bool Value)
{
    if (FDiscardNull == Value)
        return;
    FDiscardNull = Value;
    ApplyLineSettings();
}

void TCustomComPort::SetEventChar(char Value)
{
    if (FEventChar == Value)
        return;
    FEventChar = Value;
    ApplyLineSettings();
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

DCB TCustomComPort::BuildDCB() const
{
    DCB dcb;
    dcb.DCBlength = sizeof(DCB);
    dcb.BaudRate = static_cast<uint32_t>(FBaudRate == TBaudRate::brCustom ? FCustomBaudRate
                                                                          : BaudRateValue(FBaudRate));
    dcb.ByteSize = static_cast<uint8_t>(5 + static_cast<int>(FDataBits));
    dcb.Parity = static_cast<uint8_t>(FParity->Bits());
    dcb.StopBits = static_cast<uint8_t>(FStopBits);
    dcb.XonLim = static_cast<uint16_t>(FBuffer->InputSize() / 4);
    dcb.XoffLim = dcb.XonLim;
    dcb.XonChar = FFlowControl->XonChar();
    dcb.XoffChar = FFlowControl->XoffChar();
    dcb.EvtChar = FEventChar;
    const bool replace = FParity->Check() && FParity->Replace();
    dcb.ErrorChar = replace ? FParity->ReplaceChar() : char(0);

    uint32_t flags = DCB::fBinary;
    if (FParity->Check())
        flags |= DCB::fParity;
    if (FFlowControl->OutCTSFlow())
        flags |= DCB::fOutxCtsFlow;
    if (FFlowControl->OutDSRFlow())
        flags |= DCB::fOutxDsrFlow;
    static constexpr uint32_t kDtr[] = {0, DCB::fDtrControlEnable, DCB::fDtrControlHandshake};
    flags |= kDtr[static_cast<int>(FFlowControl->ControlDTR())];
    if (FFlowControl->DSRSensitivity())
        flags |= DCB::fDsrSensitivity;
    if (FFlowControl->TxContinueOnXoff())
        flags |= DCB::fTXContinueOnXoff;
    if (FFlowControl->XonXoffOut())
        flags |= DCB::fOutX;
    if (FFlowControl->XonXoffIn())
        flags |= DCB::fInX;
    if (replace)
        flags |= DCB::fErrorChar;
    if (FDiscardNull)
        flags |= DCB::fNull;
    static constexpr uint32_t kRts[] = {0, DCB::fRtsControlEnable, DCB::fRtsControlHandshake,
                                        DCB::fRtsControlToggle};
    flags |= kRts[static_cast<int>(FFlowControl->ControlRTS())];
    dcb.Flags = flags;
    return dcb;
}

COMMTIMEOUTS TCustomComPort::BuildTimeouts() const
{
    COMMTIMEOUTS t;
    t.ReadIntervalTimeout = static_cast<uint32_t>(FTimeouts->ReadInterval());
    t.ReadTotalTimeoutMultiplier = static_cast<uint32_t>(FTimeouts->ReadTotalMultiplier());
    t.ReadTotalTimeoutConstant = static_cast<uint32_t>(FTimeouts->ReadTotalConstant());
    t.WriteTotalTimeoutMultiplier = static_cast<uint32_t>(FTimeouts->WriteTotalMultiplier());
    t.WriteTotalTimeoutConstant = static_cast<uint32_t>(FTimeouts->WriteTotalConstant());
    return t;
}

void TCustomComPort::ApplyLineSettings()
{
    if (!CanApply())
        return;
    if (const int err = FDevice->SetCommState(BuildDCB()))
        RaiseDevice(ComErr::SetStateFailed, err);
}

void TCustomComPort::ApplyTimeoutSettings()
{
    if (!CanApply())
        return;
    if (const int err = FDevice->SetCommTimeouts(BuildTimeouts()))
        RaiseDevice(ComErr::SetTimeoutsFailed, err);
}

void TCustomComPort::ApplyBufferSettings()
{
    if (!CanApply())
        return;
    if (const int err = FDevice->SetupComm(FBuffer->InputSize(), FBuffer->OutputSize()))
        RaiseDevice(ComErr::SetupCommFailed, err);
}
