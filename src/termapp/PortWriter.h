// The window's way of sending: bytes are queued at once and a thread of their own hands them
// to the port as fast as the device takes them, so a device that stops taking data never
// holds the window, and nothing queued is dropped by a write's time-out.
#pragma once

#include <QByteArray>
#include <QObject>
#include <QString>

#include <chrono>
#include <condition_variable>
#include <deque>
#include <mutex>
#include <thread>

namespace zentrop {

class TCustomComPort;

class PortWriter : public QObject {
    Q_OBJECT

public:
    // More than this waiting is refused rather than held: no one types or pastes that much,
    // and a device that takes nothing would otherwise let memory grow without end.
    static constexpr qsizetype MaxQueued = 16 * 1024 * 1024;
    // Bytes that waited this long without the device taking any mean it is not taking data.
    static constexpr std::chrono::milliseconds StallTime{1000};
    // A write returns after this time with what the device took, so the thread sees Stop
    // and the window sees progress; the rest is written again.
    static constexpr int SliceMs = 200;

    explicit PortWriter(TCustomComPort* Port, QObject* Parent = nullptr);
    ~PortWriter() override;

    // Sets the port's write time-outs to the slice and starts the thread; the port is open.
    void Start();
    // Ends the thread within one slice. Bytes not yet written stay queued for the next Start
    // unless Discard is true.
    void Stop(bool Discard);
    bool Running() const { return FThread.joinable(); }

    // Queues Bytes; false, with nothing queued, when the queue would pass MaxQueued. Bytes of
    // a file being sent are marked File, so that a cancel can take them back.
    bool Enqueue(const QByteArray& Bytes, bool File = false);
    // Takes back every file byte not yet written, the rest of a running file write included
    // (it ends within a slice); typed bytes stay. Returns how many bytes were taken back.
    qsizetype DropFile();
    // Bytes queued or in the running write, not yet taken by the device.
    qsizetype Pending() const;
    // Bytes the device has taken since the writer was made.
    qint64 Written() const;
    // Bytes have been waiting for StallTime with none taken. Now is passed in for tests.
    bool Stalled(std::chrono::steady_clock::time_point Now = std::chrono::steady_clock::now()) const;
    // The port's failure that stopped the thread; empty while none did.
    QString Failure() const;

signals:
    // The device took bytes (sent at most once until the window has taken it up).
    void Progress();
    // A write failed (the device went away); the thread has ended.
    void Failed(const QString& Why);

private:
    void Run();
    void Notify();

    TCustomComPort* FPort;
    mutable std::mutex FMutex;
    std::condition_variable FWake;
    struct Entry {
        QByteArray Bytes;
        bool File = false;
    };
    std::deque<Entry> FQueue;
    qsizetype FQueued = 0;          // bytes in FQueue
    qsizetype FInFlight = 0;        // bytes of the write running now, not yet taken
    bool FInFlightFile = false;     // the running write is a file's
    bool FDropInFlight = false;     // its rest is not to be written
    qint64 FWritten = 0;
    std::chrono::steady_clock::time_point FLastTaken;
    bool FStop = false;
    bool FNotifyPending = false;
    QString FFailure;
    std::thread FThread;
};

} // namespace zentrop
