// Page cutting and the upgrade file writer.
#include "upgrade/UpgradePack.h"

#include "base/Format.h"

namespace zentrop {

namespace {

enum RecordType : uint8_t { rtName = 1, rtVersion = 2, rtUser = 3, rtFlashSection = 4, rtEEPromSection = 5, rtPage = 6 };

constexpr uint8_t kUserFlag = 1;
constexpr int kMaxRecords = 0xFFFF;

QString Hex(uint64_t value)
{
    return QStringLiteral("0x") + QString::number(value, 16).toUpper();
}

void PutU16(QByteArray& out, uint32_t v)
{
    out += static_cast<char>(v & 0xFF);
    out += static_cast<char>((v >> 8) & 0xFF);
}

class RecordWriter {
public:
    void Record(uint8_t type, const QByteArray& body)
    {
        if (body.size() > UpgradeFile::MaxBody + 2)
            throw EUpgradeFileError(Format("A record of type %d would hold %d bytes, more than an upgrade file takes",
                                           {static_cast<int>(type), static_cast<int>(body.size())}));
        if (++FCount > kMaxRecords)
            throw EUpgradeFileError(QStringLiteral("The upgrade would need more than 65535 records"));
        PutU16(FRecords, static_cast<uint32_t>(body.size() + 1));
        FRecords += static_cast<char>(type);
        FRecords += body;
    }
    void Text(uint8_t type, const QByteArray& text)
    {
        if (text.size() > UpgradeFile::MaxBody)
            throw EUpgradeFileError(Format("The text \"%s\" has %d bytes; an upgrade file holds at most 512",
                                           {QString::fromLatin1(text.left(20)) + QStringLiteral("..."), static_cast<int>(text.size())}));
        Record(type, text);
    }
    void Pages(const PageList& pages)
    {
        for (const TPage& p : pages) {
            if (p.Address < 0 || p.Address > static_cast<int32_t>(kHighestPageAddress) || p.Data.size() > UpgradeFile::MaxBody)
                throw EUpgradeFileError(Format("The page at %s of %d bytes does not fit an upgrade file",
                                               {Hex(static_cast<uint32_t>(p.Address)), static_cast<int>(p.Data.size())}));
            QByteArray body;
            PutU16(body, static_cast<uint32_t>(p.Address));
            Record(rtPage, body + p.Data);
        }
    }
    QByteArray Bytes() const
    {
        QByteArray file;
        PutU16(file, static_cast<uint32_t>(FCount));
        file += FRecords;
        const uint16_t crc = Crc16(reinterpret_cast<const uint8_t*>(file.constData()), static_cast<size_t>(file.size()));
        PutU16(file, crc);
        return file;
    }

private:
    QByteArray FRecords;
    int FCount = 0;
};

} // namespace

HexImage BinaryImage(const QByteArray& bytes, uint64_t address)
{
    HexImage image;
    if (!bytes.isEmpty())
        image.Chunks.emplace(address, HexChunk{bytes, 1});
    return image;
}

void CheckPageReach(uint64_t address, qsizetype size, int line, const PackLayout& layout, std::optional<uint64_t> lowest)
{
    const auto pageSize = static_cast<uint64_t>(layout.PageSize);
    if (address < layout.Base)
        throw EHexFileError(line, Format("holds data at %s, below the base address %s", {Hex(address), Hex(layout.Base)}));
    const uint64_t first = address - layout.Base;
    const uint64_t last = first + static_cast<uint64_t>(size) - 1;
    const uint64_t firstOutOfReach = (kHighestPageAddress / pageSize + 1) * pageSize;
    if (last < firstOutOfReach)
        return;
    const uint64_t bad = std::max(first, firstOutOfReach);
    QString reason = Format("holds data at %s, page address %s counted from the base %s, beyond 0xFFFF, the last "
                            "page address an upgrade file holds",
                            {Hex(bad + layout.Base), Hex(bad - bad % pageSize), Hex(layout.Base)});
    // Data that starts high (a controller whose program memory is mapped there) fits when the
    // base is where it starts.
    const uint64_t start = lowest ? std::min(*lowest, address) : address;
    const uint64_t base = start - start % pageSize;
    if (layout.Base == 0 && base > 0 && address + static_cast<uint64_t>(size) - 1 - base < firstOutOfReach)
        reason += Format("; the data starts at %s: give --base %s", {Hex(start), Hex(base)});
    throw EHexFileError(line, reason);
}

PageList CutPages(const HexImage& image, const PackLayout& layout)
{
    const auto pageSize = static_cast<uint64_t>(layout.PageSize);
    PageList pages;
    for (const auto& [address, chunk] : image.Chunks) {
        CheckPageReach(address, chunk.Data.size(), chunk.Line, layout);
        const uint64_t first = address - layout.Base;
        const uint64_t last = first + static_cast<uint64_t>(chunk.Data.size()) - 1;
        // Chunks come in address order, so a page is either the last one begun or a new one.
        for (uint64_t at = first; at <= last;) {
            const uint64_t pageStart = at - at % pageSize;
            if (pages.empty() || static_cast<uint64_t>(pages.back().Address) != pageStart)
                pages.push_back(TPage{static_cast<int32_t>(pageStart), QByteArray(layout.PageSize, kErasedByte)});
            const uint64_t upTo = std::min(last + 1, pageStart + pageSize);
            const qsizetype from = static_cast<qsizetype>(at - first);
            pages.back().Data.replace(static_cast<qsizetype>(at - pageStart), static_cast<qsizetype>(upTo - at),
                                      chunk.Data.constData() + from, static_cast<qsizetype>(upTo - at));
            at = upTo;
        }
    }
    if (!layout.KeepBlank)
        std::erase_if(pages, [](const TPage& p) { return p.Data.count(kErasedByte) == p.Data.size(); });
    return pages;
}

QByteArray WriteUpgradeFile(const UpgradeContent& content)
{
    RecordWriter w;
    if (!content.Name.isEmpty())
        w.Text(rtName, content.Name);
    if (!content.Version.isEmpty())
        w.Text(rtVersion, content.Version);
    if (content.User) {
        QByteArray body(1, static_cast<char>(kUserFlag));
        const auto n = static_cast<uint32_t>(*content.User);
        for (int i = 0; i < 4; ++i)
            body += static_cast<char>((n >> (8 * i)) & 0xFF);
        w.Record(rtUser, body);
    }
    w.Record(rtFlashSection, QByteArray());
    w.Pages(content.Flash);
    if (content.EEProm) {
        w.Record(rtEEPromSection, QByteArray());
        w.Pages(*content.EEProm);
    }
    return w.Bytes();
}

} // namespace zentrop
