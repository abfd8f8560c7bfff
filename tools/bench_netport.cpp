// bench_netport: the same upgrade (64 KiB of Flash, 4 KiB of EEProm) against the simulated
// bootloader pacing its line at 115200 baud, side by side in one run: opened directly on its
// pseudo-terminal, and through ser2net on the loopback, raw and with the COM port option,
// with the server passing each byte on at once and with its default character delay.
#include "upgrade/BootComPort.h"
#include "upgrade/Bootloader.h"
#include "upgrade/UpgradeFile.h"
#include "testsupport/BootSim.h"
#include "testsupport/Ser2netServer.h"
#include "testsupport/SampleUpgrade.h"

#include <QCoreApplication>
#include <QSaveFile>
#include <QStringList>
#include <QTemporaryDir>

#include <chrono>
#include <cstdio>
#include <thread>

using namespace zentrop;

namespace {

constexpr int kBaud = 115200;

class QuietObserver : public UpgradeObserver {
public:
    void RunEnded(const RunEnd& end) override
    {
        if (!end.Message.isEmpty())
            Messages << end.Message;
    }
    void ByteSent() override { QCoreApplication::processEvents(); }
    QStringList Messages;
};

enum class Way { Direct, Raw, Telnet };

struct Case {
    const char* name;
    Way way;
    bool charDelay;
};

// Seconds the upgrade took, or a negative number when it failed.
double Run(const Case& c, const UpgradeFile& file, const sample::Layout& layout)
{
    bootsim::SimOptions options;
    options.Baud = kBaud;
    options.Device.FlashPageSize = layout.FlashPageSize;
    options.Device.EEPromPageSize = layout.EEPromPageSize;
    bootsim::Simulator sim(options);
    ser2net::Server server;
    TComPort port;
    try {
        const QString path = sim.Open();
        sim.Start();
        QString name = path;
        if (c.way != Way::Direct) {
            QString error;
            if (!server.Start(path, c.charDelay, &error)) {
                std::fprintf(stderr, "bench_netport: %s\n", error.toLocal8Bit().constData());
                return -1;
            }
            name = c.way == Way::Raw ? server.RawUrl() : server.Rfc2217Url();
        }
        SetUpgradeLineSettings(port, kBaud);
        port.SetPort(name);
        port.Open();
    } catch (const Exception& e) {
        std::fprintf(stderr, "bench_netport: %s\n", e.Message().toLocal8Bit().constData());
        return -1;
    } catch (const std::exception& e) {
        std::fprintf(stderr, "bench_netport: %s\n", e.what());
        return -1;
    }
    ComPortLine line(port);
    QuietObserver observer;
    Bootloader boot(line, observer, [](int ms) { std::this_thread::sleep_for(std::chrono::milliseconds(ms)); });
    const auto start = std::chrono::steady_clock::now();
    UpgradeResult result;
    try {
        result = boot.WriteToDevice(UpgradeMode::Both, file.FlashPages(), file.EEPromPages());
    } catch (const Exception& e) {
        std::fprintf(stderr, "bench_netport: %s\n", e.Message().toLocal8Bit().constData());
        return -1;
    }
    const double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    const size_t pages = file.FlashPages().size() + file.EEPromPages().size();
    if (result != UpgradeResult::Done
        || !sim.WaitFor([&](const bootsim::DeviceRecord& r) { return r.Pages.size() == pages; }, 5000)) {
        std::fprintf(stderr, "bench_netport: %s: the upgrade failed: %s\n", c.name,
                     observer.Messages.join("; ").toLocal8Bit().constData());
        return -1;
    }
    try {
        port.Close();
    } catch (const Exception&) {
    }
    return seconds;
}

} // namespace

int main(int argc, char** argv)
{
    QCoreApplication app(argc, argv);
    const QStringList args = QCoreApplication::arguments();
    int rounds = 1;
    if (args.size() == 3 && args[1] == "--rounds")
        rounds = args[2].toInt();
    if ((args.size() != 1 && args.size() != 3) || rounds < 1) {
        std::fprintf(stderr, "usage: bench_netport [--rounds N]\n");
        return 2;
    }
    if (ser2net::Server::Program().isEmpty()) {
        std::fprintf(stderr, "bench_netport: ser2net is not installed (tools/setup.sh installs it)\n");
        return 1;
    }
    sample::Layout layout;
    layout.FlashPageSize = 256;
    layout.FlashPages = 64 * 1024 / layout.FlashPageSize;
    layout.EEPromPageSize = 256;
    layout.EEPromPages = 4 * 1024 / layout.EEPromPageSize;
    QTemporaryDir dir;
    const QString path = dir.filePath("bench.upg");
    QSaveFile out(path);
    UpgradeFile file;
    if (!out.open(QIODevice::WriteOnly) || out.write(sample::UpgradeFileBytes(layout)) < 0 || !out.commit()
        || file.Load(path) != UpgradeFile::Result::Loaded) {
        std::fprintf(stderr, "bench_netport: cannot make %s\n", path.toLocal8Bit().constData());
        return 1;
    }

    const Case cases[] = {
        {"direct on the pseudo-terminal", Way::Direct, false},
        {"socket:// through ser2net", Way::Raw, false},
        {"rfc2217:// through ser2net", Way::Telnet, false},
        {"socket:// through ser2net, chardelay on", Way::Raw, true},
        {"rfc2217:// through ser2net, chardelay on", Way::Telnet, true},
    };
    constexpr int kCases = sizeof cases / sizeof cases[0];
    double total[kCases] = {};
    // Rounds take the cases in turn, so that a change in the machine's load falls on all.
    for (int r = 0; r < rounds; ++r) {
        for (int i = 0; i < kCases; ++i) {
            const double s = Run(cases[i], file, layout);
            if (s < 0)
                return 1;
            total[i] += s;
        }
    }
    std::printf("upgrade: %zu Flash pages and %zu EEProm pages of 256 bytes, %d baud, %d round(s)\n",
                file.FlashPages().size(), file.EEPromPages().size(), kBaud, rounds);
    for (int i = 0; i < kCases; ++i)
        std::printf("%-42s %7.3f s  %+6.2f %%\n", cases[i].name, total[i] / rounds,
                    (total[i] / total[0] - 1.0) * 100.0);
    std::printf("goal: through ser2net (each byte passed on at once) within 2 %% of direct\n");
    return 0;
}
