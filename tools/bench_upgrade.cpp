// bench_upgrade: times an upgrade of 64 KiB of Flash and 4 KiB of EEProm against the simulated
// bootloader pacing its line at 115200 baud (or --baud), and shows where the time beyond the
// line's own goes: the pauses' overshoot, the waits for the answers, the writes, and the
// system calls per byte sent (counted by strace). It runs the same upgrade
// as the command line does (no window messages), as the window does (its messages processed
// as the run paces them, and after every byte for comparison), with the default timer slack,
// and through a lean port that writes and reads the pseudo-terminal directly, as a minimal
// sender of the protocol would.
#include "upgrade/BootComPort.h"
#include "upgrade/Bootloader.h"
#include "upgrade/UpgradeFile.h"
#include "base/Format.h"
#include "base/UniqueFd.h"
#include "testsupport/BootSim.h"
#include "testsupport/SampleUpgrade.h"

#include <QCoreApplication>
#include <QFile>
#include <QProcess>
#include <QSaveFile>
#include <QStandardPaths>
#include <QStringList>
#include <QTemporaryDir>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstdio>
#include <fcntl.h>
#include <functional>
#include <memory>
#include <optional>
#include <poll.h>
#include <sys/ioctl.h>
#include <sys/prctl.h>
#include <sys/resource.h>
#include <termios.h>
#include <thread>
#include <unistd.h>
#include <vector>

using namespace zentrop;

namespace {

int gBaud = 115200;   // the simulated line's pace; --baud sets it
constexpr int kBitsPerByte = 10; // start bit, 8 data bits, stop bit
constexpr int kReadTimeoutMs = 510;

using Clock = std::chrono::steady_clock;

double Since(Clock::time_point start)
{
    return std::chrono::duration<double>(Clock::now() - start).count();
}

// Counts the bytes that cross the line and the time spent in each kind of call.
class TimedPort : public BootPort {
public:
    explicit TimedPort(BootPort& inner) : FInner(inner) {}
    bool Connected() const override { return FInner.Connected(); }
    void Open() override { FInner.Open(); }
    void PurgeBuffers(bool input, bool output) override { FInner.PurgeBuffers(input, output); }
    int Write(const void* buffer, int count) override
    {
        const auto start = Clock::now();
        const int n = FInner.Write(buffer, count);
        WriteSeconds += Since(start);
        Sent += count;
        return n;
    }
    int Read(void* buffer, int count) override
    {
        const auto start = Clock::now();
        const int n = FInner.Read(buffer, count);
        ReadSeconds += Since(start);
        Received += n;
        return n;
    }
    int InputWaiting() override { return FInner.InputWaiting(); }
    int StrayBytes(int quietMs) override
    {
        const auto start = Clock::now();
        const int n = FInner.StrayBytes(quietMs);
        ReadSeconds += Since(start);
        return n;
    }
    long long Sent = 0;
    long long Received = 0;
    double WriteSeconds = 0;
    double ReadSeconds = 0;

private:
    BootPort& FInner;
};

// The pseudo-terminal written and read directly: one write per byte, a poll for the answer.
class LeanPort : public BootPort {
public:
    explicit LeanPort(const QString& path)
        : FOpened(::open(path.toLocal8Bit().constData(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC)), FFd(FOpened.Get())
    {
        termios t{};
        if (FFd >= 0 && tcgetattr(FFd, &t) == 0) {
            cfmakeraw(&t);
            tcsetattr(FFd, TCSANOW, &t);
        }
    }
    bool Connected() const override { return FFd >= 0; }
    void Open() override {}
    void PurgeBuffers(bool, bool) override { tcflush(FFd, TCIOFLUSH); }
    int Write(const void* buffer, int count) override
    {
        for (;;) {
            const ssize_t n = ::write(FFd, buffer, static_cast<size_t>(count));
            if (n >= 0)
                return static_cast<int>(n);
            if (errno != EAGAIN && errno != EINTR)
                return 0;
            pollfd p{FFd, POLLOUT, 0};
            ::poll(&p, 1, kReadTimeoutMs);
        }
    }
    int Read(void* buffer, int count) override
    {
        static_cast<uint8_t*>(buffer)[0] = 0xFF;
        pollfd p{FFd, POLLIN, 0};
        if (::poll(&p, 1, kReadTimeoutMs) <= 0)
            return 0;
        const ssize_t n = ::read(FFd, buffer, static_cast<size_t>(count));
        return n > 0 ? static_cast<int>(n) : 0;
    }
    int InputWaiting() override
    {
        int waiting = 0;
        return ::ioctl(FFd, FIONREAD, &waiting) == 0 ? waiting : 0;
    }
    // The same look before the jump, so that both runs wait for it alike.
    int StrayBytes(int quietMs) override
    {
        pollfd p{FFd, POLLIN, 0};
        return ::poll(&p, 1, quietMs) > 0 ? 1 : 0;
    }

private:
    UniqueFd FOpened;
    int FFd;
};

enum class Events { None, Paced, EveryByte };

// As the window does with messages, it also makes a status text of each page and lets the
// status changes pace the rounds.
class Observer : public UpgradeObserver {
public:
    explicit Observer(Events events) : FEvents(events) {}
    void RunStarted(const RunPlan&) override { StatusChanged(); }
    void MemoryStarted(Memory, int) override { StatusChanged(); }
    void PageStarted(const PageProgress& page) override
    {
        if (FEvents != Events::None)
            FStatus = Format(QStringLiteral("Write Flash Page at 0x%04x"), {page.Address});
        StatusChanged();
    }
    void ApplicationStarting() override
    {
        StatusChanged();
        AnswerAwaited();
    }
    void RunEnded(const RunEnd& end) override
    {
        if (!end.Message.isEmpty())
            Messages << end.Message;
    }
    void ByteSent() override
    {
        if (FEvents == Events::EveryByte || (FEvents == Events::Paced && FPacer.DueWhileSending()))
            QCoreApplication::processEvents();
    }
    void AnswerAwaited() override
    {
        if (FEvents == Events::Paced && FPacer.DueBeforeAnswer())
            QCoreApplication::processEvents();
    }
    QStringList Messages;

private:
    void StatusChanged() { FPacer.StatusChanged(); }

