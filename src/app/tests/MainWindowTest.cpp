// The main window: start-up with its settings file, the layout, the commands and their states,
// choosing and preparing upgrade files, the port it opens, and what it saves when it closes.
#include "app/MainWindow.h"
#include "app/ProgramEntry.h"
#include "app/tests/UpgradeFileBuilder.h"
#include "base/IniFile.h"
#include "cport/ComPort.h"
#include "cport/tests/PtyPair.h"
#include "cport/tests/RecordingComDevice.h"
#include "forms/Actions.h"
#include "forms/Application.h"
#include "forms/Buttons.h"
#include "forms/ComboBox.h"
#include "forms/Controls.h"
#include "forms/Dialogs.h"
#include "forms/Menus.h"
#include "forms/MessageBox.h"
#include "forms/RadioGroup.h"

#include <QAction>
#include <QFile>
#include <QLineEdit>
#include <QMenu>
#include <QMenuBar>
#include <QTemporaryDir>
#include <QTimer>
#include <QtTest>

#include <memory>
#include <vector>

namespace {

bool WriteFile(const QString& path, const QByteArray& bytes)
{
    QFile f(path);
    return f.open(QIODevice::WriteOnly | QIODevice::Truncate) && f.write(bytes) == bytes.size();
}

// The language library's stand-ins, recording how the window calls them.
struct LanguageCalls {
    QString fileName;
    int languageId = 0;
    void* enumProc = reinterpret_cast<void*>(1);
    QObject* context = nullptr;
    QStringList deviceCallsBefore{QStringLiteral("none")};
    TForm* translated = nullptr;
    int result = 0;
};
LanguageCalls* gLanguage = nullptr;
// The device of the port of the window created last.
RecordingComDevice* gDevice = nullptr;

} // namespace

class MainWindowTest : public QObject {
    Q_OBJECT

private slots:
    void init();
    void cleanup();

    void settingsFileLiesBesideTheExecutable_data();
    void settingsFileLiesBesideTheExecutable();
    void firstStartWritesTheDefaultPortAndOpensIt();
    void commonSectionWithoutKeyCountsAsMissing();
    void fileListIsReadFromTheSettings_data();
    void fileListIsReadFromTheSettings();
    void componentsLieWhereTheLayoutPutsThem_data();
    void componentsLieWhereTheLayoutPutsThem();
    void windowHasFixedSizeFontAndMenu();
    void actionsStartEnabledOrNot_data();
    void actionsStartEnabledOrNot();
    void enterPreparesAndEscapeExits();
    void choosingAFileListsAndStoresIt();
    void typedNameIsNeitherListedNorStored();
    void prepareGoodFileShowsItsValues_data();
    void prepareGoodFileShowsItsValues();
    void firmwareValuesLiveOnFromFileToFile();
    void crcErrorKeepsTheLabels();
    void missingOrDamagedFileReachesTheErrorReport_data();
    void missingOrDamagedFileReachesTheErrorReport();
    void prepareEEPromOnlyTurnsUpgradeOff();
    void portThatCannotBeOpenedIsNamedInTheStartMessage();
    void portThatCannotBePurgedIsReportedAndStaysOpen();
    void pseudoTerminalPortIsOpenedAndClosed();
    void comSetupShowsTheDialogThenConnects();
    void comSetupErrorsReachTheErrorReport();
    void languageFileIsAskedForBeforeThePortOpens();
    void unwritableSettingsAreReportedAndTheWindowStillCloses();
    void closeErrorsAreIgnoredWhenTheWindowCloses();
    void programEntryPreparesRunsAndSaves();
    void unwritableSettingsEndTheProgramBeforeAWindow();

private:
    std::unique_ptr<TwMain> OpenWindow();
    QString IniPath() const { return FDir->filePath(QStringLiteral("zentrop.ini")); }
    QString WriteUpgrade(const QString& name, const QByteArray& bytes);
    void UseSystemDevices() { SetComDeviceFactory({}); }

    std::unique_ptr<QTemporaryDir> FDir;
    std::unique_ptr<TIniFile> FIni;
    // Failures the next recording device starts with.
    QHash<QString, int> FDeviceFailures;
    std::vector<TMessageBoxCall> FBoxes;
    std::unique_ptr<TScopedMessageBoxHook> FBoxHook;
    ComDeviceFactory FPreviousFactory;
};

void MainWindowTest::init()
{
    FDir = std::make_unique<QTemporaryDir>();
    QVERIFY(FDir->isValid());
    FIni = std::make_unique<TIniFile>(IniPath());
    FDeviceFailures.clear();
    FBoxes.clear();
    FBoxHook = std::make_unique<TScopedMessageBoxHook>([this](const TMessageBoxCall& c) { FBoxes.push_back(c); });
    FPreviousFactory = SetComDeviceFactory([this] {
        auto device = std::make_unique<RecordingComDevice>();
        for (auto i = FDeviceFailures.cbegin(); i != FDeviceFailures.cend(); ++i)
            device->Fail(i.key(), i.value());
        gDevice = device.get();
        return device;
    });
}

