// bench_termapp: zentrop-term's window from the device's bytes to the screen, on a
// pseudo-terminal with the port's event thread, as a user runs it. Three figures:
//   - a device printing log lines at 115200 baud (11520 bytes a second) for a while: whether
//     the window kept up (every byte received, how far behind the line it was at the end)
//     and the CPU this process used for it;
//   - the same text as fast as the pseudo-terminal takes it: the rate the window reaches;
//   - single characters at random moments: the time from the device's write to the paint of
//     the window that shows it (median, 95th percentile, worst).
#include "forms/Application.h"
#include "termapp/TermWindow.h"

#include <QElapsedTimer>
#include <QEventLoop>
#include <QTemporaryDir>
#include <QTimer>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <fcntl.h>
#include <pty.h>
#include <random>
#include <sys/resource.h>
#include <thread>
#include <unistd.h>
#include <vector>

using namespace zentrop;

namespace {

constexpr double kLineRate = 11520.0;  // bytes a second at 115200 baud, 10 bits a byte
constexpr int kPacedSeconds = 5;
constexpr int kFastBytes = 1 << 20;
constexpr int kLatencySamples = 200;

// Log lines as a device prints them, some coloured with escape codes, ended by CR LF.
QByteArray LogText(int size)
{
    std::mt19937 random(7);
    QByteArray text;
    int line = 0;
    while (text.size() < size) {
        text += QByteArray::number(++line).rightJustified(6, '0') + " ";
        if (line % 7 == 0)
            text += "\x1b[1mwarn\x1b[0m ";
        const int words = std::uniform_int_distribution<>(2, 12)(random);
        for (int w = 0; w < words; ++w)
            text += QByteArray(std::uniform_int_distribution<>(1, 9)(random), char('a' + w % 26)) + ' ';
        text += "\r\n";
    }
    text.truncate(size);
    return text;
}

double CpuSeconds()
{
    rusage u{};
    ::getrusage(RUSAGE_SELF, &u);
    return static_cast<double>(u.ru_utime.tv_sec + u.ru_stime.tv_sec) +
           static_cast<double>(u.ru_utime.tv_usec + u.ru_stime.tv_usec) / 1e6;
}

void WriteAll(int fd, const char* data, qsizetype count)
{
    while (count > 0) {
        const ssize_t n = ::write(fd, data, static_cast<size_t>(count));
        if (n > 0) {
            data += n;
            count -= n;
        } else if (n < 0 && errno != EINTR && errno != EAGAIN) {
            return;
        }
    }
}

// Records when the terminal's client area is painted.
class PaintWatch : public QObject {
public:
    explicit PaintWatch(QWidget* viewport) { viewport->installEventFilter(this); }
    std::function<void()> OnPaint;

protected:
    bool eventFilter(QObject*, QEvent* event) override
    {
        if (event->type() == QEvent::Paint && OnPaint)
            OnPaint();
        return false;
    }
};

// Runs the event loop until Done or the time is up; false on time-out. Done is looked at
// every millisecond from a timer, so the waiting itself costs next to no CPU time.
bool Until(const std::function<bool()>& done, int timeoutMs)
{
    if (done())
        return true;
    QEventLoop loop;
    QElapsedTimer clock;
    clock.start();
    bool met = false;
    QTimer check;
    check.setInterval(1);
    QObject::connect(&check, &QTimer::timeout, &loop, [&] {
        met = done();
        if (met || clock.elapsed() > timeoutMs)
            loop.quit();
    });
    check.start();
    loop.exec();
    return met;
}

} // namespace

