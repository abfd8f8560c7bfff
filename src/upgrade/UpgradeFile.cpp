// Reading an upgrade file: CRC check over the whole file, then the counted records, each
// checked against the bytes that are really there before anything is taken from it.
#include "upgrade/UpgradeFile.h"

#include "base/FileName.h"

#include "base/Format.h"
#include "base/UniqueFd.h"
#include "base/ResStrings.h"

#include <QFileInfo>

#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <optional>
#include <sys/stat.h>
#include <unistd.h>

namespace zentrop {

namespace {

enum RecordType : uint8_t {
    rtName = 1,
    rtVersion = 2,
    rtUser = 3,
    rtFlashSection = 4,
    rtEEPromSection = 5,
    rtPage = 6,
};

// The user record's body is read as exactly these bytes, whatever its length says.
constexpr size_t kUserBody = 5;
// A record holds at least its length field and its type.
constexpr size_t kRecordHead = 3;
// Enough of a file for 65535 records of the largest kind.
constexpr size_t kLongestRecordArea = 2 + 65535 * (kRecordHead + 2 + UpgradeFile::MaxBody);
// The largest upgrade file: the most records its count can name, each of the largest kind,
// and the CRC. A larger file is refused before a byte of it is read.
constexpr size_t kLargestFile = kLongestRecordArea + 2;

uint16_t ReadU16(const uint8_t* p) { return static_cast<uint16_t>(p[0] | (p[1] << 8)); }

int32_t ReadI32(const uint8_t* p)
{
    return static_cast<int32_t>(static_cast<uint32_t>(p[0]) | (static_cast<uint32_t>(p[1]) << 8) |
                                (static_cast<uint32_t>(p[2]) << 16) | (static_cast<uint32_t>(p[3]) << 24));
}

[[noreturn]] void Damaged(int record, int count, int type, size_t offset, const QString& what)
{
    throw EUpgradeFileError(Format("Damaged upgrade file: record %d of %d (type %d, at offset %d) %s",
                                   {record, count, type, static_cast<long long>(offset), what}));
}

[[noreturn]] void CannotOpen(const QString& fileName, const QString& reason)
{
    const QString path = fileName.isEmpty() ? fileName : QFileInfo(fileName).absoluteFilePath();
    throw EFOpenError(Format(LoadResString(res::SFOpenErrorEx), {path, reason}));
}

[[noreturn]] void CannotOpen(const QString& fileName, int error)
{
    CannotOpen(fileName, QString::fromLocal8Bit(std::strerror(error)));
}

// Only a regular file of a size that an upgrade file can have is read.
void CheckIsUpgradeFile(const QString& fileName, const struct stat& st)
{
    if (S_ISDIR(st.st_mode))
        CannotOpen(fileName, EISDIR);
    if (!S_ISREG(st.st_mode))
        CannotOpen(fileName, QStringLiteral("Not a regular file"));
    if (static_cast<unsigned long long>(st.st_size) > kLargestFile)
        throw EUpgradeFileError(
            Format("The file is too large for an upgrade file: %d bytes, where the largest upgrade file (65535 "
                   "records of %d bytes each, with the record count and the CRC) has %d bytes",
                   {static_cast<long long>(st.st_size), static_cast<int>(kRecordHead + 2 + UpgradeFile::MaxBody),
                    static_cast<long long>(kLargestFile)}));
}

// Reads up to size bytes at the descriptor's position; fewer only at the end of the file.
size_t ReadFully(int fd, uint8_t* buffer, size_t size, const QString& fileName)
{
    size_t done = 0;
    while (done < size) {
        const ssize_t n = ::read(fd, buffer + done, size - done);
        if (n < 0 && errno == EINTR)
            continue;
        if (n < 0)
            CannotOpen(fileName, errno);
        if (n == 0)
            break;
        done += static_cast<size_t>(n);
    }
    return done;
}

} // namespace

uint16_t UpdateCrc(uint16_t crc, uint8_t b)
{
    crc = static_cast<uint16_t>(((crc << 8) | (crc >> 8)) ^ b);
    crc ^= static_cast<uint16_t>((crc & 0xFF) >> 4);
    crc ^= static_cast<uint16_t>(((crc & 0xFF) << 12) ^ ((crc & 0xFF) << 5));
    return crc;
}

uint16_t Crc16(const uint8_t* data, size_t size, uint16_t crc)
{
    for (size_t i = 0; i < size; ++i)
        crc = UpdateCrc(crc, data[i]);
    return crc;
}

void UpgradeFile::ClearPages()
{
    FFlashPages.clear();
    FEEPromPages.clear();
}

UpgradeFile::Result UpgradeFile::LoadFromBytes(const QByteArray& file)
{
    ClearPages();
    const auto* data = reinterpret_cast<const uint8_t*>(file.constData());
    const auto size = static_cast<size_t>(file.size());
    const size_t covered = size >= 2 ? size - 2 : 0;
    // Bytes missing from a file shorter than two bytes count as 0.
    const uint16_t stored = static_cast<uint16_t>((size > covered ? data[covered] : 0) |
                                                  (size > covered + 1 ? data[covered + 1] << 8 : 0));
    return Parse(data, covered, stored, Crc16(data, covered));
}

UpgradeFile::Result UpgradeFile::Load(const QString& fileName)
{
    ClearPages();
    const QByteArray path = EncodeFileName(fileName);
    // Looked at before it is opened: opening a device typed in as the file name can have
    // effects of its own (a serial adapter resets its board), and a FIFO could block.
    struct stat st {};
    if (fileName.isEmpty())
        CannotOpen(fileName, ENOENT);
    if (::stat(path.constData(), &st) != 0)
        CannotOpen(fileName, errno);
    CheckIsUpgradeFile(fileName, st);
    // Opened without blocking all the same, and looked at again, in case the name was given
    // to something else meanwhile.
    UniqueFd fd(::open(path.constData(), O_RDONLY | O_CLOEXEC | O_NONBLOCK | O_NOCTTY));
    if (fd.Get() < 0)
        CannotOpen(fileName, errno);
    if (::fstat(fd.Get(), &st) != 0)
        CannotOpen(fileName, errno);
    CheckIsUpgradeFile(fileName, st);

    // The CRC covers every byte before the last two.
    const auto size = static_cast<size_t>(st.st_size);
    const size_t covered = size >= 2 ? size - 2 : 0;
    std::vector<uint8_t> head(covered);
    head.resize(ReadFully(fd.Get(), head.data(), head.size(), fileName));
    uint8_t tail[2] = {0, 0};
    ReadFully(fd.Get(), tail, size >= 2 ? 2 : size, fileName);
    const uint16_t stored = static_cast<uint16_t>(tail[0] | (tail[1] << 8));
    return Parse(head.data(), head.size(), stored, Crc16(head.data(), head.size()));
}

UpgradeFile::Result UpgradeFile::Parse(const uint8_t* data, size_t size, uint16_t storedCrc, uint16_t computedCrc)
{
    if (storedCrc != computedCrc)
        return Result::CrcError;
    if (size < 2)
        throw EUpgradeFileError(QStringLiteral("Damaged upgrade file: the file is too short to hold its record count"));

    const int count = ReadU16(data);
    if (static_cast<size_t>(count) * kRecordHead > size - 2)
        throw EUpgradeFileError(Format("Damaged upgrade file: it counts %d record(s), more than its %d byte(s) of records can hold",
                                       {count, static_cast<long long>(size - 2)}));

    // Everything is collected first and committed only when every record was sound.
    PageList flash;
    PageList eeprom;
    std::optional<QByteArray> name;
    std::optional<QByteArray> version;
    std::optional<std::pair<int32_t, int32_t>> user;
    bool inFlash = false; // a page before any section record goes to the EEProm list

    size_t pos = 2;
    for (int record = 1; record <= count; ++record) {
        if (size - pos < kRecordHead)
            throw EUpgradeFileError(Format("Damaged upgrade file: record %d of %d (at offset %d) is cut off by the end of the records",
                                           {record, count, static_cast<long long>(pos)}));
        const size_t start = pos;
        const size_t length = ReadU16(data + pos);
        const int type = data[pos + 2];
        pos += kRecordHead;
        const size_t available = size - pos;
        auto need = [&](size_t bytes) {
            if (bytes > available)
                Damaged(record, count, type, start,
                        Format("needs %d byte(s) but only %d remain", {static_cast<long long>(bytes),
                                                                      static_cast<long long>(available)}));
        };
        if (type != rtUser && length < 1)
            Damaged(record, count, type, start, QStringLiteral("has a length of 0"));
        switch (type) {
        case rtName:
        case rtVersion: {
            const size_t body = length - 1;
            if (body > MaxBody)
                Damaged(record, count, type, start, Format("has a text of %d bytes, more than 512", {static_cast<long long>(body)}));
            need(body);
            QByteArray text(reinterpret_cast<const char*>(data + pos), static_cast<qsizetype>(body));
            (type == rtName ? name : version) = text;
            pos += body;
            break;
        }
        case rtUser:
            need(kUserBody);
            user = std::make_pair(static_cast<int32_t>(data[pos]), ReadI32(data + pos + 1));
            pos += kUserBody;
            break;
        case rtPage: {
            if (length < 3)
                Damaged(record, count, type, start, Format("has a length of %d, too small for a page", {static_cast<long long>(length)}));
            const size_t body = length - 3;
            if (body > MaxBody)
                Damaged(record, count, type, start, Format("holds a page of %d bytes, more than 512", {static_cast<long long>(body)}));
            need(2 + body);
            TPage page;
            page.Address = ReadU16(data + pos);
            page.Data = QByteArray(reinterpret_cast<const char*>(data + pos + 2), static_cast<qsizetype>(body));
            (inFlash ? flash : eeprom).push_back(std::move(page));
            pos += 2 + body;
            break;
        }
        default:
            if (length != 1)
                Damaged(record, count, type, start, Format("has a body of %d byte(s), but its type carries none", {static_cast<long long>(length - 1)}));
            if (type == rtFlashSection)
                inFlash = true;
            else if (type == rtEEPromSection)
                inFlash = false;
            break;
        }
    }

    FFlashPages = std::move(flash);
    FEEPromPages = std::move(eeprom);
    if (name)
        FFirmware.FFirmwareName = *name;
    if (version)
        FFirmware.FFirmwareVersion = *version;
    if (user) {
        FFirmware.FUserFlag = user->first;
        FFirmware.FUserNumber = user->second;
        FHasUser = true;
    }
    return Result::Loaded;
}

} // namespace zentrop
