// zentrop-cli: the upgrade without a window, for production lines, scripts and machines
// without a display.
#include "Cli.h"
#include "Interrupts.h"

#include <QCoreApplication>

#include <cstdio>

namespace {

const cli::Command kCommands[] = {
    {cli::InfoSpec(), cli::Info},
    {cli::FlashSpec(), cli::Flash},
    {cli::PortsSpec(), cli::Ports},
    {cli::PackSpec(), cli::Pack},
};

QString Help()
{
    QString text = QStringLiteral("usage: zentrop-cli COMMAND [OPTIONS] [ARGUMENTS]\n\n"
                                  "Loads new firmware into a device through its serial bootloader, from the command line:\n"
                                  "for production lines, scripts and machines without a display.\n\ncommands:\n");
    for (const cli::Command& c : kCommands)
        text += cli::CommandListEntry(c.Syntax);
    text += QStringLiteral("  zentrop-cli lcf dump|template|build ...\n      tools for translators (zentrop-cli lcf --help)\n");
    text += QStringLiteral(
        "\n\"zentrop-cli COMMAND --help\" shows a command's options; \"zentrop-cli --version\" the version.\n"
        "\nexit status: 0 done, 1 the device did not answer correctly, 2 wrong usage,\n"
        "             3 a file was rejected or could not be written, 4 a port error,\n"
        "             130 interrupted (Ctrl-C, SIGTERM, SIGHUP); the port is closed and restored\n");
    return text;
}

int TopUsageError(const QString& error)
{
    std::fprintf(stderr, "zentrop-cli: %s\n%s", error.toLocal8Bit().constData(), Help().toLocal8Bit().constData());
    return cli::ExitUsage;
}

} // namespace

void cli::PrintLine(FILE* out, const QString& text)
{
    std::fprintf(out, "%s\n", text.toLocal8Bit().constData());
}

int cli::UsageError(const QString& error, const CommandSyntax& command)
{
    const QByteArray name = command.Name.toLocal8Bit();
    std::fprintf(stderr, "zentrop-cli %s: %s\nusage: zentrop-cli %s %s\nTry \"zentrop-cli %s --help\" for more.\n",
                 name.constData(), error.toLocal8Bit().constData(), name.constData(),
                 command.Synopsis.toLocal8Bit().constData(), name.constData());
    return ExitUsage;
}

int cli::RunCommand(const Command& command, const QStringList& args, TInterruptWatch& interrupts)
{
    QString error;
    const std::optional<ParsedOptions> options = ParseOptions(command.Syntax, args, &error);
    if (!options)
        return UsageError(error, command.Syntax);
    if (options->Has(QStringLiteral("help"))) {
        std::fputs(CommandHelp(command.Syntax).toLocal8Bit().constData(), stdout);
        return ExitSuccess;
    }
    return command.Run(*options, interrupts);
}

int main(int argc, char** argv)
{
    // Before anything can start a thread that would take the signals itself.
    TInterruptWatch interrupts;
    QCoreApplication app(argc, argv);
    const QStringList args = QCoreApplication::arguments().mid(1);
    if (args.isEmpty())
        return TopUsageError(QStringLiteral("no command given"));
    const QString& first = args.first();
    if (first == QLatin1String("--help") || first == QLatin1String("-h") || first == QLatin1String("help")) {
        std::fputs(Help().toLocal8Bit().constData(), stdout);
        return cli::ExitSuccess;
    }
    if (first == QLatin1String("--version") || first == QLatin1String("-V")) {
        std::printf("zentrop-cli %s\n", ZENTROP_VERSION);
        return cli::ExitSuccess;
    }
    if (first == QLatin1String("lcf"))
        return cli::Lcf(args.mid(1), interrupts);
    for (const cli::Command& c : kCommands)
        if (c.Syntax.Name == first)
            return cli::RunCommand(c, args.mid(1), interrupts);
    if (first.startsWith(u'-'))
        return TopUsageError(QStringLiteral("unknown option \"%1\"").arg(first));
    return TopUsageError(QStringLiteral("unknown command \"%1\"").arg(first));
}
