// Reader times for a language file of about 1 MB: opening it (mapping, checking the headers
// and the whole resource tree, choosing the language), looking up resource strings, and
// walking a large form record.
#include "lc/LcUnit.h"
#include "lc/LcfFormat.h"
#include "lc/LcfWriter.h"

#include <QElapsedTimer>
#include <QFile>
#include <QTemporaryDir>

#include <cstdio>

using namespace zentrop;

namespace {

constexpr int kStrings = 1500;
constexpr int kProperties = 1500;
constexpr int kFirstId = 10000;

lcf::LanguageFile LargeFile()
{
    lcf::LanguageFile file;
    file.Languages = {1033, 1038};
    const QString text = QStringLiteral("Árvíztűrő tükörfúrógép, a text of some length for one resource string ");
    for (int i = 0; i < kStrings; ++i)
        file.Strings[kFirstId + i] = {std::nullopt, {text + QString::number(i), text + QString::number(-i)}};
    QList<lcf::FormProperty> props;
    for (int i = 0; i < kProperties; ++i)
        props.append({QByteArray("Component") + QByteArray::number(i) + "-Caption", {text, text + QString::number(i)}});
    file.Forms[QStringLiteral("TWMAIN")] = props;
    return file;
}

double PerCall(QElapsedTimer& t, int calls)
{
    return double(t.nsecsElapsed()) / 1000.0 / calls;
}

} // namespace

int main()
{
    QTemporaryDir dir;
    const QString path = dir.filePath(QStringLiteral("zentrop.lcf"));
    const QByteArray bytes = lcf::BuildLanguageFile(LargeFile());
    QFile f(path);
    if (!f.open(QIODevice::WriteOnly) || f.write(bytes) != bytes.size())
        return 1;
    f.close();
    std::printf("language file: %lld bytes, %d string records, 1 form record of %d properties\n",
                static_cast<long long>(bytes.size()), kStrings, kProperties);

    constexpr int opens = 200;
    QElapsedTimer t;
    t.start();
    for (int i = 0; i < opens; ++i)
        if (LcLoadLanguage(path, 1038, nullptr, nullptr) != 1)
            return 1;
    std::printf("LcLoadLanguage (map, check every header and tree entry, choose): %.1f us per call (%d calls)\n",
                PerCall(t, opens), opens);

    constexpr int lookups = 20000;
    qsizetype total = 0;
    t.restart();
    for (int i = 0; i < lookups; ++i)
        total += LoadResString(kFirstId + (i * 7919) % kStrings).size();
    std::printf("LoadResString through the redirect, spread over all records: %.2f us per string\n", PerCall(t, lookups));
    t.restart();
    for (int i = 0; i < lookups; ++i)
        total += LoadResString(kFirstId + kStrings - 1).size();
    std::printf("LoadResString of the last record in the directory: %.2f us per string\n", PerCall(t, lookups));

    constexpr int walks = 50;
    t.restart();
    for (int i = 0; i < walks; ++i)
        total += lcf::ReadFormRecord(*CurrentLcf()->FindResource(QStringLiteral("TWMAIN")), CurrentLcf()->LangIndex()).size();
    std::printf("form record walk of %d properties: %.1f us per walk\n", kProperties, PerCall(t, walks));
    delete CurrentLcf();
    return total > 0 ? 0 : 1;
}