void MainWindowTest::cleanup()
{
    SetComDeviceFactory(FPreviousFactory);
    FBoxHook.reset();
    TOpenDialog::SetExecuteHook({});
    TCustomComPort::SetSetupDialogProc(nullptr);
    TwMain::SetLanguageHooks({});
    gDevice = nullptr;
}

std::unique_ptr<TwMain> MainWindowTest::OpenWindow()
{
    return std::make_unique<TwMain>(*FIni);
}

QString MainWindowTest::WriteUpgrade(const QString& name, const QByteArray& bytes)
{
    const QString path = FDir->filePath(name);
    if (!WriteFile(path, bytes))
        qFatal("cannot write %s", qPrintable(path));
    return path;
}

void MainWindowTest::settingsFileLiesBesideTheExecutable_data()
{
    QTest::addColumn<QString>("executable");
    QTest::addColumn<QString>("settings");
    QTest::addRow("no extension") << "/opt/z/zentrop" << "/opt/z/zentrop.ini";
    QTest::addRow("extension replaced") << "/opt/z/Zentrop.exe" << "/opt/z/Zentrop.ini";
    QTest::addRow("only the last extension") << "/opt/z.d/my.app.bin" << "/opt/z.d/my.app.ini";
}

void MainWindowTest::settingsFileLiesBesideTheExecutable()
{
    QFETCH(QString, executable);
    QFETCH(QString, settings);
    QCOMPARE(SettingsFileName(executable), settings);
}

void MainWindowTest::firstStartWritesTheDefaultPortAndOpensIt()
{
    QVERIFY(!QFile::exists(IniPath()));
    PrepareSettings(*FIni);
    QVERIFY(QFile::exists(IniPath()));
    QCOMPARE(FIni->ReadSection(QStringLiteral("COMMON")), QStringList{QStringLiteral("comport")});
    QCOMPARE(FIni->ReadString(QStringLiteral("COMMON"), QStringLiteral("comport"), QString()), QStringLiteral("COM1"));

    auto w = OpenWindow();
    const QStringList calls = gDevice->Calls();
    QCOMPARE(calls.filter(QRegularExpression(QStringLiteral("^Open"))), QStringList{QStringLiteral("Open COM1")});
    QVERIFY(w->pPort->Connected());
    // Opened, then both queues purged.
    QVERIFY(calls.last().startsWith(QStringLiteral("PurgeComm ")));
    const uint32_t purged = calls.last().mid(10).toUInt();
    QCOMPARE(purged & (PURGE_RXCLEAR | PURGE_TXCLEAR), uint32_t(PURGE_RXCLEAR | PURGE_TXCLEAR));
    QVERIFY(FBoxes.empty());
    QCOMPARE(w->cbFile->Items()->Count(), 0);
    QCOMPARE(w->cbFile->Text(), QString());
    QCOMPARE(w->lbPageInfo->Caption(), QString());

    // The design line settings reached the device.
    const DCB dcb = gDevice->LastDCB();
    QCOMPARE(dcb.BaudRate, uint32_t(115200));
    QCOMPARE(dcb.ByteSize, uint8_t(8));
    QCOMPARE(dcb.Parity, uint8_t(DCB::NOPARITY));
    QCOMPARE(dcb.StopBits, uint8_t(DCB::ONESTOPBIT));
    QCOMPARE(dcb.Flags & (DCB::fOutxCtsFlow | DCB::fOutxDsrFlow | DCB::fDtrControlMask | DCB::fRtsControlMask |
                          DCB::fOutX | DCB::fInX),
             uint32_t(0));
    const COMMTIMEOUTS timeouts = gDevice->LastTimeouts();
    QCOMPARE(timeouts.ReadIntervalTimeout, uint32_t(10));
    QCOMPARE(timeouts.ReadTotalTimeoutMultiplier, uint32_t(10));
    QCOMPARE(timeouts.ReadTotalTimeoutConstant, uint32_t(500));
    QVERIFY(w->pPort->Events().Empty());
    QCOMPARE(w->pPort->SyncMethod(), TSyncMethod::smDisableEvents);
    QVERIFY(!w->pPort->ThreadRunning());

    // At the end the port name the window ends with is stored.
    w->pPort->SetPort(QStringLiteral("COM7"));
    w->close();
    SaveSettings(*FIni, *w);
    QCOMPARE(TIniFile(IniPath()).ReadString(QStringLiteral("COMMON"), QStringLiteral("comport"), QString()),
             QStringLiteral("COM7"));
}

void MainWindowTest::commonSectionWithoutKeyCountsAsMissing()
{
    QVERIFY(WriteFile(IniPath(), "[COMMON]\n\n[UPGRADE]\nupgradefile=/x.upg\n"));
    PrepareSettings(*FIni);
    QCOMPARE(FIni->ReadString(QStringLiteral("COMMON"), QStringLiteral("comport"), QString()), QStringLiteral("COM1"));
    QCOMPARE(FIni->ReadString(QStringLiteral("UPGRADE"), QStringLiteral("upgradefile"), QString()), QStringLiteral("/x.upg"));

    // A section with any key is left as it is.
    QVERIFY(WriteFile(IniPath(), "[COMMON]\nother=1\n"));
    PrepareSettings(*FIni);
    QVERIFY(!FIni->ValueExists(QStringLiteral("COMMON"), QStringLiteral("comport")));
    auto w = OpenWindow();
    QCOMPARE(w->pPort->Port(), QStringLiteral("COM1"));
}

