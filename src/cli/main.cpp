// zentrop-cli: the upgrade without a window, for production lines, scripts and machines
// without a display.
#include "Cli.h"
#include "FlashJson.h"
#include "base/Debug.h"
#include "cmdline/Console.h"
#include "cmdline/Interrupts.h"

#include "base/FileName.h"

#include <QCoreApplication>

#include <cerrno>
#include <csignal>
#include <cstdio>
#include <cstring>
#include <vector>
#include <sys/prctl.h>
#include <unistd.h>

namespace zentrop {

namespace {

const cli::Command kCommands[] = {
    {cli::InfoSyntax(), cli::Info},
    {cli::FlashSyntax(), cli::Flash, cli::FlashUsageJson},
    {cli::ProbeSyntax(), cli::Probe, cli::ProbeUsageJson},
    {cli::StationSyntax(), cli::Station, cli::StationUsageJson},
    {cli::ConfigSyntax(), cli::Config},
    {cli::PortsSyntax(), cli::Ports},
    {cli::PackSyntax(), cli::Pack},
    {cli::MonitorSyntax(), cli::Monitor},
};

QString Help()
{
    QString text = QStringLiteral("usage: zentrop-cli COMMAND [OPTIONS] [ARGUMENTS]\n\n"
                                  "Loads new firmware into a device through its serial bootloader, from the command line:\n"
                                  "for production lines, scripts and machines without a display.\n\ncommands:\n");
    for (const cli::Command& c : kCommands)
        text += cli::CommandListEntry(c.Syntax);
    text += QStringLiteral("\nThe translators' tools are the program zentrop-lcf; \"zentrop-cli lcf ...\" still runs it.\n");
    text += QStringLiteral(
        "\n\"zentrop-cli COMMAND --help\" (or \"zentrop-cli help COMMAND\") shows a command's options;\n"
        "\"zentrop-cli --version\" the version; \"zentrop-cli help json\" the JSON output of --json;\n"
        "\"zentrop-cli --debug COMMAND ...\" writes the port's debug texts to standard error.\n"
        "\nexit status:\n"
        "  0    done\n"
        "  1    the device did not answer correctly (after its retries, if any)\n"
        "  2    wrong usage\n"
        "  3    a file was rejected, or could not be read or written\n"
        "  4    a port error: the port could not be opened, reset or used, or the device went away\n"
        "  5    nothing to write: the file holds no page for the chosen --mode\n"
        "  6    the started application printed no line matching --expect in time\n"
        "  130  interrupted (Ctrl-C, SIGTERM, SIGHUP); the port is closed and restored\n"
        "monitor: 0 after its exit key, 4 also when the device went away.\n"
        "With several ports the worst status counts: 130, then 4, then 1.\n"
        "\nexamples:\n"
        "  zentrop-cli info fw.upg\n"
        "  zentrop-cli flash -p /dev/ttyUSB0 --mode all fw.upg\n"
        "  zentrop-cli flash --ports-from fixtures.txt --reset dtr --retries 2 --json --log line.log fw.upg\n"
        "  zentrop-cli pack --flash fw.hex --flash-page-size 128 -o fw.upg\n");
    return text;
}

int TopUsageError(const QString& error)
{
    std::fprintf(stderr, "zentrop-cli: %s\n%s", error.toLocal8Bit().constData(), Help().toLocal8Bit().constData());
    return cli::ExitUsage;
}

int RunNamed(const QString& name, const QStringList& args, InterruptWatch& interrupts)
{
    for (const cli::Command& c : kCommands)
        if (c.Syntax.Name == name)
            return cli::RunCommand(c, args, interrupts);
    return TopUsageError(QStringLiteral("unknown command \"%1\"").arg(name));
}

// The translators' tools are a program of their own, so that this one links no translation
// tooling; "zentrop-cli lcf ..." still works by running it, from beside this program first.
int ForwardToLcf(const QStringList& args)
{
    std::vector<QByteArray> bytes{QByteArrayLiteral("zentrop-lcf")};
    for (const QString& a : args)
        bytes.push_back(EncodeFileName(a));
    std::vector<char*> argv;
    for (QByteArray& b : bytes)
        argv.push_back(b.data());
    argv.push_back(nullptr);
    std::fflush(nullptr);
    const QByteArray beside = EncodeFileName(QCoreApplication::applicationDirPath() + QStringLiteral("/zentrop-lcf"));
    ::execv(beside.constData(), argv.data());
    ::execvp("zentrop-lcf", argv.data());
    std::fprintf(stderr, "zentrop-cli: the translators' tools are the program zentrop-lcf, which could not be run: %s\n",
                 std::strerror(errno));
    return cli::ExitUsage;
}

} // namespace

int cli::RunCommand(const Command& command, const QStringList& args, InterruptWatch& interrupts)
{
    QString error;
    // "flash --version" as "--version": --version TEXT is otherwise the firmware's version.
    if (args.size() == 1 && (args.first() == QLatin1String("--version") || args.first() == QLatin1String("-V"))) {
        std::printf("zentrop-cli %s\n", ZENTROP_VERSION);
        return ExitSuccess;
    }
    const std::optional<ParsedOptions> options = ParseOptions(command.Syntax, args, &error);
    if (!options) {
        const qsizetype end = args.indexOf(QStringLiteral("--"));
        const QStringList before = end < 0 ? args : args.mid(0, end);
        if (command.UsageJson && (before.contains(QStringLiteral("--json")) || before.contains(QStringLiteral("-j"))))
            command.UsageJson(error);
        return UsageError(error, command.Syntax);
    }
    if (options->Has(QStringLiteral("help"))) {
        std::fputs(CommandHelp(command.Syntax).toLocal8Bit().constData(), stdout);
        return ExitSuccess;
    }
    return command.Run(*options, interrupts);
}

} // namespace zentrop

