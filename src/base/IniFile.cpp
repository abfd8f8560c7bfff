// INI file reading and atomic writing.
#include "base/IniFile.h"

#include "base/Exception.h"
#include "base/Format.h"
#include "base/ResStrings.h"

#include <QDateTime>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QRegularExpression>
#include <QTemporaryFile>
#include <QStringDecoder>

#include <cerrno>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <optional>
#include <utility>

namespace zentrop {

namespace {

// "[name]" gives the section name; anything else gives nothing.
std::optional<QString> SectionOf(const QString& line)
{
    const QString t = line.trimmed();
    if (t.size() < 2 || !t.startsWith(u'[') || !t.endsWith(u']'))
        return std::nullopt;
    return t.mid(1, t.size() - 2).trimmed();
}

// "key=value" gives the key and the value, both trimmed; comments and other lines give nothing.
std::optional<std::pair<QString, QString>> KeyValueOf(const QString& line)
{
    const QString t = line.trimmed();
    if (t.isEmpty() || t.startsWith(u';'))
        return std::nullopt;
    const qsizetype eq = t.indexOf(u'=');
    if (eq <= 0)
        return std::nullopt;
    return std::make_pair(t.left(eq).trimmed(), t.mid(eq + 1).trimmed());
}

// Values and names are one line each: line breaks inside them become blanks so they cannot
// split the file.
QString OneLine(QString value)
{
    value.replace(u'\r', u' ');
    value.replace(u'\n', u' ');
    return value;
}

// Names match without regard to letter case or surrounding blanks, as they are read trimmed.
bool SameName(const QString& a, const QString& b)
{
    return OneLine(a).trimmed().compare(OneLine(b).trimmed(), Qt::CaseInsensitive) == 0;
}

// The range [first, last) of the lines after the header of the section, or nothing.
std::optional<std::pair<qsizetype, qsizetype>> FindSection(const QStringList& lines, const QString& section)
{
    for (qsizetype i = 0; i < lines.size(); ++i) {
        const auto name = SectionOf(lines[i]);
        if (!name || !SameName(*name, section))
            continue;
        qsizetype end = i + 1;
        while (end < lines.size() && !SectionOf(lines[end]))
            ++end;
        return std::make_pair(i + 1, end);
    }
    return std::nullopt;
}


// A settings file holds a handful of lines; the file list, the one value that grows, would
// need some hundred thousand entries to come near this. A larger file is not a settings file.
constexpr qint64 kMaxFileSize = 16 * 1024 * 1024;

// Refuses, before anything opens it, what cannot be a settings file: a FIFO would hang the
// reader, a device or a link to one such as /dev/zero would be read without end. A missing
// file passes: it reads as empty and the first write creates it.
void CheckSettingsFile(const QString& fileName)
{
    struct stat st {};
    if (::stat(QFile::encodeName(fileName).constData(), &st) != 0)
        return;
    QString reason;
    if (!S_ISREG(st.st_mode))
        reason = QStringLiteral("Not a regular file");
    else if (st.st_size > kMaxFileSize)
        reason = Format(QStringLiteral("Larger than %d MiB, far more than a settings file holds"),
                        {static_cast<int>(kMaxFileSize / (1024 * 1024))});
    if (!reason.isEmpty())
        throw EIniFileException(Format(LoadResString(res::SFOpenErrorEx), {fileName, reason}));
}

// The temporary file a write fills before it renames it over the settings file. The name
// is its own pattern, so that one left behind by a killed write is told from a user's copy.
QString TemporaryTemplate(const QString& target)
{
    return target + QStringLiteral(".XXXXXX.tmp");
}

// A write that was killed before its rename leaves its temporary file behind. Those that no
// write has touched for a while are removed; a write in progress elsewhere keeps its own,
// which is younger.
void RemoveStaleTemporaries(const QString& target)
{
    const QFileInfo file(target);
    const QRegularExpression temporary(
        QStringLiteral("^%1\\.[A-Za-z0-9]{6}\\.tmp$").arg(QRegularExpression::escape(file.fileName())));
    const QDateTime stale = QDateTime::currentDateTimeUtc().addSecs(-60);
    const QFileInfoList entries = QDir(file.absolutePath())
                                      .entryInfoList({file.fileName() + QStringLiteral(".*.tmp")}, QDir::Files | QDir::Hidden);
    for (const QFileInfo& entry : entries)
        if (temporary.match(entry.fileName()).hasMatch() && entry.lastModified().toUTC() < stale)
            QFile::remove(entry.absoluteFilePath());
}

// The file a write replaces: a symbolic link is followed to the file it names, also when that
// file does not exist yet, so that the link stays and its target gets the settings. Empty for
// a loop of links.
QString WriteTarget(const QString& fileName)
{
    QString target = fileName;
    for (int depth = 0; depth < 40; ++depth) {
        const QFileInfo info(target);
        if (!info.isSymLink())
            return target;
        target = info.symLinkTarget();
    }
    return QString();
}

// Writes over the file's own bytes: the only way to keep a second name (hard link) of the
// file, or an owner that this user cannot give a new file. A write killed in the middle
// can leave the file mixed, which the atomic replacement never does, so it is used only then.
bool OverwriteInPlace(const QByteArray& path, const QByteArray& data)
{
    const int fd = ::open(path.constData(), O_WRONLY | O_CLOEXEC | O_NOFOLLOW);
    if (fd < 0)
        return false;
    qsizetype done = 0;
    while (done < data.size()) {
        const ssize_t n = ::pwrite(fd, data.constData() + done, size_t(data.size() - done), off_t(done));
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            break;
        done += n;
    }
    const bool ok = done == data.size() && ::ftruncate(fd, off_t(data.size())) == 0 && ::fsync(fd) == 0;
    return ::close(fd) == 0 && ok;
}

// Replaces the file at once: the data goes to a temporary file beside it, which is synced
// and renamed over it, so the file on disk is always whole.
bool ReplaceFile(const QString& fileName, const QByteArray& data)
{
    const QString target = WriteTarget(fileName);
    if (target.isEmpty())
        return false;
    const QByteArray targetPath = QFile::encodeName(target);
    struct stat st {};
    const bool exists = ::stat(targetPath.constData(), &st) == 0;
    // Replacing a write-protected file would overrule its protection; root too is held
    // back by a file that has no write permission at all.
    if (exists && ((st.st_mode & 0222) == 0 || ::access(targetPath.constData(), W_OK) != 0))
        return false;
    if (exists && st.st_nlink > 1)
        return OverwriteInPlace(targetPath, data);
    QTemporaryFile temp(TemporaryTemplate(target));
    if (!temp.open())
        return false;
    if (exists) {
        if ((st.st_uid != ::geteuid() || st.st_gid != ::getegid())
            && ::fchown(temp.handle(), st.st_uid, st.st_gid) != 0)
            return OverwriteInPlace(targetPath, data);
        if (::fchmod(temp.handle(), st.st_mode & 07777) != 0)
            return false;
    } else {
        temp.setPermissions(QFile::ReadOwner | QFile::WriteOwner | QFile::ReadGroup | QFile::ReadOther);
    }
    if (temp.write(data) != data.size() || !temp.flush() || ::fsync(temp.handle()) != 0)
        return false;
    if (::rename(QFile::encodeName(temp.fileName()).constData(), targetPath.constData()) != 0)
        return false;
    temp.setAutoRemove(false);
    RemoveStaleTemporaries(target);
    return true;
}

} // namespace

TIniFile::TIniFile(QString fileName) : FFileName(std::move(fileName)) {}

void TIniFile::Lines::Set(qsizetype i, const QString& line)
{
    text[i] = line;
    raw[i] = QByteArray();
}

void TIniFile::Lines::Insert(qsizetype i, const QString& line)
{
    text.insert(i, line);
    raw.insert(i, QByteArray());
}

void TIniFile::Lines::Remove(qsizetype first, qsizetype last)
{
    text.erase(text.begin() + first, text.begin() + last);
    raw.erase(raw.begin() + first, raw.begin() + last);
}

TIniFile::Lines TIniFile::LoadLines(bool forWrite) const
{
    if (FBatch)
        return *FBatch;
    CheckSettingsFile(FFileName);
    QFile f(FFileName);
    if (!f.open(QIODevice::ReadOnly)) {
        // Rewriting a file that exists but cannot be read would lose its other values. A
        // link to a file not made yet is followed: the first write creates that file.
        struct stat st {};
        if (forWrite && ::stat(QFile::encodeName(FFileName).constData(), &st) == 0)
            throw EIniFileException(Format(LoadResString(res::SIniFileWriteError), {FFileName}));
        return {};
    }
    Lines lines;
    QByteArray data = f.readAll();
    // Editors on other systems may begin the file with a byte order mark; the first section
    // is still found by its name.
    lines.utf8Mark = data.startsWith("\xEF\xBB\xBF");
    if (lines.utf8Mark)
        data.remove(0, 3);
    QList<QByteArray> raw = data.split('\n');
    if (!raw.isEmpty() && raw.back().isEmpty())
        raw.removeLast();
    for (QByteArray& line : raw) {
        if (line.endsWith('\r'))
            line.chop(1);
        QStringDecoder utf8(QStringDecoder::Utf8, QStringDecoder::Flag::Stateless);
        QString text = utf8.decode(line);
        // A line in an 8-bit code page reads as Latin-1.
        if (utf8.hasError())
            text = QString::fromLatin1(line);
        lines.text.append(text);
        lines.raw.append(line.isNull() ? QByteArray("") : line);
    }
    return lines;
}

void TIniFile::SaveLines(const Lines& lines)
{
    if (FBatch) {
        FBatch = lines;
        return;
    }
    QByteArray data = lines.utf8Mark ? QByteArray("\xEF\xBB\xBF") : QByteArray();
    for (qsizetype i = 0; i < lines.text.size(); ++i)
        data += (lines.raw[i].isNull() ? lines.text[i].toUtf8() : lines.raw[i]) + "\n";
    if (!ReplaceFile(FFileName, data))
        throw EIniFileException(Format(LoadResString(res::SIniFileWriteError), {FFileName}));
}

namespace {

// The whole stored value of the key, or nullopt when there is none.
std::optional<QString> StoredValue(const QStringList& lines, const QString& section, const QString& ident)
{
    if (const auto range = FindSection(lines, section)) {
        for (qsizetype i = range->first; i < range->second; ++i) {
            const auto kv = KeyValueOf(lines[i]);
            if (kv && SameName(kv->first, ident))
                return kv->second;
        }
    }
    return std::nullopt;
}

} // namespace

QString TIniFile::ReadString(const QString& section, const QString& ident, const QString& def) const
{
    return StoredValue(LoadLines().text, section, ident).value_or(def).left(MaxValueLength);
}

bool TIniFile::ValueCut(const QString& section, const QString& ident, QChar Separator) const
{
    const std::optional<QString> value = StoredValue(LoadLines().text, section, ident);
    return value && value->size() > MaxValueLength && value->at(MaxValueLength) != Separator
           && value->at(MaxValueLength - 1) != Separator;
}

int TIniFile::ReadInteger(const QString& section, const QString& ident, int def) const
{
    const QString s = ReadString(section, ident, QString());
    bool ok = false;
    // Hexadecimal is written with "0x" or "$".
    const int v = s.startsWith(QStringLiteral("0x"), Qt::CaseInsensitive) ? s.mid(2).toInt(&ok, 16)
                  : s.startsWith(u'$')                                   ? s.mid(1).toInt(&ok, 16)
                                                                         : s.toInt(&ok);
    return ok ? v : def;
}

bool TIniFile::ReadBool(const QString& section, const QString& ident, bool def) const
{
    return ReadInteger(section, ident, def ? 1 : 0) != 0;
}

QStringList TIniFile::ReadSection(const QString& section) const
{
    const QStringList lines = LoadLines().text;
    QStringList keys;
    if (const auto range = FindSection(lines, section))
        for (qsizetype i = range->first; i < range->second; ++i)
            if (const auto kv = KeyValueOf(lines[i]))
                keys.append(kv->first);
    return keys;
}

QStringList TIniFile::ReadSections() const
{
    QStringList names;
    for (const QString& l : LoadLines().text)
        if (const auto name = SectionOf(l))
            names.append(*name);
    return names;
}

bool TIniFile::SectionExists(const QString& section) const { return !ReadSection(section).isEmpty(); }

bool TIniFile::ValueExists(const QString& section, const QString& ident) const
{
    const QStringList keys = ReadSection(section);
    return std::any_of(keys.begin(), keys.end(), [&](const QString& k) { return SameName(k, ident); });
}

void TIniFile::WriteString(const QString& section, const QString& ident, const QString& value)
{
    Lines file = LoadLines(true);
    const QStringList& lines = file.text;
    const QString entry = OneLine(ident).trimmed() + u'=' + OneLine(value);
    const auto range = FindSection(lines, section);
    if (!range) {
        file.Insert(lines.size(), u'[' + OneLine(section).trimmed() + u']');
        file.Insert(lines.size(), entry);
        SaveLines(file);
        return;
    }
    for (qsizetype i = range->first; i < range->second; ++i) {
        const auto kv = KeyValueOf(lines[i]);
        if (kv && SameName(kv->first, ident)) {
            file.Set(i, entry);
            SaveLines(file);
            return;
        }
    }
    // New keys go after the section's last key, before any blank lines that separate it.
    qsizetype at = range->second;
    while (at > range->first && lines[at - 1].trimmed().isEmpty())
        --at;
    file.Insert(at, entry);
    SaveLines(file);
}

void TIniFile::WriteInteger(const QString& section, const QString& ident, int value)
{
    WriteString(section, ident, QString::number(value));
}

void TIniFile::WriteBool(const QString& section, const QString& ident, bool value)
{
    WriteString(section, ident, value ? QStringLiteral("1") : QStringLiteral("0"));
}

void TIniFile::EraseSection(const QString& section)
{
    Lines file = LoadLines(true);
    const QStringList& lines = file.text;
    const auto range = FindSection(lines, section);
    if (!range)
        return;
    file.Remove(range->first - 1, range->second);
    SaveLines(file);
}

void TIniFile::DeleteKey(const QString& section, const QString& ident)
{
    Lines file = LoadLines(true);
    const QStringList& lines = file.text;
    const auto range = FindSection(lines, section);
    if (!range)
        return;
    for (qsizetype i = range->first; i < range->second; ++i) {
        const auto kv = KeyValueOf(lines[i]);
        if (kv && SameName(kv->first, ident)) {
            file.Remove(i, i + 1);
            SaveLines(file);
            return;
        }
    }
}

void TIniFile::BeginBatch()
{
    if (FBatchDepth++ == 0) {
        try {
            FBatch = LoadLines(true);
        } catch (...) {
            FBatchDepth = 0;
            throw;
        }
    }
}

void TIniFile::EndBatch()
{
    if (FBatchDepth <= 0 || --FBatchDepth > 0)
        return;
    const Lines lines = std::move(*FBatch);
    FBatch.reset();
    SaveLines(lines);
}

void TIniFile::CancelBatch()
{
    FBatchDepth = 0;
    FBatch.reset();
}

} // namespace zentrop
