// The bytes of a run as the command line shows them with -v: one line per command sent and
// one per answer, each with the time since the run began; and what the last answer was, so a
// failure can say whether the device stayed silent or answered wrongly.
#pragma once

#include "app/BootComPort.h"

#include <QByteArray>
#include <QString>
#include <QElapsedTimer>

#include <cstdio>

class TLineTrace : public TLineTap {
public:
    // Traces to out when it is given, each line after the prefix; counts and remembers either way.
    explicit TLineTrace(FILE* out, const QString& prefix = QString());

    void Written(const uint8_t* bytes, int count) override;
    void Received(const uint8_t* bytes, int requested, int got) override;
    void Purged() override;
    // Writes what was sent since the last answer.
    void Flush();

    // "no answer within the time-out" or "a wrong answer: expected 0x0D, got 0x41".
    QString LastAnswer() const;
    qint64 BytesWritten() const { return FWritten; }
    double Seconds() const { return static_cast<double>(FClock.nsecsElapsed()) / 1e9; }

private:
    void Line(const char* direction, const QByteArray& text, qint64 atNs);

    FILE* FOut;
    QByteArray FPrefix;
    QElapsedTimer FClock;
    QByteArray FPending;
    qint64 FPendingAtNs = 0;
    qint64 FWritten = 0;
    int FLastGot = -1;
    uint8_t FLastByte = 0;
};