using namespace zentrop;

int main(int argc, char** argv)
{
    // A reader that goes away (a pipe into head) or a full disk must not end an upgrade
    // half-way: writes to such a stream fail instead, and the run goes on.
    std::signal(SIGPIPE, SIG_IGN);
    // The run's pauses of a millisecond would otherwise overshoot by the default timer slack
    // (50 us) each, a part of a percent of the whole upgrade; threads made later inherit it.
    ::prctl(PR_SET_TIMERSLACK, 1UL);
    // Before anything can start a thread that would take the signals itself.
    InterruptWatch interrupts;
    QCoreApplication app(argc, argv);
    QCoreApplication::setApplicationName(QStringLiteral("zentrop-cli"));
    // Arguments are file and port names as often as not: kept as their bytes.
    QStringList args;
    for (int i = 1; i < argc; ++i)
        args << DecodeFileName(QByteArray(argv[i]));
    // --debug before the command writes the port's debug texts to standard error.
    while (!args.isEmpty() && args.first() == QLatin1String("--debug")) {
        EnableDebugOutput();
        args.removeFirst();
    }
    if (args.isEmpty())
        return TopUsageError(QStringLiteral("no command given"));
    const QString& first = args.first();
    // "help COMMAND" as "COMMAND --help".
    if (first == QLatin1String("help") && args.size() == 2 && args[1] == QLatin1String("json")) {
        std::fputs(cli::JsonHelp().toLocal8Bit().constData(), stdout);
        return cli::ExitSuccess;
    }
    if (first == QLatin1String("help") && args.size() > 1)
        return args[1] == QLatin1String("lcf") ? ForwardToLcf({QStringLiteral("--help")})
                                               : RunNamed(args[1], {QStringLiteral("--help")}, interrupts);
    if (first == QLatin1String("--help") || first == QLatin1String("-h") || first == QLatin1String("help")) {
        std::fputs(Help().toLocal8Bit().constData(), stdout);
        return cli::ExitSuccess;
    }
    if (first == QLatin1String("--version") || first == QLatin1String("-V")) {
        std::printf("zentrop-cli %s\n", ZENTROP_VERSION);
        return cli::ExitSuccess;
    }
    if (first == QLatin1String("lcf"))
        return ForwardToLcf(args.mid(1));
    if (first.startsWith(u'-'))
        return TopUsageError(QStringLiteral("unknown option \"%1\"").arg(first));
    return RunNamed(first, args.mid(1), interrupts);
}