void MainWindowTest::fileListIsReadFromTheSettings_data()
{
    QTest::addColumn<QString>("fileList");
    QTest::addColumn<QStringList>("items");
    QTest::addRow("quoted name with a blank")
        << "\"/tmp/my file.upg\",/tmp/b.upg" << QStringList{"/tmp/my file.upg", "/tmp/b.upg"};
    QTest::addRow("same name unquoted splits at the blank")
        << "/tmp/my file.upg,/tmp/b.upg" << QStringList{"/tmp/my", "file.upg", "/tmp/b.upg"};
    QTest::addRow("empty") << "" << QStringList{};
    QTest::addRow("over 2047 characters is cut") << QString(3000, u'a') << QStringList{QString(2047, u'a')};
}

void MainWindowTest::fileListIsReadFromTheSettings()
{
    QFETCH(QString, fileList);
    QFETCH(QStringList, items);
    QVERIFY(WriteFile(IniPath(), "[UPGRADE]\nfilelist=" + fileList.toUtf8() + "\nupgradefile=/tmp/last one.upg\n"));
    auto w = OpenWindow();
    QCOMPARE(w->cbFile->Items()->ToStringList(), items);
    QCOMPARE(w->cbFile->Text(), QStringLiteral("/tmp/last one.upg"));
    QCOMPARE(w->cbFile->ItemIndex(), -1);
}

void MainWindowTest::componentsLieWhereTheLayoutPutsThem_data()
{
    QTest::addColumn<QString>("name");
    QTest::addColumn<QString>("parent");
    QTest::addColumn<QRect>("bounds");
    QTest::addColumn<QString>("caption");
    // A width of 0 marks a label that sizes itself to its text.
    QTest::newRow("Panel1") << "Panel1" << "client" << QRect(0, 0, 522, 137) << "";
    QTest::newRow("Label1") << "Label1" << "Panel1" << QRect(8, 16, 0, 0) << "Upgrade file:";
    QTest::newRow("cbFile") << "cbFile" << "Panel1" << QRect(80, 16, 400, 21) << "";
    QTest::newRow("SpeedButton1") << "SpeedButton1" << "Panel1" << QRect(480, 16, 23, 19) << "...";
    QTest::newRow("GroupBox1") << "GroupBox1" << "Panel1" << QRect(16, 48, 369, 81) << "Upgrade info ";
    QTest::newRow("lbUpgradeFlashName") << "lbUpgradeFlashName" << "GroupBox1" << QRect(16, 24, 0, 0) << "Name:";
    QTest::newRow("lbUpgradeFlashVersion") << "lbUpgradeFlashVersion" << "GroupBox1" << QRect(232, 24, 0, 0) << "Version:";
    QTest::newRow("lbUser") << "lbUser" << "GroupBox1" << QRect(16, 48, 0, 0) << "User:";
    QTest::newRow("rgUpgradeMode") << "rgUpgradeMode" << "Panel1" << QRect(392, 56, 113, 73) << " Upgrade mode ";
    QTest::newRow("pbar") << "pbar" << "client" << QRect(48, 152, 425, 17) << "";
    QTest::newRow("lbPageInfo") << "lbPageInfo" << "client" << QRect(48, 176, 345, 13) << "";
    QTest::newRow("chkAutoExit") << "chkAutoExit" << "client" << QRect(408, 176, 97, 17) << "Exit on finish";
    QTest::newRow("Panel2") << "Panel2" << "client" << QRect(0, 200, 522, 41) << "";
    QTest::newRow("Button1") << "Button1" << "Panel2" << QRect(32, 8, 100, 25) << "Prepare Flash";
    QTest::newRow("Button2") << "Button2" << "Panel2" << QRect(144, 8, 100, 25) << "Do Upgrade";
    QTest::newRow("Button4") << "Button4" << "Panel2" << QRect(256, 8, 100, 25) << "Get FirmwareID";
    QTest::newRow("Button3") << "Button3" << "Panel2" << QRect(392, 8, 100, 25) << "Exit";
}

void MainWindowTest::componentsLieWhereTheLayoutPutsThem()
{
    QFETCH(QString, name);
    QFETCH(QString, parent);
    QFETCH(QRect, bounds);
    QFETCH(QString, caption);
    auto w = OpenWindow();
    w->show();
    QVERIFY(QTest::qWaitForWindowExposed(w.get()));
    auto* c = qobject_cast<QWidget*>(w->FindComponent(name));
    QVERIFY(c);
    QCOMPARE(c->parentWidget()->objectName(), parent);
    QCOMPARE(c->pos(), bounds.topLeft());
    if (bounds.width() > 0) {
        QCOMPARE(c->size(), bounds.size());
    } else {
        // Sized to its text: the whole caption fits.
        QCOMPARE(c->width(), c->sizeHint().width());
        QVERIFY(c->width() >= c->fontMetrics().horizontalAdvance(caption));
    }
    if (!caption.isEmpty())
        QCOMPARE(c->property("Caption").toString(), caption);
    QVERIFY(c->isVisible());
}

