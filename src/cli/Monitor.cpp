// The console monitor's session: a reader thread that shows and logs what the device sends,
// the keyboard on the calling thread, the menu, and waiting for a device that went away.
#include "Monitor.h"

#include "Cli.h"
#include "cmdline/Interrupts.h"
#include "PortAdvice.h"
#include "RawTerminal.h"
#include "base/UniqueFd.h"
#include "base/WakeUp.h"
#include "cport/ComError.h"
#include "cport/NetPortName.h"

#include <QDateTime>
#include <QFile>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <chrono>
#include <cstring>
#include <fcntl.h>
#include <mutex>
#include <poll.h>
#include <thread>
#include <unistd.h>

namespace zentrop {

namespace cli {

MonitorScreen::MonitorScreen(const MonitorOptions& Options, std::function<QByteArray()> Now)
    : FOptions(Options), FNow(std::move(Now))
{
}

void MonitorScreen::NewLine(QByteArray& Out)
{
    Out += "\r\n";
    FLineStart = true;
    FHexColumn = 0;
}

void MonitorScreen::Stamp(QByteArray& Out)
{
    if (FLineStart && FOptions.Timestamps)
        Out += FNow();
    FLineStart = false;
}

QByteArray MonitorScreen::Render(const char* Data, int Count)
{
    QByteArray out;
    out.reserve(Count * (FOptions.Hex ? 3 : 1) + 32);
    for (int i = 0; i < Count; ++i) {
        const char b = Data[i];
        if (b == '\r' && FOptions.HideCr)
            continue;
        if (FOptions.Hex) {
            // The maps end hex lines where they end text lines: LF always, CR with crlf.
            Stamp(out);
            out += QByteArray::number(static_cast<uchar>(b), 16).rightJustified(2, '0').toUpper() + ' ';
            if (++FHexColumn == 16 || b == '\n' || (b == '\r' && FOptions.ShowCrAsCrLf))
                NewLine(out);
        } else if ((b == '\r' && FOptions.ShowCrAsCrLf) || (b == '\n' && FOptions.ShowLfAsCrLf)) {
            NewLine(out);
        } else if (b == '\r') {
            // A CR returns within the line: the stamp already there stays, or comes with the
            // line's first byte that shows.
            out += b;
        } else if (b == '\n') {
            out += b;
            FLineStart = true;
        } else {
            Stamp(out);
            out += b;
        }
    }
    return out;
}

std::optional<char> ParseKeyName(const QString& Name)
{
    const QString n = Name.trimmed();
    if (n.startsWith(QLatin1String("0x"), Qt::CaseInsensitive)) {
        bool ok = false;
        const uint v = n.mid(2).toUInt(&ok, 16);
        if (ok && v < 0x100)
            return static_cast<char>(v);
        return std::nullopt;
    }
    QString key;
    for (const char* prefix : {"ctrl-", "ctrl+", "c-", "^"}) {
        if (n.startsWith(QLatin1String(prefix), Qt::CaseInsensitive) && n.size() == qsizetype(std::strlen(prefix)) + 1) {
            key = n.right(1).toUpper();
            break;
        }
    }
    if (key.isEmpty())
        return std::nullopt;
    const char16_t c = key.at(0).unicode();
    if (c == u'?')
        return static_cast<char>(0x7F);
    if (c >= u'@' && c <= u'_')
        return static_cast<char>(c - u'@');
    return std::nullopt;
}

QString KeyName(char Key)
{
    const auto k = static_cast<unsigned char>(Key);
    if (k < 0x20)
        return QStringLiteral("Ctrl-") + QChar(char16_t(k + '@'));
    if (k == 0x7F)
        return QStringLiteral("Ctrl-?");
    return QStringLiteral("0x%1").arg(k, 2, 16, QLatin1Char('0'));
}

namespace {

// A network port's failure with its host and port in the user's words, as flash gives it.
QString WithNetHint(const Exception& e, const QString& port)
{
    const QString hint = NetPortHint(e, port);
    return hint.isEmpty() ? e.Message() : e.Message() + QLatin1Char(' ') + hint;
}

// The reader waits this long for a first byte before it looks whether it should stop; a
// byte that arrives ends the wait at once.
constexpr int kReadWaitMs = 100;
constexpr int kReadSize = 4096;
// A write the device does not take within this time returns short instead of hanging.
constexpr int kWriteTimeoutMs = 1000;
constexpr int kRetryMs = 250;
// A device reopened after an outage counts as back once it sends a byte or stays this long: a
// server that takes the connection and drops it at once is still the same outage.
constexpr int kBackAfterMs = 1000;
constexpr int kBreakMs = 250;
constexpr int kPulseMs = 100;

// The menu's keys, after the menu key.
QString MenuHelp(const MonitorOptions& options)
{
    return QStringLiteral("menu: b break, d/r pulse DTR/RTS, D/R switch DTR/RTS, l modem lines, e local echo on/off, "
                          "%1 or %2 sends that key")
        .arg(KeyName(options.MenuKey), KeyName(options.ExitKey));
}

// Writes all of Data to Fd; false when it cannot.
bool WriteAll(int fd, const char* data, qsizetype count)
{
    while (count > 0) {
        const ssize_t n = ::write(fd, data, static_cast<size_t>(count));
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            return false;
        data += n;
        count -= n;
    }
    return true;
}

// What the screen shows of the device's bytes, for the reader thread and the keyboard's echo.
class TScreen {
public:
    explicit TScreen(const MonitorOptions& options)
        : FRender(options, [] { return QDateTime::currentDateTime().toString(QStringLiteral("[HH:mm:ss.zzz] ")).toLatin1(); }),
          FNoticeRaw(::isatty(STDERR_FILENO))
    {
    }

