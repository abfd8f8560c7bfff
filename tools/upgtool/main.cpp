// zentrop-upgtool: writes sample upgrade files and checks what the simulated device received
// against an upgrade file's pages.
#include "testsupport/SampleUpgrade.h"

#include "upgrade/UpgradeFile.h"
#include "testsupport/BootSim.h"
#include "testsupport/SimImages.h"

#include <QCoreApplication>
#include <QSaveFile>
#include <QStringList>

#include <cstdio>

using namespace zentrop;

namespace {

const char* const kUsage =
    "usage:\n"
    "  zentrop-upgtool sample [--flash-pages N] [--flash-page-size N] [--eeprom-pages N]\n"
    "                         [--eeprom-page-size N] OUT.upg\n"
    "  zentrop-upgtool verify [--mode flash|eeprom|both] FILE.upg RECORD.json\n"
    "      compares the pages the simulator kept (its --images file) with the file's pages;\n"
    "      prints PASS or FAIL and exits 0 or 1\n";

int Usage(const QString& error)
{
    std::fprintf(stderr, "zentrop-upgtool: %s\n%s", error.toLocal8Bit().constData(), kUsage);
    return 2;
}

int Sample(const QStringList& args)
{
    sample::Layout layout;
    QString out;
    for (qsizetype i = 0; i < args.size(); ++i) {
        const QString& a = args[i];
        int* field = a == "--flash-pages"        ? &layout.FlashPages
                     : a == "--flash-page-size"  ? &layout.FlashPageSize
                     : a == "--eeprom-pages"     ? &layout.EEPromPages
                     : a == "--eeprom-page-size" ? &layout.EEPromPageSize
                                                 : nullptr;
        if (field) {
            bool ok = false;
            *field = i + 1 < args.size() ? args[++i].toInt(&ok) : 0;
            // Page bodies hold at most 512 bytes and addresses 16 bits.
            if (!ok || *field < 0 || (field != &layout.FlashPages && field != &layout.EEPromPages && *field > 512))
                return Usage(a + " needs a number (page sizes up to 512)");
        } else if (a.startsWith("--") || !out.isEmpty()) {
            return Usage("unexpected argument \"" + a + "\"");
        } else {
            out = a;
        }
    }
    if (out.isEmpty())
        return Usage("sample needs an output file");
    if ((layout.FlashPages - 1) * layout.FlashPageSize > 0xFFFF ||
        (layout.EEPromPages - 1) * layout.EEPromPageSize > 0xFFFF)
        return Usage("the pages do not fit in 16-bit addresses");
    QSaveFile file(out);
    if (!file.open(QIODevice::WriteOnly) || file.write(sample::UpgradeFileBytes(layout)) < 0 || !file.commit()) {
        std::fprintf(stderr, "zentrop-upgtool: cannot write %s: %s\n", out.toLocal8Bit().constData(),
                     file.errorString().toLocal8Bit().constData());
        return 1;
    }
    return 0;
}

// Compares one memory's pages in order; returns the number that match and reports the first
// difference.
int Compare(const char* memory, const PageList& expected, const std::vector<bootsim::ReceivedPage>& got,
            QStringList& problems)
{
    int matching = 0;
    for (size_t i = 0; i < expected.size() && i < got.size(); ++i) {
        if (expected[i].Address == got[i].Address && expected[i].Data == got[i].Data) {
            ++matching;
        } else if (problems.isEmpty()) {
            problems << QString::asprintf("%s page %zu: expected %d bytes at 0x%04X, received %d bytes at 0x%04X",
                                          memory, i + 1, static_cast<int>(expected[i].Data.size()),
                                          static_cast<unsigned>(expected[i].Address),
                                          static_cast<int>(got[i].Data.size()), static_cast<unsigned>(got[i].Address));
        }
    }
    if (expected.size() != got.size())
        problems << QString::asprintf("%s: %zu pages expected, %zu received", memory, expected.size(), got.size());
    return matching;
}

int Verify(const QStringList& args)
{
    QString mode = "both";
    QStringList files;
    for (qsizetype i = 0; i < args.size(); ++i) {
        if (args[i] == "--mode" && i + 1 < args.size())
            mode = args[++i];
        else if (args[i].startsWith("--"))
            return Usage("unexpected argument \"" + args[i] + "\"");
        else
            files << args[i];
    }
    if (files.size() != 2 || (mode != "flash" && mode != "eeprom" && mode != "both"))
        return Usage("verify needs a mode of flash, eeprom or both, an upgrade file and a record");

    UpgradeFile file;
    bootsim::DeviceRecord record;
    try {
        if (file.Load(files[0]) != UpgradeFile::Result::Loaded) {
            std::fprintf(stderr, "zentrop-upgtool: %s: CRC error!\n", files[0].toLocal8Bit().constData());
            return 1;
        }
        record = bootsim::ReadRecordFile(files[1]);
    } catch (const Exception& e) {
        std::fprintf(stderr, "zentrop-upgtool: %s\n", e.Message().toLocal8Bit().constData());
        return 1;
    } catch (const bootsim::SimError& e) {
        std::fprintf(stderr, "zentrop-upgtool: %s\n", e.what());
        return 1;
    }

    std::vector<bootsim::ReceivedPage> flash, eeprom;
    qsizetype bytes = 0;
    for (const bootsim::ReceivedPage& p : record.Pages) {
        (p.Where == bootsim::Memory::Flash ? flash : eeprom).push_back(p);
        bytes += p.Data.size();
    }
    const PageList none;
    const PageList& wantFlash = mode != "eeprom" ? file.FlashPages() : none;
    const PageList& wantEEProm = mode != "flash" ? file.EEPromPages() : none;
    QStringList problems;
    const int flashOk = Compare("Flash", wantFlash, flash, problems);
    const int eepromOk = Compare("EEProm", wantEEProm, eeprom, problems);
    if (record.Jumps < 1)
        problems << "the device was never told to start its application";

    const QString counts = QString::asprintf("Flash %d/%zu pages, EEProm %d/%zu pages, %lld bytes received",
                                             flashOk, wantFlash.size(), eepromOk, wantEEProm.size(),
                                             static_cast<long long>(bytes));
    if (problems.isEmpty()) {
        std::printf("PASS: %s\n", counts.toLocal8Bit().constData());
        return 0;
    }
    std::printf("FAIL: %s\n", counts.toLocal8Bit().constData());
    for (const QString& p : problems)
        std::printf("  %s\n", p.toLocal8Bit().constData());
    return 1;
}

} // namespace

int main(int argc, char** argv)
{
    QCoreApplication app(argc, argv);
    const QStringList args = QCoreApplication::arguments().mid(1);
    if (args.isEmpty())
        return Usage("no command given");
    if (args[0] == "sample")
        return Sample(args.mid(1));
    if (args[0] == "verify")
        return Verify(args.mid(1));
    if (args[0] == "--help" || args[0] == "-h") {
        std::fputs(kUsage, stdout);
        return 0;
    }
    return Usage("unknown command \"" + args[0] + "\"");
}
