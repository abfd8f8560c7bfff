// The language file's records: the header "LCHEADER", string records and form records, read
// from resource data with every offset checked against the resource (anything outside it
// counts as absent), and the key and property path tokens of form records.
#pragma once

#include <QByteArray>
#include <QByteArrayView>
#include <QList>
#include <QString>
#include <QStringList>

#include <cstdint>
#include <optional>

namespace zentrop {

namespace lcf {

inline const QString HeaderName = QStringLiteral("LCHEADER");
inline constexpr QByteArrayView Signature = "LCHEADER";
inline constexpr int HeaderSize = 16;
// Flag bit 0: string records carry one extra pair ahead of the first language's pair.
inline constexpr uint32_t FlagLeadingPair = 1;

struct Header {
    uint32_t Flags = 0;
    QList<int32_t> Languages;
};

// The header, or nothing (with the reason) when it is shorter than 16 bytes, has the wrong
// signature or lists more languages than it holds.
std::optional<Header> ReadHeader(QByteArrayView resource, QString* error = nullptr);

// Pair k of a table of offset and size pairs that starts at pairAt of the record; offsets
// count from base. Returns the size (negative: no text) and sets text when there is one. A
// pair or a text that lies outside the record counts as no text (-1).
int32_t ReadPair(QByteArrayView record, int64_t base, int64_t pairAt, QByteArrayView* text);

// UTF-16 little-endian code units; an odd last byte is ignored.
QString DecodeUtf16(QByteArrayView bytes);

// One property record of a form record: the 8-bit key and the text of one language.
struct FormEntry {
    QByteArray Key;
    bool HasText = false;
    QString Text;
};

// The property records of a form record in table order, with the texts of language position
// langIndex. Records whose key lies outside the resource are left out.
QList<FormEntry> ReadFormRecord(QByteArrayView record, int langIndex);

// What the readers above take as no text, named for tools that show a file. Empty when the
// pair at pairAt (offsets from base) is whole and its text lies inside the record.
QString PairProblem(QByteArrayView record, int64_t base, int64_t pairAt);
// Each damage of a form record whose texts are for these languages, in table order.
QStringList FormRecordProblems(QByteArrayView record, const QList<int32_t>& languages);

// The token of s from pos (counted from 1) up to the next delimiter; pos moves past it, or
// becomes 0 when nothing follows.
QString NextToken(const QString& s, QChar delimiter, int& pos);

enum class IndexKind { ikNone, ikStrings, ikCollection };

// Splits a property path element "Name", "Name(i)" or "Name<i>". An index that is not a
// decimal integer raises EConvertError "'%s' is not a valid integer value".
void SplitIndexed(const QString& element, IndexKind& kind, int& index, QString& name);

} // namespace lcf

} // namespace zentrop
