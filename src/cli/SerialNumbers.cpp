// The counter file and the bytes written into a device's pages.
#include "SerialNumbers.h"

#include "Cli.h"

#include "base/Exception.h"
#include "base/FileName.h"
#include "base/UniqueFd.h"

#include <QRegularExpression>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <sys/file.h>
#include <unistd.h>

namespace zentrop {

namespace cli {

namespace {

// The counter file: the next number on the first line, and on a second line "free" and the
// numbers failed devices gave back, which the next devices take first.
struct Counter {
    qint64 Next = 0;
    std::vector<qint64> Free;
};

std::optional<Counter> ParseCounter(const QByteArray& text)
{
    const QList<QByteArray> lines = text.trimmed().split('\n');
    bool ok = false;
    Counter c;
    c.Next = lines.value(0).trimmed().toLongLong(&ok);
    if (!ok || c.Next < 0)
        return std::nullopt;
    if (lines.size() > 1) {
        const QList<QByteArray> words = lines[1].simplified().split(' ');
        if (words.value(0) != "free")
            return std::nullopt;
        for (qsizetype i = 1; i < words.size(); ++i) {
            const qint64 n = words[i].toLongLong(&ok);
            if (!ok)
                return std::nullopt;
            c.Free.push_back(n);
        }
    }
    return c;
}

QByteArray CounterText(const Counter& c)
{
    QByteArray text = QByteArray::number(c.Next) + '\n';
    if (!c.Free.empty()) {
        text += "free";
        for (qint64 n : c.Free)
            text += ' ' + QByteArray::number(n);
        text += '\n';
    }
    return text;
}

// Holds the counter file open and locked; the lock is what parallel ports and other station
// processes wait for, briefly.
class LockedCounter {
public:
    explicit LockedCounter(const QString& path) : FPath(path)
    {
        FFd.Reset(::open(EncodeFileName(path).constData(), O_RDWR | O_CLOEXEC | O_NOCTTY));
        if (!FFd)
            Fail(QString::fromLocal8Bit(std::strerror(errno)));
        // Closing the descriptor releases the lock.
        if (::flock(FFd.Get(), LOCK_EX) != 0)
            Fail(QString::fromLocal8Bit(std::strerror(errno)));
    }

    Counter Read()
    {
        QByteArray text(4096, 0);
        const ssize_t got = ::pread(FFd.Get(), text.data(), static_cast<size_t>(text.size()), 0);
        if (got < 0)
            Fail(QString::fromLocal8Bit(std::strerror(errno)));
        text.resize(got);
        const std::optional<Counter> c = ParseCounter(text);
        if (!c)
            Fail(QStringLiteral("not a counter file (the next number on its first line)"));
        return *c;
    }
    void Write(const Counter& c)
    {
        const QByteArray text = CounterText(c);
        if (::pwrite(FFd.Get(), text.constData(), static_cast<size_t>(text.size()), 0) != text.size() ||
            ::ftruncate(FFd.Get(), text.size()) != 0 || ::fsync(FFd.Get()) != 0)
            Fail(QString::fromLocal8Bit(std::strerror(errno)));
    }

private:
    [[noreturn]] void Fail(const QString& why) const
    {
        throw Exception(QStringLiteral("The serial number counter %1: %2").arg(FPath, why));
    }

