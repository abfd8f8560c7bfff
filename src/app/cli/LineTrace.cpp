// The byte trace and the last answer.
#include "LineTrace.h"

#include "app/BootProtocol.h"

TLineTrace::TLineTrace(FILE* out, const QString& prefix) : FOut(out), FPrefix(prefix.toLocal8Bit())
{
    FClock.start();
}

void TLineTrace::Written(const uint8_t* bytes, int count)
{
    if (FPending.isEmpty())
        FPendingAtNs = FClock.nsecsElapsed();
    FPending.append(reinterpret_cast<const char*>(bytes), count);
    FWritten += count;
}

void TLineTrace::Received(const uint8_t* bytes, int requested, int got)
{
    Flush();
    FLastGot = got;
    FLastByte = got > 0 ? bytes[0] : 0;
    Line("<", got > 0 ? QByteArray(reinterpret_cast<const char*>(bytes), got).toHex(' ').toUpper()
                      : QByteArray("(nothing within the time-out, ") + QByteArray::number(requested) + " byte(s) asked for)",
         FClock.nsecsElapsed());
}

void TLineTrace::Purged()
{
    Flush();
    Line("-", "input and output queues purged", FClock.nsecsElapsed());
}

void TLineTrace::Flush()
{
    if (FPending.isEmpty())
        return;
    Line(">", FPending.toHex(' ').toUpper(), FPendingAtNs);
    FPending.clear();
}

void TLineTrace::Line(const char* direction, const QByteArray& text, qint64 atNs)
{
    if (!FOut)
        return;
    std::fprintf(FOut, "%s[%10.6f] %s %s\n", FPrefix.constData(), static_cast<double>(atNs) / 1e9, direction, text.constData());
    std::fflush(FOut);
}

QString TLineTrace::LastAnswer() const
{
    if (FLastGot < 0)
        return QString();
    if (FLastGot == 0)
        return QStringLiteral("no answer within the time-out");
    return QString::asprintf("a wrong answer: expected 0x%02X, got 0x%02X", boot::Ack, FLastByte);
}
