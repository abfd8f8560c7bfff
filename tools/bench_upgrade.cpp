// bench_upgrade: times an upgrade of 64 KiB of Flash and 4 KiB of EEProm through the port
// engine against the simulated bootloader pacing its line at 115200 baud, and compares it
// with the time the line itself needs.
#include "app/BootComPort.h"
#include "app/Bootloader.h"
#include "app/UpgradeFile.h"
#include "bootsim/BootSim.h"
#include "upgtool/SampleUpgrade.h"

#include <QCoreApplication>
#include <QSaveFile>
#include <QStringList>
#include <QTemporaryDir>

#include <chrono>
#include <cstdio>
#include <sys/resource.h>
#include <thread>

namespace {

constexpr int kBaud = 115200;
constexpr int kBitsPerByte = 10; // start bit, 8 data bits, stop bit

// Counts the bytes that cross the line in each direction.
class CountingPort : public TBootPort {
public:
    explicit CountingPort(TBootPort& inner) : FInner(inner) {}
    bool Connected() const override { return FInner.Connected(); }
    void Open() override { FInner.Open(); }
    void PurgeBuffers(bool input, bool output) override { FInner.PurgeBuffers(input, output); }
    int Write(const void* buffer, int count) override
    {
        Sent += count;
        return FInner.Write(buffer, count);
    }
    int Read(void* buffer, int count) override
    {
        const int n = FInner.Read(buffer, count);
        Received += n;
        return n;
    }
    long long Sent = 0;
    long long Received = 0;

private:
    TBootPort& FInner;
};

// Reports nowhere but lets the event loop run after every byte, as the window does.
class QuietObserver : public TBootObserver {
public:
    void SetStatus(const QString&) override {}
    void StartProgress(int) override {}
    void StepProgress() override {}
    void ShowMessage(const QString& text) override { Messages << text; }
    void ProcessEvents() override { QCoreApplication::processEvents(); }
    QStringList Messages;
};

double ThreadCpuSeconds()
{
    rusage u{};
    getrusage(RUSAGE_THREAD, &u);
    return static_cast<double>(u.ru_utime.tv_sec + u.ru_stime.tv_sec) +
           static_cast<double>(u.ru_utime.tv_usec + u.ru_stime.tv_usec) / 1e6;
}

} // namespace

int main(int argc, char** argv)
{
    QCoreApplication app(argc, argv);
    sample::Layout layout;
    layout.FlashPageSize = 256;
    layout.FlashPages = 64 * 1024 / layout.FlashPageSize;
    layout.EEPromPageSize = 256;
    const QStringList args = QCoreApplication::arguments();
    if (args.size() == 3 && args[1] == "--eeprom-page-size")
        layout.EEPromPageSize = args[2].toInt();
    if (args.size() != 1 && (args.size() != 3 || layout.EEPromPageSize < 1 || layout.EEPromPageSize > 512)) {
        std::fprintf(stderr, "usage: bench_upgrade [--eeprom-page-size 1..512]\n");
        return 2;
    }
    layout.EEPromPages = 4 * 1024 / layout.EEPromPageSize;

    QTemporaryDir dir;
    const QString path = dir.filePath("bench.upg");
    QSaveFile out(path);
    if (!out.open(QIODevice::WriteOnly) || out.write(sample::UpgradeFile(layout)) < 0 || !out.commit()) {
        std::fprintf(stderr, "bench_upgrade: cannot write %s\n", path.toLocal8Bit().constData());
        return 1;
    }
    TUpgradeFile file;
    if (file.Load(path) != TUpgradeFile::Result::Loaded)
        return 1;

    bootsim::SimOptions options;
    options.Baud = kBaud;
    options.Device.FlashPageSize = layout.FlashPageSize;
    options.Device.EEPromPageSize = layout.EEPromPageSize;
    bootsim::Simulator sim(options);
    TComPort port;
    try {
        port.SetPort(sim.Open());
        sim.Start();
        SetUpgradeLineSettings(port, kBaud);
        port.Open();
    } catch (const std::exception& e) {
        std::fprintf(stderr, "bench_upgrade: %s\n", e.what());
        return 1;
    }

    TComPortLine line(port);
    CountingPort counted(line);
    QuietObserver observer;
    long long pausedMs = 0;
    TBootloader boot(counted, observer, [&](int ms) {
        pausedMs += ms;
        std::this_thread::sleep_for(std::chrono::milliseconds(ms));
    });

    const double cpuBefore = ThreadCpuSeconds();
    const auto start = std::chrono::steady_clock::now();
    TUpgradeResult result;
    try {
        result = boot.WriteToDevice(TUpgradeMode::Both, file.FlashPages(), file.EEPromPages());
    } catch (const Exception& e) {
        std::fprintf(stderr, "bench_upgrade: %s\n", e.Message().toLocal8Bit().constData());
        return 1;
    }
    const double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    const double cpu = ThreadCpuSeconds() - cpuBefore;

    const size_t pages = file.FlashPages().size() + file.EEPromPages().size();
    const bool allKept = sim.WaitFor([&](const bootsim::DeviceRecord& r) { return r.Pages.size() == pages; }, 5000);
    if (result != TUpgradeResult::Done || !allKept) {
        std::fprintf(stderr, "bench_upgrade: the upgrade failed: %s\n",
                     observer.Messages.join("; ").toLocal8Bit().constData());
        return 1;
    }

    const double lineSeconds = static_cast<double>(counted.Sent + counted.Received) * kBitsPerByte / kBaud;
    const double ideal = lineSeconds + static_cast<double>(pausedMs) / 1000.0;
    std::printf("upgrade: %zu Flash pages of %d bytes, %zu EEProm pages of %d bytes, %d baud\n",
                file.FlashPages().size(), layout.FlashPageSize, file.EEPromPages().size(), layout.EEPromPageSize,
                kBaud);
    std::printf("bytes sent %lld, answers received %lld, prescribed pauses %lld ms\n", counted.Sent,
                counted.Received, pausedMs);
    std::printf("line time %.3f s + pauses %.3f s = %.3f s; measured %.3f s\n", lineSeconds, pausedMs / 1000.0,
                ideal, seconds);
    std::printf("ratio measured / line: %.4f (goal: at most 1.05)\n", seconds / ideal);
    std::printf("CPU of the upgrade thread: %.3f s, %.2f us per byte sent\n", cpu,
                cpu * 1e6 / static_cast<double>(counted.Sent));
    return 0;
}
