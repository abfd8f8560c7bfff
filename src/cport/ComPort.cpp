// The port component's construction, settings and their setter rules, and its links.
#include "ComPort.h"

#include "base/SyncQueue.h"

#include <atomic>

namespace {

std::atomic<TCustomComPort::SetupDialogProc> gSetupDialogProc{nullptr};
std::atomic<TCustomComPort::LoadErrorHandler> gLoadErrorHandler{nullptr};

} // namespace

TCustomComPort::TCustomComPort(QObject* Owner)
    : QObject(Owner),
      FDevice(CreateComDevice()),
      FSyncQueue(new TSyncQueue(this)),
      FParity(std::make_unique<TComParity>(this)),
      FFlowControl(std::make_unique<TComFlowControl>(this)),
      FTimeouts(std::make_unique<TComTimeouts>(this)),
      FBuffer(std::make_unique<TComBuffer>(this))
{
}

TCustomComPort::~TCustomComPort()
{
    // A destructor cannot report a failed close; the device is released regardless.
    try {
        Close();
    } catch (...) {
        if (FThreadRunning) {
            StopEventThread();
            FThreadRunning = false;
        }
        CloseDevice();
    }
    ReapRetiredThreads(true);
    FBuffer.reset();
    FFlowControl.reset();
    FTimeouts.reset();
    FParity.reset();
}

void TCustomComPort::Loaded()
{
    FLoading = false;
    if (!FConnected || FDesigning)
        return;
    FConnected = false;
    try {
        Open();
    } catch (const Exception& e) {
        ReportError(e);
    }
}

TCustomComPort::LoadErrorHandler TCustomComPort::SetLoadErrorHandler(LoadErrorHandler Handler)
{
    return gLoadErrorHandler.exchange(Handler);
}

void TCustomComPort::ReportError(const std::exception& E)
{
    LoadErrorHandler handler = gLoadErrorHandler.load();
    if (!handler)
        return;
    if (const auto* e = dynamic_cast<const Exception*>(&E))
        handler(*e);
    else
        handler(Exception(QString::fromLocal8Bit(E.what())));
}

void TCustomComPort::SetConnected(bool Value)
{
    if (FDesigning || FLoading) {
        FConnected = Value;
        return;
    }
    if (Value)
        Open();
    else
        Close();
}

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

bool TCustomComPort::SetDevice(std::unique_ptr<TComDevice> Device)
{
    if (!Device || FDevice->IsOpen())
        return false;
    FDevice = std::move(Device);
    return true;
}

void TCustomComPort::ShowSetupDialog()
{
    if (SetupDialogProc proc = gSetupDialogProc.load())
        proc(*this);
}

TCustomComPort::SetupDialogProc TCustomComPort::SetSetupDialogProc(SetupDialogProc proc)
{
    return gSetupDialogProc.exchange(proc);
}

// ---- links

void TCustomComPort::AttachLink(TComLink* Link)
{
    if (!FLinkList.Attach(Link))
        throw EComPort(FPort, ComErr::RegFailed);
}

void TCustomComPort::DetachLink(TComLink* Link)
{
    if (!FLinkList.Detach(Link))
        throw EComPort(FPort, ComErr::RegFailed);
}

void TCustomComPort::NotifyLinksState(TComSignalEvent TComLink::*Slot, bool OnOff)
{
    FLinkList.ForEach<TComSignalEvent>(Slot, [&](const TComSignalEvent& slot) { slot(this, OnOff); });
}

void TCustomComPort::NotifyLinksEvent(TNotifyEvent TComLink::*Slot)
{
    FLinkList.ForEach<TNotifyEvent>(Slot, [&](const TNotifyEvent& slot) { slot(this); });
}

void TCustomComPort::NotifyLinksTxData(const char* Buffer, int Count)
{
    FLinkList.ForEach<TRxBufEvent>(&TComLink::OnTxData,
                                   [&](const TRxBufEvent& slot) { slot(this, Buffer, Count); });
}
