// A scripted port and a recording observer for the upgrade run's unit tests: every byte,
// pause, purge, read and progress event lands in one ordered log.
#pragma once

#include "upgrade/Bootloader.h"

#include <QString>
#include <QStringList>

#include <functional>
#include <optional>
#include <vector>

namespace zentrop {

namespace boottest {

class Recorder : public UpgradeObserver {
public:
    QStringList Log;

    void RunStarted(const RunPlan& plan) override
    {
        Log << QStringLiteral("run %1 %2+%3").arg(static_cast<int>(plan.Mode)).arg(plan.FlashPages).arg(plan.EEPromPages);
    }
    void MemoryStarted(Memory memory, int pages) override
    {
        Log << QStringLiteral("memory %1 %2").arg(Name(memory)).arg(pages);
    }
    void PageStarted(const PageProgress& page) override { Log << QStringLiteral("page ") + Describe(page); }
    void PageDone(const PageProgress& page) override { Log << QStringLiteral("done ") + Describe(page); }
    void ApplicationStarting() override { Log << QStringLiteral("jump"); }
    void RunEnded(const RunEnd& end) override
    {
        static const char* const steps[] = {"open", "wake", "mode", "address", "data", "jump"};
        static const char* const results[] = {"done", "error", "port"};
        End = end;
        if (!end.Message.isEmpty())
            Messages << end.Message;
        Log << QStringLiteral("end %1 %2 %3%4%5")
                   .arg(results[static_cast<int>(end.Result)], steps[static_cast<int>(end.Step)], Name(end.Where),
                        end.Page ? QStringLiteral(" ") + Describe(*end.Page) : QString(),
                        end.Message.isEmpty() ? QString() : QStringLiteral(": ") + end.Message);
    }
    void ByteSent() override { ++BytesSent; }

    std::optional<RunEnd> End;
    QStringList Messages;
    int BytesSent = 0;

private:
    static QString Name(Memory memory) { return memory == Memory::Flash ? QStringLiteral("flash") : QStringLiteral("eeprom"); }
    static QString Describe(const PageProgress& page)
    {
        return QStringLiteral("%1 %2/%3 0x%4").arg(Name(page.Where)).arg(page.Index + 1).arg(page.Count).arg(page.Address, 0, 16);
    }
};

// Answers every read with the acknowledgement unless a reply function says otherwise. A reply
// of nullopt is a time-out: nothing is delivered and the port's 0xFF mark stays.
class FakePort : public BootPort {
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
    // How many bytes wait unread; none unless a test's device has answered ahead of its read.
    std::function<int()> Waiting;
    // How many bytes come while the line is quiet before the jump; none unless a test says.
    std::function<int()> Stray;

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
    int InputWaiting() override { return Waiting ? Waiting() : 0; }
    int StrayBytes(int) override { return Stray ? Stray() : 0; }

private:
    Recorder& FLog;
};

} // namespace boottest

} // namespace zentrop
