// "station": a test fixture's day. Each fixture port waits for a board, flashes it as flash
// would, says the result, waits until the board is unplugged, and starts again.
#include "Cli.h"
#include "Events.h"
#include "FlashJson.h"
#include "ProgressDisplay.h"
#include "Station.h"

#include "cmdline/Console.h"
#include "cmdline/Interrupts.h"
#include "base/FileName.h"
#include "cport/NetPortName.h"
#include "cport/PortNames.h"

#include <QJsonDocument>
#include <QSet>

#include <chrono>
#include <condition_variable>
#include <glob.h>
#include <mutex>
#include <optional>
#include <sys/stat.h>
#include <thread>

namespace zentrop {

namespace cli {

namespace {

// How often a fixture port looks for its board to come and to go.
constexpr int kPollMs = 200;
// A board's device appears before the system has given it its group and permissions; opened
// at once, it could fail for a moment's reason.
constexpr int kSettleMs = 500;

// The device a name leads to (a link followed), when it is one that can be opened.
std::optional<dev_t> DeviceOf(const QString& path)
{
    struct stat st {};
    if (::stat(EncodeFileName(path).constData(), &st) == 0 && S_ISCHR(st.st_mode))
        return st.st_rdev;
    return std::nullopt;
}

bool Present(const QString& path)
{
    return DeviceOf(path).has_value();
}

// The devices a slot's pattern names now, in order.
QStringList Matches(const QString& pattern)
{
    QStringList found;
    glob_t g {};
    if (::glob(EncodeFileName(pattern).constData(), 0, nullptr, &g) == 0)
        for (size_t i = 0; i < g.gl_pathc; ++i)
            if (const QString path = DecodeFileName(QByteArray(g.gl_pathv[i])); Present(path))
                found << path;
    ::globfree(&g);
    return found;
}

class StationLoop {
public:
    StationLoop(const StationSetup& setup) : FSetup(setup) {}

    // A signal: every waiting slot ends, every board in progress is interrupted.
    void Stop()
    {
        {
            std::lock_guard lock(FMutex);
            FStopped = true;
        }
        FWake.notify_all();
        FSetup.InterruptBoards();
    }

    // One fixture port's boards, until Stop.
    void RunSlot(qsizetype slot, const QString& pattern, ProgressDisplay& display)
    {
        while (true) {
            if (!FSetup.Quiet)
                display.Message(slot, QStringLiteral("Waiting for a board on %1.").arg(pattern));
            const std::optional<QString> device = WaitForBoard(pattern);
            if (!device)
                return;
            if (FSetup.Events)
                FSetup.Events->Emit("board", {{"port", *device}, {"slot", pattern}, {"state", QStringLiteral("present")}});
            const std::optional<dev_t> node = DeviceOf(*device);
            PortResult r = FSetup.FlashBoard(*device, slot, display);
            Report(slot, pattern, std::move(r), display);
            // The same board stays until it is unplugged; flashed again only when it comes back.
            if (!FSetup.Quiet && Present(*device))
                display.Message(slot, QStringLiteral("Unplug the board from %1.").arg(*device));
            const bool gone = WaitUntilGone(*device, node);
            {
                std::lock_guard lock(FMutex);
                FClaimed.remove(*device);
            }
            if (!gone)
                return;
            if (FSetup.Events)
                FSetup.Events->Emit("board", {{"port", *device}, {"slot", pattern}, {"state", QStringLiteral("gone")}});
        }
    }

    std::vector<PortResult> Results()
    {
        std::lock_guard lock(FMutex);
        return FResults;
    }

private:
    // Waits the time, or less when stopped; false when stopped.
    bool Pause(int ms)
    {
        std::unique_lock lock(FMutex);
        return !FWake.wait_for(lock, std::chrono::milliseconds(ms), [this] { return FStopped; });
    }

