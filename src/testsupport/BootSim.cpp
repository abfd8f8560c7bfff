// The simulator's line: opening the pseudo-terminal or device, the poll loop with its stop
// descriptor, the wire-time model that paces answers, and the hang-up that closes the line.
#include "testsupport/BootSim.h"

#include <algorithm>
#include <chrono>
#include <cerrno>
#include <cstring>
#include <ctime>
#include <fcntl.h>
#include <poll.h>
#include <stdlib.h>
#include <sys/prctl.h>
#include <termios.h>
#include <unistd.h>

namespace zentrop {

namespace bootsim {

namespace {

constexpr int64_t kNsPerMs = 1'000'000;
// While no host has the pseudo-terminal open the line reports a hang-up on every poll; this
// is how often the loop looks again.
constexpr int kNoHostRecheckMs = 10;

int64_t Now()
{
    timespec ts{};
    clock_gettime(CLOCK_MONOTONIC, &ts);
    return static_cast<int64_t>(ts.tv_sec) * 1'000'000'000 + ts.tv_nsec;
}

void SleepUntil(int64_t deadlineNs)
{
    timespec ts{};
    ts.tv_sec = deadlineNs / 1'000'000'000;
    ts.tv_nsec = deadlineNs % 1'000'000'000;
    while (clock_nanosleep(CLOCK_MONOTONIC, TIMER_ABSTIME, &ts, nullptr) == EINTR) {
    }
}

int MsUntil(int64_t deadlineNs)
{
    const int64_t left = deadlineNs - Now();
    return left <= 0 ? 0 : static_cast<int>((left + kNsPerMs - 1) / kNsPerMs);
}

[[noreturn]] void Fail(const QString& what)
{
    throw SimError(QStringLiteral("%1: %2").arg(what, QString::fromLocal8Bit(strerror(errno))).toStdString());
}

speed_t SpeedConstant(int baud)
{
    switch (baud) {
    case 1200: return B1200;
    case 2400: return B2400;
    case 4800: return B4800;
    case 9600: return B9600;
    case 19200: return B19200;
    case 38400: return B38400;
    case 57600: return B57600;
    case 115200: return B115200;
    case 230400: return B230400;
    case 460800: return B460800;
    case 921600: return B921600;
    default: return B0;
    }
}

} // namespace

Simulator::Simulator(SimOptions options) : FOptions(std::move(options)), FDevice(FOptions.Device) {}

Simulator::~Simulator()
{
    Stop();
    Join();
}

QString Simulator::Open()
{
    if (!FStop.Valid())
        Fail(QStringLiteral("eventfd"));
    QString path;
    FPty = FOptions.DevicePath.isEmpty();
    if (FPty) {
        FLine.Reset(posix_openpt(O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC));
        if (!FLine.Valid() || grantpt(FLine.Get()) != 0 || unlockpt(FLine.Get()) != 0)
            Fail(QStringLiteral("pseudo-terminal"));
        char name[256];
        if (ptsname_r(FLine.Get(), name, sizeof name) != 0)
            Fail(QStringLiteral("pseudo-terminal name"));
        path = QString::fromLocal8Bit(name);
    } else {
        path = FOptions.DevicePath;
        FLine.Reset(::open(path.toLocal8Bit().constData(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC));
        if (!FLine.Valid())
            Fail(path);
    }
    // Raw from the start, so no echo or translation touches the first bytes. On a
    // pseudo-terminal the settings made through this end are those of the far end.
    termios tio{};
    if (tcgetattr(FLine.Get(), &tio) != 0)
        Fail(QStringLiteral("tcgetattr ") + path);
    cfmakeraw(&tio);
    tio.c_cflag |= CLOCAL | CREAD;
    if (!FPty && FOptions.Baud > 0) {
        const speed_t speed = SpeedConstant(FOptions.Baud);
        if (speed == B0) {
            errno = EINVAL;
            Fail(QStringLiteral("baud rate %1").arg(FOptions.Baud));
        }
        cfsetspeed(&tio, speed);
    }
    if (tcsetattr(FLine.Get(), TCSANOW, &tio) != 0)
        Fail(QStringLiteral("tcsetattr ") + path);
    FByteNs = FPty && FOptions.Baud > 0 ? 10'000'000'000LL / FOptions.Baud : 0;
    return path;
}

void Simulator::Run()
{
    if (!FLine.Valid())
        throw SimError("the line is not open");
    Loop();
}

void Simulator::Start()
{
    if (!FLine.Valid())
        throw SimError("the line is not open");
    FThread = std::thread([this] { Loop(); });
}

void Simulator::Stop()
{
    FStop.Signal();
}

void Simulator::Join()
{
    if (FThread.joinable())
        FThread.join();
}

DeviceRecord Simulator::Snapshot() const
{
    std::lock_guard<std::mutex> lock(FMutex);
    return FDevice.Record();
}

bool Simulator::WaitFor(const std::function<bool(const DeviceRecord&)>& condition, int timeoutMs) const
{
    std::unique_lock<std::mutex> lock(FMutex);
    FChanged.wait_for(lock, std::chrono::milliseconds(timeoutMs),
                      [&] { return FEnded || condition(FDevice.Record()); });
    return condition(FDevice.Record());
}

void Simulator::Loop()
{
    // A device answers as soon as the last bit of the command is in; the default timer slack
    // (50 us) would make every paced answer late by more than a byte's time at high rates.
    const int oldSlack = prctl(PR_GET_TIMERSLACK);
    prctl(PR_SET_TIMERSLACK, 1UL);
    const int64_t gapNs = static_cast<int64_t>(FOptions.Device.IdleGapMs) * kNsPerMs;
    int64_t rxEnd = 0; // when the last byte received has fully arrived on the (paced) wire
    int published = 0;
    for (;;) {
        bool gap = false;
        {
            std::lock_guard<std::mutex> lock(FMutex);
            gap = FDevice.WaitsForIdleGap();
        }
        pollfd fds[2] = {{FLine.Get(), POLLIN, 0}, {FStop.Fd(), POLLIN, 0}};
        const int n = poll(fds, 2, gap ? MsUntil(rxEnd + gapNs) : -1);
        if (n < 0 && errno != EINTR)
            break;
        if (n > 0 && fds[1].revents)
            break;
        bool received = false;
        if (n > 0 && (fds[0].revents & POLLIN)) {
            uint8_t buf[4096];
            const ssize_t k = ::read(FLine.Get(), buf, sizeof buf);
            if (k > 0) {
                received = true;
                const int64_t now = Now();
                for (ssize_t i = 0; i < k && !FEnded; ++i) {
                    rxEnd = std::max(now, rxEnd) + FByteNs;
                    Reaction r;
                    {
                        std::lock_guard<std::mutex> lock(FMutex);
                        r = FDevice.Receive(buf[i]);
                    }
                    PublishLog(published);
                    Apply(r, rxEnd);
                }
                FChanged.notify_all();
            }
        }
        if (FEnded)
            break;
        if (FOptions.StopAfterJump && Snapshot().Jumps > 0)
            break;
        if (n > 0 && !received && (fds[0].revents & (POLLHUP | POLLERR))) {
            // Nobody has the far end open (yet, or any more): look again shortly.
            pollfd stop{FStop.Fd(), POLLIN, 0};
            if (poll(&stop, 1, gap ? std::min(kNoHostRecheckMs, MsUntil(rxEnd + gapNs)) : kNoHostRecheckMs) > 0)
                break;
        }
        if (gap && !received && Now() >= rxEnd + gapNs) {
            Reaction r;
            {
                std::lock_guard<std::mutex> lock(FMutex);
                r = FDevice.IdleGapPassed();
            }
            PublishLog(published);
            Apply(r, rxEnd + gapNs);
            FChanged.notify_all();
        }
    }
    if (oldSlack > 0)
        prctl(PR_SET_TIMERSLACK, static_cast<unsigned long>(oldSlack));
    std::lock_guard<std::mutex> lock(FMutex);
    FEnded = true;
    FChanged.notify_all();
}

void Simulator::Apply(const Reaction& reaction, int64_t wireTimeNs)
{
    if (reaction.HangUp) {
        if (FByteNs > 0)
            SleepUntil(wireTimeNs);
        HangUp();
        return;
    }
    if (reaction.Reply.isEmpty())
        return;
    // The answer starts once the byte that asked for it has arrived and is complete a few
    // bit times later.
    if (FByteNs > 0)
        SleepUntil(wireTimeNs + FByteNs * reaction.Reply.size());
    WriteReply(reaction.Reply);
}

void Simulator::WriteReply(const QByteArray& reply)
{
    qsizetype done = 0;
    while (done < reply.size()) {
        const ssize_t k = ::write(FLine.Get(), reply.constData() + done, static_cast<size_t>(reply.size() - done));
        if (k > 0) {
            done += k;
            continue;
        }
        if (k < 0 && errno == EINTR)
            continue;
        if (k < 0 && errno == EAGAIN) {
            // The host does not read: wait for room, but not past a stop.
            pollfd fds[2] = {{FLine.Get(), POLLOUT, 0}, {FStop.Fd(), POLLIN, 0}};
            if (poll(fds, 2, -1) < 0 || fds[1].revents || (fds[0].revents & (POLLHUP | POLLERR)))
                return;
            continue;
        }
        return; // no one at the far end: the answer is lost, as on an unplugged cable
    }
}

void Simulator::HangUp()
{
    // Closing the line is what tells the host: its reads and writes fail from now on.
    FLine.Reset();
    std::lock_guard<std::mutex> lock(FMutex);
    FEnded = true;
}

void Simulator::PublishLog(int& published)
{
    if (!FOptions.OnLog)
        return;
    QStringList lines;
    {
        std::lock_guard<std::mutex> lock(FMutex);
        lines = FDevice.Record().Log.mid(published);
        published += static_cast<int>(lines.size());
    }
    for (const QString& line : lines)
        FOptions.OnLog(line);
}

} // namespace bootsim

} // namespace zentrop