void MainWindowTest::windowHasFixedSizeFontAndMenu()
{
    auto w = OpenWindow();
    w->show();
    QVERIFY(QTest::qWaitForWindowExposed(w.get()));
    QCOMPARE(w->Caption(), QStringLiteral("Zentrop"));
    QCOMPARE(w->objectName(), QStringLiteral("wMain"));
    QCOMPARE(w->Client()->size(), QSize(522, 241));
    // The menu bar takes its height above the client area; the window cannot be resized.
    QMenuBar* bar = w->MainMenu1->Bar();
    QCOMPARE(w->Client()->y(), bar->geometry().bottom() + 1);
    QCOMPARE(w->size(), QSize(522, 241 + bar->height()));
    QCOMPARE(w->minimumSize(), w->maximumSize());
    QCOMPARE(w->font().family(), QStringLiteral("MS Sans Serif"));
    QCOMPARE(w->font().pixelSize(), 11);
    QCOMPARE(w->Font()->Size(), 8);

    QStringList top;
    for (QAction* a : bar->actions())
        top << a->text();
    QCOMPARE(top, (QStringList{"Program", "Setup", "Terminal", "Exit"}));
    QCOMPARE(bar->actions()[0]->menu()->actions().size(), 1);
    QCOMPARE(bar->actions()[0]->menu()->actions()[0]->text(), QStringLiteral("Exit"));
    QCOMPARE(bar->actions()[1]->menu()->actions()[0]->text(), QStringLiteral("ComSetup"));
    QVERIFY(!bar->actions()[2]->menu());
    QVERIFY(!bar->actions()[2]->isEnabled());
    QVERIFY(!bar->actions()[3]->menu());

    QCOMPARE(w->rgUpgradeMode->Items()->ToStringList(), (QStringList{"Flash", "EEProm", "Flash+EEProm"}));
    QCOMPARE(w->rgUpgradeMode->ItemIndex(), 0);
    QVERIFY(!w->chkAutoExit->Checked());
}

void MainWindowTest::actionsStartEnabledOrNot_data()
{
    QTest::addColumn<QString>("action");
    QTest::addColumn<QString>("caption");
    QTest::addColumn<bool>("enabled");
    QTest::newRow("aSelectUpgradeFile") << "aSelectUpgradeFile" << "FlashFile" << true;
    QTest::newRow("aWriteToDevice") << "aWriteToDevice" << "Do Upgrade" << false;
    QTest::newRow("aReadFromDevice") << "aReadFromDevice" << "ReadFromDevice" << false;
    QTest::newRow("aComSetup") << "aComSetup" << "ComSetup" << true;
    QTest::newRow("aExit") << "aExit" << "Exit" << true;
    QTest::newRow("aPrepareUpgrade") << "aPrepareUpgrade" << "Prepare Flash" << true;
    QTest::newRow("aGetFirmwareID") << "aGetFirmwareID" << "Get FirmwareID" << false;
    QTest::newRow("aTerminal") << "aTerminal" << "Terminal" << false;
}

void MainWindowTest::actionsStartEnabledOrNot()
{
    QFETCH(QString, action);
    QFETCH(QString, caption);
    QFETCH(bool, enabled);
    auto w = OpenWindow();
    auto* a = qobject_cast<TAction*>(w->FindComponent(action));
    QVERIFY(a);
    QCOMPARE(a->Caption(), caption);
    QCOMPARE(a->Enabled(), enabled);
    // Every control and menu entry linked to it shows the same state.
    for (QObject* o : w->Components()) {
        if (o->property("Action").value<TAction*>() != a)
            continue;
        if (auto* widget = qobject_cast<QWidget*>(o))
            QCOMPARE(widget->isEnabled(), enabled);
        if (auto* item = qobject_cast<TMenuItem*>(o))
            QCOMPARE(item->Enabled(), enabled);
    }
}

void MainWindowTest::enterPreparesAndEscapeExits()
{
    const QString file = WriteUpgrade(QStringLiteral("a.upg"), upgtest::Builder().Flash().Page(0, "x").Bytes());
    auto w = OpenWindow();
    w->show();
    QVERIFY(QTest::qWaitForWindowExposed(w.get()));
    QVERIFY(w->Button1->Default());
    QVERIFY(w->Button3->Cancel());
    w->cbFile->lineEdit()->setFocus();
    QTest::keyClicks(w->cbFile->lineEdit(), file);
    QTest::keyClick(w->cbFile->lineEdit(), Qt::Key_Return);
    QCOMPARE(w->lbPageInfo->Caption(), QStringLiteral("Ready for Upgrade (Flash: 1 pages, EEProm: 0 pages"));

    // Escape reaches the cancel button from inside the file name's edit field too.
    QTest::keyClick(w->cbFile->lineEdit(), Qt::Key_Escape);
    QVERIFY(!w->isVisible());
    QVERIFY(w->FlashPages().empty());
    QVERIFY(!w->pPort->Connected());
    QVERIFY(FBoxes.empty());
}

