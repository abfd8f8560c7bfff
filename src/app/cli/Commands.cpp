// The command-line commands: showing a prepared upgrade, running it on a port, listing ports.
#include "Cli.h"
#include "ConsoleObserver.h"
#include "Interrupts.h"

#include "app/BootComPort.h"
#include "app/Bootloader.h"
#include "app/UpgradeFile.h"
#include "base/Ansi.h"
#include "base/Format.h"
#include "base/Strings.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>

#include <cerrno>
#include <cstdio>
#include <optional>
#include <unistd.h>

namespace cli {

namespace {

void PrintLine(FILE* out, const QString& text)
{
    std::fprintf(out, "%s\n", text.toLocal8Bit().constData());
}

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

QString PortErrorHint(const Exception& e)
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
    case EBUSY:
        return QStringLiteral("Another program is using the port.");
    default:
        return ext->SystemText();
    }
}

} // namespace

int Info(const QStringList& args)
{
    bool json = false;
    QString path;
    for (const QString& a : args) {
        if (a == QLatin1String("--json"))
            json = true;
        else if (a.startsWith(QLatin1String("--")))
            return UsageError(QStringLiteral("unknown option \"%1\" for info").arg(a));
        else if (!path.isEmpty())
            return UsageError(QStringLiteral("info takes one upgrade file"));
        else
            path = a;
    }
    if (path.isEmpty())
        return UsageError(QStringLiteral("info needs an upgrade file"));

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

int Flash(const QStringList& args, TInterruptWatch& interrupts)
{
    QString portName;
    QString path;
    TUpgradeMode mode = TUpgradeMode::Flash;
    int baud = 115200;
    for (qsizetype i = 0; i < args.size(); ++i) {
        const QString& a = args[i];
        const bool takesValue = a == QLatin1String("--port") || a == QLatin1String("--mode") || a == QLatin1String("--baud");
        if (takesValue && i + 1 >= args.size())
            return UsageError(QStringLiteral("%1 needs a value").arg(a));
        if (a == QLatin1String("--port")) {
            portName = args[++i];
            if (portName.isEmpty())
                return UsageError(QStringLiteral("--port needs a port name"));
        } else if (a == QLatin1String("--mode")) {
            const QString m = args[++i];
            if (m == QLatin1String("flash"))
                mode = TUpgradeMode::Flash;
            else if (m == QLatin1String("eeprom"))
                mode = TUpgradeMode::EEProm;
            else if (m == QLatin1String("both"))
                mode = TUpgradeMode::Both;
            else
                return UsageError(QStringLiteral("--mode is flash, eeprom or both, not \"%1\"").arg(m));
        } else if (a == QLatin1String("--baud")) {
            bool ok = false;
            baud = args[++i].toInt(&ok);
            if (!ok || baud <= 0)
                return UsageError(QStringLiteral("--baud needs a positive number, not \"%1\"").arg(args[i]));
        } else if (a.startsWith(QLatin1String("--"))) {
            return UsageError(QStringLiteral("unknown option \"%1\" for flash").arg(a));
        } else if (!path.isEmpty()) {
            return UsageError(QStringLiteral("flash takes one upgrade file"));
        } else {
            path = a;
        }
    }
    if (portName.isEmpty())
        return UsageError(QStringLiteral("flash needs --port"));
    if (path.isEmpty())
        return UsageError(QStringLiteral("flash needs an upgrade file"));

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
        const QString hint = PortErrorHint(e);
        if (!hint.isEmpty())
            PrintLine(stderr, hint);
    }
    interrupts.SetHandler({});
    // Closing gives the port back as it was found: its settings, its exclusive use.
    CloseQuietly(port);
    return status;
}

int Ports(const QStringList& args)
{
    if (!args.isEmpty())
        return UsageError(QStringLiteral("ports takes no arguments"));
    TStringList ports;
    try {
        EnumComPorts(ports);
    } catch (const Exception& e) {
        PrintLine(stderr, e.Message());
        return ExitPortError;
    }
    for (int i = 0; i < ports.Count(); ++i)
        PrintLine(stdout, ports.Get(i));
    return ExitSuccess;
}

} // namespace cli
