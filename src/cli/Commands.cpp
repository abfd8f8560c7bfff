// The command-line commands: preparing an upgrade file and showing what it holds.
#include "Cli.h"

#include "upgrade/UpgradeFile.h"
#include "base/Ansi.h"
#include "base/FileName.h"
#include "base/UniqueFd.h"

#include <QFile>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QRegularExpression>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <optional>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace zentrop {

namespace cli {

namespace {

// After "CRC error!": what the file is instead, by its first bytes, and how to make an
// upgrade file of it.
QString NotAnUpgradeFile(const QString& path)
{
    QByteArray head(16, 0);
    const UniqueFd fd(::open(EncodeFileName(path).constData(), O_RDONLY | O_CLOEXEC | O_NONBLOCK | O_NOCTTY));
    const ssize_t got = fd ? ::read(fd.Get(), head.data(), static_cast<size_t>(head.size())) : -1;
    head.resize(std::max<qsizetype>(got, 0));
    const QString pack = QStringLiteral("\"zentrop-cli pack --flash FW.hex --flash-page-size N -o FW.upg\"");
    if (head.startsWith("\x7F" "ELF"))
        return QStringLiteral("%1 is an ELF program, not an upgrade file: convert it to Intel HEX (objcopy -O ihex) "
                              "and make an upgrade file with %2.")
            .arg(path, pack);
    static const QRegularExpression hexRecord(QStringLiteral("^:[0-9A-Fa-f]{10}"));
    if (hexRecord.match(QString::fromLatin1(head)).hasMatch())
        return QStringLiteral("%1 is an Intel HEX file, not an upgrade file: make one with %2.").arg(path, pack);
    return QStringLiteral("%1 is damaged or not an upgrade file; a raw binary image (.bin) becomes one with "
                          "\"zentrop-cli pack --flash FW.bin --flash-page-size N -o FW.upg\".")
        .arg(path);
}

} // namespace

std::optional<UpgradeFile> Prepare(const QString& path)
{
    UpgradeFile file;
    try {
        if (file.Load(path) == UpgradeFile::Result::Loaded)
            return file;
        PrintLine(stderr, QStringLiteral("CRC error!"));
        PrintLine(stderr, NotAnUpgradeFile(path));
    } catch (const Exception& e) {
        PrintLine(stderr, e.Message());
    }
    return std::nullopt;
}

namespace {

QJsonArray PagesJson(const PageList& pages)
{
    QJsonArray list;
    for (const TPage& p : pages)
        list.append(QJsonObject{{"address", p.Address}, {"size", static_cast<int>(p.Data.size())}});
    return list;
}

void PrintPages(const QString& title, const PageList& pages)
{
    PrintLine(stdout, QStringLiteral("%1: %2 pages").arg(title).arg(pages.size()));
    for (const TPage& p : pages)
        PrintLine(stdout, QString::asprintf("  0x%04X %4d bytes", static_cast<unsigned>(p.Address),
                                            static_cast<int>(p.Data.size())));
}

} // namespace

const CommandSyntax& InfoSyntax()
{
    static const CommandSyntax syntax{
        QStringLiteral("info"), QStringLiteral("[--json] FILE.upg"),
        QStringLiteral("shows what an upgrade file holds: name, version, user number and every page"),
        QStringLiteral("Checks the upgrade file as \"Prepare Flash\" does and shows its name, version, user number\n"
                       "and every Flash and EEProm page with its address and size."),
        {{QStringLiteral("json"), 'j', QString(), QStringLiteral("print one JSON object instead of lines")}}};
    return syntax;
}

int Info(const ParsedOptions& options, InterruptWatch&)
{
    if (options.Positional().size() != 1)
        return UsageError(options.Positional().isEmpty() ? QStringLiteral("info needs an upgrade file")
                                                         : QStringLiteral("info takes one upgrade file"),
                          InfoSyntax());
    const QString path = options.Positional().first();
    const bool json = options.Has(QStringLiteral("json"));
    const std::optional<UpgradeFile> file = Prepare(path);
    if (!file)
        return ExitFileRejected;
    const FirmwareValues& fw = file->Firmware();
    if (json) {
        const QJsonObject root{{"name", DecodeAnsi(fw.FFirmwareName)},
                               {"version", DecodeAnsi(fw.FFirmwareVersion)},
                               {"user", file->HasUser() ? QJsonValue(fw.FUserNumber) : QJsonValue()},
                               {"flash", PagesJson(file->FlashPages())},
                               {"eeprom", PagesJson(file->EEPromPages())}};
        std::fputs(QJsonDocument(root).toJson(QJsonDocument::Compact).constData(), stdout);
        std::fputc('\n', stdout);
        return ExitSuccess;
    }
    PrintLine(stdout, QStringLiteral("Name: ") + DecodeAnsi(fw.FFirmwareName));
    PrintLine(stdout, QStringLiteral("Version: ") + DecodeAnsi(fw.FFirmwareVersion));
    PrintLine(stdout, file->HasUser() ? QStringLiteral("User: %1").arg(fw.FUserNumber) : QStringLiteral("User:"));
    PrintPages(QStringLiteral("Flash"), file->FlashPages());
    PrintPages(QStringLiteral("EEProm"), file->EEPromPages());
    return ExitSuccess;
}

} // namespace cli

} // namespace zentrop
