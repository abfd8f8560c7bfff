// The results of a flash run as JSON and as log lines.
#include "FlashResults.h"

#include "Cli.h"
#include "cmdline/Console.h"
#include "LineTrace.h"
#include "ProgressDisplay.h"

#include "cport/PortNames.h"
#include "cport/PortDetails.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>

#include <algorithm>

namespace zentrop {

namespace cli {

namespace {

QString ResultText(const PortResult& r)
{
    return r.Status == ExitSuccess ? QStringLiteral("done") : r.Lines.value(0);
}

} // namespace

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

QByteArray ResultsJson(const std::vector<PortResult>& results, const RunTotals& totals)
{
    QJsonArray ports;
    for (const PortResult& r : results) {
        const std::vector<PortDetails> details = DescribePorts({PortDevicePath(r.Port)});
        const QString byId = details.empty() ? QString() : details.front().ById;
        const std::optional<PageProgress>& page = r.FailedPage;
        ports.append(QJsonObject{
            {"port", r.Port},
            {"by_id", byId.isEmpty() ? QJsonValue() : QJsonValue(byId)},
            {"result", ResultText(r)},
            {"detail", QJsonArray::fromStringList(r.Lines.mid(1))},
            {"status", r.Status},
            {"step", r.Step.isEmpty() ? QJsonValue() : QJsonValue(r.Step)},
            {"memory", !page ? QJsonValue() : QJsonValue(page->Where == Memory::Flash ? "flash" : "eeprom")},
            {"page", !page ? QJsonValue() : QJsonValue(page->Index + 1)},
            {"address", !page ? QJsonValue() : QJsonValue(page->Address)},
            {"pages", r.Pages},
            {"bytes", r.Bytes},
            {"seconds", r.Seconds},
            {"retries", r.Retries},
        });
    }
    const QJsonObject root{{"ports", ports},          {"devices", totals.Devices}, {"done", totals.Done},
                           {"pages", totals.Pages},   {"bytes", totals.Bytes},     {"seconds", totals.Seconds},
                           {"status", totals.Status}};
    return QJsonDocument(root).toJson(QJsonDocument::Compact);
}

void LogResults(FILE* log, const std::vector<PortResult>& results, const RunTotals& totals)
{
    for (const PortResult& r : results) {
        QString result = r.Status == ExitSuccess ? QStringLiteral("done") : r.Lines.join(u' ');
        if (const std::optional<PageProgress>& page = r.FailedPage)
            result += QStringLiteral(" (%1)").arg(PageLine(page->Where, page->Index, page->Count, page->Address));
        ConsolePrintf(log, "%s %s result: %s; status %d, %d pages, %lld bytes in %.2f s, %d retries\n",
                      LineTrace::TimeOfDay().constData(), r.Port.toLocal8Bit().constData(),
                      result.toLocal8Bit().constData(), r.Status, r.Pages, static_cast<long long>(r.Bytes), r.Seconds,
                      r.Retries);
    }
    ConsolePrintf(log, "%s totals: %d of %d devices done, %d pages, %lld bytes in %.2f s; exit status %d\n",
                  LineTrace::TimeOfDay().constData(), totals.Done, totals.Devices, totals.Pages,
                  static_cast<long long>(totals.Bytes), totals.Seconds, totals.Status);
}

} // namespace cli

} // namespace zentrop