    Events FEvents;
    EventPacer FPacer;
    QString FStatus;
};

double ThreadCpuSeconds()
{
    rusage u{};
    getrusage(RUSAGE_THREAD, &u);
    return static_cast<double>(u.ru_utime.tv_sec + u.ru_stime.tv_sec) +
           static_cast<double>(u.ru_utime.tv_usec + u.ru_stime.tv_usec) / 1e6;
}

struct Variant {
    const char* Name;
    Events Window = Events::None; // window messages processed during the run
    bool Lean = false;     // the lean port instead of the engine
    unsigned long Slack = 1; // timer slack in ns
};

struct Measured {
    double Seconds = 0, Line = 0, Paused = 0, Overshoot = 0, Writes = 0, Reads = 0, Cpu = 0;
    long long Sent = 0;
};

std::optional<Measured> Run(const Variant& v, const UpgradeFile& file, const sample::Layout& layout)
{
    bootsim::SimOptions options;
    options.Baud = gBaud;
    options.Device.FlashPageSize = layout.FlashPageSize;
    options.Device.EEPromPageSize = layout.EEPromPageSize;
    bootsim::Simulator sim(options);
    TComPort port;
    std::unique_ptr<BootPort> lean;
    std::unique_ptr<ComPortLine> engine;
    try {
        const QString path = sim.Open();
        sim.Start();
        if (v.Lean) {
            lean = std::make_unique<LeanPort>(path);
        } else {
            port.SetPort(path);
            SetUpgradeLineSettings(port, gBaud);
            port.Open();
            engine = std::make_unique<ComPortLine>(port);
        }
    } catch (const std::exception& e) {
        std::fprintf(stderr, "bench_upgrade: %s\n", e.what());
        return std::nullopt;
    }
    TimedPort timed(v.Lean ? *lean : static_cast<BootPort&>(*engine));
    Observer observer(v.Window);
    Measured m;
    prctl(PR_SET_TIMERSLACK, v.Slack);
    Bootloader boot(timed, observer, [&](int ms) {
        const auto start = Clock::now();
        std::this_thread::sleep_for(std::chrono::milliseconds(ms));
        const double slept = Since(start);
        m.Paused += ms / 1000.0;
        m.Overshoot += slept - ms / 1000.0;
    });
    const double cpuBefore = ThreadCpuSeconds();
    const auto start = Clock::now();
    UpgradeResult result;
    try {
        result = boot.WriteToDevice(UpgradeMode::Both, file.FlashPages(), file.EEPromPages());
    } catch (const Exception& e) {
        std::fprintf(stderr, "bench_upgrade: %s\n", e.Message().toLocal8Bit().constData());
        return std::nullopt;
    }
    m.Seconds = Since(start);
    m.Cpu = ThreadCpuSeconds() - cpuBefore;
    prctl(PR_SET_TIMERSLACK, 0UL);
    const size_t pages = file.FlashPages().size() + file.EEPromPages().size();
    const bool allKept = sim.WaitFor([&](const bootsim::DeviceRecord& r) { return r.Pages.size() == pages; }, 5000);
    if (result != UpgradeResult::Done || !allKept) {
        std::fprintf(stderr, "bench_upgrade: the upgrade failed: %s\n", observer.Messages.join("; ").toLocal8Bit().constData());
        return std::nullopt;
    }
    m.Line = static_cast<double>(timed.Sent + timed.Received) * kBitsPerByte / gBaud;
    m.Writes = timed.WriteSeconds;
    m.Reads = timed.ReadSeconds;
    m.Sent = timed.Sent;
    return m;
}

// The system calls of the upgrading thread, counted by strace in a child that runs one
// upgrade of the variant (strace without -f follows only that thread, not the simulator's):
// the total, the most frequent calls, and the bytes sent, which the child prints.
struct SyscallCount {
    long long Calls = 0;
    long long Sent = 0;
    QString Top;
};

std::optional<SyscallCount> CountSyscalls(const QString& self, const QStringList& args)
{
    QTemporaryDir dir;
    const QString summary = dir.filePath("strace.txt");
    QProcess child;
    child.start(QStringLiteral("strace"), QStringList{"-c", "-o", summary, "--", self} + args);
    if (!child.waitForFinished(600000) || child.exitStatus() != QProcess::NormalExit || child.exitCode() != 0)
        return std::nullopt;
    SyscallCount count;
    count.Sent = QString::fromLatin1(child.readAllStandardOutput()).trimmed().toLongLong();
    QFile file(summary);
    if (!file.open(QIODevice::ReadOnly))
        return std::nullopt;
    std::vector<std::pair<long long, QString>> calls;
    for (const QByteArray& raw : file.readAll().split('\n')) {
        const QStringList f = QString::fromLatin1(raw).simplified().split(' ', Qt::SkipEmptyParts);
        // % time, seconds, usecs/call, calls, [errors], name
        if (f.size() < 5 || !f[0].front().isDigit())
            continue;
        if (f.last() == "total")
            count.Calls = f[3].toLongLong();
        else
            calls.emplace_back(f[3].toLongLong(), f.last());
    }
    std::sort(calls.begin(), calls.end(), [](const auto& a, const auto& b) { return a.first > b.first; });
    QStringList top;
    for (size_t i = 0; i < calls.size() && i < 4; ++i)
        top << QStringLiteral("%1 %2").arg(calls[i].second).arg(calls[i].first);
    count.Top = top.join(", ");
    if (count.Calls == 0 || count.Sent == 0)
        return std::nullopt;
    return count;
}

} // namespace

int main(int argc, char** argv)
{
    QCoreApplication app(argc, argv);
    sample::Layout layout;
    layout.FlashPageSize = 256;
    layout.FlashPages = 64 * 1024 / layout.FlashPageSize;
    layout.EEPromPageSize = 256;
    QStringList args = QCoreApplication::arguments();
    args.removeFirst();
    // --count VARIANT: one upgrade of that variant, the bytes sent on standard output (the
    // child whose system calls strace counts).
    int countVariant = -1;
    bool ok = true;
    for (int i = 0; i + 1 < args.size() && ok; i += 2) {
        const int value = args[i + 1].toInt(&ok);
        if (args[i] == "--eeprom-page-size")
            layout.EEPromPageSize = value;
        else if (args[i] == "--baud")
            gBaud = value;
        else if (args[i] == "--count")
            countVariant = value;
        else
            ok = false;
    }
    if (!ok || args.size() % 2 || layout.EEPromPageSize < 1 || layout.EEPromPageSize > 512 || gBaud < 300) {
        std::fprintf(stderr, "usage: bench_upgrade [--eeprom-page-size 1..512] [--baud RATE]\n");
        return 2;
    }
    layout.EEPromPages = 4 * 1024 / layout.EEPromPageSize;

    QTemporaryDir dir;
    const QString path = dir.filePath("bench.upg");
    QSaveFile out(path);
    if (!out.open(QIODevice::WriteOnly) || out.write(sample::UpgradeFileBytes(layout)) < 0 || !out.commit()) {
        std::fprintf(stderr, "bench_upgrade: cannot write %s\n", path.toLocal8Bit().constData());
        return 1;
    }
    UpgradeFile file;
    if (file.Load(path) != UpgradeFile::Result::Loaded)
        return 1;

    const Variant variants[] = {
        {"lean port (direct writes)", Events::None, true, 1},
        {"command line", Events::None, false, 1},
        {"command line, default timer slack", Events::None, false, 50000},
        {"window (messages as paced)", Events::Paced, false, 1},
        {"window, messages after every byte", Events::EveryByte, false, 1},
    };
    if (countVariant >= 0) {
        if (countVariant >= static_cast<int>(std::size(variants)))
            return 2;
        const std::optional<Measured> m = Run(variants[countVariant], file, layout);
        if (!m)
            return 1;
        std::printf("%lld\n", m->Sent);
        return 0;
    }

    std::printf("upgrade: %zu Flash pages of %d bytes, %zu EEProm pages of %d bytes, %d baud\n",
                file.FlashPages().size(), layout.FlashPageSize, file.EEPromPages().size(), layout.EEPromPageSize,
                gBaud);
    std::printf("%-38s %8s %8s %8s %9s %8s %8s %8s\n", "run (best of 3, taken in turns)", "seconds", "/ideal", "line",
                "overshoot", "in write", "in read", "us/byte");
    constexpr int kRounds = 3;
    std::vector<Measured> best(std::size(variants));
    // In turns, so that a load that comes and goes on the machine falls on every variant alike.
    for (int round = 0; round < kRounds; ++round) {
        for (size_t i = 0; i < std::size(variants); ++i) {
            const std::optional<Measured> m = Run(variants[i], file, layout);
            if (!m)
                return 1;
            if (round == 0 || m->Seconds < best[i].Seconds)
                best[i] = *m;
        }
    }
    for (size_t i = 0; i < std::size(variants); ++i) {
        const Measured& m = best[i];
        // The ideal: the line's own time and the prescribed pauses, nothing else.
        const double ideal = m.Line + m.Paused;
        std::printf("%-38s %8.3f %8.4f %8.3f %9.4f %8.3f %8.3f %8.2f\n", variants[i].Name, m.Seconds, m.Seconds / ideal,
                    m.Line, m.Overshoot, m.Writes, m.Reads, m.Cpu * 1e6 / static_cast<double>(m.Sent));
    }
    const double lean = best[0].Seconds, commandLine = best[1].Seconds, window = best[3].Seconds;
    const double ideal = best[1].Line + best[1].Paused;
    std::printf("command line over lean port: %+.2f %% (goal: at most +0.5 %%)\n", (commandLine / lean - 1) * 100);
    std::printf("command line over the line's time and the pauses: %+.2f %%\n", (commandLine / ideal - 1) * 100);
    std::printf("window over command line: %+.2f %% (goal: at most +1 %%)\n", (window / commandLine - 1) * 100);
    std::printf("columns: overshoot = time the pauses slept beyond what they asked; in write / in read = time in\n"
                "the port's calls (read: waiting for the answers); us/byte = CPU of the upgrade thread per byte sent\n");

    // System calls per byte sent, of the upgrading thread (start-up of the child included).
    if (QStandardPaths::findExecutable(QStringLiteral("strace")).isEmpty()) {
        std::printf("system calls per byte: strace is not installed (tools/setup.sh installs it)\n");
        return 0;
    }
    const QStringList common{"--eeprom-page-size", QString::number(layout.EEPromPageSize), "--baud", QString::number(gBaud)};
    for (int variant : {0, 1, 3}) {
        const std::optional<SyscallCount> c =
            CountSyscalls(QCoreApplication::applicationFilePath(), common + QStringList{"--count", QString::number(variant)});
        if (!c) {
            std::printf("system calls per byte, %s: strace could not count them\n", variants[variant].Name);
            continue;
        }
        std::printf("system calls per byte, %s: %.2f (%lld calls for %lld bytes; most: %s)%s\n", variants[variant].Name,
                    static_cast<double>(c->Calls) / static_cast<double>(c->Sent), c->Calls, c->Sent,
                    c->Top.toLocal8Bit().constData(), variant == 1 ? " (goal: at most 2)" : "");
    }
    return 0;
}
