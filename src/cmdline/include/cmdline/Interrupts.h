// Ctrl-C, SIGTERM and SIGHUP for the command line: taken on a thread of their own, so that a
// run in progress ends cleanly (the port closed and restored) instead of the process dying
// with the port still locked and set up for the run.
#pragma once

#include "base/UniqueFd.h"
#include "base/WakeUp.h"

#include <atomic>
#include <functional>
#include <mutex>
#include <thread>

namespace zentrop {

class InterruptWatch {
public:
    // Blocks the signals in the calling thread and in every thread it starts from now on;
    // make it before any other thread exists.
    InterruptWatch();
    ~InterruptWatch();
    InterruptWatch(const InterruptWatch&) = delete;
    InterruptWatch& operator=(const InterruptWatch&) = delete;

    // What a signal does, called on the watch's thread; also called at once when a signal has
    // already come. An empty one clears it: once this returns, the previous one is not
    // running and will not be called again. Without one, a signal ends the process at once
    // with status 130: only a run has something to put back first.
    void SetHandler(std::function<void()> handler);
    // A signal has come.
    bool Interrupted() const { return FInterrupted; }
    // The signal that came first, or 0.
    int Signal() const { return FSignal; }

private:
    void Watch();

    UniqueFd FSignalFd;
    WakeUp FStop;
    std::atomic<bool> FInterrupted{false};
    std::atomic<int> FSignal{0};
    std::mutex FMutex;
    std::function<void()> FHandler;
    std::thread FThread;
};

} // namespace zentrop
