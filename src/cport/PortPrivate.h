// The port component's private state, shared by the port's source files and its event
// thread; nothing outside the engine includes it.
#pragma once

#include "cport/ComPort.h"
#include "ComThread.h"
#include "LinkList.h"

#include <atomic>
#include <condition_variable>
#include <exception>
#include <memory>
#include <mutex>
#include <thread>
#include <vector>

namespace zentrop {

class TSyncQueue;

struct TCustomComPort::Private {
    explicit Private(TCustomComPort& Owner);

    // Hands an error that reaches no caller to the application's error report.
    static void ReportError(const std::exception& E);
    // The apply operations act only on a connected port outside an update bracket, and
    // never while the component is designed or loaded.
    bool CanApply() const;
    // Raises the device error; when the device went away, the port is first closed with
    // the close's notifications, so that the next open reaches the device anew.
    [[noreturn]] void RaiseDevice(int Code, int SystemCode);
    // Closes the port that opening Generation made, when its device went away; from
    // another thread the close is handed to the port's own thread.
    void DeviceLost(uint64_t Generation);

    void StartEventThread();
    void StopEventThread();
    // Waits for the threads of earlier opens that were left to end on their own.
    void ReapRetiredThreads(bool Wait);
    // The port is open and Thread is its event thread (not one left from before a close).
    bool IsServedBy(const TComThread* Thread) const;
    // Under CloseMutex: the calling thread runs a delivery of the port's event thread,
    // which a Close in progress waits for.
    bool InDelivery() const;
    // Takes the close for the calling thread; false when another Close has done it.
    bool BeginClose();
    void EndClose();

    // Processes one event by its mask bit; other bits do nothing.
    void ProcessEvent(uint32_t EventCode);
    // Reads the signal and tells the links and the handler of its state.
    void ReportSignal(TLineSignal Signal, TComSignalEvent TComLink::*Slot,
                      void (TCustomComPort::*Fire)(bool));

    TCustomComPort& Owner;
    std::unique_ptr<ComDevice> Device;
    bool Designing = false;
    bool Loading = false;
    // Read by the event thread too.
    std::atomic<bool> Connected{false};
    int UpdateDepth = 0;
    bool ThreadRunning = false;
    // Counts the opens, so that news of a lost device never closes a later opening.
    std::atomic<uint64_t> OpenGeneration{0};
    // Close is running: a device that went away does not stop it, nor start another.
    std::atomic<bool> Closing{false};
    LinkList Links;
    TSyncQueue* SyncQueue;   // a child of the port
    std::unique_ptr<TComThread> EventWatcher;
    std::atomic<TComThread*> CurrentWatcher{nullptr};
    std::vector<std::unique_ptr<TComThread>> RetiredWatchers;
    // Close may be called on several threads at once: one closes, the others wait for it.
    // The mutex also guards the end of the event thread's object, which those calls look at.
    std::mutex CloseMutex;
    std::condition_variable CloseDone;
    std::thread::id Closer;

    // Line errors a queue count took from the device: they wait here for the error report
    // (TakeLineErrors), which a count must not rob. Both threads count.
    std::atomic<uint32_t> PendingErrors{0};

    PortSettings Settings;
    QString Port = QStringLiteral("COM1");
    TComEvents Events = AllComEvents;
    TSyncMethod SyncMethod = TSyncMethod::smThreadSync;
    bool AnnounceRxCount = true;
    QThread::Priority ThreadPriority = QThread::NormalPriority;
    TStoredGroups StoredGroups = {TStoredGroup::sgBasic};
    int RS485Before = 0;   // ms, RTS raised before the first bit while sending (rtsToggle)
    int RS485After = 0;    // ms, after the last

    // Created after the links, in this order, each owned by the port.
    std::unique_ptr<TComParity> Parity;
    std::unique_ptr<TComFlowControl> FlowControl;
    std::unique_ptr<TComTimeouts> Timeouts;
    std::unique_ptr<TComBuffer> Buffer;
};

} // namespace zentrop
