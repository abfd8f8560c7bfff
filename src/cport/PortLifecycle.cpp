// Opening, configuring and closing the device: the callbacks around them, the update
// bracket, the line state and time-out records, and the modem signals.
#include "ComPort.h"

#include "base/Debug.h"
#include "base/SyncQueue.h"

#include <QThread>

void TCustomComPort::RaiseDevice(int Code, int SystemCode)
{
    if (DeviceGone(SystemCode))
        DeviceLost(FOpenGeneration);
    throw EComPortExt(FPort, Code, SystemCode);
}

void TCustomComPort::DeviceLost(uint64_t Generation)
{
    if (QThread::currentThread() != thread()) {
        QMetaObject::invokeMethod(this, [this, Generation] { DeviceLost(Generation); }, Qt::QueuedConnection);
        return;
    }
    if (!FConnected || FClosing || Generation != FOpenGeneration)
        return;
    try {
        Close();
    } catch (...) {
        // The error that told of the loss is the one the caller hears.
    }
}

void TCustomComPort::OpenDevice()
{
    if (const int err = FDevice->Open(FPort)) {
        OutputDebugString(QStringLiteral("CreateFile ") + FDevice->DeviceName(FPort));
        RaiseDevice(ComErr::OpenFailed, err);
    }
}

void TCustomComPort::CloseDevice()
{
    if (FDevice->IsOpen())
        FDevice->Close();
}

void TCustomComPort::Open()
{
    if (FConnected || FDesigning)
        return;
    FireBeforeOpen();
    OpenDevice();
    ++FOpenGeneration;
    FConnected = true;
    try {
        ApplyAllSettings();
    } catch (...) {
        CloseDevice();
        FConnected = false;
        throw;
    }
    // Without events no thread watches the device: links and handlers hear of opening,
    // closing and the signal states only, and received bytes are taken by the port's reads.
    FThreadRunning = false;
    if (!FEvents.Empty())
        StartEventThread();

    NotifyLinksState(&TComLink::OnConnectionChange, true);
    FireAfterOpen();
    ProcessCTSChange();
    ProcessDSRChange();
    ProcessRLSDChange();
}

bool TCustomComPort::InDelivery() const
{
    const TComThread* watcher = FCurrentWatcher;
    if (!watcher)
        return false;
    if (QThread::currentThread() == watcher)
        return true;
    return QThread::currentThread() == thread() && watcher->OwnerDeliveries() > 0;
}

bool TCustomComPort::BeginClose()
{
    std::unique_lock lock(FCloseMutex);
    if (!FConnected)
        return false;
    if (FCloser == std::thread::id()) {
        FCloser = std::this_thread::get_id();
        return true;
    }
    // The closing thread itself (a handler of its before-close processing), or a delivery
    // that Close waits for, returns at once: waiting would never end.
    if (FCloser == std::this_thread::get_id() || InDelivery())
        return false;
    auto closed = [this] { return FCloser == std::thread::id(); };
    if (QThread::currentThread() == thread()) {
        // The closing thread may wait for a delivery that the owning thread runs.
        lock.unlock();
        FSyncQueue->ServeUntil([this, &closed] {
            std::lock_guard relock(FCloseMutex);
            return closed();
        });
    } else {
        FCloseDone.wait(lock, closed);
    }
    return false;
}

void TCustomComPort::EndClose()
{
    {
        std::lock_guard lock(FCloseMutex);
        FCloser = std::thread::id();
    }
    FCloseDone.notify_all();
    FSyncQueue->Wake();
}

