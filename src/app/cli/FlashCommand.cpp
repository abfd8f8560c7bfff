// "flash": the upgrade on one port, or on several at once with one thread per port, each
// with its own progress line, its own result and a table at the end.
#include "Cli.h"
#include "ConsoleObserver.h"
#include "Interrupts.h"
#include "LineTrace.h"

#include "app/BootComPort.h"
#include "base/Format.h"
#include "cport/NetPortName.h"
#include "cport/PosixComDevice.h"
#include "cport/PosixPortDetails.h"

#include <QElapsedTimer>
#include <QFile>
#include <QFileInfo>
#include <QSet>

#include <cerrno>
#include <chrono>
#include <mutex>
#include <thread>
#include <vector>

namespace cli {

namespace {

enum class ResetLine { None, Dtr, Rts };

struct FlashSettings {
    TUpgradeMode Mode = TUpgradeMode::Flash;
    int Baud = 115200;
    bool Verbose = false;
    ResetLine Reset = ResetLine::None;
    int WakeRetries = 0;
};

// A reset pulse: the line raised this long, then lowered, then the bootloader's start-up time.
constexpr int kResetPulseMs = 50;
constexpr int kBootStartMs = 100;

// Opens the port and pulses the chosen line, so a board wired for it restarts into its
// bootloader just before the opening sequence.
void PulseResetLine(TCustomComPort& port, ResetLine line)
{
    port.Open();
    TComFlowControl* flow = port.FlowControl();
    if (line == ResetLine::Dtr)
        flow->SetControlDTR(TDTRFlowControl::dtrEnable);
    else
        flow->SetControlRTS(TRTSFlowControl::rtsEnable);
    std::this_thread::sleep_for(std::chrono::milliseconds(kResetPulseMs));
    if (line == ResetLine::Dtr)
        flow->SetControlDTR(TDTRFlowControl::dtrDisable);
    else
        flow->SetControlRTS(TRTSFlowControl::rtsDisable);
    std::this_thread::sleep_for(std::chrono::milliseconds(kBootStartMs));
}

struct PortResult {
    QString Port;
    int Status = ExitPortError;
    QStringList Lines; // what went wrong, with the detail the command line adds
    double Seconds = 0;
    qint64 Bytes = 0;  // sent to the device
    int Pages = 0;     // written
};

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
        if (const QString reason = ReservedTerminalReason(device); !reason.isEmpty())
            return QStringLiteral("Zentrop does not take this port: %1.").arg(reason);
        const QString holders = DescribeHolders(FindPortHolders(device));
        return holders.isEmpty() ? QStringLiteral("Another program is using the port.")
                                 : QStringLiteral("Another program is using the port: %1.").arg(holders);
    }
    default:
        return ext->SystemText();
    }
}

// A network port's failure in its user's words, naming host and port.
QString NetPortHint(const Exception& e, const QString& portName)
{
    const auto* ext = dynamic_cast<const EComPortExt*>(&e);
    return ext ? NetPortProblem(portName, ext->SystemCode()) : QString();
}

// The runs in progress, so that a signal stops every one of them.
class RunSet {
public:
    void Add(TPortUpgrade* run)
    {
        std::lock_guard lock(FMutex);
        FRuns.push_back(run);
        if (FInterrupted)
            run->Interrupt();
    }
    void Remove(TPortUpgrade* run)
    {
        std::lock_guard lock(FMutex);
        std::erase(FRuns, run);
    }
    void InterruptAll()
    {
        std::lock_guard lock(FMutex);
        FInterrupted = true;
        for (TPortUpgrade* run : FRuns)
            run->Interrupt();
    }

private:
    std::mutex FMutex;
    std::vector<TPortUpgrade*> FRuns;
    bool FInterrupted = false;
};

