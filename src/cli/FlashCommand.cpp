// "flash": the upgrade on one port, or on several at once with one thread per port, each
// with its own progress line, its own result and a table at the end.
#include "Cli.h"
#include "FlashResults.h"
#include "cmdline/Interrupts.h"
#include "LineTrace.h"
#include "Monitor.h"
#include "ProgressDisplay.h"

#include "upgrade/BootComPort.h"
#include "upgrade/BootProtocol.h"
#include "upgrade/ResetSequence.h"
#include "base/FileName.h"
#include "base/Format.h"
#include "base/UniqueFd.h"
#include "cport/NetPortName.h"
#include "cport/PortNames.h"
#include "cport/PortDetails.h"

#include <QElapsedTimer>
#include <QFile>
#include <QFileInfo>
#include <QSet>

#include <cerrno>
#include <cstring>
#include <chrono>
#include <memory>
#include <mutex>
#include <fcntl.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <thread>
#include <unistd.h>
#include <vector>

namespace zentrop {

namespace cli {

namespace {

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
};

// A program that holds the port without a lock (a terminal left open, a plain read) would
// take the device's answers, and the run would fail later with "no answer"; refused here
// with its name unless the user says it is harmless.
void RefuseOtherHolders(const QString& device)
{
    // The console and a login line are refused by the open itself, with the reason; the
    // program that holds them (a getty, a shell) is not the user's to close.
    if (!ReservedTerminalReason(device).isEmpty())
        return;
    const std::vector<PortHolder> holders = FindPortHolders(device);
    if (holders.empty())
        return;
    throw Exception(QStringLiteral("%1 is open in %2, which would take the device's answers. "
                                   "Close it, or give --force to upgrade anyway.")
                        .arg(device, DescribeHolders(holders)));
}

// Opens the port and drives its modem lines, so a board wired for it restarts into its
// bootloader just before the opening sequence. A line that cannot be driven ends the run:
// the board would not have been reset.
void ResetDevice(TCustomComPort& port, const ResetSequence& steps, const QString& device)
{
    if (steps.empty())
        return;
    port.Open();
    ResetStep failed;
    const int err = RunResetSequence(
        steps,
        [&port](ResetStep::Kind line, bool raised) {
            try {
                line == ResetStep::Kind::Dtr ? port.SetDTR(raised) : port.SetRTS(raised);
                return 0;
            } catch (const EComPortExt& e) {
                return static_cast<int>(e.SystemCode());
            }
        },
        [](int ms) { std::this_thread::sleep_for(std::chrono::milliseconds(ms)); }, &failed);
    if (err)
        throw Exception(QStringLiteral("The reset cannot drive %1 on %2: %3. Reset the board by hand and give "
                                       "--reset none, or use a port whose %1 line is wired to the reset.")
                            .arg(ResetLineName(failed.What), device, QString::fromLocal8Bit(std::strerror(err))));
}

// Like the window, the end of a run ignores errors from closing the port.
void CloseQuietly(TCustomComPort& port)
{
    try {
        port.Close();
    } catch (const Exception&) {
    }
}

// A port name that is no terminal device (a directory, a regular file, /dev/null) would fail
// with the system's "Inappropriate ioctl for device" at best; said plainly before opening.
// Empty when the name is a terminal device, or does not exist (the open says so).
QString SerialDeviceProblem(const QString& device)
{
    struct stat st {};
    if (::stat(EncodeFileName(device).constData(), &st) != 0)
        return QString();
    QString what;
    if (S_ISDIR(st.st_mode)) {
        what = QStringLiteral("a directory");
    } else if (S_ISREG(st.st_mode)) {
        what = QStringLiteral("a regular file");
    } else if (!S_ISCHR(st.st_mode)) {
        what = QStringLiteral("not a device");
    } else {
        // Terminal devices the system registers belong to the tty class; pseudo-terminals
        // are not registered at all.
        const QString subsystem = QFileInfo(QStringLiteral("/sys/dev/char/%1:%2/subsystem")
                                                .arg(major(st.st_rdev))
                                                .arg(minor(st.st_rdev)))
                                      .symLinkTarget();
        if (subsystem.isEmpty() || QFileInfo(subsystem).fileName() == QLatin1String("tty"))
            return QString();
        what = QStringLiteral("a device that is not a terminal");
    }
    return QStringLiteral("%1 is %2, not a serial port; \"zentrop-cli ports\" lists the serial ports.").arg(device, what);
}

QString PortErrorHint(const Exception& e, const QString& device, bool runStarted)
{
    const auto* ext = dynamic_cast<const EComPortExt*>(&e);
    if (!ext)
        return QString();
    switch (ext->SystemCode()) {
    case EIO:
    case ENXIO:
    case ENODEV:
        if (runStarted)
            return QStringLiteral("The device disconnected; the upgrade is incomplete. Connect it again and run the "
                                  "upgrade again.");
        break;
    default:
        break;
    }
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
    void Add(PortUpgrade* run)
    {
        std::lock_guard lock(FMutex);
        FRuns.push_back(run);
        if (FInterrupted)
            run->Interrupt();
    }
    void Remove(PortUpgrade* run)
    {
        std::lock_guard lock(FMutex);
        std::erase(FRuns, run);
    }
    void InterruptAll()
    {
        std::lock_guard lock(FMutex);
        FInterrupted = true;
        for (PortUpgrade* run : FRuns)
            run->Interrupt();
    }
    bool Interrupted()
    {
        std::lock_guard lock(FMutex);
        return FInterrupted;
    }

private:
    std::mutex FMutex;
    std::vector<PortUpgrade*> FRuns;
    bool FInterrupted = false;
};

// What a failed exchange most likely means and what helps, after the device's own answer.
QStringList DeviceHints(const LineTrace& trace, int baud)
{
    const QString address = QString::asprintf("0x%04X", static_cast<unsigned>(trace.LastAddress()));
    if (trace.LastCommand() == char(boot::CmdData) && trace.Silent())
        return {QStringLiteral("After the %1 bytes of the page at %2 the device still waited for more: its pages may be "
                               "longer than the file's. Make the upgrade file with the device's page size "
                               "(zentrop-cli pack --flash-page-size N).")
                    .arg(trace.LastPageBytes())
                    .arg(address)};
    if (trace.Silent())
        return {QStringLiteral("Check that the device is powered and connected, that its bootloader runs (--reset "
                               "restarts it, --wake-retries N waits for a slow start) and the line speed (--baud, now %1).")
                    .arg(baud)};
    return {QStringLiteral("A wrong line speed garbles the answers: check --baud (now %1).").arg(baud)};
}

// The step a run ended at, as the results name it.
QString StepName(const RunEnd& end)
{
    switch (end.Step) {
    case UpgradeStep::Open: return QStringLiteral("open");
    case UpgradeStep::Wake: return QStringLiteral("wake");
    case UpgradeStep::Mode: return end.Where == Memory::Flash ? QStringLiteral("flash mode") : QStringLiteral("eeprom mode");
    case UpgradeStep::Address: return QStringLiteral("address");
    case UpgradeStep::Data: return QStringLiteral("data");
    case UpgradeStep::Jump: return QStringLiteral("jump");
    }
    return QString();
}

// One attempt on a port: open, reset, upgrade, close. Never raises. A page-size mismatch is
// marked as not worth a retry: the next attempt would fail the same way.
PortResult RunOnce(const QString& portName, const FlashSettings& s, const UpgradeFile& file, PortProgress& progress,
                   LineTrace& trace, RunSet& runs, bool* retryable)
{
    PortResult r;
    r.Port = portName;
    *retryable = false;
    progress.ForgetEnd();
    TComPort port;
    const QString device = port.Device().DeviceName(portName);
    const qint64 bytesBefore = trace.BytesWritten();
    const int pagesBefore = trace.PagesAcknowledged();
    try {
        SetUpgradeLineSettings(port, s.Baud);
        if (s.RS485)
            port.FlowControl()->SetControlRTS(TRTSFlowControl::rtsToggle);
        port.SetPort(portName);
        if (const QString problem = SerialDeviceProblem(device); !problem.isEmpty())
            throw Exception(problem);
        if (!s.Force)
            RefuseOtherHolders(device);
        ResetDevice(port, s.Reset, device);
        PortUpgrade upgrade(port, progress, {}, &trace);
        upgrade.SetWakeRetries(s.WakeRetries);
        trace.SetInputCheck([&port] { return port.InputQueueCount(); });
        runs.Add(&upgrade);
        try {
            const UpgradeResult result = upgrade.Run(s.Mode, file.FlashPages(), file.EEPromPages());
            trace.Flush();
            if (s.RS485 && s.Verbose && port.Connected())
                PrintLine(stderr, portName + QStringLiteral(": ") + RS485Description(port.GetRS485Mode()));
            if (result == UpgradeResult::Done) {
                r.Status = ExitSuccess;
            } else {
                r.Status = ExitNoAnswer;
                r.MessageShown = true;
                r.Lines << progress.LastEnd()->Message
                        << QStringLiteral("The device on %1 gave %2.").arg(device, trace.LastAnswer())
                        << DeviceHints(trace, s.Baud);
                *retryable = true;
            }
        } catch (...) {
            runs.Remove(&upgrade);
            throw;
        }
        runs.Remove(&upgrade);
        if (r.Status == ExitSuccess && s.AfterUpgrade)
            r.Status = s.AfterUpgrade(port);
    } catch (const EUpgradeInterrupted& e) {
        r.Status = ExitInterrupted;
        r.Lines << e.Message();
    } catch (const EPageSizeMismatch& e) {
        r.Status = ExitNoAnswer;
        r.Lines << e.Message();
    } catch (const Exception& e) {
        r.Status = ExitPortError;
        r.Lines << e.Message();
        const QString hint = IsNetPortName(portName) ? NetPortHint(e, portName)
                                                     : PortErrorHint(e, device, trace.BytesWritten() > bytesBefore);
        if (!hint.isEmpty())
            r.Lines << hint;
    }
    trace.Flush();
    trace.SetInputCheck({});
    // Closing gives the port back as it was found: its settings, its exclusive use.
    CloseQuietly(port);
    // Where the run failed; one that never started failed in opening the port.
    if (r.Status == ExitNoAnswer || r.Status == ExitPortError) {
        const std::optional<RunEnd>& end = progress.LastEnd();
        if (!end) {
            r.Step = QStringLiteral("open");
        } else if (end->Result != UpgradeResult::Done) {
            r.Step = StepName(*end);
            r.FailedPage = end->Page;
        }
    }
    r.Pages = trace.PagesAcknowledged() - pagesBefore;
    return r;
}

// A port's whole run: the first attempt and the retries that a device's failure allows.
PortResult RunOnPort(const QString& portName, const FlashSettings& s, const UpgradeFile& file, PortProgress& progress,
                     LineTrace& trace, RunSet& runs)
{
    QElapsedTimer clock;
    clock.start();
    bool retryable = false;
    PortResult r = RunOnce(portName, s, file, progress, trace, runs, &retryable);
    for (int retry = 1; retry <= s.Retries && retryable && !runs.Interrupted(); ++retry) {
        // A device left in the middle of a page's data takes the opening sequence as data.
        const QString caveat = r.Step == QLatin1String("data") && s.Reset.empty()
                                   ? QStringLiteral(" (it may still be in the page's data and take the opening "
                                                    "sequence as data; --reset restarts it reliably)")
                                   : QString();
        progress.Message(QStringLiteral("Retry %1 of %2 on %3 after: %4%5")
                                 .arg(retry)
                                 .arg(s.Retries)
                                 .arg(portName, r.Lines.value(0), caveat));
        r = RunOnce(portName, s, file, progress, trace, runs, &retryable);
        r.Retries = retry;
    }
    r.Seconds = static_cast<double>(clock.nsecsElapsed()) / 1e9;
    r.Bytes = trace.BytesWritten();
    return r;
}

// What a production line collects: the JSON object on standard output, the log's lines.
void Collect(const FlashSettings& s, const std::vector<PortResult>& results, const RunTotals& totals)
{
    if (s.Json)
        ConsolePrintf(stdout, "%s\n", ResultsJson(results, totals).constData());
    if (s.Log)
        LogResults(s.Log, results, totals);
}

// Every port's runs at once under one display, each port on a thread of its own; a single
// port runs on this thread.
std::vector<PortResult> RunPorts(const QStringList& ports, const FlashSettings& s, const UpgradeFile& file,
                                 InterruptWatch& interrupts)
{
    // A byte trace and redrawn lines would break each other's lines: -v gives plain lines.
    ConsoleStyle style = ConsoleStyle::Of(stderr);
    if (s.Verbose)
        style.Redraw = style.Color = false;
    int rows = 0, columns = 0;
    ProgressDisplay::TerminalSize(stderr, &rows, &columns);
    ProgressDisplay display(stderr, style, ports, rows, columns);
    std::vector<PortResult> results(static_cast<size_t>(ports.size()));
    RunSet runs;
    interrupts.SetHandler([&runs] { runs.InterruptAll(); });
    const auto runPort = [&](qsizetype i) {
        PortProgress progress(display, i);
        LineTrace trace(s.Verbose ? stderr : nullptr, ports.size() > 1 ? ports[i] + QStringLiteral(" ") : QString());
        trace.SetLog(s.Log, ports[i]);
        const PortResult& r = results[static_cast<size_t>(i)] = RunOnPort(ports[i], s, file, progress, trace, runs);
        // With several ports, a failure the run did not report (a port that could not even be
        // opened) is said as it happens, too.
        if (ports.size() > 1 && r.Status != ExitSuccess && !r.MessageShown && !r.Lines.isEmpty())
            progress.Message(r.Lines.first());
        display.Finished(i, r.Status == ExitSuccess);
    };
    if (ports.size() == 1) {
        runPort(0);
    } else {
        std::vector<std::thread> threads;
        for (qsizetype i = 0; i < ports.size(); ++i)
            threads.emplace_back(runPort, i);
        for (std::thread& t : threads)
            t.join();
    }
    interrupts.SetHandler({});
    return results;
}

int FlashOne(const QString& portName, const FlashSettings& s, const UpgradeFile& file, InterruptWatch& interrupts)
{
    PrintLine(stderr, Format(QStringLiteral("Ready for Upgrade (Flash: %d pages, EEProm: %d pages"),
                             {static_cast<int>(file.FlashPages().size()), static_cast<int>(file.EEPromPages().size())}));
    if (!s.LeftOut.isEmpty())
        PrintLine(stderr, s.LeftOut);
    const std::vector<PortResult> results = RunPorts({portName}, s, file, interrupts);
    const PortResult& r = results.front();
    // The run's own message has been shown; what follows it is the command line's detail.
    for (qsizetype i = r.MessageShown ? 1 : 0; i < r.Lines.size(); ++i)
        PrintLine(stderr, r.Lines[i]);
    if (r.Status == ExitSuccess) {
        const double rate = r.Seconds > 0 ? static_cast<double>(r.Bytes) / r.Seconds : 0;
        PrintLine(stderr, QString::asprintf("Done: %d pages, %lld bytes in %.2f s (%.0f bytes/s)", r.Pages,
                                            static_cast<long long>(r.Bytes), r.Seconds, rate));
    }
    const RunTotals totals = Totals(results, r.Seconds);
    Collect(s, results, totals);
    return totals.Status;
}

int FlashMany(const QStringList& ports, const FlashSettings& s, const UpgradeFile& file, InterruptWatch& interrupts)
{
    if (!s.LeftOut.isEmpty())
        PrintLine(stderr, s.LeftOut);
    QElapsedTimer clock;
    clock.start();
    const std::vector<PortResult> results = RunPorts(ports, s, file, interrupts);

    int width = 4;
    for (const QString& p : ports)
        width = std::max(width, static_cast<int>(p.size()));
    ConsolePrintf(stderr, "\n%-*s  %-6s  %s\n", width, "port", "time", "result");
    for (const PortResult& r : results) {
        // The failure and what the device did; the remedies would not fit a table's line.
        const QString text = r.Status == ExitSuccess ? QStringLiteral("done") : r.Lines.mid(0, 2).join(u' ');
        ConsolePrintf(stderr, "%-*s  %5.1fs  %s\n", width, r.Port.toLocal8Bit().constData(), r.Seconds,
                      text.toLocal8Bit().constData());
    }
    const RunTotals totals = Totals(results, static_cast<double>(clock.nsecsElapsed()) / 1e9);
    ConsolePrintf(stderr, "Done: %d of %d devices, %d pages, %lld bytes in %.2f s (%.0f bytes/s)\n", totals.Done,
                  totals.Devices, totals.Pages, static_cast<long long>(totals.Bytes), totals.Seconds,
                  totals.Seconds > 0 ? static_cast<double>(totals.Bytes) / totals.Seconds : 0.0);
    Collect(s, results, totals);
    return totals.Status;
}

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
    for (const QByteArray& raw : f.read(1024 * 1024).split('\n')) {
        const QString line = DecodeFileName(raw.trimmed());
        if (!line.isEmpty() && !line.startsWith(u'#'))
            ports << line;
    }
    return ports;
}

enum class ModeChoice { Flash, EEProm, Both, All };

// The phases to run: "all" becomes the memories the file holds. What the mode leaves out is
// said before the run, so that a log shows it; nullopt, after saying so, when the mode would
// write nothing at all, which a production line must not count as an upgrade.
std::optional<UpgradeMode> PhasesFor(ModeChoice choice, const UpgradeFile& file, const QString& path, QString* leftOut)
{
    const int flash = static_cast<int>(file.FlashPages().size());
    const int eeprom = static_cast<int>(file.EEPromPages().size());
    switch (choice) {
    case ModeChoice::All:
        if (flash > 0 || eeprom > 0)
            return flash == 0 ? UpgradeMode::EEProm : eeprom == 0 ? UpgradeMode::Flash : UpgradeMode::Both;
        PrintLine(stderr, QStringLiteral("Nothing to write: %1 holds no pages.").arg(path));
        return std::nullopt;
    case ModeChoice::Both:
        if (flash > 0 || eeprom > 0)
            return UpgradeMode::Both;
        PrintLine(stderr, QStringLiteral("Nothing to write: %1 holds no pages.").arg(path));
        return std::nullopt;
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

} // namespace

const CommandSyntax& FlashSyntax()
{
    static const CommandSyntax syntax{
        QStringLiteral("flash"),
        QStringLiteral("--port PORT [--port PORT ...] [OPTIONS] FILE.upg\n"
                       "       zentrop-cli flash --port PORT [OPTIONS] --flash FW.hex [--eeprom EE.hex] --flash-page-size N"),
        QStringLiteral("runs the upgrade on one port or on several at once"),
        QStringLiteral(
            "Runs the upgrade on PORT: a device path, COMn (/dev/ttyS(n-1)) or a name under /dev.\n"
            "The line runs at 8 data bits, no parity, 1 stop bit, no flow control. With several ports\n"
            "every device is upgraded at the same time, each on its own thread with its own progress line\n"
            "and result; a table ends the run, and the exit status is 0 only when every device succeeded.\n"
            "The progress names each memory's mode and every page as \"Flash page 7/16 at 0x0700\" (its\n"
            "number among the memory's pages and its address): a line each when standard error is no\n"
            "terminal (with the port in front when there are several), otherwise one redrawn line per port.\n"
            "When a device fails, the message of the step is followed by what the device did: no answer\n"
            "within the time-out, or a wrong answer (expected 0x0D, got ...), and what is likely to help.\n"
            "With --flash (and --eeprom) instead of an upgrade file, the build's Intel HEX or raw binary\n"
            "images are packed in memory as \"zentrop-cli pack\" would pack them, and flashed: no upgrade\n"
            "file is written."),
        {
            {QStringLiteral("port"), 'p', QStringLiteral("PORT"), QStringLiteral("a port a device is on (ttyUSB0, /dev/ttyACM0, socket://HOST:PORT, rfc2217://HOST:PORT); repeat for several")},
            {QStringLiteral("ports-from"), 0, QStringLiteral("FILE"), QStringLiteral("ports from a file, one a line (# comments)")},
            {QStringLiteral("mode"), 'm', QStringLiteral("MODE"),
             QStringLiteral("flash, eeprom, both or all: the memories to write; all writes every memory the file "
                            "holds. The default is flash, as in the window and in scripts of earlier versions: "
                            "data memory often holds a device's own settings, which an upgrade must not replace "
                            "unless asked. What the mode leaves out is said; a run that would write nothing "
                            "fails with status 5")},
            {QStringLiteral("baud"), 'b', QStringLiteral("RATE"), QStringLiteral("line speed in bits per second (default 115200)")},
            {QStringLiteral("reset"), 0, QStringLiteral("SEQUENCE"),
             QStringLiteral("restart the board into its bootloader through the modem lines: dtr, rts or both (raise "
                            "the lines, hold them the pulse time, lower them, wait the start-up time), or steps "
                            "such as dtr=0,rts=1,wait=50,rts=0 (default none). A line that cannot be driven "
                            "ends the run with status 4")},
            {QStringLiteral("reset-pulse"), 0, QStringLiteral("MS"), QStringLiteral("how long dtr, rts or both hold the reset (default 50)")},
            {QStringLiteral("reset-wait"), 0, QStringLiteral("MS"),
             QStringLiteral("the bootloader's start-up time after dtr, rts or both (default 100)")},
            {QStringLiteral("reset-inverted"), 0, QString(),
             QStringLiteral("the board resets while dtr, rts or both are lowered, not raised")},
            {QStringLiteral("rs485"), 0, QString(),
             QStringLiteral("RS-485: RTS raised while sending, by the driver's RS-485 mode or, where the driver "
                            "has none, around each write (-v says which)")},
            {QStringLiteral("retries"), 0, QStringLiteral("N"),
             QStringLiteral("after a device's failure, wake it again and start over, up to N times (default 0). "
                            "A device left in the middle of a page's data takes the opening sequence as data: "
                            "with --reset each retry restarts it first")},
            {QStringLiteral("json"), 'j', QString(),
             QStringLiteral("print the results as one JSON object on standard output: for each port its name, "
                            "by-id name, result, exit status, failing step (and for an address or data step the "
                            "page's memory, number and address), pages, bytes, seconds and retries; and the "
                            "totals")},
            {QStringLiteral("log"), 0, QStringLiteral("FILE"),
             QStringLiteral("append the byte trace and the results to FILE, each line with the time of day (UTC); "
                            "a failed page is named as the progress names it")},
            {QStringLiteral("force"), 0, QString(),
             QStringLiteral("upgrade even when another program has the port open (it may take the device's answers)")},
            {QStringLiteral("wake-retries"), 0, QStringLiteral("N"),
             QStringLiteral("send the opening sequence again up to N times while the mode command gets no answer")},
            {QStringLiteral("verbose"), 'v', QString(),
             QStringLiteral("trace every byte sent and received, with the time since the start")},
            {QStringLiteral("monitor"), 0, QString(),
             QStringLiteral("one port only: after the upgrade, show what the started application sends and\n"
                            "send what you type, on the same open port, as \"zentrop-cli monitor\" does")},
        }};
    static const CommandSyntax withImages = [] {
        CommandSyntax full = syntax;
        for (OptionSyntax& o : PackOptions())
            full.Options.push_back(std::move(o));
        return full;
    }();
    return withImages;
}

int Flash(const ParsedOptions& options, InterruptWatch& interrupts)
{
    QStringList ports = options.Values(QStringLiteral("port"));
    for (const QString& from : options.Values(QStringLiteral("ports-from"))) {
        QString error;
        const std::optional<QStringList> listed = PortsFrom(from, &error);
        if (!listed) {
            // A file that cannot be read, like an upgrade file that cannot.
            PrintLine(stderr, error);
            return ExitFileRejected;
        }
        ports += *listed;
    }
    ports.removeAll(QString());
    // One run for each device, however it was named ("/dev/ttyUSB0", "ttyUSB0", a by-id link):
    // a second run on the same device could only fail as its port is taken.
    QSet<QString> devices;
    ports.removeIf([&devices](const QString& port) {
        const QString device = QFileInfo(PortDevicePath(port)).canonicalFilePath();
        const QString key = IsNetPortName(port) ? CanonicalNetPortName(port) : device.isEmpty() ? port : device;
        if (devices.contains(key))
            return true;
        devices.insert(key);
        return false;
    });
    if (ports.isEmpty())
        return UsageError(QStringLiteral("flash needs --port PORT"), FlashSyntax());
    FlashSettings s;
    if (options.Has(QStringLiteral("monitor"))) {
        if (ports.size() > 1)
            return UsageError(QStringLiteral("--monitor takes one port"), FlashSyntax());
        s.AfterUpgrade = [&interrupts](TCustomComPort& port) { return RunMonitor(port, MonitorOptions(), interrupts); };
    }
    const QString m = options.Value(QStringLiteral("mode"), QStringLiteral("flash"));
    const std::optional<ModeChoice> choice = m == QLatin1String("flash")    ? std::optional(ModeChoice::Flash)
                                             : m == QLatin1String("eeprom") ? std::optional(ModeChoice::EEProm)
                                             : m == QLatin1String("both")   ? std::optional(ModeChoice::Both)
                                             : m == QLatin1String("all")    ? std::optional(ModeChoice::All)
                                                                            : std::nullopt;
    if (!choice)
        return UsageError(QStringLiteral("--mode is flash, eeprom, both or all, not \"%1\"").arg(m), FlashSyntax());
    const std::optional<qint64> rate = ParseNumber(options.Value(QStringLiteral("baud"), QStringLiteral("115200")));
    if (!rate || *rate <= 0 || *rate > INT32_MAX)
        return UsageError(QStringLiteral("--baud needs a positive number, not \"%1\"").arg(options.Value(QStringLiteral("baud"))),
                          FlashSyntax());
    s.Baud = static_cast<int>(*rate);
    s.Verbose = options.Has(QStringLiteral("verbose"));
    s.Force = options.Has(QStringLiteral("force"));
    s.RS485 = options.Has(QStringLiteral("rs485"));
    ResetTiming timing;
    timing.Inverted = options.Has(QStringLiteral("reset-inverted"));
    for (auto [name, field] : {std::pair{QStringLiteral("reset-pulse"), &timing.PulseMs},
                               std::pair{QStringLiteral("reset-wait"), &timing.StartMs}}) {
        const std::optional<qint64> ms = ParseNumber(options.Value(name, QString::number(*field)));
        if (!ms || *ms < 0 || *ms > 10000)
            return UsageError(QStringLiteral("--%1 needs milliseconds from 0 to 10000, not \"%2\"").arg(name, options.Value(name)),
                              FlashSyntax());
        *field = static_cast<int>(*ms);
    }
    QString resetError;
    const std::optional<ResetSequence> reset =
        ParseResetSequence(options.Value(QStringLiteral("reset"), QStringLiteral("none")), timing, &resetError);
    if (!reset)
        return UsageError(QStringLiteral("--reset is none, dtr, rts, both or a list of steps: %1").arg(resetError), FlashSyntax());
    s.Reset = *reset;
    const std::optional<qint64> retries = ParseNumber(options.Value(QStringLiteral("wake-retries"), QStringLiteral("0")));
    if (!retries || *retries < 0 || *retries > 100)
        return UsageError(QStringLiteral("--wake-retries needs a number from 0 to 100, not \"%1\"")
                              .arg(options.Value(QStringLiteral("wake-retries"))),
                          FlashSyntax());
    s.WakeRetries = static_cast<int>(*retries);
    const std::optional<qint64> runs = ParseNumber(options.Value(QStringLiteral("retries"), QStringLiteral("0")));
    if (!runs || *runs < 0 || *runs > 100)
        return UsageError(QStringLiteral("--retries needs a number from 0 to 100, not \"%1\"").arg(options.Value(QStringLiteral("retries"))),
                          FlashSyntax());
    s.Retries = static_cast<int>(*runs);
    s.Json = options.Has(QStringLiteral("json"));
    const bool fromImages = options.Has(QStringLiteral("flash"));
    if (fromImages && !options.Positional().isEmpty())
        return UsageError(QStringLiteral("flash takes an upgrade file or --flash, not both"), FlashSyntax());
    if (!fromImages && options.Positional().size() != 1)
        return UsageError(options.Positional().isEmpty() ? QStringLiteral("flash needs an upgrade file or --flash FW.hex")
                                                         : QStringLiteral("flash takes one upgrade file"),
                          FlashSyntax());

    std::optional<UpgradeFile> file;
    const QString source = fromImages ? options.Value(QStringLiteral("flash")) : options.Positional().first();
    if (fromImages) {
        int status = ExitSuccess;
        const std::optional<QByteArray> bytes = PackInMemory(options, FlashSyntax(), &status);
        if (!bytes)
            return status;
        file.emplace();
        // Read back as any upgrade file is, so the run sees exactly what "pack" would have written.
        if (file->LoadFromBytes(*bytes) != UpgradeFile::Result::Loaded) {
            PrintLine(stderr, QStringLiteral("CRC error!"));
            return ExitFileRejected;
        }
    } else {
        file = Prepare(source);
        if (!file)
            return ExitFileRejected;
    }
    const std::optional<UpgradeMode> phases = PhasesFor(*choice, *file, source, &s.LeftOut);
    if (!phases)
        return ExitNothingWritten;
    s.Mode = *phases;
    std::unique_ptr<FILE, int (*)(FILE*)> log(nullptr, std::fclose);
    if (options.Has(QStringLiteral("log"))) {
        const QString path = options.Value(QStringLiteral("log"));
        if (const QString problem = OutputFileProblem(path); !problem.isEmpty()) {
            PrintLine(stderr, QStringLiteral("%1: %2").arg(path, problem));
            return ExitFileRejected;
        }
        log.reset(std::fopen(EncodeFileName(path).constData(), "ae"));
        if (!log) {
            PrintLine(stderr, QStringLiteral("%1: %2").arg(path, QString::fromLocal8Bit(std::strerror(errno))));
            return ExitFileRejected;
        }
        s.Log = log.get();
        ConsolePrintf(s.Log, "%s flash %s on %s\n", LineTrace::TimeOfDay().constData(),
                      source.toLocal8Bit().constData(), ports.join(u' ').toLocal8Bit().constData());
    }
    return ports.size() == 1 ? FlashOne(ports.first(), s, *file, interrupts) : FlashMany(ports, s, *file, interrupts);
}

} // namespace cli

} // namespace zentrop