void TCustomComPort::Close()
{
    if (FDesigning || !BeginClose())
        return;
    struct CloseEnd {
        TCustomComPort& Port;
        ~CloseEnd() { Port.EndClose(); }
    } end{*this};
    FClosing = true;
    struct Done {
        std::atomic<bool>& Flag;
        ~Done() { Flag = false; }
    } done{FClosing};
    NotifyLinksState(&TComLink::OnCTSSignal, false);
    NotifyLinksState(&TComLink::OnDSRSignal, false);
    NotifyLinksState(&TComLink::OnRLSDSignal, false);
    FireCTSChange(false);
    FireDSRChange(false);
    FireRLSDChange(false);
    FireBeforeClose();
    CancelRequests();
    if (FThreadRunning) {
        StopEventThread();
        FThreadRunning = false;
    }
    CloseDevice();
    FConnected = false;
    NotifyLinksState(&TComLink::OnConnectionChange, false);
    FireAfterClose();
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

void TCustomComPort::CancelRequests()
{
    // A device that went away has nothing left to cancel; its close goes on.
    if (const int err = FDevice->PurgeComm(PURGE_TXABORT | PURGE_RXABORT); err && !(FClosing && DeviceGone(err)))
        RaiseDevice(ComErr::PurgeFailed, err);
}

void TCustomComPort::SetBreak(bool On)
{
    if (const int err = FDevice->SetCommBreak(On))
        RaiseDevice(ComErr::EscapeComFailed, err);
}

TLineSignals TCustomComPort::LineSignals()
{
    uint32_t status = 0;
    if (const int err = FDevice->GetCommModemStatus(status))
        RaiseDevice(ComErr::ModemStatFailed, err);
    TLineSignals lines;
    if (status & MS_CTS_ON)
        lines.Include(TLineSignal::lsCTS);
    if (status & MS_DSR_ON)
        lines.Include(TLineSignal::lsDSR);
    if (status & MS_RING_ON)
        lines.Include(TLineSignal::lsRing);
    if (status & MS_RLSD_ON)
        lines.Include(TLineSignal::lsRLSD);
    return lines;
}

void TCustomComPort::ReportSignal(TLineSignal Signal, TComSignalEvent TComLink::*Slot,
                                  void (TCustomComPort::*Fire)(bool))
{
    const bool on = LineSignals().Contains(Signal);
    NotifyLinksState(Slot, on);
    (this->*Fire)(on);
}

void TCustomComPort::ProcessCTSChange()
{
    ReportSignal(TLineSignal::lsCTS, &TComLink::OnCTSSignal, &TCustomComPort::FireCTSChange);
}

void TCustomComPort::ProcessDSRChange()
{
    ReportSignal(TLineSignal::lsDSR, &TComLink::OnDSRSignal, &TCustomComPort::FireDSRChange);
}

void TCustomComPort::ProcessRLSDChange()
{
    ReportSignal(TLineSignal::lsRLSD, &TComLink::OnRLSDSignal, &TCustomComPort::FireRLSDChange);
}

// ---- the published handlers

void TCustomComPort::FireAfterClose() { if (OnAfterClose) OnAfterClose(this); }
void TCustomComPort::FireAfterOpen() { if (OnAfterOpen) OnAfterOpen(this); }
void TCustomComPort::FireBeforeClose() { if (OnBeforeClose) OnBeforeClose(this); }
void TCustomComPort::FireBeforeOpen() { if (OnBeforeOpen) OnBeforeOpen(this); }
void TCustomComPort::FireRxChar(int Count) { if (OnRxChar) OnRxChar(this, Count); }
void TCustomComPort::FireRxBuf(const char* Buffer, int Count) { if (OnRxBuf) OnRxBuf(this, Buffer, Count); }
void TCustomComPort::FireTxEmpty() { if (OnTxEmpty) OnTxEmpty(this); }
void TCustomComPort::FireBreak() { if (OnBreak) OnBreak(this); }
void TCustomComPort::FireRing() { if (OnRing) OnRing(this); }
void TCustomComPort::FireRxFlag() { if (OnRxFlag) OnRxFlag(this); }
void TCustomComPort::FireCTSChange(bool OnOff) { if (OnCTSChange) OnCTSChange(this, OnOff); }
void TCustomComPort::FireDSRChange(bool OnOff) { if (OnDSRChange) OnDSRChange(this, OnOff); }
void TCustomComPort::FireError(TComErrors Errors) { if (OnError) OnError(this, Errors); }
void TCustomComPort::FireRLSDChange(bool OnOff) { if (OnRLSDChange) OnRLSDChange(this, OnOff); }
void TCustomComPort::FireRx80Full() { if (OnRx80Full) OnRx80Full(this); }
