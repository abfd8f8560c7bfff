// zentrop-bootsim: a bootloader on the far end of a pseudo-terminal, for tests, demos and
// benchmarks. Prints the path the host opens, answers like a device, writes what it kept.
#include "testsupport/BootSim.h"
#include "testsupport/SimImages.h"

#include <QCoreApplication>
#include <QStringList>

#include <csignal>
#include <cstdio>

using namespace zentrop;

namespace {

const char* const kUsage =
    "usage: zentrop-bootsim [options]\n"
    "Acts as the bootloader on a new pseudo-terminal and prints the path of the end that the\n"
    "host opens as its first line on standard output.\n"
    "  --device PATH          serve this serial device instead of a pseudo-terminal\n"
    "  --baud RATE            pace the line at RATE (10 bits a byte each way); with --device,\n"
    "                         the device's line speed. Default: no pacing\n"
    "  --page-size N          Flash and EEProm page size\n"
    "  --flash-page-size N    Flash page size (default 256)\n"
    "  --eeprom-page-size N   EEProm page size (default 32; both as zentrop-upgtool sample makes them)\n"
    "  --idle-gap MS          also end a page after MS ms of silence (default 0: off)\n"
    "  --wake-reply HEX       bytes sent when woken (the host discards them)\n"
    "  --banner TEXT          what the started application prints after \"J\" (\\r and \\n for\n"
    "                         line ends; default \"Zentrop sample application ready\\r\\n\")\n"
    "  --fail-at FAULT        misbehave at one command: CMD[#N][+K][:silent|:wrong[=HEX]|:hangup|:twice],\n"
    "                         CMD one of F E A Z D, N its occurrence (default 1), +K hang up\n"
    "                         after K data bytes; may be given more than once\n"
    "  --images FILE          write the received pages as JSON to FILE when ending\n"
    "  --exit-after-jump      end once the host has sent \"J\"\n"
    "  --verbose              log every command on standard error\n"
    "A data command carries no length: a page ends when it reaches the page size of the\n"
    "selected memory, or, with --idle-gap, when the host has been silent that long (it waits\n"
    "for the answer after its last data byte). Pages longer than the page size confuse the\n"
    "device as they would a real one.\n";

bootsim::Simulator* gSimulator = nullptr;

void OnSignal(int)
{
    if (gSimulator)
        gSimulator->Stop();
}

[[noreturn]] void Usage(const QString& error)
{
    std::fprintf(stderr, "zentrop-bootsim: %s\n%s", error.toLocal8Bit().constData(), kUsage);
    std::exit(2);
}

int PositiveNumber(const QString& option, const QString& text, int minimum)
{
    bool ok = false;
    const int n = text.toInt(&ok);
    if (!ok || n < minimum)
        Usage(QStringLiteral("%1 needs a number of at least %2, not \"%3\"").arg(option).arg(minimum).arg(text));
    return n;
}

} // namespace

int main(int argc, char** argv)
{
    QCoreApplication app(argc, argv);
    const QStringList args = QCoreApplication::arguments().mid(1);

    bootsim::SimOptions options;
    // A started application says so, as a real one would, for the application check.
    options.Device.AppBanner = "Zentrop sample application ready\r\n";
    QString imagesPath;
    bool verbose = false;
    for (qsizetype i = 0; i < args.size(); ++i) {
        const QString& a = args[i];
        auto value = [&]() -> QString {
            if (i + 1 >= args.size())
                Usage(a + QStringLiteral(" needs a value"));
            return args[++i];
        };
        if (a == "--help" || a == "-h") {
            std::fputs(kUsage, stdout);
            return 0;
        } else if (a == "--device") {
            options.DevicePath = value();
        } else if (a == "--baud") {
            options.Baud = PositiveNumber(a, value(), 1);
        } else if (a == "--page-size") {
            options.Device.FlashPageSize = options.Device.EEPromPageSize = PositiveNumber(a, value(), 1);
        } else if (a == "--flash-page-size") {
            options.Device.FlashPageSize = PositiveNumber(a, value(), 1);
        } else if (a == "--eeprom-page-size") {
            options.Device.EEPromPageSize = PositiveNumber(a, value(), 1);
        } else if (a == "--idle-gap") {
            options.Device.IdleGapMs = PositiveNumber(a, value(), 0);
        } else if (a == "--wake-reply") {
            const QString hex = value();
            options.Device.WakeReply = QByteArray::fromHex(hex.toLatin1());
            if (options.Device.WakeReply.size() * 2 != hex.size())
                Usage(QStringLiteral("--wake-reply needs hexadecimal bytes, not \"%1\"").arg(hex));
        } else if (a == "--banner") {
            options.Device.AppBanner = value().toUtf8().replace("\\r", "\r").replace("\\n", "\n");
        } else if (a == "--fail-at") {
            QString error;
            const std::optional<bootsim::Fault> f = bootsim::Fault::Parse(value(), &error);
            if (!f)
                Usage(error);
            options.Device.Faults.push_back(*f);
        } else if (a == "--images") {
            imagesPath = value();
        } else if (a == "--exit-after-jump") {
            options.StopAfterJump = true;
        } else if (a == "--verbose") {
            verbose = true;
        } else {
            Usage(QStringLiteral("unknown argument \"%1\"").arg(a));
        }
    }
    if (verbose) {
        options.OnLog = [](const QString& line) {
            std::fprintf(stderr, "bootsim: %s\n", line.toLocal8Bit().constData());
        };
    }

    bootsim::Simulator sim(options);
    try {
        const QString path = sim.Open();
        std::printf("%s\n", path.toLocal8Bit().constData());
        std::fflush(stdout);
        gSimulator = &sim;
        struct sigaction sa {};
        sa.sa_handler = OnSignal;
        sigaction(SIGINT, &sa, nullptr);
        sigaction(SIGTERM, &sa, nullptr);
        sim.Run();
        gSimulator = nullptr;
        if (!imagesPath.isEmpty())
            bootsim::WriteRecordFile(imagesPath, sim.Snapshot());
    } catch (const bootsim::SimError& e) {
        std::fprintf(stderr, "zentrop-bootsim: %s\n", e.what());
        return 1;
    }
    return 0;
}
