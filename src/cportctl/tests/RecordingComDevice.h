// A device for port tests that opens any name it is not told to refuse and records, in
// order, every open, close and settings call the port makes of it.
#pragma once

#include "cport/ComDevice.h"

#include <QSet>
#include <QString>
#include <QStringList>

#include <cerrno>
#include <memory>

// What the tests read and steer; shared with the device, which the port owns.
struct DeviceLog {
    // "open <name>", "close", "buffer", "state <baud>", "timeouts".
    QStringList Calls;
    QList<DCB> States;
    QSet<QString> RefusedNames;     // Open of these names fails with ENOENT
    bool RefuseState = false;       // SetCommState fails with EINVAL

    int Count(const QString& prefix) const
    {
        int n = 0;
        for (const QString& c : Calls)
            n += c.startsWith(prefix) ? 1 : 0;
        return n;
    }
};

class RecordingComDevice : public TComDevice {
public:
    explicit RecordingComDevice(std::shared_ptr<DeviceLog> Log) : FLog(std::move(Log)) {}

    QString DeviceName(const QString& Port) const override { return Port; }
    int Open(const QString& Port) override
    {
        if (FLog->RefusedNames.contains(Port))
            return ENOENT;
        FLog->Calls << QStringLiteral("open ") + Port;
        FOpen = true;
        return 0;
    }
    void Close() override
    {
        if (!FOpen)
            return;
        FLog->Calls << QStringLiteral("close");
        FOpen = false;
    }
    bool IsOpen() const override { return FOpen; }

    int SetCommState(const DCB& Dcb) override
    {
        if (FLog->RefuseState)
            return EINVAL;
        FLog->Calls << QStringLiteral("state %1").arg(Dcb.BaudRate);
        FLog->States << Dcb;
        return 0;
    }
    int SetCommTimeouts(const COMMTIMEOUTS&) override
    {
        FLog->Calls << QStringLiteral("timeouts");
        return 0;
    }
    int SetupComm(int, int) override
    {
        FLog->Calls << QStringLiteral("buffer");
        return 0;
    }
    int PurgeComm(uint32_t) override { return 0; }
    int ClearCommError(uint32_t& Errors, COMSTAT& Stat) override
    {
        Errors = 0;
        Stat = {};
        return 0;
    }
    int GetCommModemStatus(uint32_t& Status) override
    {
        Status = 0;
        return 0;
    }
    int ReadFile(char*, int, int& Transferred, TOverlapped&) override
    {
        Transferred = 0;
        return 0;
    }
    int WriteFile(const char*, int Count, int& Transferred, TOverlapped&) override
    {
        Transferred = Count;
        return 0;
    }
    int GetOverlappedResult(TOverlapped&, int& Transferred) override
    {
        Transferred = 0;
        return 0;
    }

private:
    std::shared_ptr<DeviceLog> FLog;
    bool FOpen = false;
};
