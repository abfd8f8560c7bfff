// "pack": an upgrade file made from a build's Intel HEX or raw binary images.
#include "Cli.h"
#include "FlashResults.h"
#include "cmdline/Options.h"

#include "upgrade/UpgradePack.h"
#include "base/Ansi.h"

#include <QFile>
#include <QFileInfo>
#include <QSaveFile>

#include <cstdio>

namespace zentrop {

namespace cli {

namespace {

// A HEX file of a full 16 MiB image is about 45 MiB; nothing that fits an upgrade file is larger.
constexpr qint64 kLargestInput = 64 * 1024 * 1024;

const CommandSyntax kPack{
    QStringLiteral("pack"),
    QStringLiteral("--flash FIRMWARE.hex|.bin [--eeprom DATA.hex|.bin] [OPTIONS] -o OUT.upg"),
    QStringLiteral("makes an upgrade file from a build's Intel HEX or raw binary files"),
    QStringLiteral(
        "Makes an upgrade file from the build. Intel HEX files (data, end-of-file, extended segment\n"
        "and extended linear address records; start addresses are noted and ignored) and raw binary\n"
        "files (.bin, .raw: the first byte at the base address) are cut into pages of the page size\n"
        "at multiples of it from the base address, each filled up to the whole page with 0xFF. Pages\n"
        "whose every byte is 0xFF are left out unless --keep-blank is given. Page addresses are\n"
        "counted from the base address and end at 0xFFFF; page sizes are 1 to 512 bytes.\n"
        "A damaged HEX file is refused with its line number and the reason, and no output is written."),
    [] {
        std::vector<OptionSyntax> options = PackOptions();
        options.push_back({QStringLiteral("output"), 'o', QStringLiteral("OUT.upg"), QStringLiteral("the upgrade file to write")});
        return options;
    }(),
};

void Err(const QString& text)
{
    PrintLine(stderr, QStringLiteral("zentrop-cli: ") + text);
}

// A failure that names its file; the command ends with the given status.
struct PackError {
    QString Text;
    int Status;
};

QByteArray ReadInput(const QString& path)
{
    if (const QString problem = InputFileProblem(path); !problem.isEmpty())
        throw PackError{QStringLiteral("%1: %2").arg(path, problem), ExitFileRejected};
    if (const qint64 size = QFileInfo(path).size(); size > kLargestInput)
        throw PackError{QStringLiteral("%1: %2 bytes, more than the 64 MiB that any image fitting an upgrade file needs")
                            .arg(path)
                            .arg(size),
                        ExitFileRejected};
    QFile f(path);
    if (!f.open(QIODevice::ReadOnly))
        throw PackError{QStringLiteral("%1: %2").arg(path, f.errorString()), ExitFileRejected};
    return f.read(kLargestInput + 1);
}

bool IsBinaryName(const QString& path)
{
    const QString suffix = QFileInfo(path).suffix().toLower();
    return suffix == QLatin1String("bin") || suffix == QLatin1String("raw");
}

// Where an AVR toolchain's ELF file keeps the EEPROM section; a HEX file made of the whole ELF
// carries it there, beyond anything a Flash page can address.
constexpr uint64_t kElfEepromStart = 0x810000;
constexpr uint64_t kElfEepromEnd = 0x820000;

PageList PagesOf(const QString& path, const PackLayout& layout)
{
    const QByteArray bytes = ReadInput(path);
    if (bytes.startsWith("\x7F" "ELF"))
        throw PackError{QStringLiteral("%1 is an ELF program, not an image: convert it to Intel HEX, the program memory "
                                       "with \"objcopy -O ihex -R .eeprom %1 FW.hex\" and the data memory with "
                                       "\"objcopy -O ihex -j .eeprom --change-section-lma .eeprom=0 %1 EE.hex\".")
                            .arg(path),
                        ExitFileRejected};
    try {
        // A HEX file is refused at its first record out of the page addresses' reach, before
        // the rest of a file that may be huge is read.
        std::optional<uint64_t> lowest;
        const HexDataCheck reach = [&](uint64_t address, qsizetype size, int line) {
            if (address >= kElfEepromStart && address < kElfEepromEnd && layout.Base < kElfEepromStart)
                throw EHexFileError(line, QStringLiteral("holds data at 0x%1, where an AVR ELF file keeps its EEPROM "
                                                         "section: make the HEX files of the ELF with \"objcopy -O "
                                                         "ihex -R .eeprom FW.elf FW.hex\" for --flash and \"objcopy -O "
                                                         "ihex -j .eeprom --change-section-lma .eeprom=0 FW.elf EE.hex\" "
                                                         "for --eeprom")
                                                  .arg(QString::number(address, 16).toUpper()));
            CheckPageReach(address, size, line, layout, lowest);
            lowest = std::min(lowest.value_or(address), address);
        };
        const HexImage image = IsBinaryName(path) ? BinaryImage(bytes, layout.Base) : ReadIntelHex(bytes, reach);
        for (const auto& [line, note] : image.Notes)
            Err(QStringLiteral("%1:%2: note: %3").arg(path).arg(line).arg(note));
        return CutPages(image, layout);
    } catch (const EHexFileError& e) {
        // GNU style "file:line: reason", which editors and build logs can jump to.
        const QString where = IsBinaryName(path) ? path : QStringLiteral("%1:%2").arg(path).arg(e.Line());
        throw PackError{QStringLiteral("%1: %2").arg(where, e.Reason()), ExitFileRejected};
    }
}

int PageSize(const ParsedOptions& o, const QString& name, int fallback)
{
    if (!o.Has(name))
        return fallback;
    const std::optional<qint64> n = ParseNumber(o.Value(name));
    if (!n || *n < 1)
        throw PackError{QStringLiteral("--%1 needs a number of bytes, not \"%2\"").arg(name, o.Value(name)), ExitUsage};
    if (*n > UpgradeFile::MaxBody)
        throw PackError{QStringLiteral("--%1 %2: the reader takes pages of at most 512 bytes").arg(name).arg(*n), ExitUsage};
    return static_cast<int>(*n);
}

QString Describe(const QString& memory, const PageList& pages, int pageSize)
{
    return QStringLiteral("%1: %2 of %3 bytes").arg(memory, Counted(static_cast<qint64>(pages.size()), "page", "pages")).arg(pageSize);
}

struct Packed {
    UpgradeContent Content;
    int FlashPageSize = 0;
    int EEPromPageSize = 0;
};

// The upgrade's content from the image options; raises PackError.
Packed PackContent(const ParsedOptions& o)
{
    if (!o.Has(QStringLiteral("flash")))
        throw PackError{QStringLiteral("needs --flash FILE"), ExitUsage};
    PackLayout flash;
    flash.KeepBlank = o.Has(QStringLiteral("keep-blank"));
    flash.PageSize = PageSize(o, QStringLiteral("flash-page-size"), 256);
    if (o.Has(QStringLiteral("base"))) {
        const std::optional<qint64> base = ParseNumber(o.Value(QStringLiteral("base")));
        if (!base || *base < 0 || *base > 0xFFFFFFFFLL)
            throw PackError{QStringLiteral("--base needs an address such as 0x8000, not \"%1\"").arg(o.Value(QStringLiteral("base"))), ExitUsage};
        flash.Base = static_cast<uint64_t>(*base);
    }
    PackLayout eeprom = flash;
    eeprom.PageSize = PageSize(o, QStringLiteral("eeprom-page-size"), 32);

    UpgradeContent content;
    content.Name = EncodeAnsi(o.Value(QStringLiteral("name")));
    content.Version = EncodeAnsi(o.Value(QStringLiteral("version")));
    // The file holds 8-bit texts; say so when a text does not fit them.
    for (const char* option : {"name", "version"})
        if (const QString text = o.Value(QLatin1String(option)); DecodeAnsi(EncodeAnsi(text)) != text)
            std::fprintf(stderr, "note: --%s: characters outside the Windows-1252 code page are stored as \"?\"\n", option);
    if (o.Has(QStringLiteral("user"))) {
        const std::optional<qint64> user = ParseNumber(o.Value(QStringLiteral("user")));
        if (!user || *user < INT32_MIN || *user > UINT32_MAX)
            throw PackError{QStringLiteral("--user needs a 32-bit number, not \"%1\"").arg(o.Value(QStringLiteral("user"))), ExitUsage};
        content.User = static_cast<int32_t>(static_cast<uint32_t>(*user));
    }
    content.Flash = PagesOf(o.Value(QStringLiteral("flash")), flash);
    if (o.Has(QStringLiteral("eeprom")))
        content.EEProm = PagesOf(o.Value(QStringLiteral("eeprom")), eeprom);
    return {content, flash.PageSize, eeprom.PageSize};
}

QByteArray WriteContent(const UpgradeContent& content)
{
    try {
        return WriteUpgradeFile(content);
    } catch (const Exception& e) {
        throw PackError{e.Message(), ExitFileRejected};
    }
}

int PackFiles(const ParsedOptions& o)
{
    if (!o.Positional().isEmpty())
        return UsageError(QStringLiteral("pack takes no file name outside its options: \"%1\"").arg(o.Positional().first()), kPack);
    if (!o.Has(QStringLiteral("flash")))
        return UsageError(QStringLiteral("pack needs --flash FILE"), kPack);
    const QString out = o.Value(QStringLiteral("output"));
    if (out.isEmpty())
        return UsageError(QStringLiteral("pack needs -o OUT.upg"), kPack);
    if (const QString problem = OutputFileProblem(out); !problem.isEmpty())
        throw PackError{QStringLiteral("%1: %2").arg(out, problem), ExitFileRejected};

    const Packed packed = PackContent(o);
    const UpgradeContent& content = packed.Content;
    const QByteArray bytes = WriteContent(content);
    // Written beside the target and renamed over it only when complete.
    QSaveFile file(out);
    if (!file.open(QIODevice::WriteOnly) || file.write(bytes) != bytes.size() || !file.commit())
        throw PackError{QStringLiteral("%1: %2").arg(out, file.errorString()), ExitFileRejected};

    QString summary = QStringLiteral("%1: %2").arg(out, Describe(QStringLiteral("Flash"), content.Flash, packed.FlashPageSize));
    if (content.EEProm)
        summary += QStringLiteral(", ") + Describe(QStringLiteral("EEProm"), *content.EEProm, packed.EEPromPageSize);
    std::printf("%s\n", summary.toLocal8Bit().constData());
    return ExitSuccess;
}

} // namespace

std::vector<OptionSyntax> PackOptions()
{
    return {
        {QStringLiteral("flash"), 'f', QStringLiteral("FILE"), QStringLiteral("program memory image (.hex, .ihx or .bin)")},
        {QStringLiteral("eeprom"), 'e', QStringLiteral("FILE"), QStringLiteral("data memory image (.hex, .ihx or .bin)")},
        {QStringLiteral("flash-page-size"), 0, QStringLiteral("N"), QStringLiteral("Flash page size in bytes (default 256)")},
        {QStringLiteral("eeprom-page-size"), 0, QStringLiteral("N"), QStringLiteral("EEProm page size in bytes (default 32)")},
        {QStringLiteral("name"), 0, QStringLiteral("TEXT"), QStringLiteral("firmware name shown by the window")},
        {QStringLiteral("version"), 0, QStringLiteral("TEXT"), QStringLiteral("firmware version shown by the window")},
        {QStringLiteral("user"), 0, QStringLiteral("N"), QStringLiteral("user number (32-bit)")},
        {QStringLiteral("base"), 0, QStringLiteral("ADDR"), QStringLiteral("device address of page address 0 (default 0)")},
        {QStringLiteral("keep-blank"), 0, QString(), QStringLiteral("keep pages whose every byte is 0xFF")},
    };
}

std::optional<QByteArray> PackInMemory(const ParsedOptions& o, const CommandSyntax& command, int* status)
{
    try {
        *status = ExitSuccess;
        return WriteContent(PackContent(o).Content);
    } catch (const PackError& e) {
        *status = e.Status == ExitUsage ? UsageError(e.Text, command) : (Err(e.Text), e.Status);
        return std::nullopt;
    }
}

const CommandSyntax& PackSyntax()
{
    return kPack;
}

int Pack(const ParsedOptions& o, InterruptWatch&)
{
    try {
        return PackFiles(o);
    } catch (const PackError& e) {
        if (e.Status == ExitUsage)
            return UsageError(e.Text, kPack);
        Err(e.Text);
        return e.Status;
    }
}

} // namespace cli

} // namespace zentrop