    QString FPath;
    UniqueFd FFd;
};

QByteArray Encode(qint64 n, DeviceData::Encoding e, int width, QString* error)
{
    QByteArray b;
    switch (e) {
    case DeviceData::Encoding::U16Le:
        if (n > 0xFFFF)
            *error = QStringLiteral("the serial number %1 does not fit u16le").arg(n);
        for (int i = 0; i < 2; ++i)
            b += char((n >> (8 * i)) & 0xFF);
        break;
    case DeviceData::Encoding::U32Le:
    case DeviceData::Encoding::U32Be:
        if (n > 0xFFFFFFFFLL)
            *error = QStringLiteral("the serial number %1 does not fit 32 bits").arg(n);
        for (int i = 0; i < 4; ++i)
            b += char((n >> (8 * i)) & 0xFF);
        if (e == DeviceData::Encoding::U32Be)
            std::reverse(b.begin(), b.end());
        break;
    case DeviceData::Encoding::Ascii:
        b = QByteArray::number(n).rightJustified(width, '0');
        if (b.size() > width)
            *error = QStringLiteral("the serial number %1 does not fit %2 digits").arg(n).arg(width);
        break;
    }
    return b;
}

// Writes the bytes into the page that holds them, making one of pageSize when there is none.
QString WriteInto(PageList& pages, int32_t address, const QByteArray& bytes, int pageSize, const QString& what)
{
    const int32_t end = address + static_cast<int32_t>(bytes.size());
    for (TPage& p : pages) {
        const int32_t pageEnd = p.Address + static_cast<int32_t>(p.Data.size());
        if (address >= p.Address && address < pageEnd) {
            if (end > pageEnd)
                return QStringLiteral("%1 at 0x%2 runs past the end of its page at 0x%3")
                    .arg(what, QString::number(address, 16).toUpper(), QString::number(p.Address, 16).toUpper());
            p.Data.replace(address - p.Address, bytes.size(), bytes);
            return QString();
        }
    }
    if (pageSize <= 0)
        return pageSize < 0 ? QStringLiteral("%1 at 0x%2 lies in no Flash page of the file")
                                  .arg(what, QString::number(address, 16).toUpper())
                            : QStringLiteral("%1 at 0x%2 lies in no EEProm page of the file; give --eeprom-page-size "
                                             "to make one")
                                  .arg(what, QString::number(address, 16).toUpper());
    const int32_t start = address - address % pageSize;
    if (end > start + pageSize)
        return QStringLiteral("%1 at 0x%2 runs past the end of its page").arg(what, QString::number(address, 16).toUpper());
    TPage page{start, QByteArray(pageSize, char(0xFF))};
    page.Data.replace(address - start, bytes.size(), bytes);
    pages.push_back(page);
    std::sort(pages.begin(), pages.end(), [](const TPage& a, const TPage& b) { return a.Address < b.Address; });
    return QString();
}

} // namespace

std::optional<DeviceData> DeviceData::FromOptions(const QString& serialFile, const QString& serialAt,
                                                  const QStringList& patches, int eepromPageSize, QString* error)
{
    DeviceData d;
    d.FEEPromPageSize = eepromPageSize;
    if (serialFile.isEmpty() != serialAt.isEmpty()) {
        *error = QStringLiteral("--serial-file and --serial-at go together");
        return std::nullopt;
    }
    if (!serialFile.isEmpty()) {
        static const QRegularExpression form(QStringLiteral("^(0x[0-9A-Fa-f]+|[0-9]+)(?::(u16le|u32le|u32be|ascii:([0-9]+)))?$"));
        const QRegularExpressionMatch m = form.match(serialAt);
        const std::optional<qint64> address = m.hasMatch() ? ParseNumber(m.captured(1)) : std::nullopt;
        if (!address || *address > 0xFFFF) {
            *error = QStringLiteral("--serial-at is ADDR[:u16le|u32le|u32be|ascii:N], not \"%1\"").arg(serialAt);
            return std::nullopt;
        }
        d.FCounterPath = serialFile;
        d.FSerialAtText = serialAt;
        d.FSerialAddress = static_cast<int32_t>(*address);
        const QString kind = m.captured(2);
        d.FEncoding = kind == QLatin1String("u16le")   ? Encoding::U16Le
                      : kind == QLatin1String("u32be") ? Encoding::U32Be
                      : kind.startsWith(u'a')          ? Encoding::Ascii
                                                       : Encoding::U32Le;
        d.FAsciiWidth = m.captured(3).toInt();
        if (d.FEncoding == Encoding::Ascii && (d.FAsciiWidth < 1 || d.FAsciiWidth > 20)) {
            *error = QStringLiteral("--serial-at ascii:N takes 1 to 20 digits");
            return std::nullopt;
        }
    }
    static const QRegularExpression patchForm(QStringLiteral("^(flash|eeprom):(0x[0-9A-Fa-f]+|[0-9]+)=((?:[0-9A-Fa-f]{2})+)$"),
                                              QRegularExpression::CaseInsensitiveOption);
    for (const QString& text : patches) {
        const QRegularExpressionMatch m = patchForm.match(text);
        const std::optional<qint64> address = m.hasMatch() ? ParseNumber(m.captured(2)) : std::nullopt;
        if (!address || *address > 0xFFFF) {
            *error = QStringLiteral("--patch is MEM:ADDR=HEXBYTES (flash or eeprom, such as eeprom:0x10=CAFE), not \"%1\"")
                         .arg(text);
            return std::nullopt;
        }
        d.FPatches.push_back({m.captured(1).toLower() == QLatin1String("flash"), static_cast<int32_t>(*address),
                              QByteArray::fromHex(m.captured(3).toLatin1()), text});
    }
    return d;
}

QString DeviceData::Apply(const UpgradeFile& file, std::optional<qint64> number, DevicePages* pages) const
{
    pages->Flash = file.FlashPages();
    pages->EEProm = file.EEPromPages();
    for (const Patch& p : FPatches)
        if (const QString problem = WriteInto(p.Flash ? pages->Flash : pages->EEProm, p.Address, p.Bytes,
                                              p.Flash ? -1 : FEEPromPageSize, QStringLiteral("--patch %1").arg(p.Text));
            !problem.isEmpty())
            return problem;
    if (number) {
        QString error;
        const QByteArray bytes = Encode(*number, FEncoding, FAsciiWidth, &error);
        if (!error.isEmpty())
            return error;
        return WriteInto(pages->EEProm, FSerialAddress, bytes, FEEPromPageSize, QStringLiteral("the serial number"));
    }
    return QString();
}

qint64 DeviceData::Reserve() const
{
    LockedCounter counter(FCounterPath);
    Counter c = counter.Read();
    qint64 n;
    if (!c.Free.empty()) {
        const auto lowest = std::min_element(c.Free.begin(), c.Free.end());
        n = *lowest;
        c.Free.erase(lowest);
    } else {
        n = c.Next++;
    }
    counter.Write(c);
    return n;
}

void DeviceData::Release(qint64 number, bool used) const
{
    if (used)
        return;
    LockedCounter counter(FCounterPath);
    Counter c = counter.Read();
    // The last number taken goes back to the top; any other waits in the free list.
    if (number == c.Next - 1)
        --c.Next;
    else
        c.Free.push_back(number);
    counter.Write(c);
}

} // namespace cli

} // namespace zentrop