    // The first device the pattern names that no other slot has, once it has settled; nullopt
    // when stopped.
    std::optional<QString> WaitForBoard(const QString& pattern)
    {
        while (true) {
            for (const QString& path : Matches(pattern)) {
                {
                    std::lock_guard lock(FMutex);
                    if (FStopped)
                        return std::nullopt;
                    if (FClaimed.contains(path))
                        continue;
                    FClaimed.insert(path);
                }
                if (!Pause(kSettleMs)) {
                    std::lock_guard lock(FMutex);
                    FClaimed.remove(path);
                    return std::nullopt;
                }
                if (Present(path))
                    return path;
                std::lock_guard lock(FMutex);
                FClaimed.remove(path);
            }
            if (!Pause(kPollMs))
                return std::nullopt;
        }
    }

    // The board is gone when its name goes away, or leads to another device (a board swapped
    // faster than a look); false when stopped first.
    bool WaitUntilGone(const QString& device, std::optional<dev_t> node)
    {
        while (DeviceOf(device) && DeviceOf(device) == node)
            if (!Pause(kPollMs))
                return false;
        return true;
    }

    // The board's line: a JSON object with --json, else a line of text; both on standard output.
    void Report(qsizetype slot, const QString& pattern, PortResult r, ProgressDisplay& display)
    {
        std::lock_guard lock(FMutex);
        const int board = static_cast<int>(FResults.size()) + 1;
        if (FSetup.Json) {
            RunRecord one = *FSetup.Record;
            one.Ports = {r.Port};
            one.Started = r.Started;
            one.Results = {r};
            one.Seconds = r.Seconds;
            QJsonObject o = RunObject(one, r.Status, {});
            o.insert("board", board);
            o.insert("slot", pattern);
            ConsolePrintf(stdout, "%s\n", QJsonDocument(o).toJson(QJsonDocument::Compact).constData());
        } else {
            QString line = QStringLiteral("Board %1 on %2: ").arg(board).arg(r.Port);
            if (r.Status == ExitSuccess) {
                line += QStringLiteral("done, %1 in %2 s").arg(Counted(r.Pages, "page", "pages"),
                                                               QString::number(r.Seconds, 'f', 2));
                if (r.Serial)
                    line += QStringLiteral(", serial %1").arg(*r.Serial);
                if (!r.AppLine.isEmpty())
                    line += QStringLiteral(", the application printed: %1").arg(r.AppLine);
            } else {
                line += QStringLiteral("FAILED (%1, status %2): %3")
                            .arg(OutcomeName(r.Result))
                            .arg(r.Status)
                            .arg(r.Lines.value(0));
            }
            ConsolePrintf(stdout, "%s\n", line.toLocal8Bit().constData());
        }
        std::fflush(stdout);
        // What the run said after its own message, as flash says it.
        if (r.Status != ExitSuccess)
            for (qsizetype i = 1; i < r.Lines.size(); ++i)
                display.Message(slot, r.Lines[i]);
        FResults.push_back(std::move(r));
    }

