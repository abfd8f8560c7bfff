// zentrop-cli: the upgrade without a window, for production lines, scripts and machines
// without a display.
#include "Cli.h"
#include "Interrupts.h"

#include <QCoreApplication>

#include <cstdio>

namespace {

const char* const kUsage =
    "usage:\n"
    "  zentrop-cli info [--json] FILE.upg\n"
    "      shows the prepared upgrade: name, version, user number and every page\n"
    "  zentrop-cli flash --port PORT [--mode flash|eeprom|both] [--baud RATE] FILE.upg\n"
    "      runs the upgrade on PORT (a device path, COMn, or a name under /dev);\n"
    "      mode flash by default, 115200 baud, 8 data bits, no parity, 1 stop bit\n"
    "  zentrop-cli ports\n"
    "      lists the installed serial ports\n"
    "  zentrop-cli lcf dump|template|build ...\n"
    "      tools for translators (zentrop-cli lcf --help)\n"
    "exit status: 0 done, 1 the device did not answer correctly, 2 wrong usage,\n"
    "             3 the upgrade file was rejected, 4 a port error,\n"
    "             130 interrupted (Ctrl-C, SIGTERM, SIGHUP); the port is closed and restored\n";

} // namespace

int cli::UsageError(const QString& error)
{
    std::fprintf(stderr, "zentrop-cli: %s\n%s", error.toLocal8Bit().constData(), kUsage);
    return ExitUsage;
}

int main(int argc, char** argv)
{
    // Before anything can start a thread that would take the signals itself.
    TInterruptWatch interrupts;
    QCoreApplication app(argc, argv);
    const QStringList args = QCoreApplication::arguments().mid(1);
    if (args.isEmpty())
        return cli::UsageError(QStringLiteral("no command given"));
    const QString command = args.first();
    const QStringList rest = args.mid(1);
    if (command == QLatin1String("--help") || command == QLatin1String("-h") || command == QLatin1String("help")) {
        std::fputs(kUsage, stdout);
        return cli::ExitSuccess;
    }
    if (command == QLatin1String("info"))
        return cli::Info(rest);
    if (command == QLatin1String("flash"))
        return cli::Flash(rest, interrupts);
    if (command == QLatin1String("ports"))
        return cli::Ports(rest);
    if (command == QLatin1String("lcf"))
        return cli::Lcf(rest);
    return cli::UsageError(QStringLiteral("unknown command \"%1\"").arg(command));
}