void MainWindowTest::choosingAFileListsAndStoresIt()
{
    const QString chosen = FDir->filePath(QStringLiteral("my file.upg"));
    std::vector<QString> seen;
    bool answer = true;
    TOpenDialog::SetExecuteHook([&](TOpenDialog& d) {
        seen = {d.Filter(), QString::number(d.FilterIndex()), d.FileName()};
        if (answer)
            d.SetFileName(chosen);
        return answer;
    });
    QVERIFY(WriteFile(IniPath(), "[UPGRADE]\nupgradefile=/start.upg\n"));
    auto w = OpenWindow();

    // The small button runs the command.
    w->SpeedButton1->click();
    QCOMPARE(seen, (std::vector<QString>{"Upgrade (*.upg)|*.upg|All files (*.*)|*.*", "1", "/start.upg"}));
    QCOMPARE(w->cbFile->Text(), chosen);
    QCOMPARE(TIniFile(IniPath()).ReadString(QStringLiteral("UPGRADE"), QStringLiteral("upgradefile"), QString()), chosen);

    w->aSelectUpgradeFile->Execute();
    QCOMPARE(seen[2], chosen);
    QCOMPARE(w->cbFile->Items()->ToStringList(), (QStringList{chosen, chosen}));

    // Cancelled: nothing changes.
    answer = false;
    w->cbFile->SetText(QStringLiteral("/other.upg"));
    w->aSelectUpgradeFile->Execute();
    QCOMPARE(w->cbFile->Items()->Count(), 2);
    QCOMPARE(TIniFile(IniPath()).ReadString(QStringLiteral("UPGRADE"), QStringLiteral("upgradefile"), QString()), chosen);

    w->close();
    const QString quoted = u'"' + chosen + u'"';
    QCOMPARE(TIniFile(IniPath()).ReadString(QStringLiteral("UPGRADE"), QStringLiteral("filelist"), QString()),
             quoted + u',' + quoted);
    QVERIFY(FBoxes.empty());
}

void MainWindowTest::typedNameIsNeitherListedNorStored()
{
    const QString file = WriteUpgrade(QStringLiteral("typed.upg"), upgtest::Builder().Bytes());
    auto w = OpenWindow();
    w->show();
    QVERIFY(QTest::qWaitForWindowExposed(w.get()));
    w->cbFile->lineEdit()->setFocus();
    QTest::keyClicks(w->cbFile->lineEdit(), file);
    w->Button1->click();
    QCOMPARE(w->lbPageInfo->Caption(), QStringLiteral("Ready for Upgrade (Flash: 0 pages, EEProm: 0 pages"));
    w->close();
    const TIniFile ini(IniPath());
    QCOMPARE(ini.ReadString(QStringLiteral("UPGRADE"), QStringLiteral("filelist"), QStringLiteral("?")), QString());
    QVERIFY(!ini.ValueExists(QStringLiteral("UPGRADE"), QStringLiteral("upgradefile")));
}

void MainWindowTest::prepareGoodFileShowsItsValues_data()
{
    QTest::addColumn<QByteArray>("file");
    QTest::addColumn<QString>("name");
    QTest::addColumn<QString>("version");
    QTest::addColumn<QString>("user");
    QTest::addColumn<QString>("status");
    QTest::addColumn<QList<int>>("flash");
    QTest::addColumn<QList<int>>("eeprom");
    QTest::newRow("full") << upgtest::Builder()
                                 .Name("Kaz\xE1n \xE9")
                                 .Version("2.1")
                                 .User(7, -1)
                                 .Flash()
                                 .Page(0x0100, QByteArray(300, 'f'))
                                 .Page(0x0000, "ab")
                                 .EEProm()
                                 .Page(0x0010, "e")
                                 .Bytes()
                          << QStringLiteral("Name: Kaz\u00E1n \u00E9") << "Version: 2.1"
                          << "User: -1"
                          << "Ready for Upgrade (Flash: 2 pages, EEProm: 1 pages" << QList<int>{0x100, 0} << QList<int>{0x10};
    QTest::newRow("no records") << upgtest::Builder().Bytes() << "Name: " << "Version: " << "User:"
                                << "Ready for Upgrade (Flash: 0 pages, EEProm: 0 pages" << QList<int>{} << QList<int>{};
    QTest::newRow("page before any section") << upgtest::Builder().Page(5, "x").Flash().Page(6, "y").Bytes()
                                             << "Name: " << "Version: " << "User:"
                                             << "Ready for Upgrade (Flash: 1 pages, EEProm: 1 pages" << QList<int>{6}
                                             << QList<int>{5};
}

void MainWindowTest::prepareGoodFileShowsItsValues()
{
    QFETCH(QByteArray, file);
    QFETCH(QString, name);
    QFETCH(QString, version);
    QFETCH(QString, user);
    QFETCH(QString, status);
    QFETCH(QList<int>, flash);
    QFETCH(QList<int>, eeprom);
    auto w = OpenWindow();
    w->cbFile->SetText(WriteUpgrade(QStringLiteral("good.upg"), file));
    w->aPrepareUpgrade->Execute();
    QVERIFY(FBoxes.empty());
    QCOMPARE(w->lbUpgradeFlashName->Caption(), name);
    QCOMPARE(w->lbUpgradeFlashVersion->Caption(), version);
    QCOMPARE(w->lbUser->Caption(), user);
    QCOMPARE(w->lbPageInfo->Caption(), status);
    QVERIFY(w->aWriteToDevice->Enabled());
    QVERIFY(w->Button2->isEnabled());
    QList<int> f, e;
    for (const TPage& p : w->FlashPages())
        f << p.Address;
    for (const TPage& p : w->EEPromPages())
        e << p.Address;
    QCOMPARE(f, flash);
    QCOMPARE(e, eeprom);
}

