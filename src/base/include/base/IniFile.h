// The settings file: an INI file read and written like the platform's private-profile
// functions, one line per value, names compared without regard to letter case.
#pragma once

#include <QByteArray>
#include <QString>
#include <QStringList>

#include <optional>

namespace zentrop {

class TIniFile {
public:
    // Values read back are cut to this many characters.
    static constexpr int MaxValueLength = 2047;

    explicit TIniFile(QString fileName);

    const QString& FileName() const { return FFileName; }

    QString ReadString(const QString& section, const QString& ident, const QString& def) const;
    // True when the stored value is longer than ReadString gives back and the cut falls inside
    // an entry of the Separator-separated list it holds, so that the list can drop that cut
    // last entry; a cut next to a separator leaves every entry read whole.
    bool ValueCut(const QString& section, const QString& ident, QChar Separator) const;
    int ReadInteger(const QString& section, const QString& ident, int def) const;
    bool ReadBool(const QString& section, const QString& ident, bool def) const;
    // The key names of a section, in file order.
    QStringList ReadSection(const QString& section) const;
    QStringList ReadSections() const;
    // True when the section holds at least one key.
    bool SectionExists(const QString& section) const;
    bool ValueExists(const QString& section, const QString& ident) const;

    // Every write replaces the file at once through a temporary file and a rename, so the
    // file on disk is always whole; a missing file is created. A symbolic link is written
    // through (the file it names is replaced beside it), and the file keeps its mode and
    // owner. A file the user may not write (or that nobody may write) is left alone. Failure
    // raises EIniFileException "Unable to write to %s".
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
    // The file's lines, decoded, each with the bytes it was read from, so that rewriting the
    // file keeps every line that did not change exactly as it was, in whatever encoding.
    // Lines are changed through the members, which keep the two lists in step.
    struct Lines {
        QStringList text;
        QList<QByteArray> raw;   // a null array for a line written by this program
        bool utf8Mark = false;   // the file began with a UTF-8 byte order mark, kept on writing

        void Set(qsizetype i, const QString& line);
        void Insert(qsizetype i, const QString& line);
        void Remove(qsizetype first, qsizetype last);
    };
    Lines LoadLines(bool forWrite = false) const;
    void SaveLines(const Lines& lines);

    QString FFileName;
    int FBatchDepth = 0;
    std::optional<Lines> FBatch;
};

} // namespace zentrop
