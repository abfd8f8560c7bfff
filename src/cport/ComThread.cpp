// The event thread: the wait for device events and the three ways of handing them over.
#include "ComThread.h"

#include "cport/ComConvert.h"
#include "PortPrivate.h"
#include "base/SyncQueue.h"

namespace zentrop {

bool DeliveryGate::Enter()
{
    std::lock_guard lock(FMutex);
    if (FClosed)
        return false;
    ++FRunning;
    return true;
}

void DeliveryGate::Leave()
{
    {
        std::lock_guard lock(FMutex);
        --FRunning;
    }
    FIdle.notify_all();
}

void DeliveryGate::Close()
{
    std::unique_lock lock(FMutex);
    FClosed = true;
    FIdle.wait(lock, [this] { return FRunning == 0; });
}

int DeliveryGate::Running() const
{
    std::lock_guard lock(FMutex);
    return FRunning;
}

namespace {

// Leaves the gate on every way out of a delivery.
struct GatePass {
    DeliveryGate& Gate;
    ~GatePass() { Gate.Leave(); }
};

} // namespace

TComThread::TComThread(TCustomComPort* Port)
    : FServedPort(Port), FSyncMethod(Port->SyncMethod()), FGeneration(Port->d->OpenGeneration)
{
    Port->Device().SetCommMask(EventsToMask(Port->Events()));
    start(Port->ThreadPriority());
}

TComThread::~TComThread()
{
    SignalStop();
    Join();
}

void TComThread::Join()
{
    wait();
    std::lock_guard exit(FExitMutex);
}

void TComThread::SignalStop()
{
    FStopEvent.Set();
}

std::exception_ptr TComThread::FatalException() const
{
    // Written by the thread before it ends; read once it has.
    return FEnded ? FFatalException : nullptr;
}

void TComThread::run()
{
    ComDevice& device = FServedPort->Device();
    bool lost = false;
    try {
        for (;;) {
            uint32_t mask = 0;
            // A set stop event and a failed wait alike end the thread.
            if (const int err = device.WaitCommEvent(mask, FStopEvent)) {
                lost = DeviceGone(err);
                break;
            }
            // Once the stop is set no delivery starts, however much the device still has
            // to report: the one in progress is all that Close waits for.
            if (FStopEvent.IsSet())
                break;
            FReportedEvents = MaskToEvents(mask);
            if (!FReportedEvents.Empty())
                DeliverEvents();
        }
    } catch (...) {
        FFatalException = std::current_exception();
    }
    // A delivery handed to the owning thread may still be reading; the purge waits for it.
    FGate->Close();
    // The closing steps run on every way out, unless the port has already done them.
    if (!FRetired) {
        device.SetCommMask(0);
        device.PurgeComm(PURGE_TXCLEAR | PURGE_RXCLEAR);
        // The port is closed as by its user, on its own thread.
        if (lost)
            FServedPort->d->DeviceLost(FGeneration);
    }
    std::lock_guard exit(FExitMutex);
    FEnded = true;
    FServedPort->d->SyncQueue->Wake();
}

void TComThread::DeliverEvents()
{
    switch (FSyncMethod) {
    case TSyncMethod::smThreadSync:
        FServedPort->d->SyncQueue->Synchronize([this] {
            // The thread waits for this job, so its gate is still open.
            if (!FGate->Enter())
                return;
            GatePass pass{*FGate};
            DispatchEvents();
        });
        break;
    case TSyncMethod::smWindowSync:
        SendEventsToWindow();
        break;
    case TSyncMethod::smNone:
        DispatchEvents();
        break;
    case TSyncMethod::smDisableEvents:
        break;
    }
}

namespace {

// The order in which one batch is processed: errors before the data they came with.
constexpr TComEvent kDeliveryOrder[] = {
    TComEvent::evError, TComEvent::evRxChar, TComEvent::evTxEmpty, TComEvent::evBreak,
    TComEvent::evRing,  TComEvent::evCTS,    TComEvent::evDSR,     TComEvent::evRxFlag,
    TComEvent::evRLSD,  TComEvent::evRx80Full,
};

} // namespace

void TComThread::DispatchEvents()
{
    for (TComEvent event : kDeliveryOrder) {
        if (!FReportedEvents.Contains(event))
            continue;
        // A handler may have closed the port: the rest of the batch is dropped.
        if (!FServedPort->d->IsServedBy(this))
            return;
        FServedPort->d->ProcessEvent(EventToMask(event));
    }
}

void TComThread::SendEventsToWindow()
{
    TCustomComPort* port = FServedPort;
    for (TComEvent event : kDeliveryOrder) {
        if (!FReportedEvents.Contains(event))
            continue;
        if (FStopEvent.IsSet())
            return;
        const uint32_t code = EventToMask(event);
        // The owning thread may take the job up after this thread has gone: the gate tells
        // it so before this thread is looked at.
        port->d->SyncQueue->Send([port, code, gate = FGate, this] {
            if (!gate->Enter())
                return;
            GatePass pass{*gate};
            if (port->d->IsServedBy(this))
                port->PortWindowProc(code);
        });
    }
}

} // namespace zentrop