void MainWindowTest::firmwareValuesLiveOnFromFileToFile()
{
    auto w = OpenWindow();
    w->cbFile->SetText(WriteUpgrade(QStringLiteral("1.upg"), upgtest::Builder().Name("First").User(1, 42).Bytes()));
    w->aPrepareUpgrade->Execute();
    w->cbFile->SetText(WriteUpgrade(QStringLiteral("2.upg"), upgtest::Builder().Version("v2").Bytes()));
    w->aPrepareUpgrade->Execute();
    QCOMPARE(w->lbUpgradeFlashName->Caption(), QStringLiteral("Name: First"));
    QCOMPARE(w->lbUpgradeFlashVersion->Caption(), QStringLiteral("Version: v2"));
    QCOMPARE(w->lbUser->Caption(), QStringLiteral("User: 42"));
    QCOMPARE(w->UserFlag(), 1);
}

void MainWindowTest::crcErrorKeepsTheLabels()
{
    auto w = OpenWindow();
    w->cbFile->SetText(WriteUpgrade(QStringLiteral("good.upg"),
                                    upgtest::Builder().Name("Good").Version("1").User(0, 5).Flash().Page(1, "a").Bytes()));
    w->aPrepareUpgrade->Execute();
    QVERIFY(w->aWriteToDevice->Enabled());

    QByteArray bad = upgtest::Builder().Name("Bad").Version("2").User(0, 6).Flash().Page(2, "b").Bytes();
    bad[bad.size() - 1] = static_cast<char>(bad[bad.size() - 1] ^ 0x01);
    w->cbFile->SetText(WriteUpgrade(QStringLiteral("bad.upg"), bad));
    w->aPrepareUpgrade->Execute();
    QCOMPARE(FBoxes.size(), size_t(1));
    QCOMPARE(FBoxes[0].Text, QStringLiteral("CRC error!"));
    QVERIFY(FBoxes[0].Type != TMsgDlgType::mtError);
    QCOMPARE(w->lbUpgradeFlashName->Caption(), QStringLiteral("Name: Good"));
    QCOMPARE(w->lbUpgradeFlashVersion->Caption(), QStringLiteral("Version: 1"));
    QCOMPARE(w->lbUser->Caption(), QStringLiteral("User: 5"));
    QCOMPARE(w->lbPageInfo->Caption(), QString());
    QVERIFY(!w->aWriteToDevice->Enabled());
    QVERIFY(!w->Button2->isEnabled());
    QVERIFY(w->FlashPages().empty());
    QVERIFY(w->EEPromPages().empty());
}

void MainWindowTest::missingOrDamagedFileReachesTheErrorReport_data()
{
    QTest::addColumn<QString>("fileName");
    QTest::addColumn<QByteArray>("content");
    QTest::addColumn<QString>("messageStart");
    QTest::newRow("missing") << "missing.upg" << QByteArray() << "Cannot open file \"";
    QTest::newRow("no name") << "" << QByteArray() << "Cannot open file \"";
    QTest::newRow("records beyond the end")
        << "short.upg" << upgtest::Builder().Flash().Page(1, "a").Count(9).Bytes() << "Damaged upgrade file";
}

void MainWindowTest::missingOrDamagedFileReachesTheErrorReport()
{
    QFETCH(QString, fileName);
    QFETCH(QByteArray, content);
    QFETCH(QString, messageStart);
    auto w = OpenWindow();
    w->cbFile->SetText(WriteUpgrade(QStringLiteral("good.upg"), upgtest::Builder().Flash().Page(1, "a").EEProm().Page(2, "b").Bytes()));
    w->aPrepareUpgrade->Execute();
    QCOMPARE(w->FlashPages().size(), size_t(1));

    QString path;
    if (!fileName.isEmpty())
        path = content.isEmpty() ? FDir->filePath(fileName) : WriteUpgrade(fileName, content);
    w->cbFile->SetText(path);
    w->Button1->click();
    QCOMPARE(FBoxes.size(), size_t(1));
    QCOMPARE(FBoxes[0].Type, TMsgDlgType::mtError);
    QCOMPARE(FBoxes[0].Title, QStringLiteral("Error"));
    QVERIFY2(FBoxes[0].Text.startsWith(messageStart), qPrintable(FBoxes[0].Text));
    if (!path.isEmpty() && content.isEmpty())
        QVERIFY(FBoxes[0].Text.contains(path));
    QVERIFY(w->FlashPages().empty());
    QVERIFY(w->EEPromPages().empty());
    QVERIFY(!w->aWriteToDevice->Enabled());
    QCOMPARE(w->lbPageInfo->Caption(), QString());
}

