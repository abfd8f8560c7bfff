// Fuzzes comma text and the INI reader: splitting never fails, joining and splitting again
// gives the same list, and any file reads and rewrites without loss of the written value.
#include "base/Exception.h"
#include "base/IniFile.h"
#include "base/Strings.h"

#include <QFile>
#include <QTemporaryDir>

#include <cstdlib>

using namespace zentrop;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    const QString text = QString::fromUtf8(reinterpret_cast<const char*>(data), static_cast<qsizetype>(size));

    const QStringList items = SplitCommaText(text);
    if (SplitCommaText(JoinCommaText(items)) != items)
        std::abort();

    static QTemporaryDir dir;
    const QString path = dir.filePath("fuzz.ini");
    {
        QFile f(path);
        if (!f.open(QIODevice::WriteOnly | QIODevice::Truncate))
            std::abort();
        f.write(reinterpret_cast<const char*>(data), static_cast<qsizetype>(size));
    }
    TIniFile ini(path);
    // A few sections and keys are enough: each read parses the whole file again.
    for (const QString& section : ini.ReadSections().mid(0, 3))
        for (const QString& key : ini.ReadSection(section).mid(0, 3))
            if (ini.ReadString(section, key, QString()).size() > TIniFile::MaxValueLength)
                std::abort();
    const QString value = items.isEmpty() ? QStringLiteral("v") : items.front().trimmed();
    const QString section = items.size() > 1 ? items[1] : QStringLiteral("S");
    try {
        ini.WriteString(section, QStringLiteral("key"), value);
    } catch (const EIniFileException&) {
        return 0;
    }
    const QString clean = section.trimmed();
    if (!clean.isEmpty() && !clean.contains(u'[') && !clean.contains(u']') && !clean.contains(u'\n') &&
        !clean.contains(u'\r') && !value.contains(u'\n') && !value.contains(u'\r') &&
        ini.ReadString(clean, QStringLiteral("key"), QStringLiteral("<none>")) != value.left(TIniFile::MaxValueLength).trimmed())
        std::abort();
    return 0;
}
