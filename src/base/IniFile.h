// The settings file: an INI file read and written like the platform's private-profile
// functions, one line per value, names compared without regard to letter case.
#pragma once

#include <QByteArray>
#include <QHash>
#include <QString>
#include <QStringList>

#include <optional>

class TIniFile {
public:
    // Values read back are cut to this many characters.
    static constexpr int MaxValueLength = 2047;

    explicit TIniFile(QString fileName);

    const QString& FileName() const { return FFileName; }

    QString ReadString(const QString& section, const QString& ident, const QString& def) const;
    int ReadInteger(const QString& section, const QString& ident, int def) const;
    bool ReadBool(const QString& section, const QString& ident, bool def) const;
    // The key names of a section, in file order.
    QStringList ReadSection(const QString& section) const;
    QStringList ReadSections() const;
    // True when the section holds at least one key.
    bool SectionExists(const QString& section) const;
    bool ValueExists(const QString& section, const QString& ident) const;

    // Every write replaces the file at once through a temporary file and a rename, so the
    // file on disk is always whole; a missing file is created. Failure raises
    // EIniFileException "Unable to write to %s".
    void WriteString(const QString& section, const QString& ident, const QString& value);
    void WriteInteger(const QString& section, const QString& ident, int value);
    void WriteBool(const QString& section, const QString& ident, bool value);
    void EraseSection(const QString& section);
    void DeleteKey(const QString& section, const QString& ident);

    // Every write is already on disk; kept for callers that flush before they finish.
    void UpdateFile() {}

    // Writes between BeginBatch and the matching EndBatch reach the file together, in the
    // one replacement EndBatch makes, so that the file never holds only some of them; reads
    // in between see them. CancelBatch drops them. A failed EndBatch raises like a write
    // and leaves the file as it was.
    void BeginBatch();
    void EndBatch();
    void CancelBatch();

private:
    // The file's lines, decoded, with the original bytes of those that are not UTF-8, so
    // that rewriting the file keeps them exactly as they were.
    struct Lines {
        QStringList text;
        QHash<QString, QByteArray> raw;
        bool utf8Mark = false;   // the file began with a UTF-8 byte order mark, kept on writing
    };
    Lines LoadLines(bool forWrite = false) const;
    void SaveLines(const Lines& lines);

    QString FFileName;
    int FBatchDepth = 0;
    std::optional<Lines> FBatch;
};
