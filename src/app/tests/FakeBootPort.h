// A scripted port and a recording observer for the upgrade run's unit tests: every byte,
// pause, purge, read, status and message lands in one ordered log.
#pragma once

#include "app/Bootloader.h"

#include <QString>
#include <QStringList>

#include <functional>
#include <optional>
#include <vector>

namespace boottest {

class Recorder : public TBootObserver {
public:
    QStringList Log;
    std::function<void()> OnProcessEvents;

    void SetStatus(const QString& text) override
    {
        Status = text;
        Log << QStringLiteral("status ") + text;
    }
    void StartProgress(int max) override
    {
        Max = max;
        Position = 0;
        Log << QStringLiteral("progress %1").arg(max);
    }
    void StepProgress() override
    {
        ++Position;
        Log << QStringLiteral("step");
    }
    void ShowMessage(const QString& text) override
    {
        Messages << text;
        Log << QStringLiteral("message ") + text;
    }
    void ProcessEvents() override
    {
        ++EventRounds;
        if (OnProcessEvents)
            OnProcessEvents();
    }

    QString Status;
    QStringList Messages;
    int Max = -1;
    int Position = -1;
    int EventRounds = 0;
};

// Answers every read with the acknowledgement unless a reply function says otherwise. A reply
// of nullopt is a time-out: nothing is delivered and the port's 0xFF mark stays.
class FakePort : public TBootPort {
public:
    explicit FakePort(Recorder& log) : FLog(log) {}

    bool IsConnected = true;
    bool MarksBuffer = true;
    std::vector<uint8_t> Sent;
    int Reads = 0;
    // Called with the 1-based number of the read; returns the byte delivered.
    std::function<std::optional<uint8_t>(int read)> Reply;
    // Called before each write with the 0-based index of the byte; may raise.
    std::function<void(size_t index)> BeforeWrite;
    std::function<void()> OnOpen;

    bool Connected() const override { return IsConnected; }
    void Open() override
    {
        FLog.Log << QStringLiteral("open");
        if (OnOpen)
            OnOpen();
        IsConnected = true;
    }
    void PurgeBuffers(bool input, bool output) override
    {
        FLog.Log << QStringLiteral("purge %1 %2").arg(input).arg(output);
    }
    int Write(const void* buffer, int count) override
    {
        const auto* p = static_cast<const uint8_t*>(buffer);
        for (int i = 0; i < count; ++i) {
            if (BeforeWrite)
                BeforeWrite(Sent.size());
            Sent.push_back(p[i]);
            FLog.Log << QStringLiteral("w %1").arg(p[i], 2, 16, QLatin1Char('0'));
        }
        return count;
    }
    int Read(void* buffer, int count) override
    {
        auto* p = static_cast<uint8_t*>(buffer);
        if (MarksBuffer && count > 0)
            p[0] = 0xFF;
        ++Reads;
        const std::optional<uint8_t> b = Reply ? Reply(Reads) : std::optional<uint8_t>(0x0D);
        FLog.Log << (b ? QStringLiteral("r %1").arg(*b, 2, 16, QLatin1Char('0')) : QStringLiteral("r timeout"));
        if (!b || count < 1)
            return 0;
        p[0] = *b;
        return 1;
    }

private:
    Recorder& FLog;
};

} // namespace boottest