void MainWindowTest::prepareEEPromOnlyTurnsUpgradeOff()
{
    auto w = OpenWindow();
    w->cbFile->SetText(WriteUpgrade(QStringLiteral("good.upg"), upgtest::Builder().Flash().Page(1, "a").Bytes()));
    w->aPrepareUpgrade->Execute();
    const QString status = w->lbPageInfo->Caption();
    QVERIFY(QMetaObject::invokeMethod(w.get(), "aPrepareEEPromExecute"));
    QVERIFY(!w->aWriteToDevice->Enabled());
    QCOMPARE(w->FlashPages().size(), size_t(1));
    QCOMPARE(w->lbPageInfo->Caption(), status);
}

void MainWindowTest::portThatCannotBeOpenedIsNamedInTheStartMessage()
{
    UseSystemDevices();
    const QString port = FDir->filePath(QStringLiteral("no-such-tty"));
    FIni->WriteString(QStringLiteral("COMMON"), QStringLiteral("comport"), port);
    auto w = OpenWindow();
    QCOMPARE(FBoxes.size(), size_t(1));
    QCOMPARE(FBoxes[0].Text, QStringLiteral("Hiba a ") + port + QStringLiteral(" port megnyit\u00E1s\u00E1n\u00E1l!"));
    QVERIFY(!w->pPort->Connected());
    // The window opens with its commands as always.
    QVERIFY(w->aPrepareUpgrade->Enabled());
    QVERIFY(w->aComSetup->Enabled());
    QVERIFY(!w->aWriteToDevice->Enabled());
}

void MainWindowTest::portThatCannotBePurgedIsReportedAndStaysOpen()
{
    FDeviceFailures[QStringLiteral("PurgeComm")] = EIO;
    auto w = OpenWindow();
    QCOMPARE(FBoxes.size(), size_t(1));
    QCOMPARE(FBoxes[0].Text, QStringLiteral("Hiba a COM1 port megnyit\u00E1s\u00E1n\u00E1l!"));
    QVERIFY(w->pPort->Connected());
}

void MainWindowTest::pseudoTerminalPortIsOpenedAndClosed()
{
    UseSystemDevices();
    PtyPair pty;
    QVERIFY(pty.Valid());
    FIni->WriteString(QStringLiteral("COMMON"), QStringLiteral("comport"), pty.SlaveName());
    auto w = OpenWindow();
    QVERIFY(FBoxes.empty());
    QVERIFY(w->pPort->Connected());
    QCOMPARE(w->pPort->Port(), pty.SlaveName());
    w->close();
    QVERIFY(!w->pPort->Connected());
}

void MainWindowTest::comSetupShowsTheDialogThenConnects()
{
    FDeviceFailures[QStringLiteral("Open")] = ENOENT;
    auto w = OpenWindow();
    QVERIFY(!w->pPort->Connected());
    FBoxes.clear();
    gDevice->Fail(QStringLiteral("Open"), 0);
    TCustomComPort::SetSetupDialogProc([](TCustomComPort& port) {
        gDevice->Note(QStringLiteral("dialog"));
        port.SetPort(QStringLiteral("COM3"));
    });
    w->ComSetup1->Click();
    QCOMPARE(gDevice->Calls().filter(QRegularExpression(QStringLiteral("^(Open|dialog)"))),
             (QStringList{"Open COM1", "dialog", "Open COM3"}));
    QVERIFY(w->pPort->Connected());
    QVERIFY(FBoxes.empty());
}

void MainWindowTest::comSetupErrorsReachTheErrorReport()
{
    auto w = OpenWindow();
    TCustomComPort::SetSetupDialogProc([](TCustomComPort&) { throw EComPort(QStringLiteral("COM1"), 23); });
    w->aComSetup->Execute();
    QCOMPARE(FBoxes.size(), size_t(1));
    QCOMPARE(FBoxes[0].Type, TMsgDlgType::mtError);
    QVERIFY(FBoxes[0].Text.startsWith(QStringLiteral("COM1")));

    // A dialog that fails leaves a closed port closed: the reconnect does not follow it.
    w->pPort->Close();
    const int opens = gDevice->Calls().filter(QRegularExpression(QStringLiteral("^Open"))).size();
    w->aComSetup->Execute();
    QCOMPARE(FBoxes.size(), size_t(2));
    QVERIFY(!w->pPort->Connected());
    QCOMPARE(gDevice->Calls().filter(QRegularExpression(QStringLiteral("^Open"))).size(), opens);
    FBoxes.clear();

    // The window goes on: an opening error of the reconnect is reported the same way.
    TCustomComPort::SetSetupDialogProc(nullptr);
    w->pPort->Close();
    gDevice->Fail(QStringLiteral("Open"), EBUSY);
    w->aComSetup->Execute();
    QCOMPARE(FBoxes.size(), size_t(1));
    QVERIFY(!w->pPort->Connected());
}

