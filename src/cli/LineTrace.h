// The bytes of a run as the command line shows them with -v: one line per command sent and
// one per answer, each with the time since the run began; and what the last answer was, so a
// failure can say whether the device stayed silent or answered wrongly.
#pragma once

#include "upgrade/BootComPort.h"

#include <QByteArray>
#include <QString>
#include <QElapsedTimer>

#include <cstdio>
#include <functional>

namespace zentrop {

// The device answered a page's data before its last byte: its pages are shorter than the file's.
class EPageSizeMismatch : public Exception {
public:
    using Exception::Exception;
};

class LineTrace : public LineTap {
public:
    // Traces to out when it is given, each line after the prefix; counts and remembers either way.
    explicit LineTrace(FILE* out, const QString& prefix = QString());

    // Also writes every line to a log, with the time of day (UTC) and the port in front.
    void SetLog(FILE* log, const QString& port);

    void Written(const uint8_t* bytes, int count) override;
    void Received(const uint8_t* bytes, int requested, int got) override;
    void Purged() override;
    // Writes what was sent since the last answer.
    void Flush();

    // How many bytes wait in the port's input. With it, bytes already waiting right after the
    // answer to a page's data raise EPageSizeMismatch: the device answered before the page
    // ended and took the rest as commands, whose answers would otherwise be blamed on the
    // next command.
    void SetInputCheck(std::function<int()> waiting) { FWaiting = std::move(waiting); }

    // The command letter of the last exchange (0 before any).
    char LastCommand() const { return FLastCommand; }
    // The length of the last page's data sent, and its address.
    int LastPageBytes() const { return FLastPageBytes; }
    int LastAddress() const { return FLastAddress; }
    // Pages whose data the device acknowledged.
    int PagesAcknowledged() const { return FPagesAcknowledged; }
    bool Silent() const { return FLastGot == 0; }

    // "2026-12-07T18:00:00.123Z": the time of day as logs show it.
    static QByteArray TimeOfDay();

    // "no answer within the time-out" or "a wrong answer: expected 0x0D, got 0x41".
    QString LastAnswer() const;
    qint64 BytesWritten() const { return FWritten; }
    double Seconds() const { return static_cast<double>(FClock.nsecsElapsed()) / 1e9; }

private:
    void Line(const char* direction, const QByteArray& text, qint64 atNs);

    FILE* FOut;
    QByteArray FPrefix;
    FILE* FLog = nullptr;
    QByteArray FLogPrefix;
    QElapsedTimer FClock;
    QByteArray FPending;
    qint64 FPendingAtNs = 0;
    qint64 FWritten = 0;
    int FLastGot = -1;
    uint8_t FLastByte = 0;
    std::function<int()> FWaiting;
    char FLastCommand = 0;
    int FLastPageBytes = 0;
    int FLastAddress = 0;
    int FPagesAcknowledged = 0;
};

} // namespace zentrop
