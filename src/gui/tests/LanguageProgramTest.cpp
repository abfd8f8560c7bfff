// The whole program beside a language file: the window comes up with the translated texts and
// the message boxes carry translated titles; a broken or hostile file leaves the built-in texts.
#include "gui/MainWindow.h"
#include "ProgramEntry.h"
#include "base/SettingsFile.h"
#include "base/IniFile.h"
#include "base/ResStrings.h"
#include "forms/Actions.h"
#include "forms/Application.h"
#include "forms/Buttons.h"
#include "forms/ComboBox.h"
#include "forms/Controls.h"
#include "forms/MessageBox.h"
#include "forms/RadioGroup.h"
#include "lc/LcUnit.h"
#include "lc/LcfWriter.h"

#include <QFile>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>

#include <memory>
#include <vector>

using namespace zentrop;

namespace {

const QString kCaption = QStringLiteral("Zentrop – firmware frissítés");

// Hungarian in the second column, English in the first.
lcf::LanguageFile Hungarian()
{
    lcf::LanguageFile file;
    file.Languages = {1033, 1038};
    auto hu = [](const char* text) { return QList<lcf::TText>{std::nullopt, QString::fromUtf8(text)}; };
    file.Strings[res::SMsgDlgError] = {std::nullopt, hu("Hiba")};
    file.Strings[res::SFOpenErrorEx] = {std::nullopt, hu("A(z) \"%s\" fájl nem nyitható meg. %s")};
    file.Strings[res::SInvalidInteger] = {std::nullopt, hu("'%s' nem érvényes egész szám")};
    file.Forms[QStringLiteral("TWMAIN")] = {
        {"wMain-Caption", {std::nullopt, kCaption}},
        {"Label1-Caption", hu("Frissítő fájl:")},
        {"rgUpgradeMode-Items.Strings(2)", hu("Flash+EEProm együtt")},
        {"aPrepareUpgrade-Caption", hu("Előkészítés")},
    };
    return file;
}

} // namespace

class LanguageProgramTest : public QObject {
    Q_OBJECT

private slots:
    void init();
    void cleanup();
    void programShowsTranslatedWindowAndMessageBoxes();
    void unusableFilesLeaveTheBuiltInTexts_data();
    void unusableFilesLeaveTheBuiltInTexts();
    void aRecordTheFrameworkRejectsIsReportedAndTheWindowGoesOn();

private:
    // The language file the program looks for: beside this test program.
    static QString LanguageFile() { return settings::LanguageFileName(QCoreApplication::applicationFilePath()); }
    void WriteLanguageFile(const QByteArray& bytes)
    {
        QFile f(LanguageFile());
        QVERIFY(f.open(QIODevice::WriteOnly | QIODevice::Truncate));
        QCOMPARE(f.write(bytes), bytes.size());
    }
    // Settings naming a port that does not exist, so nothing real is opened.
    QString Settings()
    {
        const QString path = FDir->filePath(QStringLiteral("zentrop.ini"));
        TIniFile ini(path);
        ini.WriteString(QStringLiteral("COMMON"), QStringLiteral("comport"), FDir->filePath(QStringLiteral("no-such-port")));
        ini.UpdateFile();
        return path;
    }

    std::unique_ptr<QTemporaryDir> FDir;
    std::vector<MessageBoxCall> FBoxes;
    std::unique_ptr<ScopedMessageBoxHook> FHook;
};

void LanguageProgramTest::init()
{
    FDir = std::make_unique<QTemporaryDir>();
    FBoxes.clear();
    FHook = std::make_unique<ScopedMessageBoxHook>([this](const MessageBoxCall& c) { FBoxes.push_back(c); });
}

void LanguageProgramTest::cleanup()
{
    FHook.reset();
    delete CurrentLcf();
    QFile::remove(LanguageFile());
}

