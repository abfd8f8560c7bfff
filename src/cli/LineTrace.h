// The bytes of a run as the command line shows them with -v and writes them to its log: one
// line per command sent and one per answer, each with the time since the run began.
#pragma once

#include "upgrade/BootComPort.h"

#include <QByteArray>
#include <QString>
#include <QElapsedTimer>

#include <cstdio>

namespace zentrop {

class LineTrace : public LineTap {
public:
    // Traces to out when it is given, each line after the prefix; counts the bytes either way.
    explicit LineTrace(FILE* out, const QString& prefix = QString());

    // Also writes every line to a log, with the time of day (UTC) and the port in front.
    void SetLog(FILE* log, const QString& port);

    void Written(const uint8_t* bytes, int count) override;
    void Received(const uint8_t* bytes, int requested, int got) override;
    void Purged() override;
    // Writes what was sent since the last answer.
    void Flush();

    // "2026-12-07T18:00:00.123Z": the time of day as logs show it.
    static QByteArray TimeOfDay();

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
};

} // namespace zentrop
