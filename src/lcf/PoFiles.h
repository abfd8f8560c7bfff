// Translators' PO files read and PO templates written through the gettext PO library.
#pragma once

#include <QList>
#include <QString>

namespace zentrop {

namespace cli {

struct PoEntry {
    QString Context;
    QString Id;
    QString Str;
    // Extracted comment: what the entry is, for the translator.
    QString Comment;
};

// The entries of a PO file with a translation or without one; the header, obsolete entries
// and fuzzy translations are left out or counted as untranslated. False with the library's
// messages when the file cannot be read or parsed.
bool ReadPo(const QString& path, QList<PoEntry>& entries, QString& error);

// Writes a template: every entry with an empty translation ("-" writes to standard output).
bool WritePot(const QString& path, const QList<PoEntry>& entries, QString& error);

} // namespace cli

} // namespace zentrop