    // False when standard output can no longer be written.
    bool Show(const char* data, int count)
    {
        std::lock_guard lock(FMutex);
        const QByteArray out = FRender.Render(data, count);
        return WriteAll(STDOUT_FILENO, out.constData(), out.size());
    }

    // A line of the monitor's own on standard error, apart from the device's bytes.
    void Notice(const QString& text)
    {
        std::lock_guard lock(FMutex);
        const QByteArray line = FNoticeRaw ? "\r\n[" + text.toLocal8Bit() + "]\r\n" : text.toLocal8Bit() + '\n';
        WriteAll(STDERR_FILENO, line.constData(), line.size());
    }

    // Ends the shown text's line, so the shell's prompt starts on a line of its own.
    void EndLine()
    {
        std::lock_guard lock(FMutex);
        const int fd = ::isatty(STDOUT_FILENO) ? STDOUT_FILENO : ::isatty(STDERR_FILENO) ? STDERR_FILENO : -1;
        if (fd >= 0)
            WriteAll(fd, "\r\n", 2);
    }

private:
    MonitorScreen FRender;
    const bool FNoticeRaw;
    std::mutex FMutex;
};

class TSession {
public:
    TSession(TCustomComPort& port, const MonitorOptions& options, TScreen& screen, int log)
        : FPort(port), FOptions(options), FScreen(screen), FLog(log), FEcho(false)
    {
    }
    ~TSession() { StopReader(); }

    int Run(InterruptWatch& interrupts);

private:
    // The session on the raw terminal, until the exit key, a signal or an error.
    int Loop();
    void Wake() { FWake.Signal(); }
    void StartReader();
    void StopReader();
    void ReaderLoop();
    // Takes typed bytes; false when the exit key was among them.
    bool Keys(const char* keys, int count);
    void Send(const QByteArray& bytes);
    void Pulse(bool dtr);
    // Switches DTR or RTS to the other state and says which it is now.
    void Switch(bool dtr);
    // Says which modem lines are on.
    void ShowLines();
    void SendBreak();
    // The device went away: the port is closed and typed keys go nowhere until it is back.
    void Gone(const QString& why);
    bool TryReopen();
    // After a reopen: says that the device is back once it has proven so; the poll's time-out
    // until then, or -1.
    int ConfirmBack();

