// The byte trace and the last answer.
#include "LineTrace.h"

#include "cmdline/Console.h"

#include "upgrade/BootProtocol.h"

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
    const char command = FPending.isEmpty() ? 0 : FPending.at(0);
    FLastCommand = command;
    if ((command == boot::CmdAddress || command == boot::CmdLongAddress) && FPending.size() >= 3)
        FLastAddress = static_cast<uint8_t>(FPending.at(1)) | static_cast<uint8_t>(FPending.at(2)) << 8;
    if (command == boot::CmdData)
        FLastPageBytes = static_cast<int>(FPending.size()) - 1;
    Flush();
    FLastGot = got;
    FLastByte = got > 0 ? bytes[0] : 0;
    const bool acknowledged = got > 0 && FLastByte == boot::Ack;
    if (command == boot::CmdData && acknowledged) {
        if (FWaiting && FWaiting() > 0)
            throw EPageSizeMismatch(QString::asprintf(
                "The device answered the page at 0x%04X before its last byte: bytes were left over after its answer, "
                "so its pages are shorter than the file's %d bytes. Make the upgrade file with the device's page size "
                "(zentrop-cli pack --flash-page-size N).",
                FLastAddress, FLastPageBytes));
        ++FPagesAcknowledged;
    }
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

QString LineTrace::LastAnswer() const
{
    if (FLastGot < 0)
        return QString();
    if (FLastGot == 0)
        return QStringLiteral("no answer within the time-out");
    return QString::asprintf("a wrong answer: expected 0x%02X, got 0x%02X", boot::Ack, FLastByte);
}

} // namespace zentrop