void MainWindowTest::languageFileIsAskedForBeforeThePortOpens()
{
    LanguageCalls calls;
    gLanguage = &calls;
    TwMain::TLanguageHooks hooks;
    hooks.LoadLanguage = [](const QString& fileName, int id, void* enumProc, QObject* context) {
        gLanguage->fileName = fileName;
        gLanguage->languageId = id;
        gLanguage->enumProc = enumProc;
        gLanguage->context = context;
        gLanguage->deviceCallsBefore = gDevice->Calls();
        return gLanguage->result;
    };
    hooks.TranslateForm = [](TForm* form) {
        gLanguage->translated = form;
        form->SetCaption(QStringLiteral("Zentrop (hu)"));
        return true;
    };
    TwMain::SetLanguageHooks(hooks);

    calls.result = 0;
    {
        auto w = OpenWindow();
        QVERIFY(!calls.translated);
        QCOMPARE(w->Caption(), QStringLiteral("Zentrop"));
    }
    calls.result = 1;
    auto w = OpenWindow();
    const QFileInfo exe(QCoreApplication::applicationFilePath());
    QCOMPARE(calls.fileName, exe.absolutePath() + u'/' + exe.completeBaseName() + QStringLiteral(".lcf"));
    QCOMPARE(calls.languageId, 1038);
    QCOMPARE(calls.enumProc, nullptr);
    QCOMPARE(calls.context, w.get());
    QCOMPARE(calls.deviceCallsBefore, QStringList{});
    QCOMPARE(calls.translated, w.get());
    QCOMPARE(w->Caption(), QStringLiteral("Zentrop (hu)"));
    gLanguage = nullptr;
}

void MainWindowTest::unwritableSettingsAreReportedAndTheWindowStillCloses()
{
    const QString path = FDir->filePath(QStringLiteral("missing-dir/zentrop.ini"));
    FIni = std::make_unique<TIniFile>(path);
    QVERIFY_THROWS_EXCEPTION(EIniFileException, PrepareSettings(*FIni));

    TOpenDialog::SetExecuteHook([](TOpenDialog& d) {
        d.SetFileName(QStringLiteral("/tmp/chosen.upg"));
        return true;
    });
    auto w = OpenWindow();
    w->show();
    QVERIFY(QTest::qWaitForWindowExposed(w.get()));
    w->aSelectUpgradeFile->Execute();
    QCOMPARE(FBoxes.size(), size_t(1));
    QCOMPARE(FBoxes[0].Text, QStringLiteral("Unable to write to ") + path);
    QCOMPARE(w->cbFile->Text(), QStringLiteral("/tmp/chosen.upg"));

    w->aExit->Execute();
    QCOMPARE(FBoxes.size(), size_t(2));
    QCOMPARE(FBoxes[1].Text, QStringLiteral("Unable to write to ") + path);
    QVERIFY(!w->isVisible());
    QVERIFY(!w->pPort->Connected());
}

void MainWindowTest::closeErrorsAreIgnoredWhenTheWindowCloses()
{
    const QString file = WriteUpgrade(QStringLiteral("c.upg"), upgtest::Builder().Flash().Page(0, "x").Bytes());
    auto w = OpenWindow();
    w->cbFile->Items()->Add(QStringLiteral("listed.upg"));
    w->cbFile->SetText(file);
    w->aPrepareUpgrade->Execute();
    QCOMPARE(w->FlashPages().size(), size_t(1));
    // Closing the port cancels its requests first; that step failing must not keep the window.
    gDevice->Fail(QStringLiteral("PurgeComm"), EIO);
    w->aExit->Execute();
    QVERIFY(!w->isVisible());
    QVERIFY(FBoxes.empty());
    QVERIFY(w->FlashPages().empty());
    QCOMPARE(FIni->ReadString(QStringLiteral("UPGRADE"), QStringLiteral("filelist"), QString()), QStringLiteral("listed.upg"));
}

void MainWindowTest::programEntryPreparesRunsAndSaves()
{
    QStringList seenWhileRunning;
    QTimer::singleShot(0, [&] {
        // By the time the window runs, the default port is already in the file.
        seenWhileRunning = FIni->ReadSection(QStringLiteral("COMMON"));
        for (QWidget* top : QApplication::topLevelWidgets())
            if (auto* w = qobject_cast<TwMain*>(top); w && w->isVisible()) {
                QCOMPARE(w->pPort->Port(), QStringLiteral("COM1"));
                w->pPort->SetPort(QStringLiteral("COM4"));
                w->aExit->Execute();
            }
    });
    QCOMPARE(RunProgram(*static_cast<TApplication*>(qApp), IniPath()), 0);
    QCOMPARE(seenWhileRunning, QStringList{QStringLiteral("comport")});
    // The port name the window ended with is saved after the message loop.
    QCOMPARE(FIni->ReadString(QStringLiteral("COMMON"), QStringLiteral("comport"), QString()), QStringLiteral("COM4"));
    QVERIFY(FBoxes.empty());
}

void MainWindowTest::unwritableSettingsEndTheProgramBeforeAWindow()
{
    // A settings file whose directory is a plain file cannot be written, not even by root.
    const QString blocker = FDir->filePath(QStringLiteral("plain"));
    QFile(blocker).open(QIODevice::WriteOnly);
    const QString path = blocker + QStringLiteral("/zentrop.ini");
    gDevice = nullptr;
    QCOMPARE(RunProgram(*static_cast<TApplication*>(qApp), path), 1);
    QCOMPARE(FBoxes.size(), size_t(1));
    QCOMPARE(FBoxes[0].Text, QStringLiteral("Unable to write to ") + path);
    QVERIFY(!gDevice);
}

int main(int argc, char** argv)
{
    TApplication app(argc, argv);
    MainWindowTest test;
    return QTest::qExec(&test, argc, argv);
}

#include "MainWindowTest.moc"