    TCustomComPort& FPort;
    const MonitorOptions& FOptions;
    TScreen& FScreen;
    int FLog;
    bool FEcho;
    bool FMenu = false;
    bool FAway = false;
    bool FToldAway = false;
    // From the device going away until it is back for good, however often it is reopened.
    bool FOutage = false;
    std::chrono::steady_clock::time_point FReopenedAt;
    // While the device is away: when the port is tried again, keys typed or not.
    std::chrono::steady_clock::time_point FNextTry;
    std::atomic<bool> FReceived{false};
    WakeUp FWake;
    std::thread FReader;
    std::atomic<bool> FStopReader{false};
    std::atomic<bool> FReadFailed{false};
    std::atomic<bool> FInterrupted{false};
    std::atomic<bool> FOutputFailed{false};
    std::mutex FWhyMutex;
    QString FWhy;
};

void TSession::StartReader()
{
    FStopReader = false;
    FReadFailed = false;
    FReader = std::thread([this] { ReaderLoop(); });
}

void TSession::StopReader()
{
    FStopReader = true;
    if (FReader.joinable())
        FReader.join();
}

void TSession::ReaderLoop()
{
    std::vector<char> buffer(kReadSize);
    while (!FStopReader) {
        int n = 0;
        try {
            n = FPort.Read(buffer.data(), kReadSize);
        } catch (const Exception& e) {
            std::lock_guard lock(FWhyMutex);
            FWhy = WithNetHint(e, FPort.Port());
            FReadFailed = true;
            Wake();
            return;
        }
        if (n <= 0)
            continue;
        if (!FReceived.exchange(true))
            Wake();
        if (FLog >= 0 && !WriteAll(FLog, buffer.data(), n)) {
            FScreen.Notice(QStringLiteral("the log cannot be written: %1").arg(QString::fromLocal8Bit(std::strerror(errno))));
            FOutputFailed = true;
        }
        if (!FScreen.Show(buffer.data(), n))
            FOutputFailed = true;
        if (FOutputFailed) {
            Wake();
            return;
        }
    }
}

void TSession::Gone(const QString& why)
{
    StopReader();
    try {
        FPort.Close();
    } catch (const Exception&) {
    }
    if (!FAway)
        FNextTry = std::chrono::steady_clock::now() + std::chrono::milliseconds(kRetryMs);
    FAway = true;
    if (FOutage)
        return;
    FOutage = true;
    FToldAway = false;
    FScreen.Notice(FOptions.Reconnect
                       ? QStringLiteral("the device went away (%1); waiting for %2 to come back").arg(why, FPort.Port())
                       : QStringLiteral("the device went away: %1").arg(why));
}

bool TSession::TryReopen()
{
    try {
        FPort.Open();
    } catch (const Exception&) {
        return false;
    }
    FAway = false;
    FReceived = false;
    FReopenedAt = std::chrono::steady_clock::now();
    StartReader();
    return true;
}

int TSession::ConfirmBack()
{
    if (!FOutage || FAway)
        return -1;
    const auto waited = std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::steady_clock::now() - FReopenedAt);
    if (!FReceived && waited.count() < kBackAfterMs)
        return static_cast<int>(kBackAfterMs - waited.count());
    FOutage = false;
    FScreen.Notice(QStringLiteral("%1 is back").arg(FPort.Port()));
    return -1;
}

void TSession::Send(const QByteArray& bytes)
{
    if (bytes.isEmpty())
        return;
    if (FAway) {
        // Typed keys never wait for a device: they could reach another one under the name.
        if (!FToldAway)
            FScreen.Notice(QStringLiteral("the device is away: typed keys are not sent"));
        FToldAway = true;
        return;
    }
    if (FEcho)
        FScreen.Show(bytes.constData(), static_cast<int>(bytes.size()));
    try {
        const int sent = FPort.Write(bytes.constData(), static_cast<int>(bytes.size()));
        if (sent < bytes.size() && !FInterrupted)
            FScreen.Notice(QStringLiteral("the device is not taking data: %1 of %2 bytes not sent")
                               .arg(bytes.size() - sent)
                               .arg(bytes.size()));
    } catch (const Exception& e) {
        Gone(WithNetHint(e, FPort.Port()));
    }
}

void TSession::Pulse(bool dtr)
{
    try {
        const TComFlowControl* flow = FPort.FlowControl();
        if (dtr) {
            const bool raised = flow->ControlDTR() != TDTRFlowControl::dtrDisable;
            FPort.SetDTR(!raised);
            std::this_thread::sleep_for(std::chrono::milliseconds(kPulseMs));
            FPort.SetDTR(raised);
        } else {
            const bool raised = flow->ControlRTS() == TRTSFlowControl::rtsEnable;
            FPort.SetRTS(!raised);
            std::this_thread::sleep_for(std::chrono::milliseconds(kPulseMs));
            FPort.SetRTS(raised);
        }
        FScreen.Notice(dtr ? QStringLiteral("DTR pulsed") : QStringLiteral("RTS pulsed"));
    } catch (const Exception& e) {
        FScreen.Notice(e.Message());
    }
}

void TSession::Switch(bool dtr)
{
    const TComFlowControl* flow = FPort.FlowControl();
    try {
        bool on;
        if (dtr) {
            on = flow->ControlDTR() != TDTRFlowControl::dtrEnable;
            FPort.SetDTR(on);
        } else {
            on = flow->ControlRTS() != TRTSFlowControl::rtsEnable;
            FPort.SetRTS(on);
        }
        FScreen.Notice(QStringLiteral("%1 %2").arg(dtr ? QStringLiteral("DTR") : QStringLiteral("RTS"),
                                                   on ? QStringLiteral("on") : QStringLiteral("off")));
    } catch (const Exception& e) {
        FScreen.Notice(e.Message());
    }
}

void TSession::ShowLines()
{
    try {
        const TLineSignals in = FPort.LineSignals();
        const TComFlowControl* flow = FPort.FlowControl();
        const auto state = [](bool on) { return on ? QStringLiteral("on") : QStringLiteral("off"); };
        FScreen.Notice(QStringLiteral("DTR %1  RTS %2  CTS %3  DSR %4  RI %5  CD %6")
                           .arg(state(flow->ControlDTR() == TDTRFlowControl::dtrEnable),
                                state(flow->ControlRTS() == TRTSFlowControl::rtsEnable),
                                state(in.Contains(TLineSignal::lsCTS)), state(in.Contains(TLineSignal::lsDSR)),
                                state(in.Contains(TLineSignal::lsRing)), state(in.Contains(TLineSignal::lsRLSD))));
    } catch (const Exception& e) {
        FScreen.Notice(e.Message());
    }
}

void TSession::SendBreak()
{
    try {
        FPort.SetBreak(true);
        std::this_thread::sleep_for(std::chrono::milliseconds(kBreakMs));
        FPort.SetBreak(false);
        FScreen.Notice(QStringLiteral("break sent"));
    } catch (const Exception& e) {
        FScreen.Notice(e.Message());
    }
}

bool TSession::Keys(const char* keys, int count)
{
    QByteArray out;
    for (int i = 0; i < count; ++i) {
        const char c = keys[i];
        if (FMenu) {
            FMenu = false;
            if (c == FOptions.MenuKey || c == FOptions.ExitKey) {
                out += c;
                continue;
            }
            // What came before the menu key goes first.
            Send(out);
            out.clear();
            switch (c) {
            case 'b':
            case 'B':
                if (!FAway)
                    SendBreak();
                break;
            case 'd':
            case 'r':
                if (!FAway)
                    Pulse(c == 'd');
                break;
            case 'D':
            case 'R':
                if (!FAway)
                    Switch(c == 'D');
                break;
            case 'l':
            case 'L':
                if (!FAway)
                    ShowLines();
                break;
            case 'e':
            case 'E':
                FEcho = !FEcho;
                FScreen.Notice(FEcho ? QStringLiteral("local echo on") : QStringLiteral("local echo off"));
                break;
            default:
                FScreen.Notice(MenuHelp(FOptions));
                break;
            }
            continue;
        }
        if (c == FOptions.ExitKey) {
            Send(out);
            return false;
        }
        if (c == FOptions.MenuKey) {
            FMenu = true;
            FScreen.Notice(MenuHelp(FOptions));
            continue;
        }
        if (c == '\r' && (FOptions.SendCrLf || FOptions.SendLf))
            out += FOptions.SendCrLf ? QByteArray("\r\n") : QByteArray("\n");
        else
            out += c;
    }
    Send(out);
    return true;
}

int TSession::Run(InterruptWatch& interrupts)
{
    if (!FWake.Valid()) {
        FScreen.Notice(QStringLiteral("the monitor cannot start: %1").arg(QString::fromLocal8Bit(std::strerror(errno))));
        return ExitPortError;
    }
    // The handler comes first and goes last: a signal in between always finds the terminal
    // to put back, and one outside finds it as it was.
    interrupts.SetHandler([this] {
        FInterrupted = true;
        Wake();
        // A reopen (a network connect) or a write the device does not take ends at once.
        try {
            FPort.CancelRequests();
        } catch (const Exception&) {
            // A closed port has nothing in progress.
        }
    });
    const int status = Loop();
    interrupts.SetHandler({});
    return status;
}

int TSession::Loop()
{
    const RawTerminal raw(STDIN_FILENO);
    FScreen.Notice(QStringLiteral("monitoring %1; exit with %2, menu with %3")
                       .arg(FPort.Port(), KeyName(FOptions.ExitKey), KeyName(FOptions.MenuKey)));
    StartReader();
    bool keyboard = true;
    int status = ExitSuccess;
    for (;;) {
        if (FInterrupted) {
            status = ExitInterrupted;
            break;
        }
        if (FOutputFailed) {
            status = ExitFileRejected;
            break;
        }
        if (FReadFailed) {
            QString why;
            {
                std::lock_guard lock(FWhyMutex);
                why = FWhy;
            }
            Gone(why);
        }
        if (FAway && !FOptions.Reconnect) {
            status = ExitPortError;
            break;
        }
        const int confirming = ConfirmBack();
        pollfd fds[2] = {{FWake.Fd(), POLLIN, 0}, {keyboard ? STDIN_FILENO : -1, POLLIN, 0}};
        const auto untilTry = std::chrono::ceil<std::chrono::milliseconds>(FNextTry - std::chrono::steady_clock::now());
        const int ready = ::poll(fds, 2, FAway ? static_cast<int>(std::clamp<int64_t>(untilTry.count(), 0, kRetryMs)) : confirming);
        if (ready < 0 && errno != EINTR) {
            status = ExitPortError;
            break;
        }
        FWake.Drain();
        if (fds[1].revents & (POLLIN | POLLHUP | POLLERR)) {
            char keys[256];
            const ssize_t n = ::read(STDIN_FILENO, keys, sizeof keys);
            if (n > 0 && !Keys(keys, static_cast<int>(n)))
                break;
            // The end of the input (a script's empty standard input) leaves the monitor
            // watching the device until a signal ends it.
            if (n == 0 || (n < 0 && errno != EINTR && errno != EAGAIN))
                keyboard = false;
        }
        // Tried on time even while keys keep coming.
        if (FAway && std::chrono::steady_clock::now() >= FNextTry && !TryReopen())
            FNextTry = std::chrono::steady_clock::now() + std::chrono::milliseconds(kRetryMs);
    }
    StopReader();
    FScreen.EndLine();
    return status;
}

} // namespace

int RunMonitor(TCustomComPort& port, const MonitorOptions& options, InterruptWatch& interrupts)
{
    UniqueFd log;
    if (!options.Log.isEmpty()) {
        log.Reset(::open(QFile::encodeName(options.Log).constData(), O_WRONLY | O_CREAT | O_APPEND | O_CLOEXEC, 0644));
        if (!log) {
            PrintLine(stderr, QStringLiteral("%1: %2").arg(options.Log, QString::fromLocal8Bit(std::strerror(errno))));
            return ExitFileRejected;
        }
    }
    // A read returns as soon as bytes are there, or after the wait with none.
    TComTimeouts* timeouts = port.Timeouts();
    timeouts->SetReadInterval(static_cast<int>(MAXDWORD));
    timeouts->SetReadTotalMultiplier(static_cast<int>(MAXDWORD));
    timeouts->SetReadTotalConstant(kReadWaitMs);
    timeouts->SetWriteTotalMultiplier(0);
    timeouts->SetWriteTotalConstant(kWriteTimeoutMs);

    TScreen screen(options);
    int status;
    {
        TSession session(port, options, screen, log.Get());
        status = session.Run(interrupts);
    }
    return status;
}

} // namespace cli

} // namespace zentrop
