// The writer thread and its queue.
#include "PortWriter.h"

#include "cport/ComPort.h"

#include <QMetaObject>

namespace zentrop {

namespace {

// One write takes at most this much from the queue, so that Stop finds little in flight.
constexpr qsizetype kChunk = 4096;

} // namespace

PortWriter::PortWriter(TCustomComPort* Port, QObject* Parent)
    : QObject(Parent), FPort(Port)
{
}

PortWriter::~PortWriter()
{
    Stop(true);
}

void PortWriter::Start()
{
    if (Running())
        return;
    // A write that the device does not take returns after the slice with a short count,
    // never failing for lack of time: the thread simply writes the rest again.
    FPort->Timeouts()->SetWriteTotalMultiplier(0);
    FPort->Timeouts()->SetWriteTotalConstant(SliceMs);
    {
        const std::lock_guard lock(FMutex);
        FStop = false;
        FFailure.clear();
        FLastTaken = std::chrono::steady_clock::now();
    }
    FThread = std::thread([this] { Run(); });
}

void PortWriter::Stop(bool Discard)
{
    {
        const std::lock_guard lock(FMutex);
        FStop = true;
    }
    FWake.notify_all();
    if (FThread.joinable())
        FThread.join();
    const std::lock_guard lock(FMutex);
    if (Discard) {
        FQueue.clear();
        FQueued = 0;
    }
}

bool PortWriter::Enqueue(const QByteArray& Bytes, bool File)
{
    if (Bytes.isEmpty())
        return true;
    {
        const std::lock_guard lock(FMutex);
        if (FQueued + FInFlight + Bytes.size() > MaxQueued)
            return false;
        if (FQueued + FInFlight == 0)
            FLastTaken = std::chrono::steady_clock::now();
        FQueue.push_back({Bytes, File});
        FQueued += Bytes.size();
    }
    FWake.notify_one();
    return true;
}

qsizetype PortWriter::DropFile()
{
    const std::lock_guard lock(FMutex);
    qsizetype dropped = 0;
    for (auto it = FQueue.begin(); it != FQueue.end();) {
        if (it->File) {
            dropped += it->Bytes.size();
            it = FQueue.erase(it);
        } else {
            ++it;
        }
    }
    FQueued -= dropped;
    if (FInFlightFile && FInFlight > 0) {
        dropped += FInFlight;
        FDropInFlight = true;
    }
    return dropped;
}

qsizetype PortWriter::Pending() const
{
    const std::lock_guard lock(FMutex);
    return FQueued + FInFlight;
}

qint64 PortWriter::Written() const
{
    const std::lock_guard lock(FMutex);
    return FWritten;
}

bool PortWriter::Stalled(std::chrono::steady_clock::time_point Now) const
{
    const std::lock_guard lock(FMutex);
    return FQueued + FInFlight > 0 && Now - FLastTaken >= StallTime;
}

QString PortWriter::Failure() const
{
    const std::lock_guard lock(FMutex);
    return FFailure;
}

void PortWriter::Notify()
{
    // Called with the mutex held.
    if (FNotifyPending)
        return;
    FNotifyPending = true;
    QMetaObject::invokeMethod(this, [this] {
        {
            const std::lock_guard lock(FMutex);
            FNotifyPending = false;
        }
        emit Progress();
    }, Qt::QueuedConnection);
}

void PortWriter::Run()
{
    std::unique_lock lock(FMutex);
    for (;;) {
        FWake.wait(lock, [this] { return FStop || !FQueue.empty(); });
        if (FStop)
            return;
        // Take the front of the queue, at most one chunk.
        QByteArray chunk;
        const bool file = FQueue.front().File;
        if (FQueue.front().Bytes.size() <= kChunk) {
            chunk = std::move(FQueue.front().Bytes);
            FQueue.pop_front();
        } else {
            chunk = FQueue.front().Bytes.left(kChunk);
            FQueue.front().Bytes.remove(0, kChunk);
        }
        FQueued -= chunk.size();
        FInFlight = chunk.size();
        FInFlightFile = file;
        FDropInFlight = false;
        qsizetype done = 0;
        while (done < chunk.size()) {
            if (FDropInFlight)
                break;
            if (FStop) {
                // What the device has not taken goes back to the front, in order.
                FQueue.push_front({chunk.mid(done), file});
                FQueued += chunk.size() - done;
                FInFlight = 0;
                return;
            }
            lock.unlock();
            int n = 0;
            QString failure;
            try {
                n = FPort->Write(chunk.constData() + done, static_cast<int>(chunk.size() - done));
            } catch (const Exception& e) {
                failure = e.Message();
            } catch (const std::exception& e) {
                failure = QString::fromLocal8Bit(e.what());
            }
            lock.lock();
            if (!failure.isEmpty()) {
                FQueue.push_front({chunk.mid(done), file});
                FQueued += chunk.size() - done;
                FInFlight = 0;
                FFailure = failure;
                QMetaObject::invokeMethod(this, [this, failure] { emit Failed(failure); }, Qt::QueuedConnection);
                return;
            }
            if (n > 0) {
                done += n;
                FInFlight -= n;
                FWritten += n;
                FLastTaken = std::chrono::steady_clock::now();
                Notify();
            }
        }
        FInFlight = 0;
        FInFlightFile = false;
    }
}

} // namespace zentrop
