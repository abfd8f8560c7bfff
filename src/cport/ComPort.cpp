// The port component's construction, settings and their setter rules, and its links.
#include "ComPort.h"

#include <algorithm>
#include <atomic>

namespace {

std::atomic<TCustomComPort::SetupDialogProc> gSetupDialogProc{nullptr};
std::atomic<TCustomComPort::LoadErrorHandler> gLoadErrorHandler{nullptr};

} // namespace

TCustomComPort::TCustomComPort(QObject* Owner)
    : QObject(Owner),
      FDevice(CreateComDevice()),
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
        CloseDevice();
    }
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
        if (LoadErrorHandler handler = gLoadErrorHandler.load())
            handler(e);
    }
}

TCustomComPort::LoadErrorHandler TCustomComPort::SetLoadErrorHandler(LoadErrorHandler Handler)
{
    return gLoadErrorHandler.exchange(Handler);
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
    if (!Link || std::find(FLinkList.begin(), FLinkList.end(), Link) != FLinkList.end())
        throw EComPort(FPort, ComErr::RegFailed);
    FLinkList.push_back(Link);
    RecomputeLinkWantsRxData();
}

void TCustomComPort::DetachLink(TComLink* Link)
{
    const auto it = std::find(FLinkList.begin(), FLinkList.end(), Link);
    if (!Link || it == FLinkList.end())
        throw EComPort(FPort, ComErr::RegFailed);
    FLinkList.erase(it);
    RecomputeLinkWantsRxData();
}

void TCustomComPort::RecomputeLinkWantsRxData()
{
    FLinkWantsRxData = std::any_of(FLinkList.begin(), FLinkList.end(),
                                   [](const TComLink* l) { return bool(l->OnRxData); });
}

void TCustomComPort::NotifyLinksState(TComSignalEvent TComLink::*Slot, bool OnOff)
{
    for (TComLink* link : FLinkList)
        if (link->*Slot)
            (link->*Slot)(this, OnOff);
}

void TCustomComPort::NotifyLinksTxData(const char* Buffer, int Count)
{
    for (TComLink* link : FLinkList)
        if (link->OnTxData)
            link->OnTxData(this, Buffer, Count);
}