// Remembers the run's failure message for the result, and passes everything on.
class MessageKeeper : public TBootObserver {
public:
    explicit MessageKeeper(TBootObserver& next) : FNext(next) {}
    void SetStatus(const QString& text) override { FNext.SetStatus(text); }
    void StartProgress(int max) override { FNext.StartProgress(max); }
    void StepProgress() override { FNext.StepProgress(); }
    void ShowMessage(const QString& text) override
    {
        FMessage = text;
        FNext.ShowMessage(text);
    }
    void ProcessEvents() override {}
    QString FMessage;

private:
    TBootObserver& FNext;
};

// One port's whole run: open, upgrade, close. Never raises.
PortResult RunOnPort(const QString& portName, const FlashSettings& s, const TUpgradeFile& file, TBootObserver& observer,
                     TLineTrace& trace, RunSet& runs)
{
    QElapsedTimer clock;
    clock.start();
    PortResult r;
    r.Port = portName;
    MessageKeeper keeper(observer);
    TComPort port;
    try {
        SetUpgradeLineSettings(port, s.Baud);
        port.SetPort(portName);
        if (s.Reset != ResetLine::None)
            PulseResetLine(port, s.Reset);
        TPortUpgrade upgrade(port, keeper, {}, &trace);
        upgrade.SetWakeRetries(s.WakeRetries);
        runs.Add(&upgrade);
        try {
            const TUpgradeResult result = upgrade.Run(s.Mode, file.FlashPages(), file.EEPromPages());
            trace.Flush();
            if (result == TUpgradeResult::Done) {
                r.Status = ExitSuccess;
            } else {
                r.Status = ExitNoAnswer;
                r.Lines << keeper.FMessage << QStringLiteral("The device gave %1.").arg(trace.LastAnswer());
            }
        } catch (...) {
            runs.Remove(&upgrade);
            throw;
        }
        runs.Remove(&upgrade);
    } catch (const EUpgradeInterrupted& e) {
        r.Status = ExitInterrupted;
        r.Lines << e.Message();
    } catch (const Exception& e) {
        r.Status = ExitPortError;
        r.Lines << e.Message();
        const QString hint = IsNetPortName(portName) ? NetPortHint(e, portName)
                                                     : PortErrorHint(e, port.Device().DeviceName(portName));
        if (!hint.isEmpty())
            r.Lines << hint;
    }
    trace.Flush();
    // Closing gives the port back as it was found: its settings, its exclusive use.
    CloseQuietly(port);
    r.Seconds = static_cast<double>(clock.nsecsElapsed()) / 1e9;
    r.Bytes = trace.BytesWritten();
    return r;
}

int PagesOf(const FlashSettings& s, const TUpgradeFile& file)
{
    int pages = 0;
    if (s.Mode != TUpgradeMode::EEProm)
        pages += static_cast<int>(file.FlashPages().size());
    if (s.Mode != TUpgradeMode::Flash)
        pages += static_cast<int>(file.EEPromPages().size());
    return pages;
}

int FlashOne(const QString& portName, const FlashSettings& s, const TUpgradeFile& file, TInterruptWatch& interrupts)
{
    // A byte trace and a redrawn bar would break each other's lines: -v gives plain lines.
    TConsoleStyle style = TConsoleStyle::Of(stderr);
    if (s.Verbose)
        style.Redraw = style.Color = false;
    TConsoleObserver observer(stderr, style);
    observer.SetStatus(Format(QStringLiteral("Ready for Upgrade (Flash: %d pages, EEProm: %d pages"),
                              {static_cast<int>(file.FlashPages().size()), static_cast<int>(file.EEPromPages().size())}));
    observer.Finish(); // the prepared file's line stays above the progress
    observer.SetTotal(PagesOf(s, file));
    TLineTrace trace(s.Verbose ? stderr : nullptr);
    RunSet runs;
    interrupts.SetHandler([&runs] { runs.InterruptAll(); });
    const PortResult r = RunOnPort(portName, s, file, observer, trace, runs);
    interrupts.SetHandler({});
    observer.Finish();
    // The run's own message has been shown; what follows it is the command line's detail.
    for (qsizetype i = r.Status == ExitNoAnswer ? 1 : 0; i < r.Lines.size(); ++i)
        PrintLine(stderr, r.Lines[i]);
    if (r.Status == ExitSuccess) {
        const double rate = r.Seconds > 0 ? static_cast<double>(trace.BytesWritten()) / r.Seconds : 0;
        PrintLine(stderr, QString::asprintf("Done: %d pages, %lld bytes in %.2f s (%.0f bytes/s)", observer.PagesDone(),
                                            static_cast<long long>(trace.BytesWritten()), r.Seconds, rate));
    }
    return r.Status;
}

