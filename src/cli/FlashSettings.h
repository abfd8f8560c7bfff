// A flash run's settings, and how the options of "flash", "probe" and "station" make them,
// with their usage errors in the order a user meets them.
#pragma once

#include "upgrade/Bootloader.h"
#include "upgrade/ResetSequence.h"

#include <QRegularExpression>
#include <QString>
#include <QStringList>

#include <cstdio>
#include <functional>
#include <optional>

namespace zentrop {

class InterruptWatch;
class ParsedOptions;
class TCustomComPort;
class UpgradeFile;
struct CommandSyntax;

namespace cli {

class DeviceData;
class EventStream;
struct RunRecord;

// What every port's run is told: the options as checked, and where its results go.
struct FlashSettings {
    UpgradeMode Mode = UpgradeMode::Flash;
    int Baud = 115200;
    bool Verbose = false;
    bool Force = false;
    bool RS485 = false;
    ResetSequence Reset;
    int WakeRetries = 0;
    int Retries = 0;
    bool Json = false;
    FILE* Log = nullptr;
    QString LeftOut; // what the mode leaves out of the file, said before the run
    // Runs on the still open port after a successful upgrade and gives the status.
    std::function<int(TCustomComPort&)> AfterUpgrade;
    bool Quiet = false;
    EventStream* Events = nullptr;
    // The application check: a line the started application prints within the time.
    std::optional<QRegularExpression> Expect;
    int ExpectMs = 5000;
    RunRecord* Record = nullptr;
    bool Probe = false; // wake, mode letters and jump, no page
    const DeviceData* Data = nullptr; // per-device data written into each device's pages
};

// The memories --mode names; "all" is known only with the file.
enum class ModeChoice { Flash, EEProm, Both, All };

// The ports of --port and --ports-from, one run for each device however it was named
// ("/dev/ttyUSB0", "ttyUSB0", a by-id link): a second run on the same device could only fail
// as its port is taken. Nullopt after saying why a --ports-from file cannot be read.
std::optional<QStringList> GivenPorts(const ParsedOptions& options);

// The options of a run into its settings, with their usage errors, in the order a user meets
// them; the mode as given into choice ("all" needs the file). ExitSuccess when all are right.
int ParseFlashSettings(const ParsedOptions& options, const CommandSyntax& syntax, const QStringList& ports,
                       InterruptWatch& interrupts, FlashSettings& s, ModeChoice& choice);

// The phases to run: "all" becomes the memories the file holds. What the mode leaves out is
// said before the run, so that a log shows it; nullopt, after saying so, when the mode would
// write nothing at all, which a production line must not count as an upgrade.
std::optional<UpgradeMode> PhasesFor(ModeChoice choice, const UpgradeFile& file, const QString& path, QString* leftOut);

// The per-device data of --serial-file, --serial-at and --patch, checked against the mode and
// the file before any device is touched; s.Data points to it. ExitSuccess when there is none.
int PrepareDeviceData(const ParsedOptions& options, const CommandSyntax& syntax, const UpgradeFile& file,
                      FlashSettings& s, std::optional<DeviceData>& data);

} // namespace cli

} // namespace zentrop
