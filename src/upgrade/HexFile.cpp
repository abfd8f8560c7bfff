// The Intel HEX reader: one record per line, checked digit by digit, its address resolved
// against the last extended address record, and its bytes kept only if they overlap nothing.
#include "upgrade/HexFile.h"

#include "base/Format.h"

#include <optional>

namespace zentrop {

namespace {

enum HexRecord : int {
    hrData = 0x00,
    hrEndOfFile = 0x01,
    hrExtendedSegment = 0x02,
    hrStartSegment = 0x03,
    hrExtendedLinear = 0x04,
    hrStartLinear = 0x05,
};

// Length, address (two bytes), type and checksum: the bytes of a record besides its data.
constexpr int kRecordOverhead = 5;
constexpr uint64_t kSegmentSpan = 0x10000;

int HexDigit(char c)
{
    if (c >= '0' && c <= '9')
        return c - '0';
    if (c >= 'A' && c <= 'F')
        return c - 'A' + 10;
    if (c >= 'a' && c <= 'f')
        return c - 'a' + 10;
    return -1;
}

QString Hex(uint64_t value)
{
    return QStringLiteral("0x") + QString::number(value, 16).toUpper();
}

// The record's bytes from its hex digits: everything after the colon.
QByteArray DecodeRecord(const QByteArray& line, int lineNo)
{
    if (line.isEmpty() || line[0] != ':')
        throw EHexFileError(lineNo, QStringLiteral("does not start with \":\""));
    const QByteArray digits = line.mid(1);
    for (qsizetype i = 0; i < digits.size(); ++i) {
        if (HexDigit(digits[i]) < 0)
            throw EHexFileError(lineNo, Format("has \"%s\" at column %d, where a hex digit belongs",
                                               {QString(QChar::fromLatin1(digits[i])), static_cast<int>(i + 2)}));
    }
    if (digits.size() % 2 != 0)
        throw EHexFileError(lineNo, Format("has an odd number of hex digits (%d)", {static_cast<int>(digits.size())}));
    QByteArray bytes(digits.size() / 2, '\0');
    for (qsizetype i = 0; i < bytes.size(); ++i)
        bytes[i] = static_cast<char>(HexDigit(digits[2 * i]) * 16 + HexDigit(digits[2 * i + 1]));
    return bytes;
}

class HexReader {
public:
    explicit HexReader(const HexDataCheck& check) : FCheck(check) {}

    void Line(const QByteArray& rawLine, int lineNo)
    {
        const QByteArray line = rawLine.trimmed();
        if (line.isEmpty())
            return;
        if (FEndLine)
            throw EHexFileError(lineNo, Format("follows the end-of-file record of line %d", {FEndLine}));
        const QByteArray r = DecodeRecord(line, lineNo);
        if (r.size() < kRecordOverhead)
            throw EHexFileError(lineNo, Format("is too short for a record (%d bytes)", {static_cast<int>(r.size())}));
        const auto* b = reinterpret_cast<const uint8_t*>(r.constData());
        const int length = b[0];
        if (r.size() != length + kRecordOverhead)
            throw EHexFileError(lineNo, Format("says it holds %d data bytes but holds %d",
                                               {length, static_cast<int>(r.size()) - kRecordOverhead}));
        uint8_t sum = 0;
        for (qsizetype i = 0; i + 1 < r.size(); ++i)
            sum = static_cast<uint8_t>(sum + b[i]);
        const uint8_t expected = static_cast<uint8_t>(-sum);
        const uint8_t stored = b[r.size() - 1];
        if (stored != expected)
            throw EHexFileError(lineNo, Format("has the checksum %s, its bytes need %s", {Hex(stored), Hex(expected)}));

        const uint32_t offset = static_cast<uint32_t>((b[1] << 8) | b[2]);
        const int type = b[3];
        const uint8_t* data = b + 4;
        auto needLength = [&](int want) {
            if (length != want)
                throw EHexFileError(lineNo, Format("is a record of type %d with %d data bytes; it takes %d",
                                                   {type, length, want}));
        };
        switch (type) {
        case hrData:
            Data(FBase + offset, offset, QByteArray(reinterpret_cast<const char*>(data), length), lineNo);
            break;
        case hrEndOfFile:
            needLength(0);
            FEndLine = lineNo;
            break;
        case hrExtendedSegment:
            needLength(2);
            FBase = static_cast<uint64_t>((data[0] << 8) | data[1]) << 4;
            break;
        case hrExtendedLinear:
            needLength(2);
            FBase = static_cast<uint64_t>((data[0] << 8) | data[1]) << 16;
            break;
        case hrStartSegment:
        case hrStartLinear: {
            needLength(4);
            const uint32_t start = (static_cast<uint32_t>(data[0]) << 24) | (data[1] << 16) | (data[2] << 8) | data[3];
            const QString where = type == hrStartSegment
                                      ? QString::asprintf("%04X:%04X", start >> 16, start & 0xFFFF)
                                      : Hex(start);
            FImage.Notes[lineNo] = Format("start address %s ignored; the device's bootloader decides where to start", {where});
            break;
        }
        default:
            throw EHexFileError(lineNo, Format("has the unknown record type %d", {type}));
        }
    }

    HexImage Finish(int lastLine)
    {
        if (!FEndLine)
            throw EHexFileError(lastLine, QStringLiteral("ends the file without an end-of-file record; the file may be cut off"));
        return std::move(FImage);
    }

private:
    void Data(uint64_t address, uint32_t offset, const QByteArray& bytes, int lineNo)
    {
        if (bytes.isEmpty())
            return;
        // The record's address wraps within its 64 KiB segment; no toolchain relies on that,
        // and taking it literally would scatter a record, so it is refused.
        if (offset + static_cast<uint64_t>(bytes.size()) > kSegmentSpan)
            throw EHexFileError(lineNo, Format("runs past the end of its 64 KiB segment at %s", {Hex(FBase + kSegmentSpan)}));
        if (FCheck)
            FCheck(address, bytes.size(), lineNo);
        const uint64_t end = address + static_cast<uint64_t>(bytes.size());
        auto next = FImage.Chunks.lower_bound(address);
        if (next != FImage.Chunks.end() && next->first < end)
            Overlap(next->first, next->second.Line, lineNo);
        if (next != FImage.Chunks.begin()) {
            const auto previous = std::prev(next);
            if (previous->first + static_cast<uint64_t>(previous->second.Data.size()) > address)
                Overlap(address, previous->second.Line, lineNo);
        }
        FImage.Chunks.emplace_hint(next, address, HexChunk{bytes, lineNo});
    }

    [[noreturn]] static void Overlap(uint64_t address, int otherLine, int lineNo)
    {
        throw EHexFileError(lineNo, Format("writes data at %s that line %d already wrote", {Hex(address), otherLine}));
    }

    const HexDataCheck& FCheck;
    HexImage FImage;
    uint64_t FBase = 0;
    int FEndLine = 0;
};

} // namespace

EHexFileError::EHexFileError(int line, const QString& reason)
    : Exception(Format("line %d: %s", {line, reason})), FLine(line), FReason(reason)
{
}

HexImage ReadIntelHex(const QByteArray& text, const HexDataCheck& check)
{
    HexReader reader(check);
    int lineNo = 0;
    qsizetype pos = 0;
    while (pos < text.size()) {
        qsizetype end = text.indexOf('\n', pos);
        if (end < 0)
            end = text.size();
        reader.Line(text.mid(pos, end - pos), ++lineNo);
        pos = end + 1;
    }
    return reader.Finish(std::max(lineNo, 1));
}

} // namespace zentrop
