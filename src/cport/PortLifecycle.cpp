// Opening and closing the port: the device, the event thread's start and stop, the callbacks
// around both, Close from several threads at once, and a device that went away.
#include "ComPort.h"

#include "base/Debug.h"
#include "base/SyncQueue.h"

#include <QThread>
#include <memory>

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

void TCustomComPort::CancelRequests()
{
    // A device that went away has nothing left to cancel; its close goes on.
    if (const int err = FDevice->PurgeComm(PURGE_TXABORT | PURGE_RXABORT); err && !(FClosing && DeviceGone(err)))
        RaiseDevice(ComErr::PurgeFailed, err);
}

void TCustomComPort::StartEventThread()
{
    ReapRetiredThreads(false);
    FEventWatcher = std::make_unique<TComThread>(this);
    FCurrentWatcher = FEventWatcher.get();
    FThreadRunning = true;
}

void TCustomComPort::StopEventThread()
{
    TComThread* thread = FEventWatcher.get();
    if (!thread)
        return;
    thread->SignalStop();
    const bool onOwner = QThread::currentThread() == this->thread();
    // Waiting is impossible from the event thread itself (a handler under smNone), and
    // from a handler the thread has handed to the owning thread (it waits for that handler
    // to end): the thread is left to end on its own, and the port does its closing steps
    // now, before the device goes.
    if (QThread::currentThread() == thread || (onOwner && thread->OwnerDeliveries() > 0)) {
        thread->FRetired = true;
        FDevice->SetCommMask(0);
        FDevice->PurgeComm(PURGE_TXCLEAR | PURGE_RXCLEAR);
        std::lock_guard lock(FCloseMutex);
        FCurrentWatcher = nullptr;
        FRetiredWatchers.push_back(std::move(FEventWatcher));
        return;
    }
    // The owning thread serves the delivery the thread has started, so that it ends and
    // the thread can see the stop; another thread leaves that to the owning thread. That
    // delivery still reaches the handlers: the port is still open.
    if (onOwner)
        FSyncQueue->ServeUntil([thread] { return thread->Ended(); });
    thread->Join();
    std::lock_guard lock(FCloseMutex);
    FCurrentWatcher = nullptr;
    FEventWatcher.reset();
}

void TCustomComPort::ReapRetiredThreads(bool Wait)
{
    for (auto it = FRetiredWatchers.begin(); it != FRetiredWatchers.end();) {
        TComThread* thread = it->get();
        if (!thread->Ended() && !Wait) {
            ++it;
            continue;
        }
        if (QThread::currentThread() == this->thread())
            FSyncQueue->ServeUntil([thread] { return thread->Ended(); });
        thread->Join();
        it = FRetiredWatchers.erase(it);
    }
}

bool TCustomComPort::IsServedBy(const TComThread* Thread) const
{
    return FCurrentWatcher == Thread && FConnected;
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
