// A production station: board after board on each fixture port, every board flashed as one
// port of a flash run, until a signal ends the day with the totals.
#pragma once

#include "FlashJson.h"

#include <QString>
#include <QStringList>

#include <functional>
#include <vector>

namespace zentrop {

class InterruptWatch;
class ParsedOptions;
class ProgressDisplay;

namespace cli {

class EventStream;

struct StationSetup {
    QStringList Slots; // a by-id glob pattern or a port for each fixture port, one loop each
    bool Json = false;
    bool Quiet = false;
    const RunRecord* Record = nullptr; // the run's identity, for each board's object
    EventStream* Events = nullptr;
    // Flashes the board on device as flash would, shown on the display's line for the slot.
    std::function<PortResult(const QString& device, qsizetype slot, ProgressDisplay& display)> FlashBoard;
    // Stops the boards' runs in progress; those started later stop at once.
    std::function<void()> InterruptBoards;
};

// Runs the station until a signal; every board's result, in the order they ended, into *results.
int RunStation(const StationSetup& setup, InterruptWatch& interrupts, std::vector<PortResult>* results);

// The flash command's run ("flash", "probe" or "station"): fixture defaults, events, the
// options checked and the file prepared, the ports run, the JSON object.
int FlashCommandRun(const ParsedOptions& options, InterruptWatch& interrupts, const QString& command);
// The object --json promises for a usage error that the options' parsing found.
void PrintUsageJson(const QString& command, const QString& error);

} // namespace cli

} // namespace zentrop
