// Opening and closing the port: the device, the event thread's start and stop, the callbacks
// around both, Close from several threads at once, and a device that went away.
#include "PortPrivate.h"

#include "base/Debug.h"
#include "base/SyncQueue.h"

#include <QThread>
#include <memory>

namespace zentrop {

bool TCustomComPort::Connected() const { return d->Connected; }
bool TCustomComPort::ThreadRunning() const { return d->ThreadRunning; }
TComThread* TCustomComPort::EventWatcher() const { return d->CurrentWatcher; }

void TCustomComPort::SetConnected(bool Value)
{
    if (d->Designing || d->Loading) {
        d->Connected = Value;
        return;
    }
    if (Value)
        Open();
    else
        Close();
}

void TCustomComPort::Open()
{
    if (d->Connected || d->Designing)
        return;
    FireBeforeOpen();
    OpenDevice();
    ++d->OpenGeneration;
    d->PendingErrors = 0;
    d->Connected = true;
    try {
        ApplyAllSettings();
    } catch (...) {
        CloseDevice();
        d->Connected = false;
        throw;
    }
    // Without events no thread watches the device: links and handlers hear of opening,
    // closing and the signal states only, and received bytes are taken by the port's reads.
    d->ThreadRunning = false;
    if (!d->Events.Empty())
        d->StartEventThread();

    NotifyLinksState(&TComLink::OnConnectionChange, true);
    FireAfterOpen();
    ProcessCTSChange();
    ProcessDSRChange();
    ProcessRLSDChange();
}

void TCustomComPort::Close()
{
    if (d->Designing || !d->BeginClose())
        return;
    struct CloseEnd {
        Private& Port;
        ~CloseEnd() { Port.EndClose(); }
    } end{*d};
    d->Closing = true;
    struct Done {
        std::atomic<bool>& Flag;
        ~Done() { Flag = false; }
    } done{d->Closing};
    NotifyLinksState(&TComLink::OnCTSSignal, false);
    NotifyLinksState(&TComLink::OnDSRSignal, false);
    NotifyLinksState(&TComLink::OnRLSDSignal, false);
    FireCTSChange(false);
    FireDSRChange(false);
    FireRLSDChange(false);
    FireBeforeClose();
    CancelRequests();
    if (d->ThreadRunning) {
        d->StopEventThread();
        d->ThreadRunning = false;
    }
    CloseDevice();
    d->Connected = false;
    NotifyLinksState(&TComLink::OnConnectionChange, false);
    FireAfterClose();
}

void TCustomComPort::OpenDevice()
{
    if (const int err = d->Device->Open(d->Port)) {
        OutputDebugString(QStringLiteral("CreateFile ") + d->Device->DeviceName(d->Port));
        d->RaiseDevice(ComErr::OpenFailed, err);
    }
}

void TCustomComPort::CloseDevice()
{
    if (d->Device->IsOpen())
        d->Device->Close();
}

void TCustomComPort::CancelRequests()
{
    // A device that went away has nothing left to cancel; its close goes on.
    if (const int err = d->Device->PurgeComm(PURGE_TXABORT | PURGE_RXABORT); err && !(d->Closing && DeviceGone(err)))
        d->RaiseDevice(ComErr::PurgeFailed, err);
}

void TCustomComPort::Private::StartEventThread()
{
    ReapRetiredThreads(false);
    EventWatcher = std::make_unique<TComThread>(&Owner);
    CurrentWatcher = EventWatcher.get();
    ThreadRunning = true;
}

void TCustomComPort::Private::StopEventThread()
{
    TComThread* thread = EventWatcher.get();
    if (!thread)
        return;
    thread->SignalStop();
    const bool onOwner = QThread::currentThread() == Owner.thread();
    // Waiting is impossible from the event thread itself (a handler under smNone), and
    // from a handler the thread has handed to the owning thread (it waits for that handler
    // to end): the thread is left to end on its own, and the port does its closing steps
    // now, before the device goes.
    if (QThread::currentThread() == thread || (onOwner && thread->OwnerDeliveries() > 0)) {
        thread->FRetired = true;
        Device->SetCommMask(0);
        Device->PurgeComm(PURGE_TXCLEAR | PURGE_RXCLEAR);
        std::lock_guard lock(CloseMutex);
        CurrentWatcher = nullptr;
        RetiredWatchers.push_back(std::move(EventWatcher));
        return;
    }
    // The owning thread serves the delivery the thread has started, so that it ends and
    // the thread can see the stop; another thread leaves that to the owning thread. That
    // delivery still reaches the handlers: the port is still open.
    if (onOwner)
        SyncQueue->ServeUntil([thread] { return thread->Ended(); });
    thread->Join();
    std::lock_guard lock(CloseMutex);
    CurrentWatcher = nullptr;
    EventWatcher.reset();
}

void TCustomComPort::Private::ReapRetiredThreads(bool Wait)
{
    for (auto it = RetiredWatchers.begin(); it != RetiredWatchers.end();) {
        TComThread* thread = it->get();
        if (!thread->Ended() && !Wait) {
            ++it;
            continue;
        }
        if (QThread::currentThread() == Owner.thread())
            SyncQueue->ServeUntil([thread] { return thread->Ended(); });
        thread->Join();
        it = RetiredWatchers.erase(it);
    }
}

bool TCustomComPort::Private::IsServedBy(const TComThread* Thread) const
{
    return CurrentWatcher == Thread && Connected;
}

bool TCustomComPort::Private::InDelivery() const
{
    const TComThread* watcher = CurrentWatcher;
    if (!watcher)
        return false;
    if (QThread::currentThread() == watcher)
        return true;
    return QThread::currentThread() == Owner.thread() && watcher->OwnerDeliveries() > 0;
}

bool TCustomComPort::Private::BeginClose()
{
    std::unique_lock lock(CloseMutex);
    if (!Connected)
        return false;
    if (Closer == std::thread::id()) {
        Closer = std::this_thread::get_id();
        return true;
    }
    // The closing thread itself (a handler of its before-close processing), or a delivery
    // that Close waits for, returns at once: waiting would never end.
    if (Closer == std::this_thread::get_id() || InDelivery())
        return false;
    auto closed = [this] { return Closer == std::thread::id(); };
    if (QThread::currentThread() == Owner.thread()) {
        // The closing thread may wait for a delivery that the owning thread runs.
        lock.unlock();
        SyncQueue->ServeUntil([this, &closed] {
            std::lock_guard relock(CloseMutex);
            return closed();
        });
    } else {
        CloseDone.wait(lock, closed);
    }
    return false;
}

void TCustomComPort::Private::EndClose()
{
    {
        std::lock_guard lock(CloseMutex);
        Closer = std::thread::id();
    }
    CloseDone.notify_all();
    SyncQueue->Wake();
}

void TCustomComPort::Private::RaiseDevice(int Code, int SystemCode)
{
    if (DeviceGone(SystemCode))
        DeviceLost(OpenGeneration);
    throw EComPortExt(Port, Code, SystemCode);
}

void TCustomComPort::Private::DeviceLost(uint64_t Generation)
{
    if (QThread::currentThread() != Owner.thread()) {
        TCustomComPort* port = &Owner;
        QMetaObject::invokeMethod(port, [port, Generation] { port->d->DeviceLost(Generation); },
                                  Qt::QueuedConnection);
        return;
    }
    if (!Connected || Closing || Generation != OpenGeneration)
        return;
    try {
        Owner.Close();
    } catch (...) {
        // The error that told of the loss is the one the caller hears.
    }
    if (Owner.OnDeviceLost && !Connected)
        Owner.OnDeviceLost(&Owner);
}

} // namespace zentrop
