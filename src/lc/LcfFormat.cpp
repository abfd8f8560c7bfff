// Reading the language file's header, string and form records, and splitting form keys.
#include "lc/LcfFormat.h"

#include "base/Exception.h"
#include "base/Format.h"
#include "base/ResStrings.h"

#include <QtEndian>

#include <algorithm>

namespace zentrop {

namespace lcf {

namespace {

std::optional<int32_t> Int32At(QByteArrayView b, int64_t at)
{
    if (at < 0 || at > b.size() - 4)
        return std::nullopt;
    return qFromLittleEndian<int32_t>(b.data() + at);
}

// The bytes [at, at + size) of b, when they lie inside it.
std::optional<QByteArrayView> Slice(QByteArrayView b, int64_t at, int64_t size)
{
    if (at < 0 || size < 0 || at > b.size() || size > b.size() - at)
        return std::nullopt;
    return b.sliced(at, size);
}

} // namespace

std::optional<Header> ReadHeader(QByteArrayView resource, QString* error)
{
    auto fail = [error](const QString& why) -> std::optional<Header> {
        if (error)
            *error = why;
        return std::nullopt;
    };
    if (resource.size() < HeaderSize)
        return fail(QStringLiteral("header \"LCHEADER\" is %1 bytes long, shorter than 16").arg(resource.size()));
    if (resource.first(8) != Signature)
        return fail(QStringLiteral("header \"LCHEADER\" does not start with its signature"));
    Header header;
    header.Flags = qFromLittleEndian<uint32_t>(resource.data() + 8);
    const int32_t count = qFromLittleEndian<int32_t>(resource.data() + 12);
    if (count > (resource.size() - HeaderSize) / 4)
        return fail(QStringLiteral("header \"LCHEADER\" lists %1 languages but holds room for %2")
                        .arg(count)
                        .arg((resource.size() - HeaderSize) / 4));
    for (int32_t i = 0; i < count; ++i)
        header.Languages.append(qFromLittleEndian<int32_t>(resource.data() + HeaderSize + 4 * i));
    return header;
}

int32_t ReadPair(QByteArrayView record, int64_t base, int64_t pairAt, QByteArrayView* text)
{
    const auto offset = Int32At(record, pairAt);
    const auto size = Int32At(record, pairAt + 4);
    if (!offset || !size)
        return -1;
    if (*size < 0)
        return *size;
    const auto bytes = Slice(record, base + *offset, *size);
    // An empty text is empty wherever its offset points.
    if (!bytes && *size == 0) {
        if (text)
            *text = record.first(0);
        return 0;
    }
    if (!bytes)
        return -1;
    if (text)
        *text = *bytes;
    return *size;
}

QString DecodeUtf16(QByteArrayView bytes)
{
    const qsizetype units = bytes.size() / 2;
    QString s(units, Qt::Uninitialized);
    for (qsizetype i = 0; i < units; ++i)
        s[i] = QChar(qFromLittleEndian<uint16_t>(bytes.data() + 2 * i));
    return s;
}

QList<FormEntry> ReadFormRecord(QByteArrayView record, int langIndex)
{
    QList<FormEntry> entries;
    const auto skipped = Int32At(record, 0);
    if (!skipped || *skipped < 0)
        return entries;
    const int64_t countAt = 4 + int64_t(*skipped);
    const auto count = Int32At(record, countAt);
    if (!count || *count <= 0)
        return entries;
    const int64_t table = countAt + 4;
    // Entries past the end of the resource do not exist.
    const int64_t present = std::min<int64_t>(*count, std::max<int64_t>(0, (record.size() - table) / 8));
    for (int64_t j = 0; j < present; ++j) {
        const int64_t at = table + *Int32At(record, table + 8 * j);
        const auto keyOffset = Int32At(record, at);
        const auto keyLength = Int32At(record, at + 4);
        if (!keyOffset || !keyLength)
            continue;
        const auto key = Slice(record, at + *keyOffset, *keyLength);
        if (!key)
            continue;
        FormEntry entry;
        entry.Key = key->toByteArray();
        QByteArrayView text;
        entry.HasText = ReadPair(record, at, at + 8 + 8 * int64_t(langIndex), &text) >= 0;
        if (entry.HasText)
            entry.Text = DecodeUtf16(text);
        entries.append(entry);
    }
    return entries;
}

QString PairProblem(QByteArrayView record, int64_t base, int64_t pairAt)
{
    const auto offset = Int32At(record, pairAt);
    const auto size = Int32At(record, pairAt + 4);
    if (!offset || !size)
        return QStringLiteral("its offset and size lie past the record's end");
    if (*size > 0 && !Slice(record, base + *offset, *size))
        return QStringLiteral("its text (offset %1, %2 bytes) lies outside the record's %3 bytes")
            .arg(*offset)
            .arg(*size)
            .arg(record.size());
    return QString();
}

QStringList FormRecordProblems(QByteArrayView record, const QList<int32_t>& languages)
{
    const auto skipped = Int32At(record, 0);
    if (!skipped || *skipped < 0)
        return {QStringLiteral("its first field, the length of the text to skip, is missing or negative")};
    const int64_t countAt = 4 + int64_t(*skipped);
    const auto count = Int32At(record, countAt);
    if (!count || *count < 0)
        return {QStringLiteral("its count of property records is missing or negative")};
    const int64_t table = countAt + 4;
    const int64_t present = std::min<int64_t>(*count, std::max<int64_t>(0, (record.size() - table) / 8));
    QStringList problems;
    if (present < *count)
        problems << QStringLiteral("its table of %1 property records runs past the record's %2 bytes after %3 of them")
                        .arg(*count)
                        .arg(record.size())
                        .arg(present);
    for (int64_t j = 0; j < present; ++j) {
        const int64_t at = table + *Int32At(record, table + 8 * j);
        const auto keyOffset = Int32At(record, at);
        const auto keyLength = Int32At(record, at + 4);
        if (!keyOffset || !keyLength) {
            problems << QStringLiteral("property record %1 lies outside the record").arg(j);
            continue;
        }
        const auto key = Slice(record, at + *keyOffset, *keyLength);
        if (!key) {
            problems << QStringLiteral("the key of property record %1 (offset %2, %3 bytes) lies outside the record")
                            .arg(j)
                            .arg(*keyOffset)
                            .arg(*keyLength);
            continue;
        }
        for (qsizetype i = 0; i < languages.size(); ++i)
            if (const QString p = PairProblem(record, at, at + 8 + 8 * int64_t(i)); !p.isEmpty())
                problems << QStringLiteral("property record %1 (\"%2\"), language %3: %4")
                                .arg(j)
                                .arg(QString::fromLatin1(key->toByteArray()))
                                .arg(languages[i])
                                .arg(p);
    }
    return problems;
}

QString NextToken(const QString& s, QChar delimiter, int& pos)
{
    const int from = pos - 1;
    const qsizetype found = s.indexOf(delimiter, from);
    if (found < 0) {
        pos = 0;
        return s.mid(from);
    }
    pos = found + 2 > s.size() ? 0 : int(found + 2);
    return s.mid(from, found - from);
}

void SplitIndexed(const QString& element, IndexKind& kind, int& index, QString& name)
{
    kind = IndexKind::ikNone;
    index = 0;
    qsizetype open = element.indexOf(u'<');
    QChar close = u'>';
    if (open >= 0)
        kind = IndexKind::ikCollection;
    else if ((open = element.indexOf(u'(')) >= 0) {
        kind = IndexKind::ikStrings;
        close = u')';
    } else {
        name = element;
        return;
    }
    name = element.left(open);
    int pos = int(open) + 2;
    const QString digits = pos > element.size() ? QString() : NextToken(element, close, pos);
    bool ok = false;
    index = digits.toInt(&ok, 10);
    // Decimal digits with an optional sign, nothing around them.
    if (!ok || digits != digits.trimmed())
        throw EConvertError(Format(LoadResString(res::SInvalidInteger), {digits}));
}

} // namespace lcf

} // namespace zentrop
