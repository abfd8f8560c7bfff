// bench_multi: the same upgrade on one simulated device and on eight at once, each pacing its
// line at 115200 baud, run by zentrop-cli flash as a user would; prints both times and their
// ratio, which the parallel upgrade keeps near 1.
#include "testsupport/BootSim.h"
#include "testsupport/SampleUpgrade.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QProcess>
#include <QSaveFile>
#include <QTemporaryDir>

#include <algorithm>
#include <cstdio>
#include <memory>
#include <vector>

using namespace zentrop;

namespace {

constexpr int kBaud = 115200;
constexpr int kDevices = 8;
constexpr int kRounds = 3;

// One run of the command line on n fresh devices; seconds from start to exit, or -1.
double Run(const QString& cli, const QString& file, int n, const sample::Layout& layout)
{
    std::vector<std::unique_ptr<bootsim::Simulator>> sims;
    QStringList args{"flash", "--mode", "both"};
    for (int i = 0; i < n; ++i) {
        bootsim::SimOptions o;
        o.Baud = kBaud;
        o.Device.FlashPageSize = layout.FlashPageSize;
        o.Device.EEPromPageSize = layout.EEPromPageSize;
        sims.push_back(std::make_unique<bootsim::Simulator>(o));
        args << "--port" << sims.back()->Open();
        sims.back()->Start();
    }
    args << file;
    QProcess p;
    p.setStandardErrorFile(QProcess::nullDevice());
    QElapsedTimer clock;
    clock.start();
    p.start(cli, args);
    if (!p.waitForFinished(120000) || p.exitStatus() != QProcess::NormalExit || p.exitCode() != 0) {
        std::fprintf(stderr, "bench_multi: zentrop-cli failed with %d devices\n", n);
        return -1;
    }
    const double seconds = static_cast<double>(clock.nsecsElapsed()) / 1e9;
    for (auto& s : sims) {
        if (!s->WaitFor([](const bootsim::DeviceRecord& r) { return r.Jumps == 1; }, 5000)) {
            std::fprintf(stderr, "bench_multi: a device was not upgraded\n");
            return -1;
        }
        s->Stop();
        s->Join();
    }
    return seconds;
}

double Median(std::vector<double> v)
{
    std::sort(v.begin(), v.end());
    return v[v.size() / 2];
}

} // namespace

int main(int argc, char** argv)
{
    QCoreApplication app(argc, argv);
    const QString cli = QCoreApplication::applicationDirPath() + QStringLiteral("/zentrop-cli");
    sample::Layout layout;
    layout.FlashPages = 64;
    layout.FlashPageSize = 256;
    layout.EEPromPages = 16;
    layout.EEPromPageSize = 32;
    QTemporaryDir dir;
    const QString file = dir.filePath(QStringLiteral("bench.upg"));
    QSaveFile out(file);
    if (!out.open(QIODevice::WriteOnly) || out.write(sample::UpgradeFileBytes(layout)) < 0 || !out.commit())
        return 1;

    std::vector<double> one, many;
    for (int round = 0; round < kRounds; ++round) {
        one.push_back(Run(cli, file, 1, layout));
        many.push_back(Run(cli, file, kDevices, layout));
        if (one.back() < 0 || many.back() < 0)
            return 1;
    }
    const double t1 = Median(one);
    const double tn = Median(many);
    std::printf("zentrop-cli flash --mode both, 16 KiB Flash + 512 B EEProm per device, lines paced at %d baud\n", kBaud);
    std::printf("  1 device:  %.3f s (median of %d)\n", t1, kRounds);
    std::printf("  %d devices: %.3f s (median of %d)\n", kDevices, tn, kRounds);
    std::printf("  ratio %d devices / 1 device: %.3f (target at most 1.1)\n", kDevices, tn / t1);
    return 0;
}
