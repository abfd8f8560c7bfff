// bench_termwindow: received text to pixels. 1 MiB of mixed text goes into the terminal window
// as the port hands over received data (chunks of at most 1024 bytes, the event loop running
// between them): once as fast as the window takes it, timed until the window has painted the
// last byte, once paced at 400 KB/s (4 Mbaud). It prints the time, the frames painted, the CPU
// time of this process and of the display server, and how far the paced run fell behind the line.
#include "gui/Terminal.h"
#include "cportctl/ComTerminal.h"
#include "forms/Application.h"

#include <QDir>
#include <QElapsedTimer>
#include <functional>
#include <QFile>
#include <QTest>
#include <QTimer>

#include <algorithm>
#include <cstdio>
#include <random>
#include <sys/resource.h>
#include <unistd.h>

using namespace zentrop;

namespace {

constexpr int kTotal = 1 << 20;
constexpr int kChunk = 1024;
constexpr double kPacedRate = 400000.0;   // bytes per second: 4 Mbaud with 10 bits a byte

// Counts the paint events of the terminal's client area and tells OnPaint of each.
class FrameCounter : public QObject {
public:
    explicit FrameCounter(QWidget* Viewport) { Viewport->installEventFilter(this); }
    long Frames = 0;
    std::function<void()> OnPaint;

protected:
    bool eventFilter(QObject*, QEvent* Event) override
    {
        if (Event->type() == QEvent::Paint) {
            ++Frames;
            if (OnPaint)
                OnPaint();
        }
        return false;
    }
};

// How long the unpaced run waits for the window to paint the last byte.
constexpr int kShowTimeoutMs = 10000;

// Lines of words of varied length, some with tabs and backspaces, ended by CR LF; what a device
// log looks like, with now and then a long line that runs past the window's edge.
QByteArray MixedText()
{
    std::mt19937 random(12345);
    QByteArray text;
    text.reserve(kTotal + 200);
    while (text.size() < kTotal) {
        const int words = std::uniform_int_distribution<>(0, random() % 17 == 0 ? 30 : 12)(random);
        for (int w = 0; w < words; ++w) {
            const int length = std::uniform_int_distribution<>(1, 9)(random);
            for (int i = 0; i < length; ++i)
                text += static_cast<char>(std::uniform_int_distribution<>(33, 126)(random));
            const int gap = std::uniform_int_distribution<>(0, 20)(random);
            text += gap == 0 ? '\t' : gap == 1 ? '\b' : ' ';
        }
        text += "\r\n";
    }
    text.truncate(kTotal);
    return text;
}

double CpuSeconds()
{
    rusage usage{};
    getrusage(RUSAGE_SELF, &usage);
    return usage.ru_utime.tv_sec + usage.ru_stime.tv_sec + (usage.ru_utime.tv_usec + usage.ru_stime.tv_usec) / 1e6;
}

// CPU seconds of the display server serving DISPLAY (an Xvfb started for this run), or -1.
double ServerCpuSeconds()
{
    const QByteArray display = qgetenv("DISPLAY");
    const long ticks = sysconf(_SC_CLK_TCK);
    for (const QString& pid : QDir(QStringLiteral("/proc")).entryList(QDir::Dirs)) {
        QFile cmdline(QStringLiteral("/proc/%1/cmdline").arg(pid));
        if (!cmdline.open(QIODevice::ReadOnly))
            continue;
        const QList<QByteArray> args = cmdline.readAll().split('\0');
        if (args.size() < 2 || !args[0].endsWith("Xvfb") || args[1] != display)
            continue;
        QFile stat(QStringLiteral("/proc/%1/stat").arg(pid));
        if (!stat.open(QIODevice::ReadOnly))
            return -1;
        const QByteArray line = stat.readAll();
        // Fields after the command's closing parenthesis; utime and stime are the 12th and 13th.
        const QList<QByteArray> fields = line.mid(line.lastIndexOf(')') + 2).split(' ');
        if (fields.size() < 13)
            return -1;
        return (fields[11].toDouble() + fields[12].toDouble()) / static_cast<double>(ticks);
    }
    return -1;
}

struct Result {
    double Seconds = 0;
    double Cpu = 0;
    double ServerCpu = -1;
    long Frames = 0;
    double Behind = 0;   // seconds the last byte was shown after it arrived on the line
    bool Shown = true;   // the unpaced run saw the last byte painted in time
};

// Hands Text to the terminal; with a rate, each chunk only when the line would have carried it.
// Without one, the clock runs until a paint after the last chunk finds every changed cell taken
// for the display: what that paint draws is the final screen.
Result Run(TwTerminal& Window, const QByteArray& Text, double Rate)
{
    TComTerminal* t = Window.ComTerminal1;
    FrameCounter counter(t->viewport());
    QCoreApplication::processEvents();
    counter.Frames = 0;
    const double cpu0 = CpuSeconds();
    const double server0 = ServerCpuSeconds();
    QElapsedTimer clock;
    clock.start();
    qint64 done = 0;
    // Each turn of the event loop delivers what the line has carried by then (a chunk at a
    // time), as the port's received-data events would; paint requests are served in between.
    QEventLoop loop;
    QTimer delivery;
    delivery.setTimerType(Qt::PreciseTimer);
    delivery.setInterval(Rate > 0 ? 1 : 0);
    delivery.callOnTimeout([&] {
        const qint64 due = Rate > 0
            ? std::min<qint64>(Text.size(), static_cast<qint64>(clock.nsecsElapsed() / 1e9 * Rate))
            : Text.size();
        if (due > done) {
            const int n = static_cast<int>(std::min<qint64>(kChunk, due - done));
            t->ComLink()->OnRxData(nullptr, Text.constData() + done, n);
            done += n;
        }
        if (done < Text.size())
            return;
        delivery.stop();
        if (Rate > 0)
            loop.quit();
    });
    bool shown = false;
    QTimer giveUp;
    if (Rate <= 0) {
        counter.OnPaint = [&] {
            if (done == Text.size() && !t->Buffer().Damaged()) {
                shown = true;
                // The loop ends once this paint has been carried out.
                loop.quit();
            }
        };
        giveUp.setSingleShot(true);
        giveUp.callOnTimeout(&loop, &QEventLoop::quit);
        giveUp.start(kShowTimeoutMs);
    }
    delivery.start();
    loop.exec();
    delivery.stop();
    counter.OnPaint = nullptr;
    // Everything asked for is painted and on the display.
    QCoreApplication::processEvents();
    QCoreApplication::processEvents();
    Result r;
    r.Seconds = clock.nsecsElapsed() / 1e9;
    r.Cpu = CpuSeconds() - cpu0;
    const double server1 = ServerCpuSeconds();
    if (server0 >= 0 && server1 >= 0)
        r.ServerCpu = server1 - server0;
    r.Frames = counter.Frames;
    if (Rate > 0)
        r.Behind = std::max(0.0, r.Seconds - Text.size() / Rate);
    else
        r.Shown = shown;
    return r;
}

void Print(const char* Title, const Result& r, qint64 Bytes)
{
    std::printf("%s\n", Title);
    std::printf("  %lld bytes in %.3f s (%.0f KB/s), %ld frames (%.0f per second)\n", static_cast<long long>(Bytes),
                r.Seconds, Bytes / r.Seconds / 1000, r.Frames, r.Frames / r.Seconds);
    std::printf("  CPU of this process: %.3f s (%.0f%% of one core)", r.Cpu, 100 * r.Cpu / r.Seconds);
    if (r.ServerCpu >= 0)
        std::printf(", of the display server: %.3f s (%.0f%%)", r.ServerCpu, 100 * r.ServerCpu / r.Seconds);
    std::printf("\n");
}

} // namespace

