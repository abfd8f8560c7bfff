// The simulated bootloader on a line: a pseudo-terminal (or a given serial device) whose far
// end the host opens, an optional pacing of the line at a baud rate, idle-gap detection for
// pages of unknown length, and a loop that runs on its own thread or on the caller's.
#pragma once

#include "base/UniqueFd.h"
#include "base/WakeUp.h"
#include "testsupport/BootDevice.h"

#include <QString>

#include <condition_variable>
#include <functional>
#include <mutex>
#include <thread>

namespace zentrop {

namespace bootsim {

struct SimOptions {
    DeviceOptions Device;
    // Paces the line as a UART at this rate would: every byte takes 10 bit times in each
    // direction, and an answer leaves only when the bytes before it have arrived. 0: no pacing.
    int Baud = 0;
    // A serial device to serve instead of a pseudo-terminal; its own UART paces the line.
    QString DevicePath;
    // Ends the loop once the application has been started with "J".
    bool StopAfterJump = false;
    // Each new log line of the device, called on the loop's thread.
    std::function<void(const QString&)> OnLog;
};

// Raised when the line cannot be set up.
class SimError : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

class Simulator {
public:
    explicit Simulator(SimOptions options);
    ~Simulator();
    Simulator(const Simulator&) = delete;
    Simulator& operator=(const Simulator&) = delete;

    // Opens the line and returns the path that the host opens (the pseudo-terminal's far end
    // or the given device). Raises SimError.
    QString Open();
    // Runs the loop on the calling thread until Stop, a hang-up fault, or the jump when
    // StopAfterJump is set.
    void Run();
    // Runs the loop on a thread of its own.
    void Start();
    // Ends the loop soon; safe from any thread and from a signal handler.
    void Stop();
    // Waits for the loop's thread after Stop.
    void Join();

    DeviceRecord Snapshot() const;
    // Waits until the record fulfils the condition or the time is up; returns the condition.
    bool WaitFor(const std::function<bool(const DeviceRecord&)>& condition, int timeoutMs) const;

private:
    void Loop();
    void Apply(const Reaction& reaction, int64_t wireTimeNs);
    void WriteReply(const QByteArray& reply);
    void HangUp();
    void PublishLog(int& published);

    SimOptions FOptions;
    Device FDevice;
    UniqueFd FLine;
    WakeUp FStop;
    bool FPty = true;
    int64_t FByteNs = 0;
    bool FEnded = false;
    std::thread FThread;
    mutable std::mutex FMutex;
    mutable std::condition_variable FChanged;
};

} // namespace bootsim

} // namespace zentrop
