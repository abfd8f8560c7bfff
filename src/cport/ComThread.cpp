// The event thread: the wait for device events and the three ways of handing them over.
#include "ComThread.h"

#include "ComConvert.h"
#include "ComPort.h"
#include "base/SyncQueue.h"

TComThread::TComThread(TCustomComPort* Port)
    : FServedPort(Port), FSyncMethod(Port->SyncMethod())
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
    TComDevice& device = FServedPort->Device();
    try {
        for (;;) {
            uint32_t mask = 0;
            // A set stop event and a failed wait alike end the thread.
            if (device.WaitCommEvent(mask, FStopEvent) != 0)
                break;
            FReportedEvents = MaskToEvents(mask);
            if (!FReportedEvents.Empty())
                DeliverEvents();
        }
    } catch (...) {
        FFatalException = std::current_exception();
    }
    // The closing steps run on every way out, unless the port has already done them.
    if (!FRetired) {
        device.SetCommMask(0);
        device.PurgeComm(PURGE_TXCLEAR | PURGE_RXCLEAR);
    }
    std::lock_guard exit(FExitMutex);
    FEnded = true;
    FServedPort->FSyncQueue->Wake();
}

void TComThread::DeliverEvents()
{
    switch (FSyncMethod) {
    case TSyncMethod::smThreadSync:
        FServedPort->FSyncQueue->Synchronize([this] {
            ++FServedPort->FSyncDeliveries;
            struct Leave {
                std::atomic<int>& Depth;
                ~Leave() { --Depth; }
            } leave{FServedPort->FSyncDeliveries};
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
        if (!FServedPort->IsServedBy(this))
            return;
        FServedPort->ProcessEvent(EventToMask(event));
    }
}

void TComThread::SendEventsToWindow()
{
    TCustomComPort* port = FServedPort;
    for (TComEvent event : kDeliveryOrder) {
        if (!FReportedEvents.Contains(event))
            continue;
        const uint32_t code = EventToMask(event);
        port->FSyncQueue->Send([port, code, this] {
            if (port->IsServedBy(this))
                port->PortWindowProc(code);
        });
    }
}
