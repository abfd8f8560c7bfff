// What a flash run leaves for a production line to collect: each port's result, the totals,
// as one JSON object on standard output and as lines appended to a log.
#pragma once

#include "upgrade/Bootloader.h"

#include <QDateTime>
#include <QString>
#include <QStringList>

#include <cstdio>
#include <optional>
#include <vector>

namespace zentrop {

namespace cli {

// How a port's run ended, as machines read it: one name each in the JSON's "result".
enum class Outcome {
    Ok,
    NoAnswer,       // the device stayed silent
    WrongAnswer,    // it answered, but not the acknowledgement
    EarlyAnswer,    // it answered while a page's data was still being sent: its pages are shorter
    PageSize,       // it still waited after a page's data: its pages are longer
    PortError,      // the port could not be opened, reset or used
    DeviceGone,     // the device went away during the run
    Interrupted,
    NothingToWrite,
    FileError,
    Usage,
    AppCheckFailed, // the started application did not print what --expect asked for
};

// "ok", "no_answer", ...
QString OutcomeName(Outcome outcome);
// The outcome a status stands for when nothing more is known.
Outcome OutcomeOfStatus(int status);

// One attempt on a port; a port that was retried keeps every attempt.
struct Attempt {
    Outcome Result = Outcome::Ok;
    QString Message;
    QString Step;
    QDateTime Started;
    QDateTime Ended;
};

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
    Outcome Result = Outcome::PortError;
    QDateTime Started; // of the first attempt, UTC
    QDateTime Ended;   // of the last
    std::vector<Attempt> Attempts;
    QString AppLine;   // the application's line that --expect matched
    std::optional<qint64> Serial; // the number this device got from the counter
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

// "1 page", "2 pages".
QString Counted(qint64 n, const char* one, const char* many);

// One line per port, naming a failed page as the progress lines do, and one with the totals,
// each after the time of day.
void LogResults(FILE* log, const std::vector<PortResult>& results, const RunTotals& totals);

} // namespace cli

} // namespace zentrop
