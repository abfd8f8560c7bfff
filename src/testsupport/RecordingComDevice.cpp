// The recording test device.
#include "testsupport/RecordingComDevice.h"

#include <algorithm>
#include <chrono>
#include <cerrno>
#include <cstring>
#include <utility>

namespace zentrop {

int RecordingComDevice::Record(const QString& Call, const QString& Values)
{
    FCalls.append(Values.isEmpty() ? Call : Call + u' ' + Values);
    return FFailures.value(Call, 0);
}

QStringList RecordingComDevice::Calls() const
{
    std::lock_guard lock(FMutex);
    return FCalls;
}

void RecordingComDevice::ClearCalls()
{
    std::lock_guard lock(FMutex);
    FCalls.clear();
}

void RecordingComDevice::Note(const QString& Line)
{
    std::lock_guard lock(FMutex);
    FCalls.append(Line);
}

void RecordingComDevice::Fail(const QString& Call, int SystemCode)
{
    std::lock_guard lock(FMutex);
    FFailures[Call] = SystemCode;
}

DCB RecordingComDevice::LastDCB() const
{
    std::lock_guard lock(FMutex);
    return FDCB;
}

COMMTIMEOUTS RecordingComDevice::LastTimeouts() const
{
    std::lock_guard lock(FMutex);
    return FTimeouts;
}

QByteArray RecordingComDevice::Written() const
{
    std::lock_guard lock(FMutex);
    return FWritten;
}

void RecordingComDevice::Receive(const QByteArray& Bytes)
{
    std::lock_guard lock(FMutex);
    FInput += Bytes;
}

void RecordingComDevice::SetModemStatus(uint32_t Status)
{
    std::lock_guard lock(FMutex);
    FModemStatus = Status;
}

void RecordingComDevice::SetLineErrors(uint32_t Errors)
{
    std::lock_guard lock(FMutex);
    FLineErrors = Errors;
}

int RecordingComDevice::Open(const QString& Port)
{
    std::lock_guard lock(FMutex);
    if (const int err = Record(QStringLiteral("Open"), Port))
        return err;
    FOpen = true;
    return 0;
}

void RecordingComDevice::Close()
{
    std::lock_guard lock(FMutex);
    Record(QStringLiteral("Close"));
    FOpen = false;
}

bool RecordingComDevice::IsOpen() const
{
    std::lock_guard lock(FMutex);
    return FOpen;
}

int RecordingComDevice::SetCommState(const DCB& Dcb)
{
    std::lock_guard lock(FMutex);
    if (const int err = Record(QStringLiteral("SetCommState"), QString::number(Dcb.BaudRate)))
        return err;
    if (!FOpen)
        return EBADF;
    FDCB = Dcb;
    return 0;
}

int RecordingComDevice::SetCommTimeouts(const COMMTIMEOUTS& Timeouts)
{
    std::lock_guard lock(FMutex);
    if (const int err = Record(QStringLiteral("SetCommTimeouts")))
        return err;
    if (!FOpen)
        return EBADF;
    FTimeouts = Timeouts;
    return 0;
}

int RecordingComDevice::SetupComm(int InputSize, int OutputSize)
{
    std::lock_guard lock(FMutex);
    if (const int err = Record(QStringLiteral("SetupComm"),
                               QString::number(InputSize) + u' ' + QString::number(OutputSize)))
        return err;
    return FOpen ? 0 : EBADF;
}

int RecordingComDevice::PurgeComm(uint32_t Flags)
{
    std::lock_guard lock(FMutex);
    if (const int err = Record(QStringLiteral("PurgeComm"), QString::number(Flags)))
        return err;
    if (!FOpen)
        return EBADF;
    if (Flags & PURGE_RXCLEAR)
        FInput.clear();
    return 0;
}

int RecordingComDevice::ClearCommError(uint32_t& Errors, COMSTAT& Stat)
{
    std::lock_guard lock(FMutex);
    Errors = 0;
    Stat = COMSTAT{};
    if (const int err = Record(QStringLiteral("ClearCommError")))
        return err;
    if (!FOpen)
        return EBADF;
    Errors = std::exchange(FLineErrors, 0);
    Stat.cbInQue = static_cast<uint32_t>(FInput.size());
    return 0;
}

int RecordingComDevice::GetCommModemStatus(uint32_t& Status)
{
    std::lock_guard lock(FMutex);
    Status = 0;
    if (const int err = Record(QStringLiteral("GetCommModemStatus")))
        return err;
    if (!FOpen)
        return EBADF;
    Status = FModemStatus;
    return 0;
}

int RecordingComDevice::EscapeCommFunction(uint32_t Function)
{
    std::lock_guard lock(FMutex);
    if (const int err = Record(QStringLiteral("EscapeCommFunction %1").arg(Function)))
        return err;
    return FOpen ? 0 : EBADF;
}

int RecordingComDevice::SetRS485Delays(int BeforeMs, int AfterMs)
{
    std::lock_guard lock(FMutex);
    return Record(QStringLiteral("SetRS485Delays %1 %2").arg(BeforeMs).arg(AfterMs));
}

int RecordingComDevice::ReadFile(char* Buffer, int Count, int& Transferred, Overlapped& Ovl)
{
    std::lock_guard lock(FMutex);
    Transferred = 0;
    if (const int err = Record(QStringLiteral("ReadFile"), QString::number(Count)))
        return err;
    if (!FOpen)
        return EBADF;
    Ovl.IsWrite = false;
    Ovl.Buffer = Buffer;
    Ovl.Count = Count;
    Ovl.Pending = true;
    return 0;
}

int RecordingComDevice::WriteFile(const char* Buffer, int Count, int& Transferred, Overlapped& Ovl)
{
    std::lock_guard lock(FMutex);
    Transferred = 0;
    if (const int err = Record(QStringLiteral("WriteFile"), QString::number(Count)))
        return err;
    if (!FOpen)
        return EBADF;
    Ovl.IsWrite = true;
    Ovl.Buffer = const_cast<char*>(Buffer);
    Ovl.Count = Count;
    Ovl.Pending = true;
    return 0;
}

int RecordingComDevice::GetOverlappedResult(Overlapped& Ovl, int& Transferred)
{
    std::lock_guard lock(FMutex);
    Transferred = 0;
    const int err = Record(QStringLiteral("GetOverlappedResult"));
    if (!Ovl.Pending)
        return err;
    Ovl.Pending = false;
    if (err)
        return err;
    if (Ovl.IsWrite) {
        FWritten.append(Ovl.Buffer, Ovl.Count);
        Transferred = Ovl.Count;
    } else {
        Transferred = std::min(Ovl.Count, static_cast<int>(FInput.size()));
        std::memcpy(Ovl.Buffer, FInput.constData(), static_cast<size_t>(Transferred));
        FInput.remove(0, Transferred);
    }
    return 0;
}

void RecordingComDevice::RaiseEvents(uint32_t Events)
{
    {
        std::lock_guard lock(FMutex);
        FEvents.push_back(Events);
    }
    FEventsRaised.notify_all();
}

void RecordingComDevice::FailWait(int SystemCode)
{
    {
        std::lock_guard lock(FMutex);
        FWaitError = SystemCode;
    }
    FEventsRaised.notify_all();
}

int RecordingComDevice::SetCommMask(uint32_t Mask)
{
    std::lock_guard lock(FMutex);
    return Record(QStringLiteral("SetCommMask"), QString::number(Mask, 16));
}

int RecordingComDevice::WaitCommEvent(uint32_t& Events, const StopEvent& Stop)
{
    using namespace std::chrono_literals;
    Events = 0;
    std::unique_lock lock(FMutex);
    // The stop event has no way to wake a condition: it is looked at every few milliseconds.
    for (;;) {
        if (Stop.IsSet())
            return ECANCELED;
        if (FWaitError)
            return FWaitError;
        if (!FEvents.empty()) {
            Events = FEvents.front();
            FEvents.pop_front();
            return 0;
        }
        FEventsRaised.wait_for(lock, 5ms);
    }
}

} // namespace zentrop