// The progress lines of several ports: redrawn together on a terminal, otherwise one plain
// line per status change with the port in front.
class MultiDisplay {
public:
    MultiDisplay(FILE* out, TConsoleStyle style, const QStringList& ports, int total)
        : FOut(out), FStyle(style), FPorts(ports), FStatus(ports.size()), FDone(ports.size(), 0), FTotal(total)
    {
        for (const QString& p : ports)
            FWidth = std::max(FWidth, static_cast<int>(p.size()));
        if (FStyle.Redraw) {
            for (qsizetype i = 0; i < ports.size(); ++i)
                std::fputc('\n', FOut);
            Redraw();
        }
    }

    void Status(qsizetype i, const QString& text)
    {
        std::lock_guard lock(FMutex);
        FStatus[i] = text;
        if (FStyle.Redraw)
            Redraw();
        else if (!text.isEmpty())
            std::fprintf(FOut, "%-*s  %s\n", FWidth, FPorts[i].toLocal8Bit().constData(), text.toLocal8Bit().constData());
    }
    void Step(qsizetype i)
    {
        std::lock_guard lock(FMutex);
        ++FDone[i];
        if (FStyle.Redraw)
            Redraw();
    }

private:
    void Redraw()
    {
        std::fprintf(FOut, "\033[%dA", static_cast<int>(FPorts.size()));
        for (qsizetype i = 0; i < FPorts.size(); ++i) {
            const int percent = FTotal > 0 ? std::min(FDone[i], FTotal) * 100 / FTotal : 0;
            std::fprintf(FOut, "\r\033[K%-*s %3d%%  %s\n", FWidth, FPorts[i].toLocal8Bit().constData(), percent,
                         FStatus[i].toLocal8Bit().constData());
        }
        std::fflush(FOut);
    }

    std::mutex FMutex;
    FILE* FOut;
    TConsoleStyle FStyle;
    QStringList FPorts;
    QStringList FStatus;
    std::vector<int> FDone;
    int FTotal;
    int FWidth = 0;
};

class PortLine : public TBootObserver {
public:
    PortLine(MultiDisplay& display, qsizetype index) : FDisplay(display), FIndex(index) {}
    void SetStatus(const QString& text) override { FDisplay.Status(FIndex, text); }
    void StartProgress(int) override {}
    void StepProgress() override
    {
        ++Pages;
        FDisplay.Step(FIndex);
    }
    void ShowMessage(const QString& text) override { FDisplay.Status(FIndex, text); }
    void ProcessEvents() override {}

    int Pages = 0;

private:
    MultiDisplay& FDisplay;
    qsizetype FIndex;
};

