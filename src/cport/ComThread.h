// The event thread of an open port: it waits for the device's events and hands each batch
// to the port the way the port's SyncMethod says.
#pragma once

#include "cport/CPortTypes.h"
#include "cport/ComDevice.h"

#include <QThread>

#include <atomic>
#include <condition_variable>
#include <exception>
#include <memory>
#include <mutex>

namespace zentrop {

class TCustomComPort;

// The deliveries an event thread has handed to the owning thread and that run there now.
// The thread closes the gate on its way out and waits for them, so that nothing it handed
// over still reads from the device when the thread's purge runs or the port closes it.
// Shared with the handed-over jobs, which may be taken up after the thread has gone.
class DeliveryGate {
public:
    // False once the gate is closed: the delivery must not start.
    bool Enter();
    void Leave();
    // Closes the gate and waits until no delivery runs.
    void Close();
    int Running() const;

private:
    mutable std::mutex FMutex;
    std::condition_variable FIdle;
    int FRunning = 0;
    bool FClosed = false;
};

class TComThread : public QThread {
public:
    // Sets the device's event mask from the port's Events and starts the thread at the
    // port's ThreadPriority. Events and SyncMethod are read here only.
    explicit TComThread(TCustomComPort* Port);
    // Stops the thread and waits for it to end.
    ~TComThread() override;

    TCustomComPort* ServedPort() const { return FServedPort; }
    // Ends the thread at its next wait.
    void SignalStop();
    // The thread's last act is done.
    bool Ended() const { return FEnded; }
    // Waits until the thread has ended; everything it did is then visible to the caller.
    void Join();
    // The exception that ended the thread early; empty when it ended on request or on a
    // failed wait.
    std::exception_ptr FatalException() const;
    // Deliveries running on the owning thread now.
    int OwnerDeliveries() const { return FGate->Running(); }

protected:
    void run() override;

private:
    friend class TCustomComPort;

    void DeliverEvents();
    void DispatchEvents();
    void SendEventsToWindow();

    TCustomComPort* FServedPort;
    const TSyncMethod FSyncMethod;
    const uint64_t FGeneration;   // the port's opening that this thread serves
    StopEvent FStopEvent;
    TComEvents FReportedEvents;
    std::shared_ptr<DeliveryGate> FGate = std::make_shared<DeliveryGate>();
    std::exception_ptr FFatalException;
    std::atomic<bool> FEnded{false};
    // Held by the thread's last act and taken by Join after the thread has ended, so that
    // the order between the two also shows in our own code, not only inside the library's
    // thread class.
    std::mutex FExitMutex;
    // Set when the port closed the device without waiting for this thread (it was closed
    // from a handler the thread is delivering to): the thread must then leave the device,
    // perhaps already reopened, alone.
    std::atomic<bool> FRetired{false};
};

} // namespace zentrop
