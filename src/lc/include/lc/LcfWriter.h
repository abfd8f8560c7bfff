// Writing language files: a resource-only PE module (PE32 or PE32+) from a list of resources,
// and the header, string records and form records that go into it.
#pragma once

#include <QByteArray>
#include <QList>
#include <QMap>
#include <QString>

#include <cstdint>
#include <optional>

namespace zentrop {

// One resource: a string name, or an integer identifier when the name is empty.
struct PeResource {
    uint16_t Type = 10;
    QString Name;
    uint16_t Id = 0;
    uint16_t Language = 0;
    QByteArray Data;
};

struct PeOptions {
    bool Pe32Plus = false;
    // Bytes of other data ahead of the resource tree in its section; 0 gives the tree a
    // section of its own.
    uint32_t Leading = 0;
};

QByteArray WritePeResources(const QList<PeResource>& resources, const PeOptions& options = {});

namespace lcf {

using TText = std::optional<QString>;

QByteArray EncodeUtf16(const QString& text);
QByteArray BuildHeader(uint32_t flags, const QList<int32_t>& languages);
// One pair per text, in order; a missing text gets size -1.
QByteArray BuildStringRecord(const QList<TText>& pairs);

struct FormProperty {
    QByteArray Key; // ComponentName-PropertyPath
    QList<TText> Texts; // one per language position
};
QByteArray BuildFormRecord(const QList<FormProperty>& properties, const QByteArray& comment = QByteArray());

// A whole language file.
struct LanguageFile {
    uint32_t Flags = 0;
    QList<int32_t> Languages;
    struct TString {
        TText Source; // the leading pair's text, written when flag bit 0 is set
        QList<TText> Texts; // one per language position
    };
    QMap<int, TString> Strings;
    // By form class name (upper case).
    QMap<QString, QList<FormProperty>> Forms;
};
QByteArray BuildLanguageFile(const LanguageFile& file, const PeOptions& options = {});

} // namespace lcf

} // namespace zentrop