int FlashMany(const QStringList& ports, const FlashSettings& s, const TUpgradeFile& file, TInterruptWatch& interrupts)
{
    TConsoleStyle style = TConsoleStyle::Of(stderr);
    if (s.Verbose)
        style.Redraw = style.Color = false;
    std::vector<PortResult> results(static_cast<size_t>(ports.size()));
    QElapsedTimer clock;
    clock.start();
    {
        MultiDisplay display(stderr, style, ports, PagesOf(s, file));
        RunSet runs;
        interrupts.SetHandler([&runs] { runs.InterruptAll(); });
        std::vector<std::thread> threads;
        for (qsizetype i = 0; i < ports.size(); ++i) {
            threads.emplace_back([&, i] {
                PortLine line(display, i);
                TLineTrace trace(s.Verbose ? stderr : nullptr, ports[i] + QStringLiteral(" "));
                results[static_cast<size_t>(i)] = RunOnPort(ports[i], s, file, line, trace, runs);
                PortResult& r = results[static_cast<size_t>(i)];
                r.Pages = line.Pages;
                // A port that could not even be opened shows why on its own line as well.
                if (r.Status != ExitSuccess && !r.Lines.isEmpty())
                    line.ShowMessage(r.Lines.first());
            });
        }
        for (std::thread& t : threads)
            t.join();
        interrupts.SetHandler({});
    }

    int width = 4;
    for (const QString& p : ports)
        width = std::max(width, static_cast<int>(p.size()));
    std::fprintf(stderr, "\n%-*s  %-6s  %s\n", width, "port", "time", "result");
    int status = ExitSuccess;
    int done = 0, pages = 0;
    qint64 bytes = 0;
    for (const PortResult& r : results) {
        const QString text = r.Status == ExitSuccess ? QStringLiteral("done") : r.Lines.join(u' ');
        std::fprintf(stderr, "%-*s  %5.1fs  %s\n", width, r.Port.toLocal8Bit().constData(), r.Seconds,
                     text.toLocal8Bit().constData());
        // The worst outcome decides: an interruption, then a port error, then a device that failed.
        status = std::max(status, r.Status);
        done += r.Status == ExitSuccess ? 1 : 0;
        pages += r.Pages;
        bytes += r.Bytes;
    }
    const double seconds = static_cast<double>(clock.nsecsElapsed()) / 1e9;
    std::fprintf(stderr, "Done: %d of %d devices, %d pages, %lld bytes in %.2f s (%.0f bytes/s)\n", done,
                 static_cast<int>(results.size()), pages, static_cast<long long>(bytes), seconds,
                 seconds > 0 ? static_cast<double>(bytes) / seconds : 0.0);
    return status;
}

std::optional<QStringList> PortsFrom(const QString& path, QString* error)
{
    if (const QString problem = InputFileProblem(path); !problem.isEmpty()) {
        *error = QStringLiteral("%1: %2").arg(path, problem);
        return std::nullopt;
    }
    QFile f(path);
    if (!f.open(QIODevice::ReadOnly | QIODevice::Text)) {
        *error = QStringLiteral("%1: %2").arg(path, f.errorString());
        return std::nullopt;
    }
    QStringList ports;
    for (const QByteArray& raw : f.read(1024 * 1024).split('\n')) {
        const QString line = QString::fromLocal8Bit(raw).trimmed();
        if (!line.isEmpty() && !line.startsWith(u'#'))
            ports << line;
    }
    return ports;
}

} // namespace

const CommandSyntax& FlashSpec()
{
    static const CommandSyntax syntax{
        QStringLiteral("flash"), QStringLiteral("--port PORT [--port PORT ...] [OPTIONS] FILE.upg"),
        QStringLiteral("runs the upgrade on one port or on several at once"),
        QStringLiteral(
            "Runs the upgrade on PORT: a device path, COMn (/dev/ttyS(n-1)) or a name under /dev.\n"
            "The line runs at 8 data bits, no parity, 1 stop bit, no flow control. With several ports\n"
            "every device is upgraded at the same time, each on its own thread with its own progress line\n"
            "and result; a table ends the run, and the exit status is 0 only when every device succeeded.\n"
            "When a device fails, the message of the step is followed by what the device did: no answer\n"
            "within the time-out, or a wrong answer (expected 0x0D, got ...)."),
        {
            {QStringLiteral("port"), 'p', QStringLiteral("PORT"), QStringLiteral("a port a device is on (ttyUSB0, /dev/ttyACM0, socket://HOST:PORT, rfc2217://HOST:PORT); repeat for several")},
            {QStringLiteral("ports-from"), 0, QStringLiteral("FILE"), QStringLiteral("ports from a file, one a line (# comments)")},
            {QStringLiteral("mode"), 'm', QStringLiteral("MODE"), QStringLiteral("flash, eeprom or both (default flash)")},
            {QStringLiteral("baud"), 'b', QStringLiteral("RATE"), QStringLiteral("line speed in bits per second (default 115200)")},
            {QStringLiteral("reset"), 0, QStringLiteral("LINE"),
             QStringLiteral("dtr or rts: pulse the line to restart the device into its bootloader (default none)")},
            {QStringLiteral("wake-retries"), 0, QStringLiteral("N"),
             QStringLiteral("send the opening sequence again up to N times while the mode command gets no answer")},
            {QStringLiteral("verbose"), 'v', QString(),
             QStringLiteral("trace every byte sent and received, with the time since the start")},
        }};
    return syntax;
}