    const StationSetup& FSetup;
    std::mutex FMutex;
    std::condition_variable FWake;
    bool FStopped = false;
    QSet<QString> FClaimed;
    std::vector<PortResult> FResults;
};

} // namespace

int RunStation(const StationSetup& setup, InterruptWatch& interrupts, std::vector<PortResult>* results)
{
    QStringList fixtures;
    for (const QString& s : setup.Slots) {
        if (IsNetPortName(s)) {
            PrintLine(stderr, QStringLiteral("station waits for boards that are plugged in, not for %1: flash runs "
                                             "network ports.").arg(s));
            return ExitUsage;
        }
        fixtures << PortDevicePath(s);
    }
    // Plain lines: a station's screen is a record of the day, and a redrawn line would mix
    // with the boards' result lines.
    ConsoleStyle style = ConsoleStyle::Of(stderr);
    style.Redraw = style.Color = false;
    ProgressDisplay display(stderr, style, fixtures, 0, 0);
    display.SetQuiet(setup.Quiet);
    StationLoop loop(setup);
    interrupts.SetHandler([&loop] { loop.Stop(); });
    std::vector<std::thread> threads;
    for (qsizetype i = 0; i < fixtures.size(); ++i)
        threads.emplace_back([&loop, &fixtures, &display, i] { loop.RunSlot(i, fixtures[i], display); });
    for (std::thread& t : threads)
        t.join();
    interrupts.SetHandler({});
    *results = loop.Results();
    int done = 0;
    for (const PortResult& r : *results)
        done += r.Status == ExitSuccess ? 1 : 0;
    const int boards = static_cast<int>(results->size());
    if (setup.Json) {
        QJsonObject o{{"schema", kJsonSchema},
                      {"command", QStringLiteral("station")},
                      {"totals", true},
                      {"status", ExitInterrupted},
                      {"result", OutcomeName(Outcome::Interrupted)},
                      {"started", UtcText(setup.Record->Started)},
                      {"ended", UtcText(QDateTime::currentDateTimeUtc())},
                      {"boards", boards},
                      {"done", done},
                      {"failed", boards - done}};
        ConsolePrintf(stdout, "%s\n", QJsonDocument(o).toJson(QJsonDocument::Compact).constData());
    } else {
        ConsolePrintf(stdout, "Station ended: %s, %d done, %d failed.\n",
                      Counted(boards, "board", "boards").toLocal8Bit().constData(), done, boards - done);
    }
    if (setup.Events)
        setup.Events->Emit("station", {{"boards", boards}, {"done", done}, {"failed", boards - done}});
    return ExitInterrupted;
}

const CommandSyntax& StationSyntax()
{
    static const CommandSyntax syntax = [] {
        CommandSyntax station{
            QStringLiteral("station"),
            QStringLiteral("--port PATTERN [--port PATTERN ...] [OPTIONS] FILE.upg\n"
                           "       zentrop-cli station --port PATTERN [OPTIONS] --flash FW.hex --flash-page-size N"),
            QStringLiteral("flashes board after board as they are plugged into a fixture, until Ctrl-C"),
            QStringLiteral(
                "Runs a test fixture all day. Each --port is a fixture port with a loop of its own: it\n"
                "waits for a board under its name, a device path or a glob pattern such as\n"
                "\"/dev/serial/by-id/usb-*-if00*\" (a link is followed; a board is there when the name\n"
                "leads to a device), flashes it as flash does with the same options (retries, --reset,\n"
                "--expect, --serial-file, --patch, --log, --events), prints one result line for the board\n"
                "on standard output (one JSON object a line with --json, as flash --json prints for one\n"
                "port, with the board's number and the slot added), waits until the board is unplugged\n"
                "(its name goes away, or leads to another device) and waits for the next one. A board that\n"
                "fails does not stop the "
                "station; it is flashed again only when it is plugged in again. Several --port options\n"
                "serve several fixture ports at once; a pattern that names several devices gives them to\n"
                "its loop one after the other. Network ports are refused (status 2): they are never\n"
                "unplugged.\n"
                "Ctrl-C, SIGTERM or SIGHUP stop the boards in progress, print the totals (\"Station ended:\n"
                "N boards, D done, F failed.\", or a JSON object with \"totals\": true, \"boards\", \"done\"\n"
                "and \"failed\") and end with status 130, whatever the boards' results were. Errors found\n"
                "before the first board (usage, the file) end it with flash's statuses."),
            {}};
        for (const OptionSyntax& o : FlashSyntax().Options)
            if (o.Long != QLatin1String("monitor"))
                station.Options.push_back(o);
        for (OptionSyntax& o : station.Options)
            if (o.Long == QLatin1String("port"))
                o.Help = QStringLiteral("a fixture port: a device path or a glob pattern of one (/dev/serial/by-id/...); "
                                        "repeat for several");
        return station;
    }();
    return syntax;
}

int Station(const ParsedOptions& options, InterruptWatch& interrupts)
{
    return FlashCommandRun(options, interrupts, QStringLiteral("station"));
}

void StationUsageJson(const QString& error)
{
    PrintUsageJson(QStringLiteral("station"), error);
}

} // namespace cli

} // namespace zentrop
