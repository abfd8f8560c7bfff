// The results of a flash run as JSON and as log lines.
#include "FlashResults.h"

#include "Cli.h"
#include "cmdline/Console.h"
#include "LineTrace.h"
#include "ProgressDisplay.h"



#include <algorithm>

namespace zentrop {

namespace cli {

QString OutcomeName(Outcome outcome)
{
    switch (outcome) {
    case Outcome::Ok: return QStringLiteral("ok");
    case Outcome::NoAnswer: return QStringLiteral("no_answer");
    case Outcome::WrongAnswer: return QStringLiteral("wrong_answer");
    case Outcome::EarlyAnswer: return QStringLiteral("early_answer");
    case Outcome::PageSize: return QStringLiteral("page_size");
    case Outcome::PortError: return QStringLiteral("port_error");
    case Outcome::DeviceGone: return QStringLiteral("device_gone");
    case Outcome::Interrupted: return QStringLiteral("interrupted");
    case Outcome::NothingToWrite: return QStringLiteral("nothing_to_write");
    case Outcome::FileError: return QStringLiteral("file_error");
    case Outcome::Usage: return QStringLiteral("usage");
    case Outcome::AppCheckFailed: return QStringLiteral("app_check_failed");
    }
    return QString();
}

Outcome OutcomeOfStatus(int status)
{
    switch (status) {
    case ExitSuccess: return Outcome::Ok;
    case ExitNoAnswer: return Outcome::NoAnswer;
    case ExitUsage: return Outcome::Usage;
    case ExitFileRejected: return Outcome::FileError;
    case ExitNothingWritten: return Outcome::NothingToWrite;
    case ExitAppCheckFailed: return Outcome::AppCheckFailed;
    case ExitInterrupted: return Outcome::Interrupted;
    default: return Outcome::PortError;
    }
}

RunTotals Totals(const std::vector<PortResult>& results, double seconds)
{
    RunTotals t;
    t.Devices = static_cast<int>(results.size());
    t.Seconds = seconds;
    for (const PortResult& r : results) {
        // The worst outcome decides: an interruption, then a port error, then a device that failed.
        t.Status = std::max(t.Status, r.Status);
        t.Done += r.Status == ExitSuccess ? 1 : 0;
        t.Pages += r.Pages;
        t.Bytes += r.Bytes;
    }
    return t;
}

QString Counted(qint64 n, const char* one, const char* many)
{
    return QStringLiteral("%1 %2").arg(n).arg(QLatin1String(n == 1 ? one : many));
}

void LogResults(FILE* log, const std::vector<PortResult>& results, const RunTotals& totals)
{
    for (const PortResult& r : results) {
        QString result = r.Status == ExitSuccess ? QStringLiteral("done") : r.Lines.join(u' ');
        if (const std::optional<PageProgress>& page = r.FailedPage)
            result += QStringLiteral(" (%1)").arg(PageLine(page->Where, page->Index, page->Count, page->Address));
        if (r.Serial)
            result += QStringLiteral("; serial number %1%2").arg(*r.Serial).arg(r.Status == ExitSuccess ? "" : " (given back)");
        if (!r.AppLine.isEmpty())
            result += QStringLiteral("; the application printed \"%1\"").arg(r.AppLine);
        ConsolePrintf(log, "%s %s result: %s; status %d, %s, %s in %.2f s, %s; %s\n",
                      LineTrace::TimeOfDay().constData(), r.Port.toLocal8Bit().constData(),
                      result.toLocal8Bit().constData(), r.Status, Counted(r.Pages, "page", "pages").toLatin1().constData(),
                      Counted(r.Bytes, "byte", "bytes").toLatin1().constData(), r.Seconds,
                      Counted(r.Retries, "retry", "retries").toLatin1().constData(),
                      OutcomeName(r.Result).toLatin1().constData());
    }
    ConsolePrintf(log, "%s totals: %d of %s done, %s, %s in %.2f s; exit status %d\n",
                  LineTrace::TimeOfDay().constData(), totals.Done,
                  Counted(totals.Devices, "device", "devices").toLatin1().constData(),
                  Counted(totals.Pages, "page", "pages").toLatin1().constData(),
                  Counted(totals.Bytes, "byte", "bytes").toLatin1().constData(), totals.Seconds, totals.Status);
}

} // namespace cli

} // namespace zentrop
