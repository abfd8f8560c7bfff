// "flash": the upgrade on one port, or on several at once with one thread per port, each
// with its own progress line, its own result and a table at the end.
#include "AppCheck.h"
#include "Cli.h"
#include "CliConfig.h"
#include "Events.h"
#include "FlashJson.h"
#include "FlashResults.h"
#include "FlashSettings.h"
#include "cmdline/Interrupts.h"
#include "LineTrace.h"
#include "PortAdvice.h"
#include "ProgressDisplay.h"
#include "SerialNumbers.h"
#include "Station.h"

#include "upgrade/BootComPort.h"
#include "upgrade/BootProtocol.h"
#include "upgrade/ResetSequence.h"
#include "base/FileName.h"
#include "base/Format.h"
#include "cport/NetPortName.h"
#include "cport/PortDetails.h"

#include <QElapsedTimer>
#include <QFileInfo>
#include <QJsonDocument>

#include <cerrno>
#include <cstring>
#include <chrono>
#include <memory>
#include <mutex>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <thread>
#include <vector>

namespace zentrop {

namespace cli {

namespace {

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
    // Another upgrade's lock refuses this run whatever --force says.
    if (HeldByZentrop(holders))
        throw Exception(QStringLiteral("%1 is in use by another Zentrop run: %2. Wait until it ends.")
                            .arg(device, DescribeHolders(holders)));
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

// A local device that disconnected (an unplugged adapter, a closed pseudo-terminal).
bool DeviceWentAway(const Exception& e)
{
    const auto* ext = dynamic_cast<const EComPortExt*>(&e);
    return ext && (ext->SystemCode() == EIO || ext->SystemCode() == ENXIO || ext->SystemCode() == ENODEV);
}

QString PortErrorHint(const Exception& e, const QString& device, bool runStarted)
{
    const auto* ext = dynamic_cast<const EComPortExt*>(&e);
    if (!ext)
        return QString();
    if (runStarted && DeviceWentAway(e))
        return QStringLiteral("The device disconnected; the upgrade is incomplete. Connect it again and run the "
                              "upgrade again.");
    switch (ext->SystemCode()) {
    case EACCES:
    case EPERM:
        return PermissionAdvice(device);
    case ENOENT:
    case ENODEV:
    case ENXIO:
        return QStringLiteral("There is no such port; \"zentrop-cli ports\" lists the installed ones.");
    case EBUSY:
        return BusyPortAdvice(device);
    default:
        return ext->SystemText();
    }
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

// What the device did at the command the run ended at.
QString AnswerText(const RunEnd& end)
{
    switch (end.Answer) {
    case AnswerFault::Silent:
        return QStringLiteral("gave no answer within the time-out");
    case AnswerFault::Wrong:
        return QString::asprintf("gave a wrong answer: expected 0x%02X, got 0x%02X", boot::Ack, end.Got);
    case AnswerFault::Early:
        return QStringLiteral("answered before the page's last byte was sent");
    case AnswerFault::None:
        break;
    }
    return QString();
}

// What a failed exchange most likely means and what helps, after the device's own answer.
// pageBytes: the length of the page the run ended at, if it ended at one.
QStringList DeviceHints(const RunEnd& end, int pageBytes, int baud)
{
    const QString page =
        end.Page ? PageLine(end.Page->Where, end.Page->Index, end.Page->Count, end.Page->Address) : QString();
    const QString packOption = end.Page && end.Page->Where == Memory::EEProm ? QStringLiteral("--eeprom-page-size N")
                                                                             : QStringLiteral("--flash-page-size N");
    const QString restart = QStringLiteral("Restart the device (power it off and on, or give --reset) before the next "
                                           "run, or that run fails too.");
    if (end.Answer == AnswerFault::Early)
        return {QStringLiteral("The device ended %1 before its %2 bytes were sent: its pages are shorter than the "
                               "file's, unless it answered the address twice. Make the upgrade file with the "
                               "device's page size (zentrop-cli pack %3).")
                    .arg(page)
                    .arg(pageBytes)
                    .arg(packOption),
                QStringLiteral("It may have taken the rest of the page as commands. ") + restart};
    const bool inData = end.Step == UpgradeStep::Data && end.Page;
    if (inData && end.Answer == AnswerFault::Silent) {
        const QString midPage = QStringLiteral("The device now waits in the middle of a page. ") + restart;
        // Only the first page of a memory tells about the page size: after pages that were
        // taken, silence is a device that stopped.
        if (end.Page->Index == 0)
            return {QStringLiteral("After the %1 bytes of %2 the device still waited for more: its pages may be longer "
                                   "than the file's. Make the upgrade file with the device's page size (zentrop-cli "
                                   "pack %3).")
                        .arg(pageBytes)
                        .arg(page, packOption),
                    midPage};
        return {QStringLiteral("The device took %1 of the %2 %3 pages and then stopped answering, at %4. "
                               "Check its power supply and the cable.")
                    .arg(end.Page->Index)
                    .arg(end.Page->Count)
                    .arg(end.Page->Where == Memory::Flash ? QStringLiteral("Flash") : QStringLiteral("EEProm"), page),
                midPage};
    }
    if (end.Answer == AnswerFault::Silent)
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

// How a command that was not acknowledged failed, by what the device did. Silence after a
// memory's first page is a page size; after pages that were taken, a device that stopped.
Outcome AnswerOutcome(const RunEnd& end)
{
    if (end.Answer == AnswerFault::Early)
        return Outcome::EarlyAnswer;
    if (end.Answer == AnswerFault::Silent)
        return end.Step == UpgradeStep::Data && end.Page && end.Page->Index == 0 ? Outcome::PageSize : Outcome::NoAnswer;
    return Outcome::WrongAnswer;
}

// The length of the page a run ended at in this device's pages, 0 when it ended at none.
int PageBytes(const RunEnd& end, const DevicePages& pages)
{
    if (!end.Page)
        return 0;
    const PageList& list = end.Page->Where == Memory::Flash ? pages.Flash : pages.EEProm;
    const auto index = static_cast<size_t>(end.Page->Index);
    return index < list.size() ? static_cast<int>(list[index].Data.size()) : 0;
}

// The application check on the port an upgrade has just started, into the port's result.
void CheckTheApplication(TCustomComPort& port, const FlashSettings& s, RunSet& runs, PortResult& r)
{
    AppCheckResult check;
    try {
        check = CheckApplication(port, *s.Expect, s.ExpectMs, [&runs] { return runs.Interrupted(); });
    } catch (const Exception& e) {
        r.Status = ExitPortError;
        r.Result = Outcome::DeviceGone;
        r.Lines << e.Message()
                << QStringLiteral("The upgrade was complete; the device went away while --expect waited for the "
                                  "application's output.");
        return;
    }
    if (check.Interrupted) {
        r.Status = ExitInterrupted;
        r.Result = Outcome::Interrupted;
        r.Lines << QStringLiteral("Interrupted while waiting for the application.");
    } else if (check.Matched) {
        r.AppLine = check.Line;
    } else {
        r.Status = ExitAppCheckFailed;
        r.Result = Outcome::AppCheckFailed;
        r.Lines << AppCheckFailure(check, s.Expect->pattern(), s.ExpectMs);
    }
    if (s.Events)
        s.Events->Emit("app", {{"port", r.Port}, {"matched", check.Matched}, {"line", check.Line}});
}

// A port's failure in a run: its status and result, the hint for the user, and whether
// another attempt may help. A network that dropped the connection during the run is worth
// another try; a local port that failed, and a server that broke the protocol or gave the
// port to another client, are not.
void PortFailure(const Exception& e, const QString& portName, const QString& device, bool runStarted, PortResult& r,
                 bool& deviceGone, bool& retryable)
{
    r.Status = ExitPortError;
    const bool network = IsNetPortName(portName);
    deviceGone = !network && DeviceWentAway(e);
    r.Result = deviceGone && runStarted ? Outcome::DeviceGone : Outcome::PortError;
    const QString hint = network ? NetPortHint(e, portName) : PortErrorHint(e, device, runStarted);
    if (!hint.isEmpty())
        r.Lines << hint;
    const auto* ext = dynamic_cast<const EComPortExt*>(&e);
    const int code = ext ? ext->SystemCode() : 0;
    retryable = network && runStarted && code != EPROTO && code != EMSGSIZE && code != EBUSY;
}

// One attempt on a port: open, reset, upgrade, close. Never raises. A page that the device
// ended early is marked as not worth a retry: the next attempt would fail the same way.
PortResult RunOnce(const QString& portName, const FlashSettings& s, const DevicePages& pages, PortProgress& progress,
                   LineTrace& trace, RunSet& runs, bool* retryable)
{
    PortResult r;
    r.Port = portName;
    r.Started = QDateTime::currentDateTimeUtc();
    *retryable = false;
    progress.ForgetEnd();
    TComPort port;
    const QString device = port.Device().DeviceName(portName);
    const qint64 bytesBefore = trace.BytesWritten();
    bool deviceGone = false;
    try {
        SetUpgradeLineSettings(port, s.Baud);
        if (s.RS485)
            port.FlowControl()->SetControlRTS(TRTSFlowControl::rtsToggle);
        port.SetPort(portName);
        if (const QString problem = SerialDeviceProblem(device); !problem.isEmpty())
            throw Exception(problem);
        if (!s.Force)
            RefuseOtherHolders(device);
        PortUpgrade upgrade(port, progress, {}, &trace);
        upgrade.SetWakeRetries(s.WakeRetries);
        // Known to a signal from here on: the reset's open (a network connect) ends at once too.
        runs.Add(&upgrade);
        try {
            ResetDevice(port, s.Reset, device);
            const PageList none;
            const UpgradeResult result = s.Probe ? upgrade.Run(s.Mode, none, none)
                                                 : upgrade.Run(s.Mode, pages.Flash, pages.EEProm);
            trace.Flush();
            if (s.RS485 && s.Verbose && port.Connected())
                PrintLine(stderr, portName + QStringLiteral(": ") + RS485Description(port.GetRS485Mode()));
            if (result == UpgradeResult::Done) {
                r.Status = ExitSuccess;
                r.Result = Outcome::Ok;
            } else {
                const RunEnd& end = *progress.LastEnd();
                r.Status = ExitNoAnswer;
                r.Result = AnswerOutcome(end);
                r.MessageShown = true;
                r.Lines << end.Message << QStringLiteral("The device on %1 %2.").arg(device, AnswerText(end))
                        << DeviceHints(end, PageBytes(end, pages), s.Baud);
                *retryable = end.Answer != AnswerFault::Early;
            }
        } catch (...) {
            runs.Remove(&upgrade);
            throw;
        }
        runs.Remove(&upgrade);
        if (r.Status == ExitSuccess && s.Expect)
            CheckTheApplication(port, s, runs, r);
        if (r.Status == ExitSuccess && s.AfterUpgrade) {
            r.Status = s.AfterUpgrade(port);
            r.Result = OutcomeOfStatus(r.Status);
        }
    } catch (const Exception& e) {
        r.Lines << e.Message();
        // A request the signal cut short (the reset's open) fails as a port error would.
        if (dynamic_cast<const EUpgradeInterrupted*>(&e) || runs.Interrupted()) {
            r.Status = ExitInterrupted;
            r.Result = Outcome::Interrupted;
        } else {
            PortFailure(e, portName, device, trace.BytesWritten() > bytesBefore, r, deviceGone, *retryable);
        }
    }
    trace.Flush();
    // Closing gives the port back as it was found: its settings, its exclusive use.
    CloseQuietly(port);
    const std::optional<RunEnd>& end = progress.LastEnd();
    // Where the run failed; one that never started failed in opening the port.
    if (r.Status == ExitNoAnswer || r.Status == ExitPortError || r.Status == ExitInterrupted) {
        if (!end) {
            if (r.Status != ExitInterrupted)
                r.Step = QStringLiteral("open");
        } else if (end->Result != UpgradeResult::Done) {
            r.Step = StepName(*end);
            r.FailedPage = end->Page;
        }
    }
    // A run cut off inside a page's data leaves the device waiting for the rest of it, unless
    // the device itself went away.
    if ((r.Status == ExitPortError || r.Status == ExitInterrupted) && !deviceGone && end &&
        end->Step == UpgradeStep::Data && end->Page)
        r.Lines << QStringLiteral("The device was left in the middle of a page's data: restart it (power it off and "
                                  "on, or give --reset) before the next run, or that run fails too.");
    r.Pages = progress.PagesDone();
    r.Ended = QDateTime::currentDateTimeUtc();
    r.Attempts.push_back({r.Result, r.Status == ExitSuccess ? QString() : r.Lines.value(0), r.Step, r.Started, r.Ended});
    return r;
}

double SecondsOn(const QElapsedTimer& clock)
{
    return static_cast<double>(clock.nsecsElapsed()) / 1e9;
}

// A port's whole run: the first attempt and the retries that a device's failure allows.
PortResult RunOnPort(const QString& portName, const FlashSettings& s, const DevicePages& file, PortProgress& progress,
                     LineTrace& trace, RunSet& runs)
{
    QElapsedTimer clock;
    clock.start();
    bool retryable = false;
    PortResult r = RunOnce(portName, s, file, progress, trace, runs, &retryable);
    const QDateTime started = r.Started;
    std::vector<Attempt> attempts = r.Attempts;
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
        if (s.Events)
            s.Events->Emit("retry", {{"port", portName},
                                     {"retry", retry},
                                     {"of", s.Retries},
                                     {"after", OutcomeName(r.Result)},
                                     {"message", r.Lines.value(0)}});
        r = RunOnce(portName, s, file, progress, trace, runs, &retryable);
        r.Retries = retry;
        attempts.push_back(r.Attempts.back());
    }
    r.Started = started;
    r.Attempts = std::move(attempts);
    r.Seconds = SecondsOn(clock);
    r.Bytes = trace.BytesWritten();
    return r;
}

// A port whose device data could not be made: no run, the counter's or the data's problem.
PortResult DeviceDataFailure(const QString& portName, const QString& message)
{
    PortResult r;
    r.Port = portName;
    r.Status = ExitFileRejected;
    r.Result = Outcome::FileError;
    r.Lines << message;
    return r;
}

// A port's run with its own pages: the device's number taken from the counter before, and
// given back after a failure.
PortResult RunWithDeviceData(const QString& portName, const FlashSettings& s, const UpgradeFile& file,
                             PortProgress& progress, LineTrace& trace, RunSet& runs)
{
    DevicePages pages;
    if (!s.Data) {
        pages = {file.FlashPages(), file.EEPromPages()};
        return RunOnPort(portName, s, pages, progress, trace, runs);
    }
    std::optional<qint64> number;
    try {
        if (s.Data->HasSerial())
            number = s.Data->Reserve();
    } catch (const Exception& e) {
        return DeviceDataFailure(portName, e.Message());
    }
    // Checked with every number before the run: a number that no longer fits fails here.
    if (const QString problem = s.Data->Apply(file, number, &pages); !problem.isEmpty()) {
        if (number)
            s.Data->Release(*number, false);
        return DeviceDataFailure(portName, problem);
    }
    PortResult r = RunOnPort(portName, s, pages, progress, trace, runs);
    r.Serial = number;
    if (number) {
        try {
            s.Data->Release(*number, r.Status == ExitSuccess);
        } catch (const Exception& e) {
            // The device has its number; the counter must not hand it out again.
            r.Lines << e.Message();
            if (r.Status == ExitSuccess) {
                r.Status = ExitFileRejected;
                r.Result = Outcome::FileError;
            }
        }
        if (s.Events)
            s.Events->Emit("serial", {{"port", portName}, {"serial", *number}, {"used", r.Status == ExitSuccess}});
    }
    return r;
}

// What the mode leaves out of the file, said before the run unless the user asked for errors only.
void SayLeftOut(const FlashSettings& s)
{
    if (!s.LeftOut.isEmpty() && !s.Quiet)
        PrintLine(stderr, s.LeftOut);
}

// What a production line collects: the results for the JSON object, the log's lines; the totals.
RunTotals Collect(const FlashSettings& s, const std::vector<PortResult>& results, double seconds)
{
    const RunTotals totals = Totals(results, seconds);
    if (s.Record) {
        s.Record->Results = results;
        s.Record->Seconds = totals.Seconds;
    }
    if (s.Log)
        LogResults(s.Log, results, totals);
    return totals;
}

// One port's runs as a flash run shows them on the display's line for it, with its events
// and byte trace; several: the port is one of several shown at once.
PortResult FlashPort(const QString& port, qsizetype line, bool several, const FlashSettings& s, const UpgradeFile& file,
                     ProgressDisplay& display, RunSet& runs)
{
    PortProgress progress(display, line);
    std::optional<PortEvents> events;
    if (s.Events) {
        events.emplace(*s.Events, port);
        progress.SetAlso(&*events);
        s.Events->Emit("port", {{"port", port}, {"state", QStringLiteral("start")}});
    }
    LineTrace trace(s.Verbose ? stderr : nullptr, several ? port + QStringLiteral(" ") : QString());
    // The log holds the results; the bytes only when they are asked for.
    if (s.Verbose)
        trace.SetLog(s.Log, port);
    PortResult r = RunWithDeviceData(port, s, file, progress, trace, runs);
    if (s.Events)
        s.Events->Emit("port", {{"port", port},
                                {"state", QStringLiteral("end")},
                                {"result", OutcomeName(r.Result)},
                                {"status", r.Status},
                                {"message", r.Status == ExitSuccess ? QJsonValue() : QJsonValue(r.Lines.value(0))},
                                {"pages", r.Pages},
                                {"retries", r.Retries}});
    // With several ports, a failure the run did not report (a port that could not even be
    // opened) is said as it happens, too.
    if (several && r.Status != ExitSuccess && !r.MessageShown && !r.Lines.isEmpty())
        progress.Message(r.Lines.first());
    display.Finished(line, r.Status == ExitSuccess);
    return r;
}

// Every port's runs at once under one display, each port on a thread of its own; a single
// port runs on this thread.
std::vector<PortResult> RunPorts(const QStringList& ports, const FlashSettings& s, const UpgradeFile& file,
                                 InterruptWatch& interrupts)
{
    // A byte trace and redrawn lines would break each other's lines: -v gives plain lines.
    ConsoleStyle style = ConsoleStyle::Of(stderr);
    if (s.Verbose || s.Quiet)
        style.Redraw = style.Color = false;
    int rows = 0, columns = 0;
    ProgressDisplay::TerminalSize(stderr, &rows, &columns);
    ProgressDisplay display(stderr, style, ports, rows, columns);
    display.SetQuiet(s.Quiet);
    std::vector<PortResult> results(static_cast<size_t>(ports.size()));
    RunSet runs;
    interrupts.SetHandler([&runs] { runs.InterruptAll(); });
    const auto runPort = [&](qsizetype i) {
        results[static_cast<size_t>(i)] = FlashPort(ports[i], i, ports.size() > 1, s, file, display, runs);
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

// The bytes of the pages the mode writes: what "Done" counts, the commands around them aside.
qint64 PayloadBytes(const FlashSettings& s, const UpgradeFile& file)
{
    qint64 bytes = 0;
    if (s.Mode != UpgradeMode::EEProm)
        for (const TPage& p : file.FlashPages())
            bytes += p.Data.size();
    if (s.Mode != UpgradeMode::Flash)
        for (const TPage& p : file.EEPromPages())
            bytes += p.Data.size();
    return bytes;
}

int FlashOne(const QString& portName, const FlashSettings& s, const UpgradeFile& file, InterruptWatch& interrupts)
{
    if (!s.Quiet && s.Probe)
        PrintLine(stderr, QStringLiteral("Probe of %1: no page is written.").arg(portName));
    else if (!s.Quiet)
        PrintLine(stderr, Format(QStringLiteral("Ready for Upgrade (Flash: %d pages, EEProm: %d pages"),
                                 {static_cast<int>(file.FlashPages().size()), static_cast<int>(file.EEPromPages().size())}));
    SayLeftOut(s);
    const std::vector<PortResult> results = RunPorts({portName}, s, file, interrupts);
    const PortResult& r = results.front();
    // The run's own message has been shown; what follows it is the command line's detail.
    for (qsizetype i = r.MessageShown ? 1 : 0; i < r.Lines.size(); ++i)
        PrintLine(stderr, r.Lines[i]);
    if (r.Status == ExitSuccess && !s.Quiet && s.Probe) {
        PrintLine(stderr, QStringLiteral("Probe done: %1 answered the %2 and was told to start its application; "
                                         "no page was written.")
                              .arg(portName, s.Mode == UpgradeMode::Both     ? QStringLiteral("Flash and EEProm mode commands")
                                             : s.Mode == UpgradeMode::Flash ? QStringLiteral("Flash mode command")
                                                                            : QStringLiteral("EEProm mode command")));
    } else if (r.Status == ExitSuccess && !s.Quiet) {
        // The page data is what the user's file holds; the bytes sent add the commands and addresses.
        const qint64 payload = PayloadBytes(s, file);
        const double rate = r.Seconds > 0 ? static_cast<double>(payload) / r.Seconds : 0;
        PrintLine(stderr, QStringLiteral("Done: %1, %2 of data (%3 sent) in %4 s (%5 bytes/s)")
                              .arg(Counted(r.Pages, "page", "pages"), Counted(payload, "byte", "bytes"),
                                   Counted(r.Bytes, "byte", "bytes"), QString::number(r.Seconds, 'f', 2),
                                   QString::number(rate, 'f', 0)));
        if (!r.AppLine.isEmpty())
            PrintLine(stderr, QStringLiteral("The application printed: %1").arg(r.AppLine));
    }
    return Collect(s, results, r.Seconds).Status;
}

int FlashMany(const QStringList& ports, const FlashSettings& s, const UpgradeFile& file, InterruptWatch& interrupts)
{
    SayLeftOut(s);
    QElapsedTimer clock;
    clock.start();
    const std::vector<PortResult> results = RunPorts(ports, s, file, interrupts);

    int width = 4;
    for (const QString& p : ports)
        width = std::max(width, static_cast<int>(p.size()));
    const RunTotals totals = Collect(s, results, SecondsOn(clock));
    // Errors only: the table's failed rows.
    if (!s.Quiet)
        ConsolePrintf(stderr, "\n%-*s  %-6s  %s\n", width, "port", "time", "result");
    for (const PortResult& r : results) {
        if (s.Quiet && r.Status == ExitSuccess)
            continue;
        // The failure and what the device did; the remedies would not fit a table's line.
        const QString text = r.Status == ExitSuccess ? QStringLiteral("done") : r.Lines.mid(0, 2).join(u' ');
        ConsolePrintf(stderr, "%-*s  %5.1fs  %s\n", width, r.Port.toLocal8Bit().constData(), r.Seconds,
                      text.toLocal8Bit().constData());
    }
    if (!s.Quiet)
        ConsolePrintf(stderr, "Done: %d of %s, %s, %s sent in %.2f s (%.0f bytes/s)\n", totals.Done,
                      Counted(totals.Devices, "device", "devices").toLatin1().constData(),
                      Counted(totals.Pages, "page", "pages").toLatin1().constData(),
                      Counted(totals.Bytes, "byte", "bytes").toLatin1().constData(), totals.Seconds,
                      totals.Seconds > 0 ? static_cast<double>(totals.Bytes) / totals.Seconds : 0.0);
    return totals.Status;
}

// A station: each fixture port flashes board after board, each board as one port of a flash run.
int StationRuns(const QStringList& fixtures, const FlashSettings& s, const UpgradeFile& file, InterruptWatch& interrupts)
{
    SayLeftOut(s);
    RunSet runs;
    StationSetup setup;
    setup.Slots = fixtures;
    setup.Json = s.Json;
    setup.Quiet = s.Quiet;
    setup.Record = s.Record;
    setup.Events = s.Events;
    setup.FlashBoard = [&](const QString& device, qsizetype slot, ProgressDisplay& display) {
        return FlashPort(device, slot, fixtures.size() > 1, s, file, display, runs);
    };
    setup.InterruptBoards = [&runs] { runs.InterruptAll(); };
    std::vector<PortResult> results;
    QElapsedTimer clock;
    clock.start();
    const int status = RunStation(setup, interrupts, &results);
    Collect(s, results, SecondsOn(clock));
    return status;
}

QString ModeKey(UpgradeMode mode)
{
    switch (mode) {
    case UpgradeMode::Flash: return QStringLiteral("flash");
    case UpgradeMode::EEProm: return QStringLiteral("eeprom");
    case UpgradeMode::Both: return QStringLiteral("both");
    }
    return QString();
}

// The runs of a command on its ports: a station's fixtures, one port, or several at once.
int RunDevices(const QStringList& ports, const FlashSettings& s, const UpgradeFile& file, InterruptWatch& interrupts,
               bool station)
{
    if (station)
        return StationRuns(ports, s, file, interrupts);
    return ports.size() == 1 ? FlashOne(ports.first(), s, file, interrupts) : FlashMany(ports, s, file, interrupts);
}

// A probe without a file: the memories --mode names ("all" as "flash"), with no page.
int RunProbeWithoutFile(const QStringList& ports, ModeChoice choice, FlashSettings& s, RunRecord& record,
                        EventStream& events, InterruptWatch& interrupts)
{
    s.Mode = choice == ModeChoice::EEProm ? UpgradeMode::EEProm
             : choice == ModeChoice::Both ? UpgradeMode::Both
                                          : UpgradeMode::Flash;
    record.Mode = ModeKey(s.Mode);
    events.Emit("run", IdentityJson(record));
    return RunDevices(ports, s, UpgradeFile(), interrupts, false);
}

// A log or an event file, appended to and closed when it goes.
using AppendFile = std::unique_ptr<FILE, int (*)(FILE*)>;

// Null after saying why the file cannot be appended to.
AppendFile OpenForAppend(const QString& path)
{
    if (const QString problem = OutputFileProblem(path); !problem.isEmpty()) {
        PrintLine(stderr, QStringLiteral("%1: %2").arg(path, problem));
        return AppendFile(nullptr, std::fclose);
    }
    AppendFile file(std::fopen(EncodeFileName(path).constData(), "ae"), std::fclose);
    if (!file)
        PrintLine(stderr, QStringLiteral("%1: %2").arg(path, QString::fromLocal8Bit(std::strerror(errno))));
    return file;
}

// The upgrade file named, or the images of --flash and --eeprom packed in memory and read
// back as any upgrade file is, so the run sees exactly what "pack" would have written; its
// identity into the record. Nullopt after saying why, with the exit status in *status.
std::optional<UpgradeFile> LoadUpgradeSource(const ParsedOptions& options, const CommandSyntax& syntax,
                                             const QString& source, RunRecord& record, int* status)
{
    *status = ExitFileRejected;
    if (!options.Has(QStringLiteral("flash"))) {
        std::optional<UpgradeFile> file = Prepare(source);
        if (file)
            record.File = IdentifyFile(source, ReadWhole(source), false, *file);
        return file;
    }
    const std::optional<QByteArray> bytes = PackInMemory(options, syntax, status);
    if (!bytes)
        return std::nullopt;
    std::optional<UpgradeFile> file(std::in_place);
    if (file->LoadFromBytes(*bytes) != UpgradeFile::Result::Loaded) {
        PrintLine(stderr, QStringLiteral("CRC error!"));
        *status = ExitFileRejected;
        return std::nullopt;
    }
    record.File = IdentifyFile(source, *bytes, true, *file);
    return file;
}

// The --log file, opened for the run with its header: what is flashed where, and the file's
// identity. ExitSuccess also when no log is asked for.
int OpenRunLog(const ParsedOptions& options, const QString& source, const QStringList& ports, FlashSettings& s,
               AppendFile& log)
{
    if (!options.Has(QStringLiteral("log")))
        return ExitSuccess;
    const QString path = options.Value(QStringLiteral("log"));
    log = OpenForAppend(path);
    if (!log)
        return ExitFileRejected;
    s.Log = log.get();
    RunRecord& record = *s.Record;
    record.LogPath = path;
    const FileIdentity& id = *record.File;
    ConsolePrintf(s.Log, "%s flash %s on %s\n", LineTrace::TimeOfDay().constData(),
                  source.toLocal8Bit().constData(), ports.join(u' ').toLocal8Bit().constData());
    ConsolePrintf(s.Log, "%s mode %s, baud %d, file %lld bytes, sha256 %s, name \"%s\", version \"%s\", user %s%s\n",
                  LineTrace::TimeOfDay().constData(), record.Mode.toLatin1().constData(), s.Baud,
                  static_cast<long long>(id.Size), id.Sha256.constData(), id.Name.toLocal8Bit().constData(),
                  id.Version.toLocal8Bit().constData(),
                  id.User ? QByteArray::number(*id.User).constData() : "none",
                  id.Packed ? ", packed from images" : "");
    return ExitSuccess;
}

// A log with a line missing cannot be trusted as the record of the run: said, not hidden.
void CheckRunLog(const FlashSettings& s)
{
    if (s.Log && (std::fflush(s.Log) != 0 || std::ferror(s.Log))) {
        s.Record->LogComplete = false;
        PrintLine(stderr, QStringLiteral("%1: the log could not be written in full (%2).")
                              .arg(s.Record->LogPath, QString::fromLocal8Bit(std::strerror(errno))));
    }
}

int FlashRun(const ParsedOptions& options, InterruptWatch& interrupts, RunRecord& record, EventStream& events)
{
    // A probe runs the same way with no page to write: wake, mode letter, jump.
    const bool probe = record.Command == QLatin1String("probe");
    const bool station = record.Command == QLatin1String("station");
    const CommandSyntax& syntax = probe ? ProbeSyntax() : station ? StationSyntax() : FlashSyntax();
    const std::optional<QStringList> ports = GivenPorts(options);
    // A --ports-from file that cannot be read, like an upgrade file that cannot.
    if (!ports)
        return ExitFileRejected;
    record.Ports = *ports;
    if (ports->isEmpty())
        return UsageError(QStringLiteral("%1 needs --port PORT").arg(syntax.Name), syntax);
    FlashSettings s;
    s.Probe = probe;
    s.Record = &record;
    s.Events = events.Enabled() ? &events : nullptr;
    ModeChoice choice = ModeChoice::Flash;
    if (const int status = ParseFlashSettings(options, syntax, *ports, interrupts, s, choice); status != ExitSuccess)
        return status;
    const bool fromImages = options.Has(QStringLiteral("flash"));
    if (probe && !fromImages && options.Positional().isEmpty())
        return RunProbeWithoutFile(*ports, choice, s, record, events, interrupts);

    const QString source = fromImages ? options.Value(QStringLiteral("flash")) : options.Positional().first();
    int status = ExitSuccess;
    const std::optional<UpgradeFile> file = LoadUpgradeSource(options, syntax, source, record, &status);
    if (!file)
        return status;
    const std::optional<UpgradeMode> phases = PhasesFor(choice, *file, source, &s.LeftOut);
    if (!phases)
        return ExitNothingWritten;
    s.Mode = *phases;
    record.Mode = ModeKey(s.Mode);
    std::optional<DeviceData> data;
    if (status = PrepareDeviceData(options, syntax, *file, s, data); status != ExitSuccess)
        return status;
    AppendFile log(nullptr, std::fclose);
    if (status = OpenRunLog(options, source, *ports, s, log); status != ExitSuccess)
        return status;
    events.Emit("run", IdentityJson(record));
    status = RunDevices(*ports, s, *file, interrupts, station);
    CheckRunLog(s);
    return status;
}

} // namespace

int FlashCommandRun(const ParsedOptions& given, InterruptWatch& interrupts, const QString& command)
{
    RunRecord record;
    record.Command = command;
    // The fixture's defaults fill in what the command line leaves out.
    ParsedOptions options = given;
    QString configError;
    const std::optional<std::vector<ConfigSetting>> defaults =
        FixtureSettings(given.Value(QStringLiteral("config")), &configError);
    ErrorCapture errors;
    AppendFile eventsFile(nullptr, std::fclose);
    FILE* eventsOut = nullptr;
    int status = ExitSuccess;
    if (options.Has(QStringLiteral("events"))) {
        const QString path = options.Value(QStringLiteral("events"));
        if (path == QLatin1String("-")) {
            eventsOut = stdout;
        } else {
            eventsFile = OpenForAppend(path);
            if (!eventsFile)
                status = ExitFileRejected;
            eventsOut = eventsFile.get();
        }
    }
    if (!defaults) {
        PrintLine(stderr, configError);
        status = ExitFileRejected;
    } else {
        const bool portsGiven = options.Has(QStringLiteral("port")) || options.Has(QStringLiteral("ports-from"));
        for (const ConfigSetting& c : *defaults)
            if (!c.Value.isEmpty() && c.Origin != QLatin1String("default") && (c.Name != QLatin1String("port") || !portsGiven))
                options.SetDefault(c.Name, c.Value);
    }
    EventStream events(eventsOut);
    if (status == ExitSuccess)
        status = FlashRun(options, interrupts, record, events);
    const QJsonObject summary = RunObject(record, status, errors.Lines());
    events.Emit("end", {{"status", status},
                        {"result", summary.value("result")},
                        {"message", summary.value("message")},
                        {"devices", summary.value("devices")},
                        {"done", summary.value("done")}});
    // A station that ran has printed an object for each board and its totals.
    if (options.Has(QStringLiteral("json")) && !(command == QLatin1String("station") && record.File && status == ExitInterrupted))
        ConsolePrintf(stdout, "%s\n", QJsonDocument(summary).toJson(QJsonDocument::Compact).constData());
    return status;
}

int Flash(const ParsedOptions& options, InterruptWatch& interrupts)
{
    return FlashCommandRun(options, interrupts, QStringLiteral("flash"));
}

int Probe(const ParsedOptions& options, InterruptWatch& interrupts)
{
    return FlashCommandRun(options, interrupts, QStringLiteral("probe"));
}

void PrintUsageJson(const QString& command, const QString& error)
{
    RunRecord record;
    record.Command = command;
    ConsolePrintf(stdout, "%s\n", QJsonDocument(RunObject(record, ExitUsage, {error})).toJson(QJsonDocument::Compact).constData());
}

void ProbeUsageJson(const QString& error)
{
    PrintUsageJson(QStringLiteral("probe"), error);
}

void FlashUsageJson(const QString& error)
{
    PrintUsageJson(QStringLiteral("flash"), error);
}

} // namespace cli

} // namespace zentrop