int main(int argc, char** argv)
{
    QApplication::setStyle(QStringLiteral("Windows"));
    TApplication application(argc, argv);
    const QByteArray text = MixedText();

    TwTerminal window(nullptr);
    window.show();
    if (!QTest::qWaitForWindowExposed(&window)) {
        std::fprintf(stderr, "bench_termwindow: the window did not appear\n");
        return 1;
    }
    std::printf("Terminal window %dx%d, cells %dx%d pixels, grid %dx%d, 1 MiB of mixed text in chunks of at most %d bytes\n",
                window.ComTerminal1->viewport()->width(), window.ComTerminal1->viewport()->height(),
                window.ComTerminal1->FontWidth(), window.ComTerminal1->FontHeight(), window.ComTerminal1->Columns(),
                window.ComTerminal1->Rows(), kChunk);

    const Result fast = Run(window, text, 0);
    Print("As fast as the window takes it, until the last byte is painted:", fast, text.size());
    if (!fast.Shown)
        std::printf("  the last byte was not painted within %d s\n", kShowTimeoutMs / 1000);
    const Result paced = Run(window, text, kPacedRate);
    Print("Paced at 400 KB/s (4 Mbaud):", paced, text.size());
    std::printf("  last byte shown %.3f s after the line delivered it: %s\n", paced.Behind,
                paced.Behind < 0.1 ? "keeps up" : "FALLS BEHIND");
    return 0;
}