void LanguageProgramTest::programShowsTranslatedWindowAndMessageBoxes()
{
    WriteLanguageFile(lcf::BuildLanguageFile(Hungarian()));
    const QString missing = FDir->filePath(QStringLiteral("missing.upg"));
    QStringList seen;
    QTimer::singleShot(0, [&] {
        TwMain* w = nullptr;
        for (QWidget* top : QApplication::topLevelWidgets())
            if (auto* m = qobject_cast<TwMain*>(top))
                w = m;
        if (!w)
            return QApplication::exit(9);
        seen = {w->Caption(), w->Label1->Caption(), w->rgUpgradeMode->Items()->Get(2), w->Button1->Caption(),
                w->lbUser->Caption()};
        w->cbFile->SetText(missing);
        w->aPrepareUpgrade->Execute();
        w->aExit->Execute();
    });
    QCOMPARE(RunProgram(*static_cast<TApplication*>(qApp), Settings()), 0);
    QCOMPARE(seen, (QStringList{kCaption, QStringLiteral("Frissítő fájl:"), QStringLiteral("Flash+EEProm együtt"),
                                QStringLiteral("Előkészítés"), QStringLiteral("User:")}));
    // The port's message first (fixed text, the program's title), then the standard error report.
    QCOMPARE(FBoxes.size(), size_t(2));
    QVERIFY(FBoxes[0].Text.startsWith(QStringLiteral("Hiba a ")));
    QCOMPARE(FBoxes[1].Title, QStringLiteral("Hiba"));
    QVERIFY2(FBoxes[1].Text.startsWith(QStringLiteral("A(z) \"") + missing + QStringLiteral("\" fájl nem nyitható meg.")),
             qPrintable(FBoxes[1].Text));
}

void LanguageProgramTest::unusableFilesLeaveTheBuiltInTexts_data()
{
    QTest::addColumn<QByteArray>("file");
    const QByteArray good = lcf::BuildLanguageFile(Hungarian());
    QTest::addRow("none") << QByteArray();
    QTest::addRow("text") << QByteArray("LCHEADER\n1038\n");
    QTest::addRow("cut short") << good.left(good.size() / 2);
    QByteArray pe32plus = lcf::BuildLanguageFile(Hungarian(), {true, 0});
    pe32plus[0x40 + 24] = 0x0C; // neither PE32 nor PE32+
    QTest::addRow("unknown optional header") << pe32plus;
    lcf::LanguageFile german = Hungarian();
    german.Languages = {1033, 1031};
    QTest::addRow("no Hungarian") << lcf::BuildLanguageFile(german);
}

void LanguageProgramTest::unusableFilesLeaveTheBuiltInTexts()
{
    QFETCH(QByteArray, file);
    if (!file.isEmpty())
        WriteLanguageFile(file);
    TIniFile ini(Settings());
    TwMain w(ini);
    QCOMPARE(w.Caption(), QStringLiteral("Zentrop"));
    QCOMPARE(w.Label1->Caption(), QStringLiteral("Upgrade file:"));
    QCOMPARE(CurrentLcf(), nullptr);
    QCOMPARE(LoadResString(res::SMsgDlgError), QStringLiteral("Error"));
}

void LanguageProgramTest::aRecordTheFrameworkRejectsIsReportedAndTheWindowGoesOn()
{
    lcf::LanguageFile file = Hungarian();
    // Applied first (the table runs last first), then the bad index ends the translation.
    file.Forms[QStringLiteral("TWMAIN")].prepend({"rgUpgradeMode-Items(x).Text", {std::nullopt, QStringLiteral("x")}});
    WriteLanguageFile(lcf::BuildLanguageFile(file));
    TIniFile ini(Settings());
    TwMain w(ini);
    QCOMPARE(w.Caption(), kCaption);
    QCOMPARE(FBoxes.size(), size_t(2));
    QCOMPARE(FBoxes[0].Title, QStringLiteral("Hiba"));
    QCOMPARE(FBoxes[0].Text, QStringLiteral("'x' nem érvényes egész szám"));
    // The rest of the start-up ran: the port was tried and the upgrade command is off.
    QVERIFY(FBoxes[1].Text.startsWith(QStringLiteral("Hiba a ")));
    QVERIFY(!w.aWriteToDevice->Enabled());
}

// The program entry is given the application object, which must be the program's own class.
int main(int argc, char** argv)
{
    TApplication app(argc, argv);
    LanguageProgramTest test;
    return QTest::qExec(&test, argc, argv);
}
#include "LanguageProgramTest.moc"