int Flash(const ParsedOptions& options, TInterruptWatch& interrupts)
{
    QStringList ports = options.Values(QStringLiteral("port"));
    for (const QString& from : options.Values(QStringLiteral("ports-from"))) {
        QString error;
        const std::optional<QStringList> listed = PortsFrom(from, &error);
        if (!listed)
            return UsageError(error, FlashSpec());
        ports += *listed;
    }
    ports.removeAll(QString());
    // One run for each device, however it was named ("/dev/ttyUSB0", "ttyUSB0", a by-id link):
    // a second run on the same device could only fail as its port is taken.
    QSet<QString> devices;
    ports.removeIf([&devices](const QString& port) {
        const QString device = QFileInfo(TPosixComDevice::DevicePath(port)).canonicalFilePath();
        const QString key = device.isEmpty() ? port : device;
        if (devices.contains(key))
            return true;
        devices.insert(key);
        return false;
    });
    if (ports.isEmpty())
        return UsageError(QStringLiteral("flash needs --port PORT"), FlashSpec());
    FlashSettings s;
    const QString m = options.Value(QStringLiteral("mode"), QStringLiteral("flash"));
    if (m == QLatin1String("eeprom"))
        s.Mode = TUpgradeMode::EEProm;
    else if (m == QLatin1String("both"))
        s.Mode = TUpgradeMode::Both;
    else if (m != QLatin1String("flash"))
        return UsageError(QStringLiteral("--mode is flash, eeprom or both, not \"%1\"").arg(m), FlashSpec());
    const std::optional<qint64> rate = ParseNumber(options.Value(QStringLiteral("baud"), QStringLiteral("115200")));
    if (!rate || *rate <= 0 || *rate > INT32_MAX)
        return UsageError(QStringLiteral("--baud needs a positive number, not \"%1\"").arg(options.Value(QStringLiteral("baud"))),
                          FlashSpec());
    s.Baud = static_cast<int>(*rate);
    s.Verbose = options.Has(QStringLiteral("verbose"));
    const QString reset = options.Value(QStringLiteral("reset"), QStringLiteral("none"));
    if (reset == QLatin1String("dtr"))
        s.Reset = ResetLine::Dtr;
    else if (reset == QLatin1String("rts"))
        s.Reset = ResetLine::Rts;
    else if (reset != QLatin1String("none"))
        return UsageError(QStringLiteral("--reset is dtr, rts or none, not \"%1\"").arg(reset), FlashSpec());
    const std::optional<qint64> retries = ParseNumber(options.Value(QStringLiteral("wake-retries"), QStringLiteral("0")));
    if (!retries || *retries < 0 || *retries > 100)
        return UsageError(QStringLiteral("--wake-retries needs a number from 0 to 100, not \"%1\"")
                              .arg(options.Value(QStringLiteral("wake-retries"))),
                          FlashSpec());
    s.WakeRetries = static_cast<int>(*retries);
    if (options.Positional().size() != 1)
        return UsageError(options.Positional().isEmpty() ? QStringLiteral("flash needs an upgrade file")
                                                         : QStringLiteral("flash takes one upgrade file"),
                          FlashSpec());

    const std::optional<TUpgradeFile> file = Prepare(options.Positional().first());
    if (!file)
        return ExitFileRejected;
    return ports.size() == 1 ? FlashOne(ports.first(), s, *file, interrupts) : FlashMany(ports, s, *file, interrupts);
}

} // namespace cli