int main(int argc, char** argv)
{
    TApplication app(argc, argv);
    int master = -1, slave = -1;
    char name[256] = {};
    if (::openpty(&master, &slave, name, nullptr, nullptr) != 0) {
        std::perror("openpty");
        return 1;
    }
    ::close(slave);
    QTemporaryDir dir;
    TermWindow window(dir.filePath(QStringLiteral("zentrop-term.ini")),
                       {QString::fromLocal8Bit(name), 115200});
    window.show();
    if (window.Connection() != TermWindow::ConnectionState::Connected) {
        std::fprintf(stderr, "bench_termapp: the window did not connect: %s\n", window.StatusText().toLocal8Bit().constData());
        return 1;
    }
    Until([] { return false; }, 300);
    std::printf("zentrop-term: device bytes to the screen (%d x %d cells, VT100 emulation)\n",
                window.Terminal()->Columns(), window.Terminal()->Rows());

    // 1. At the line's own rate.
    const QByteArray paced = LogText(static_cast<int>(kLineRate * kPacedSeconds));
    std::atomic<bool> writerDone{false};
    std::atomic<qint64> written{0};
    const double cpu0 = CpuSeconds();
    QElapsedTimer clock;
    clock.start();
    std::thread writer([&] {
        const auto start = std::chrono::steady_clock::now();
        constexpr int kPiece = 64;  // about 5.6 ms of the line
        for (qsizetype at = 0; at < paced.size(); at += kPiece) {
            std::this_thread::sleep_until(start + std::chrono::microseconds(static_cast<long long>(at * 1e6 / kLineRate)));
            const qsizetype piece = std::min<qsizetype>(kPiece, paced.size() - at);
            WriteAll(master, paced.constData() + at, piece);
            written += piece;
        }
        writerDone = true;
    });
    qint64 maxBehind = 0;
    Until([&] {
        // Behind what the device has sent, not behind the clock: a late writer is not the window's fault.
        maxBehind = std::max(maxBehind, written - window.ReceivedBytes());
        return writerDone && window.ReceivedBytes() >= paced.size();
    }, kPacedSeconds * 1000 + 10000);
    writer.join();
    const double lineSeconds = static_cast<double>(paced.size()) / kLineRate;
    const double took = static_cast<double>(clock.nsecsElapsed()) / 1e9;
    const double cpu = CpuSeconds() - cpu0;
    std::printf("  115200 baud, %lld bytes in %.2f s of line time: received %lld, done %.0f ms after the line,\n"
                "    at most %lld bytes (%.1f ms of line) behind the device; CPU %.2f s = %.1f%% of one core\n",
                static_cast<long long>(paced.size()), lineSeconds, static_cast<long long>(window.ReceivedBytes()),
                (took - lineSeconds) * 1000, static_cast<long long>(maxBehind), maxBehind * 1000.0 / kLineRate, cpu,
                cpu / took * 100);

    // 2. As fast as the pseudo-terminal takes it.
    const qint64 before = window.ReceivedBytes();
    const QByteArray fast = LogText(kFastBytes);
    writerDone = false;
    clock.restart();
    const double cpu1 = CpuSeconds();
    std::thread flood([&] {
        WriteAll(master, fast.constData(), fast.size());
        writerDone = true;
    });
    const bool allFast = Until([&] { return window.ReceivedBytes() - before >= fast.size(); }, 60000);
    flood.join();
    const double fastTook = static_cast<double>(clock.nsecsElapsed()) / 1e9;
    std::printf("  unpaced, %d bytes: %s in %.2f s = %.0f KB/s (%.1f times 115200 baud); CPU %.2f s\n", kFastBytes,
                allFast ? "all received" : "NOT all received", fastTook, fast.size() / fastTook / 1000,
                fast.size() / fastTook / kLineRate, CpuSeconds() - cpu1);

    // 3. One byte at a time: its write on the device's end to the paint that shows it.
    PaintWatch watch(window.Terminal()->viewport());
    std::vector<double> latencies;
    std::mt19937 random(3);
    qint64 expected = window.ReceivedBytes();
    bool waiting = false;
    QElapsedTimer sample;
    watch.OnPaint = [&] {
        if (waiting && window.ReceivedBytes() >= expected) {
            latencies.push_back(static_cast<double>(sample.nsecsElapsed()) / 1e6);
            waiting = false;
        }
    };
    for (int i = 0; i < kLatencySamples; ++i) {
        Until([] { return false; }, std::uniform_int_distribution<>(5, 25)(random));
        // A carriage return first, so the letter lands in the first column, always in view.
        const char bytes[2] = {'\r', static_cast<char>('A' + i % 26)};
        expected += 2;
        waiting = true;
        sample.start();
        WriteAll(master, bytes, 2);
        if (!Until([&] { return !waiting; }, 2000)) {
            waiting = false;
            std::printf("  a character was not painted within 2 s\n");
        }
    }
    std::sort(latencies.begin(), latencies.end());
    if (!latencies.empty()) {
        const auto at = [&latencies](double q) { return latencies[static_cast<size_t>(q * (latencies.size() - 1))]; };
        std::printf("  one character, device write to its paint, %zu samples: median %.2f ms, 95%% %.2f ms, worst %.2f ms\n",
                    latencies.size(), at(0.5), at(0.95), latencies.back());
    }
    ::close(master);
    return 0;
}
