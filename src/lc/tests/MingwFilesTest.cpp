// Language files that nobody here wrote: resource scripts compiled and linked by the MinGW
// resource compiler and linker, read through the whole path from file to texts.
#include "lc/LcUnit.h"
#include "lc/LcfFormat.h"

#include <QDir>
#include <QFile>
#include <QProcess>
#include <QStandardPaths>
#include <QTemporaryDir>

#include <gtest/gtest.h>

using namespace zentrop;

namespace {

// English and Hungarian columns; "Cancel" translated, "OK" without Hungarian text, and a form
// record for TWMAIN whose one property record carries the caption.
const char* const kScript = R"rc(LCHEADER RCDATA
BEGIN
  "LCHEADER", %1L, 2L, 1033L, 1038L
END
"65047" RCDATA
BEGIN
  %2 L"Cancel", L"M\x00e9gse"
END
"65046" RCDATA
BEGIN
  %3 L"OK"
END
twmain RCDATA
BEGIN
  4L, "TWMA", 1L, 8L, 0L, 24L, 13L, 0L, -1L, 37L, 24L, "wMain-Caption", L"Zentrop (hu)"
END
)rc";

QString Tool(const char* name)
{
    return QStandardPaths::findExecutable(QStringLiteral("i686-w64-mingw32-") + QLatin1String(name));
}

bool Run(const QString& program, const QStringList& args, QString* output = nullptr)
{
    QProcess p;
    p.setProcessChannelMode(QProcess::MergedChannels);
    p.start(program, args);
    if (!p.waitForFinished(60000))
        return false;
    if (output)
        *output = QString::fromLocal8Bit(p.readAll());
    return p.exitStatus() == QProcess::NormalExit && p.exitCode() == 0;
}

// Compiles and links the script with the given flag word; returns the module's path.
QString BuildWithMingw(const QTemporaryDir& dir, bool leadingPair)
{
    const QString rc = dir.filePath(QStringLiteral("lang.rc"));
    const QString obj = dir.filePath(QStringLiteral("lang.o"));
    const QString lcf = dir.filePath(QStringLiteral("lang.lcf"));
    // Pairs of (offset, size): with the leading pair every offset moves by 8.
    const QString cancel = leadingPair ? QStringLiteral("0L, -1L, 24L, 12L, 36L, 10L,") : QStringLiteral("16L, 12L, 28L, 10L,");
    const QString ok = leadingPair ? QStringLiteral("0L, -1L, 24L, 4L, 0L, -1L,") : QStringLiteral("16L, 4L, 0L, -1L,");
    QFile f(rc);
    EXPECT_TRUE(f.open(QIODevice::WriteOnly));
    f.write(QString::fromLatin1(kScript).arg(leadingPair ? 1 : 0).arg(cancel, ok).toLatin1());
    f.close();
    QString out;
    EXPECT_TRUE(Run(Tool("windres"), {QStringLiteral("--preprocessor=cat"), QStringLiteral("-i"), rc, QStringLiteral("-o"), obj}, &out))
        << out.toStdString();
    EXPECT_TRUE(Run(Tool("ld"), {QStringLiteral("--dll"), QStringLiteral("-e"), QStringLiteral("0"), QStringLiteral("-s"),
                                 QStringLiteral("-o"), lcf, obj},
                    &out))
        << out.toStdString();
    return lcf;
}

} // namespace

TEST(MingwFiles, ReadThroughTheWholePath)
{
    ASSERT_FALSE(Tool("windres").isEmpty()) << "the MinGW binutils are missing; tools/setup.sh installs them";
    for (const bool leadingPair : {false, true}) {
        SCOPED_TRACE(testing::Message() << "leading pair " << leadingPair);
        QTemporaryDir dir;
        const QString path = BuildWithMingw(dir, leadingPair);
        ASSERT_EQ(LcLoadLanguage(path, 1038, nullptr, nullptr), 1);
        EXPECT_EQ(CurrentLcf()->StrColumn(), leadingPair ? 2 : 1);
        EXPECT_EQ(LoadResString(res::SMsgDlgCancel), QStringLiteral("Mégse"));
        EXPECT_EQ(LoadResString(res::SMsgDlgOK), QStringLiteral("OK"));
        const auto form = CurrentLcf()->FindResource(QStringLiteral("TWMAIN"));
        ASSERT_TRUE(form);
        const QList<lcf::FormEntry> entries = lcf::ReadFormRecord(*form, CurrentLcf()->LangIndex());
        ASSERT_EQ(entries.size(), 1);
        EXPECT_EQ(entries[0].Key, QByteArray("wMain-Caption"));
        EXPECT_TRUE(entries[0].HasText);
        EXPECT_EQ(entries[0].Text, QStringLiteral("Zentrop (hu)"));
        EXPECT_EQ(LcLoadLanguage(path, 1031, nullptr, nullptr), 0);
        EXPECT_EQ(LoadResString(res::SMsgDlgCancel), QStringLiteral("Cancel"));
    }
}
