// The options of a flash run into its settings: the ports, the mode, the line, the reset,
// the application check and the per-device data.
#include "FlashSettings.h"

#include "Cli.h"
#include "FlashJson.h"
#include "Monitor.h"
#include "SerialNumbers.h"

#include "base/FileName.h"
#include "base/UniqueFd.h"
#include "cport/NetPortName.h"
#include "cport/PortNames.h"

#include <QFile>
#include <QFileInfo>
#include <QSet>

#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <unistd.h>

namespace zentrop {

namespace cli {

namespace {

// The ports a --ports-from file lists, one a line; nullopt with the reason in *error.
std::optional<QStringList> PortsFrom(const QString& path, QString* error)
{
    if (const QString problem = InputFileProblem(path); !problem.isEmpty()) {
        *error = QStringLiteral("%1: %2").arg(path, problem);
        return std::nullopt;
    }
    QFile f;
    UniqueFd fd(::open(EncodeFileName(path).constData(), O_RDONLY | O_CLOEXEC | O_NONBLOCK | O_NOCTTY));
    if (!fd || !f.open(fd.Get(), QIODevice::ReadOnly, QFileDevice::AutoCloseHandle)) {
        *error = QStringLiteral("%1: %2").arg(path, QString::fromLocal8Bit(std::strerror(errno)));
        return std::nullopt;
    }
    fd.Release();   // the file closes it now
    QStringList ports;
    // Port names are file names: bytes, whatever their encoding.
    for (QByteArray raw : f.read(1024 * 1024).split('\n')) {
        // A comment after a port, "ttyUSB0  # left fixture", starts at a blank and "#".
        for (qsizetype at = raw.indexOf('#'); at >= 0; at = raw.indexOf('#', at + 1))
            if (at == 0 || raw[at - 1] == ' ' || raw[at - 1] == '\t') {
                raw.truncate(at);
                break;
            }
        const QString line = DecodeFileName(raw.trimmed());
        if (!line.isEmpty() && !line.startsWith(u'#'))
            ports << line;
    }
    return ports;
}

// An option's whole number from 0 to max, its fallback when it is not given; a usage error
// that names the unit otherwise.
int ParseBounded(const ParsedOptions& options, const CommandSyntax& syntax, const QString& name, int fallback, int max,
                 const QString& unit, int& value)
{
    const std::optional<qint64> n = ParseNumber(options.Value(name, QString::number(fallback)));
    if (!n || *n < 0 || *n > max)
        return UsageError(QStringLiteral("--%1 needs %2 from 0 to %3, not \"%4\"")
                              .arg(name, unit, QString::number(max), options.Value(name)),
                          syntax);
    value = static_cast<int>(*n);
    return ExitSuccess;
}

// --expect and --expect-timeout: the line the started application must print, and how long it may take.
int ParseExpect(const ParsedOptions& options, const CommandSyntax& syntax, FlashSettings& s)
{
    if (options.Has(QStringLiteral("expect"))) {
        const QString pattern = options.Value(QStringLiteral("expect"));
        QRegularExpression re(pattern);
        if (pattern.isEmpty() || !re.isValid())
            return UsageError(QStringLiteral("--expect needs a regular expression: %1")
                                  .arg(pattern.isEmpty() ? QStringLiteral("it is empty") : re.errorString()),
                              syntax);
        s.Expect = re;
        s.Record->Expect = pattern;
    }
    if (options.Has(QStringLiteral("expect-timeout"))) {
        bool ok = false;
        const double seconds = options.Value(QStringLiteral("expect-timeout")).toDouble(&ok);
        if (!ok || seconds <= 0 || seconds > 3600)
            return UsageError(QStringLiteral("--expect-timeout needs seconds from 0 to 3600, not \"%1\"")
                                  .arg(options.Value(QStringLiteral("expect-timeout"))),
                              syntax);
        if (!s.Expect)
            return UsageError(QStringLiteral("--expect-timeout goes with --expect"), syntax);
        s.ExpectMs = static_cast<int>(seconds * 1000);
    }
    return ExitSuccess;
}

// --mode, which must keep every image that --flash and --eeprom name: without --mode, the named
// images choose the memories.
int ParseModeChoice(const ParsedOptions& options, const CommandSyntax& syntax, ModeChoice& choice)
{
    const bool fromImages = options.Has(QStringLiteral("flash"));
    const bool eepromImage = options.Has(QStringLiteral("eeprom"));
    if (eepromImage && !fromImages)
        return UsageError(QStringLiteral("--eeprom goes with --flash; an upgrade file brings its own EEProm pages"),
                          syntax);
    const QString m = options.Value(QStringLiteral("mode"), eepromImage ? QStringLiteral("both") : QStringLiteral("flash")).toLower();
    const std::optional<ModeChoice> given = m == QLatin1String("flash")    ? std::optional(ModeChoice::Flash)
                                            : m == QLatin1String("eeprom") ? std::optional(ModeChoice::EEProm)
                                            : m == QLatin1String("both")   ? std::optional(ModeChoice::Both)
                                            : m == QLatin1String("all")    ? std::optional(ModeChoice::All)
                                                                           : std::nullopt;
    if (!given)
        return UsageError(QStringLiteral("--mode is flash, eeprom, both or all, not \"%1\"").arg(options.Value(QStringLiteral("mode"))),
                          syntax);
    if (fromImages && *given == ModeChoice::EEProm)
        return UsageError(QStringLiteral("--mode eeprom leaves out the Flash image %1 that you named; give --mode both")
                              .arg(options.Value(QStringLiteral("flash"))),
                          syntax);
    if (fromImages && *given == ModeChoice::Flash && eepromImage)
        return UsageError(QStringLiteral("--mode flash leaves out the EEProm image %1 that you named; give --mode both, "
                                         "or leave out --eeprom")
                              .arg(options.Value(QStringLiteral("eeprom"))),
                          syntax);
    choice = *given;
    return ExitSuccess;
}

// --reset and the timing of its short forms.
int ParseReset(const ParsedOptions& options, const CommandSyntax& syntax, ResetSequence& reset)
{
    ResetTiming timing;
    timing.Inverted = options.Has(QStringLiteral("reset-inverted"));
    for (auto [name, field] : {std::pair{QStringLiteral("reset-pulse"), &timing.PulseMs},
                               std::pair{QStringLiteral("reset-wait"), &timing.StartMs}})
        if (const int status = ParseBounded(options, syntax, name, *field, 10000, QStringLiteral("milliseconds"), *field);
            status != ExitSuccess)
            return status;
    QString error;
    const std::optional<ResetSequence> steps =
        ParseResetSequence(options.Value(QStringLiteral("reset"), QStringLiteral("none")), timing, &error);
    if (!steps)
        return UsageError(QStringLiteral("--reset is none, dtr, rts, both or a list of steps: %1").arg(error), syntax);
    reset = *steps;
    return ExitSuccess;
}

} // namespace

std::optional<QStringList> GivenPorts(const ParsedOptions& options)
{
    QStringList ports = options.Values(QStringLiteral("port"));
    for (const QString& from : options.Values(QStringLiteral("ports-from"))) {
        QString error;
        const std::optional<QStringList> listed = PortsFrom(from, &error);
        if (!listed) {
            PrintLine(stderr, error);
            return std::nullopt;
        }
        ports += *listed;
    }
    ports.removeAll(QString());
    QSet<QString> devices;
    ports.removeIf([&devices](const QString& port) {
        const QString device = QFileInfo(PortDevicePath(port)).canonicalFilePath();
        const QString key = IsNetPortName(port) ? CanonicalNetPortName(port) : device.isEmpty() ? port : device;
        if (devices.contains(key))
            return true;
        devices.insert(key);
        return false;
    });
    return ports;
}

int ParseFlashSettings(const ParsedOptions& options, const CommandSyntax& syntax, const QStringList& ports,
                       InterruptWatch& interrupts, FlashSettings& s, ModeChoice& choice)
{
    s.Quiet = options.Has(QStringLiteral("quiet"));
    if (s.Quiet && options.Has(QStringLiteral("verbose")))
        return UsageError(QStringLiteral("--quiet and --verbose exclude each other"), syntax);
    if (const int status = ParseExpect(options, syntax, s); status != ExitSuccess)
        return status;
    if (options.Has(QStringLiteral("monitor"))) {
        if (ports.size() > 1)
            return UsageError(QStringLiteral("--monitor takes one port"), syntax);
        s.AfterUpgrade = [&interrupts](TCustomComPort& port) { return RunMonitor(port, MonitorOptions(), interrupts); };
    }
    if (const int status = ParseModeChoice(options, syntax, choice); status != ExitSuccess)
        return status;
    const std::optional<qint64> rate = ParseNumber(options.Value(QStringLiteral("baud"), QStringLiteral("115200")));
    if (!rate || *rate <= 0 || *rate > INT32_MAX)
        return UsageError(QStringLiteral("--baud needs a positive number, not \"%1\"").arg(options.Value(QStringLiteral("baud"))),
                          syntax);
    s.Baud = static_cast<int>(*rate);
    s.Record->Baud = s.Baud;
    s.Verbose = options.Has(QStringLiteral("verbose"));
    s.Force = options.Has(QStringLiteral("force"));
    s.RS485 = options.Has(QStringLiteral("rs485"));
    if (const int status = ParseReset(options, syntax, s.Reset); status != ExitSuccess)
        return status;
    for (auto [name, field] : {std::pair{QStringLiteral("wake-retries"), &s.WakeRetries},
                               std::pair{QStringLiteral("retries"), &s.Retries}})
        if (const int status = ParseBounded(options, syntax, name, 0, 100, QStringLiteral("a number"), *field);
            status != ExitSuccess)
            return status;
    s.Json = options.Has(QStringLiteral("json"));
    const bool fromImages = options.Has(QStringLiteral("flash"));
    const QStringList files = options.Positional();
    if (fromImages && !files.isEmpty())
        return UsageError(QStringLiteral("flash takes an upgrade file or --flash, not both"), syntax);
    // A probe needs no file.
    if (!fromImages && files.size() != 1 && !(s.Probe && files.isEmpty()))
        return UsageError(files.isEmpty() ? QStringLiteral("flash needs an upgrade file or --flash FW.hex")
                                          : QStringLiteral("flash takes one upgrade file"),
                          syntax);
    return ExitSuccess;
}

std::optional<UpgradeMode> PhasesFor(ModeChoice choice, const UpgradeFile& file, const QString& path, QString* leftOut)
{
    const int flash = static_cast<int>(file.FlashPages().size());
    const int eeprom = static_cast<int>(file.EEPromPages().size());
    switch (choice) {
    case ModeChoice::All:
    case ModeChoice::Both:
        if (flash == 0 && eeprom == 0) {
            PrintLine(stderr, QStringLiteral("Nothing to write: %1 holds no pages.").arg(path));
            return std::nullopt;
        }
        if (choice == ModeChoice::All && (flash == 0 || eeprom == 0))
            return flash == 0 ? UpgradeMode::EEProm : UpgradeMode::Flash;
        return UpgradeMode::Both;
    case ModeChoice::Flash:
    case ModeChoice::EEProm:
        break;
    }
    const bool toFlash = choice == ModeChoice::Flash;
    const int chosen = toFlash ? flash : eeprom;
    const int other = toFlash ? eeprom : flash;
    const QString chosenName = toFlash ? QStringLiteral("Flash") : QStringLiteral("EEProm");
    const QString otherName = toFlash ? QStringLiteral("EEProm") : QStringLiteral("Flash");
    if (chosen == 0) {
        QString text = QStringLiteral("Nothing to write: %1 holds no %2 pages.").arg(path, chosenName);
        if (other > 0)
            text += QStringLiteral(" Its %1 %2 pages are written with --mode %3 or --mode all.")
                        .arg(other)
                        .arg(otherName, otherName.toLower());
        PrintLine(stderr, text);
        return std::nullopt;
    }
    if (other > 0)
        *leftOut = QStringLiteral("Left out: the file's %1 %2 pages (--mode both or --mode all writes them).")
                       .arg(other)
                       .arg(otherName);
    return toFlash ? UpgradeMode::Flash : UpgradeMode::EEProm;
}

int PrepareDeviceData(const ParsedOptions& options, const CommandSyntax& syntax, const UpgradeFile& file,
                      FlashSettings& s, std::optional<DeviceData>& data)
{
    if (!options.Has(QStringLiteral("serial-file")) && !options.Has(QStringLiteral("serial-at")) &&
        !options.Has(QStringLiteral("patch")))
        return ExitSuccess;
    const std::optional<qint64> eepromPage = ParseNumber(options.Value(QStringLiteral("eeprom-page-size"), QStringLiteral("0")));
    QString error;
    data = DeviceData::FromOptions(options.Value(QStringLiteral("serial-file")), options.Value(QStringLiteral("serial-at")),
                                   options.Values(QStringLiteral("patch")),
                                   eepromPage && *eepromPage > 0 && *eepromPage <= 512 ? static_cast<int>(*eepromPage) : 0,
                                   &error);
    if (!data)
        return UsageError(error, syntax);
    const bool eepromWritten = s.Mode != UpgradeMode::Flash;
    const bool flashWritten = s.Mode != UpgradeMode::EEProm;
    for (const DeviceData::Patch& p : data->Patches())
        if ((p.Flash && !flashWritten) || (!p.Flash && !eepromWritten))
            return UsageError(QStringLiteral("--patch %1: the mode does not write that memory").arg(p.Text), syntax);
    if (data->HasSerial() && !eepromWritten)
        return UsageError(QStringLiteral("--serial-at writes the EEProm: give --mode both (or eeprom)"), syntax);
    if (data->HasSerial()) {
        if (const QString problem = InputFileProblem(options.Value(QStringLiteral("serial-file"))); !problem.isEmpty()) {
            PrintLine(stderr, QStringLiteral("%1: %2").arg(options.Value(QStringLiteral("serial-file")), problem));
            return ExitFileRejected;
        }
    }
    DevicePages check;
    if (const QString problem = data->Apply(file, data->HasSerial() ? std::optional<qint64>(0) : std::nullopt, &check);
        !problem.isEmpty())
        return UsageError(problem, syntax);
    s.Data = &*data;
    for (const DeviceData::Patch& p : data->Patches())
        s.Record->Patches << p.Text;
    s.Record->SerialAt = data->SerialAt();
    return ExitSuccess;
}

} // namespace cli

} // namespace zentrop
