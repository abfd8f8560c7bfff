// What a flash run leaves for a production line to collect: each port's result, the totals,
// as one JSON object on standard output and as lines appended to a log.
#pragma once

#include "upgrade/Bootloader.h"

#include <QString>
#include <QStringList>

#include <cstdio>
#include <optional>
#include <vector>

namespace zentrop {

namespace cli {

struct PortResult {
    QString Port;
    int Status = 4;
    QStringList Lines; // what went wrong, with the detail the command line adds
    bool MessageShown = false; // the first line is the run's own message, shown as it came
    QString Step;      // the step that failed: open, wake, flash mode, eeprom mode, address, data, jump
    std::optional<PageProgress> FailedPage; // the page of a failed address or data step
    double Seconds = 0;
    qint64 Bytes = 0;  // sent to the device
    int Pages = 0;     // whose data the device acknowledged in the run that counts
    int Retries = 0;   // runs started over after a failure
};

struct RunTotals {
    int Devices = 0;
    int Done = 0;
    int Pages = 0;
    qint64 Bytes = 0;
    double Seconds = 0;
    int Status = 0; // the command's exit status
};

RunTotals Totals(const std::vector<PortResult>& results, double seconds);

// One compact JSON object: "ports" (port, by_id, result, detail, status, step, memory, page,
// address, pages, bytes, seconds, retries) and the totals (devices, done, pages, bytes,
// seconds, status). The page counts from 1 within its memory, as the progress lines do.
QByteArray ResultsJson(const std::vector<PortResult>& results, const RunTotals& totals);

// One line per port, naming a failed page as the progress lines do, and one with the totals,
// each after the time of day.
void LogResults(FILE* log, const std::vector<PortResult>& results, const RunTotals& totals);

} // namespace cli

} // namespace zentrop
