// A device for tests of code that drives a port: it records every call with its values,
// plays back bytes to read and modem lines, and fails the calls a test names.
#pragma once

#include "cport/ComDevice.h"

#include <QByteArray>
#include <QHash>
#include <QStringList>
#include <condition_variable>
#include <deque>
#include <mutex>

namespace zentrop {

class RecordingComDevice : public ComDevice {
public:
    // Names of the calls in the log and for Fail(): "Open", "Close", "SetCommState",
    // "SetCommTimeouts", "SetupComm", "PurgeComm", "ClearCommError", "GetCommModemStatus",
    // "EscapeCommFunction", "SetRS485Delays", "ReadFile", "WriteFile", "GetOverlappedResult",
    // "SetCommMask" (waits are not logged).
    QStringList Calls() const;
    void ClearCalls();
    // Adds a line of the test's own to the log, to check the order of calls and callbacks.
    void Note(const QString& Line);
    // The call fails with this system code until Fail(Call, 0).
    void Fail(const QString& Call, int SystemCode);

    DCB LastDCB() const;
    COMMTIMEOUTS LastTimeouts() const;
    QByteArray Written() const;
    // Bytes the next reads take; the queue count ClearCommError reports.
    void Receive(const QByteArray& Bytes);
    void SetModemStatus(uint32_t Status);
    // Error flags the next ClearCommError reports once.
    void SetLineErrors(uint32_t Errors);
    // Events (EV_ bits) the next wait reports, after Receive or the other settings.
    void RaiseEvents(uint32_t Events);
    // The wait ends as if the device had gone away.
    void FailWait(int SystemCode);

    QString DeviceName(const QString& Port) const override { return QStringLiteral("dev:") + Port; }
    int Open(const QString& Port) override;
    void Close() override;
    bool IsOpen() const override;
    int SetCommState(const DCB& Dcb) override;
    int SetCommTimeouts(const COMMTIMEOUTS& Timeouts) override;
    int SetupComm(int InputSize, int OutputSize) override;
    int PurgeComm(uint32_t Flags) override;
    int ClearCommError(uint32_t& Errors, COMSTAT& Stat) override;
    int GetCommModemStatus(uint32_t& Status) override;
    int EscapeCommFunction(uint32_t Function) override;
    int SetRS485Delays(int BeforeMs, int AfterMs) override;
    int ReadFile(char* Buffer, int Count, int& Transferred, Overlapped& Ovl) override;
    int WriteFile(const char* Buffer, int Count, int& Transferred, Overlapped& Ovl) override;
    int GetOverlappedResult(Overlapped& Ovl, int& Transferred) override;
    int SetCommMask(uint32_t Mask) override;
    int WaitCommEvent(uint32_t& Events, const StopEvent& Stop) override;

private:
    // Logs the call and gives the failure a test set for it (0 for none).
    int Record(const QString& Call, const QString& Values = QString());

    mutable std::mutex FMutex;
    std::condition_variable FEventsRaised;
    std::deque<uint32_t> FEvents;
    int FWaitError = 0;
    QStringList FCalls;
    QHash<QString, int> FFailures;
    bool FOpen = false;
    DCB FDCB;
    COMMTIMEOUTS FTimeouts;
    QByteArray FWritten;
    QByteArray FInput;
    uint32_t FModemStatus = 0;
    uint32_t FLineErrors = 0;
};

} // namespace zentrop
