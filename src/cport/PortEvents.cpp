// Event delivery: starting and stopping the event thread, processing each event for the
// links and the port's handlers, and window delivery.
#include "ComPort.h"

#include "base/SyncQueue.h"

#include <memory>

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

void TCustomComPort::ProcessEvent(uint32_t EventCode)
{
    using namespace EventMask;
    switch (EventCode) {
    case EV_RXCHAR: ProcessRxChar(); break;
    case EV_RXFLAG: ProcessRxFlag(); break;
    case EV_TXEMPTY: ProcessTxEmpty(); break;
    case EV_CTS: ProcessCTSChange(); break;
    case EV_DSR: ProcessDSRChange(); break;
    case EV_RLSD: ProcessRLSDChange(); break;
    case EV_BREAK: ProcessBreak(); break;
    case EV_ERR: ProcessError(); break;
    case EV_RING: ProcessRing(); break;
    case EV_RX80FULL: ProcessRx80Full(); break;
    default: break;
    }
}

void TCustomComPort::PortWindowProc(uint32_t EventCode)
{
    try {
        if (FConnected)
            ProcessEvent(EventCode);
    } catch (const std::exception& e) {
        ReportError(e);
    } catch (...) {
        // Whatever a handler throws is reported alike; nothing may leave the owning
        // thread's event loop.
        ReportError(Exception(QStringLiteral("An event handler raised an exception of unknown type")));
    }
}

void TCustomComPort::ProcessRxChar()
{
    int count = InputQueueCount();
    if (count <= 0)
        return;
    NotifyLinksState(&TComLink::OnRxBusy, true);
    if (!FAnnounceRxCount || FLinkList.WantsRxData()) {
        // One read of the arrival however many links want it, into a buffer that lives for
        // this delivery only. Only what the read returned is handed on: a read can end
        // short (null bytes discarded, the read time-outs).
        std::unique_ptr<char[]> buffer;
        int got = 0;
        auto readOnce = [&] {
            if (buffer)
                return;
            buffer = std::make_unique<char[]>(static_cast<size_t>(count));
            got = Read(buffer.get(), count);
            FireRxBuf(buffer.get(), got);
        };
        FLinkList.ForEach<TRxBufEvent>(&TComLink::OnRxData, [&](const TRxBufEvent& slot) {
            readOnce();
            slot(this, buffer.get(), got);
        });
        if (!FAnnounceRxCount)
            readOnce();
        if (buffer)
            count = 0;
    }
    if (count > 0)
        FireRxChar(count);
}

void TCustomComPort::ProcessRxFlag()
{
    NotifyLinksEvent(&TComLink::OnRxEventChar);
    FireRxFlag();
}

void TCustomComPort::ProcessTxEmpty()
{
    NotifyLinksState(&TComLink::OnTxBusy, false);
    NotifyLinksEvent(&TComLink::OnTxQueueEmpty);
    FireTxEmpty();
}

void TCustomComPort::ProcessBreak()
{
    FireBreak();
}

void TCustomComPort::ProcessRing()
{
    NotifyLinksEvent(&TComLink::OnRingSignal);
    FireRing();
}

void TCustomComPort::ProcessError()
{
    const TComErrors errors = TakeLineErrors();
    if (!errors.Empty())
        FireError(errors);
}

void TCustomComPort::ProcessRx80Full()
{
    FireRx80Full();
}
