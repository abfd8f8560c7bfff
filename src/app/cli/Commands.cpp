// The command-line commands: showing a prepared upgrade and running it on a port.
#include "Cli.h"
#include "ConsoleObserver.h"
#include "Interrupts.h"

#include "app/BootComPort.h"
#include "app/Bootloader.h"
#include "app/UpgradeFile.h"
#include "base/Ansi.h"
#include "base/Format.h"
#include "base/Strings.h"
#include "cport/PosixPortDetails.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>

#include <cerrno>
#include <cstdio>
#include <optional>
#include <unistd.h>

namespace cli {

namespace {

// Prepares the upgrade file as "Prepare Flash" does; nullopt when it is rejected, after
// saying why on standard error.
std::optional<TUpgradeFile> Prepare(const QString& path)
{
    TUpgradeFile file;
    try {
        if (file.Load(path) == TUpgradeFile::Result::Loaded)
            return file;
        PrintLine(stderr, QStringLiteral("CRC error!"));
    } catch (const Exception& e) {
        PrintLine(stderr, e.Message());
    }
    return std::nullopt;
}

QJsonArray PageList(const TPageList& pages)
{
    QJsonArray list;
    for (const TPage& p : pages)
        list.append(QJsonObject{{"address", p.Address}, {"size", static_cast<int>(p.Data.size())}});
    return list;
}

void PrintPages(const QString& title, const TPageList& pages)
{
    PrintLine(stdout, QStringLiteral("%1: %2 pages").arg(title).arg(pages.size()));
    for (const TPage& p : pages)
        PrintLine(stdout, QString::asprintf("  0x%04X %4d bytes", static_cast<unsigned>(p.Address),
                                            static_cast<int>(p.Data.size())));
}

// Like the window, the end of a run ignores errors from closing the port.
void CloseQuietly(TCustomComPort& port)
{
    try {
        port.Close();
    } catch (const Exception&) {
    }
}

QString PortErrorHint(const Exception& e, const QString& device)
{
    const auto* ext = dynamic_cast<const EComPortExt*>(&e);
    if (!ext)
        return QString();
    switch (ext->SystemCode()) {
    case EACCES:
    case EPERM:
        return QStringLiteral("Your user may not use this serial device. Allow it to, for example by adding it "
                              "to the \"dialout\" group (sudo usermod -aG dialout $USER) and logging in again.");
    case ENOENT:
    case ENODEV:
    case ENXIO:
        return QStringLiteral("There is no such port; \"zentrop-cli ports\" lists the installed ones.");
    case EBUSY: {
        const QString holders = DescribeHolders(FindPortHolders(device));
        return holders.isEmpty() ? QStringLiteral("Another program is using the port.")
                                 : QStringLiteral("Another program is using the port: %1.").arg(holders);
    }
    default:
        return ext->SystemText();
    }
}

} // namespace

const CommandSpec& InfoSpec()
{
    static const CommandSpec spec{
        QStringLiteral("info"), QStringLiteral("[--json] FILE.upg"),
        QStringLiteral("shows what an upgrade file holds: name, version, user number and every page"),
        QStringLiteral("Checks the upgrade file as \"Prepare Flash\" does and shows its name, version, user number\n"
                       "and every Flash and EEProm page with its address and size."),
        {{QStringLiteral("json"), 'j', QString(), QStringLiteral("print one JSON object instead of lines")}}};
    return spec;
}

int Info(const ParsedOptions& options, TInterruptWatch&)
{
    if (options.Positional().size() != 1)
        return UsageError(options.Positional().isEmpty() ? QStringLiteral("info needs an upgrade file")
                                                         : QStringLiteral("info takes one upgrade file"),
                          InfoSpec());
    const QString path = options.Positional().first();
    const bool json = options.Has(QStringLiteral("json"));
    const std::optional<TUpgradeFile> file = Prepare(path);
    if (!file)
        return ExitFileRejected;
    const TFirmwareValues& fw = file->Firmware();
    if (json) {
        const QJsonObject root{{"name", DecodeAnsi(fw.FFirmwareName)},
                               {"version", DecodeAnsi(fw.FFirmwareVersion)},
                               {"user", file->HasUser() ? QJsonValue(fw.FUserNumber) : QJsonValue()},
                               {"flash", PageList(file->FlashPages())},
                               {"eeprom", PageList(file->EEPromPages())}};
        std::fputs(QJsonDocument(root).toJson(QJsonDocument::Compact).constData(), stdout);
        std::fputc('\n', stdout);
        return ExitSuccess;
    }
    PrintLine(stdout, QStringLiteral("Name: ") + DecodeAnsi(fw.FFirmwareName));
    PrintLine(stdout, QStringLiteral("Version: ") + DecodeAnsi(fw.FFirmwareVersion));
    PrintLine(stdout, file->HasUser() ? QStringLiteral("User: %1").arg(fw.FUserNumber) : QStringLiteral("User:"));
    PrintPages(QStringLiteral("Flash"), file->FlashPages());
    PrintPages(QStringLiteral("EEProm"), file->EEPromPages());
    return ExitSuccess;
}

const CommandSpec& FlashSpec()
{
    static const CommandSpec spec{
        QStringLiteral("flash"), QStringLiteral("--port PORT [OPTIONS] FILE.upg"),
        QStringLiteral("runs the upgrade on a port"),
        QStringLiteral("Runs the upgrade on PORT: a device path, COMn (/dev/ttyS(n-1)) or a name under /dev.\n"
                       "The line runs at 8 data bits, no parity, 1 stop bit, no flow control."),
        {
            {QStringLiteral("port"), 'p', QStringLiteral("PORT"), QStringLiteral("the port the device is on")},
            {QStringLiteral("mode"), 'm', QStringLiteral("MODE"), QStringLiteral("flash, eeprom or both (default flash)")},
            {QStringLiteral("baud"), 'b', QStringLiteral("RATE"), QStringLiteral("line speed in bits per second (default 115200)")},
        }};
    return spec;
}

int Flash(const ParsedOptions& options, TInterruptWatch& interrupts)
{
    const QString portName = options.Value(QStringLiteral("port"));
    if (portName.isEmpty())
        return UsageError(QStringLiteral("flash needs --port PORT"), FlashSpec());
    const QString m = options.Value(QStringLiteral("mode"), QStringLiteral("flash"));
    TUpgradeMode mode = TUpgradeMode::Flash;
    if (m == QLatin1String("eeprom"))
        mode = TUpgradeMode::EEProm;
    else if (m == QLatin1String("both"))
        mode = TUpgradeMode::Both;
    else if (m != QLatin1String("flash"))
        return UsageError(QStringLiteral("--mode is flash, eeprom or both, not \"%1\"").arg(m), FlashSpec());
    const std::optional<qint64> rate = ParseNumber(options.Value(QStringLiteral("baud"), QStringLiteral("115200")));
    if (!rate || *rate <= 0 || *rate > INT32_MAX)
        return UsageError(QStringLiteral("--baud needs a positive number, not \"%1\"").arg(options.Value(QStringLiteral("baud"))),
                          FlashSpec());
    const int baud = static_cast<int>(*rate);
    if (options.Positional().size() != 1)
        return UsageError(options.Positional().isEmpty() ? QStringLiteral("flash needs an upgrade file")
                                                         : QStringLiteral("flash takes one upgrade file"),
                          FlashSpec());
    const QString path = options.Positional().first();

    const std::optional<TUpgradeFile> file = Prepare(path);
    if (!file)
        return ExitFileRejected;

    TConsoleObserver observer(stderr, isatty(STDERR_FILENO) == 1);
    observer.SetStatus(Format(QStringLiteral("Ready for Upgrade (Flash: %d pages, EEProm: %d pages"),
                              {static_cast<int>(file->FlashPages().size()), static_cast<int>(file->EEPromPages().size())}));
    observer.Finish(); // the prepared file's line stays above the progress
    TComPort port;
    SetUpgradeLineSettings(port, baud);
    port.SetPort(portName);
    TPortUpgrade upgrade(port, observer);
    interrupts.SetHandler([&upgrade] { upgrade.Interrupt(); });
    int status = ExitPortError;
    try {
        const TUpgradeResult result = upgrade.Run(mode, file->FlashPages(), file->EEPromPages());
        status = result == TUpgradeResult::Done ? ExitSuccess : ExitNoAnswer;
        observer.Finish();
    } catch (const EUpgradeInterrupted& e) {
        observer.Finish();
        PrintLine(stderr, e.Message());
        status = ExitInterrupted;
    } catch (const Exception& e) {
        observer.Finish();
        PrintLine(stderr, e.Message());
        const QString hint = PortErrorHint(e, port.Device().DeviceName(portName));
        if (!hint.isEmpty())
            PrintLine(stderr, hint);
    }
    interrupts.SetHandler({});
    // Closing gives the port back as it was found: its settings, its exclusive use.
    CloseQuietly(port);
    return status;
}

} // namespace cli
