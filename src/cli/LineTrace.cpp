// The byte trace.
#include "LineTrace.h"

#include "cmdline/Console.h"

#include <QDateTime>

namespace zentrop {

LineTrace::LineTrace(FILE* out, const QString& prefix) : FOut(out), FPrefix(prefix.toLocal8Bit())
{
    FClock.start();
}

void LineTrace::Written(const uint8_t* bytes, int count)
{
    if (FPending.isEmpty())
        FPendingAtNs = FClock.nsecsElapsed();
    FPending.append(reinterpret_cast<const char*>(bytes), count);
    FWritten += count;
}

void LineTrace::Received(const uint8_t* bytes, int requested, int got)
{
    Flush();
    Line("<", got > 0 ? QByteArray(reinterpret_cast<const char*>(bytes), got).toHex(' ').toUpper()
                      : QByteArray("(nothing within the time-out, ") + QByteArray::number(requested) + " byte(s) asked for)",
         FClock.nsecsElapsed());
}

void LineTrace::Purged()
{
    Flush();
    Line("-", "input and output queues purged", FClock.nsecsElapsed());
}

void LineTrace::Flush()
{
    if (FPending.isEmpty())
        return;
    Line(">", FPending.toHex(' ').toUpper(), FPendingAtNs);
    FPending.clear();
}

void LineTrace::SetLog(FILE* log, const QString& port)
{
    FLog = log;
    FLogPrefix = port.toLocal8Bit();
}

QByteArray LineTrace::TimeOfDay()
{
    return QDateTime::currentDateTimeUtc().toString(Qt::ISODateWithMs).toLatin1();
}

void LineTrace::Line(const char* direction, const QByteArray& text, qint64 atNs)
{
    if (FLog)
        ConsolePrintf(FLog, "%s %s %s %s\n", TimeOfDay().constData(), FLogPrefix.constData(), direction, text.constData());
    if (!FOut)
        return;
    ConsolePrintf(FOut, "%s[%10.6f] %s %s\n", FPrefix.constData(), static_cast<double>(atNs) / 1e9, direction,
                  text.constData());
}

} // namespace zentrop
