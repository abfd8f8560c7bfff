// The main window: start-up with its settings file, the layout, the commands and their states,
// choosing and preparing upgrade files, the port it opens, and what it saves when it closes.
#include "gui/MainWindow.h"
#include "ProgramEntry.h"
#include "gui/Terminal.h"
#include "testsupport/UpgradeFileBuilder.h"
#include "base/IniFile.h"
#include "base/Strings.h"
#include "cport/ComPort.h"
#include "testsupport/PtyPair.h"
#include "testsupport/RecordingComDevice.h"
#include "cportctl/ComTerminal.h"
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

#include <csignal>
#include <memory>
#include <vector>

using namespace zentrop;

namespace {

const QString kCommon = QStringLiteral("COMMON");
const QString kUpgrade = QStringLiteral("UPGRADE");

bool WriteFile(const QString& path, const QByteArray& bytes)
{
    QFile f(path);
    return f.open(QIODevice::WriteOnly | QIODevice::Truncate) && f.write(bytes) == bytes.size();
}

// The device of the port of the window created last.
RecordingComDevice* gDevice = nullptr;

} // namespace

class MainWindowTest : public QObject {
    Q_OBJECT

private slots:
    void init();
    void cleanup();

    void defaultPortGoesOnlyIntoACommonSectionWithoutKeys_data();
    void defaultPortGoesOnlyIntoACommonSectionWithoutKeys();
    void portOpensAtStartWithTheLineSettings();
    void fileListIsReadFromTheSettings_data();
    void fileListIsReadFromTheSettings();
    void componentsLieWhereTheLayoutPutsThem_data();
    void componentsLieWhereTheLayoutPutsThem();
    void windowHasFixedSizeFontAndMenu();
    void onlyTheWorkingCommandsStartEnabled();
    void typedNameIsPreparedByEnterNotStoredAndEscapeCloses();
    void choosingAFileListsAndStoresIt();
    void prepareShowsTheFileOrWhyNot_data();
    void prepareShowsTheFileOrWhyNot();
    void startUpPortErrorNamesThePort_data();
    void startUpPortErrorNamesThePort();
    void comSetupShowsTheDialogThenConnects();
    void unwritableSettingsAreReportedAndTheWindowStillCloses();
    void closeErrorsAreIgnoredWhenTheWindowCloses();
    void terminalCommandIsOffButWouldOpenThePortAndShowTheWindow();
    void programEntryPreparesRunsAndSaves();
    void unwritableSettingsEndTheProgramBeforeAWindow();
    void signalsEndTheProgramAsExitDoes_data();
    void signalsEndTheProgramAsExitDoes();

private:
    std::unique_ptr<TwMain> OpenWindow() { return std::make_unique<TwMain>(*FIni); }
    QString IniPath() const { return FDir->filePath(QStringLiteral("zentrop.ini")); }
    QString WriteUpgrade(const QString& name, const QByteArray& bytes);

    std::unique_ptr<QTemporaryDir> FDir;
    std::unique_ptr<TIniFile> FIni;
    // Failures the next recording device starts with.
    QHash<QString, int> FDeviceFailures;
    std::vector<MessageBoxCall> FBoxes;
    std::unique_ptr<ScopedMessageBoxHook> FBoxHook;
    ComDeviceFactory FPreviousFactory;
};

void MainWindowTest::init()
{
    FDir = std::make_unique<QTemporaryDir>();
    QVERIFY(FDir->isValid());
    FIni = std::make_unique<TIniFile>(IniPath());
    FDeviceFailures.clear();
    FBoxes.clear();
    FBoxHook = std::make_unique<ScopedMessageBoxHook>([this](const MessageBoxCall& c) { FBoxes.push_back(c); });
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
    gDevice = nullptr;
}

QString MainWindowTest::WriteUpgrade(const QString& name, const QByteArray& bytes)
{
    const QString path = FDir->filePath(name);
    if (!WriteFile(path, bytes))
        qFatal("cannot write %s", qPrintable(path));
    return path;
}

void MainWindowTest::defaultPortGoesOnlyIntoACommonSectionWithoutKeys_data()
{
    QTest::addColumn<QByteArray>("content");
    QTest::addColumn<QStringList>("commonKeys");
    // Null content: no file yet.
    QTest::addRow("no file") << QByteArray() << QStringList{"comport"};
    QTest::addRow("section without keys")
        << QByteArray("[COMMON]\n\n[UPGRADE]\nupgradefile=/x.upg\n") << QStringList{"comport"};
    QTest::addRow("section with another key")
        << QByteArray("[COMMON]\nother=1\n[UPGRADE]\nupgradefile=/x.upg\n") << QStringList{"other"};
}

void MainWindowTest::defaultPortGoesOnlyIntoACommonSectionWithoutKeys()
{
    QFETCH(QByteArray, content);
    QFETCH(QStringList, commonKeys);
    if (!content.isNull())
        QVERIFY(WriteFile(IniPath(), content));
    PrepareSettings(*FIni);
    QCOMPARE(FIni->ReadSection(kCommon), commonKeys);
    QCOMPARE(FIni->ReadString(kCommon, QStringLiteral("comport"), QStringLiteral("-")),
             commonKeys.contains(QStringLiteral("comport")) ? QStringLiteral("COM1") : QStringLiteral("-"));
    QCOMPARE(FIni->ReadString(kUpgrade, QStringLiteral("upgradefile"), QString()),
             content.isNull() ? QString() : QStringLiteral("/x.upg"));
}

void MainWindowTest::portOpensAtStartWithTheLineSettings()
{
    // Without a stored name the window takes the default port.
    auto w = OpenWindow();
    const QStringList calls = gDevice->Calls();
    QCOMPARE(calls.filter(QRegularExpression(QStringLiteral("^Open"))), QStringList{QStringLiteral("Open COM1")});
    QVERIFY(w->pPort->Connected());
    QVERIFY(FBoxes.empty());
    QCOMPARE(w->cbFile->Text(), QString());
    // Opened, then both queues purged.
    QVERIFY(calls.last().startsWith(QStringLiteral("PurgeComm ")));
    const uint32_t purged = calls.last().mid(10).toUInt();
    QCOMPARE(purged & (PURGE_RXCLEAR | PURGE_TXCLEAR), uint32_t(PURGE_RXCLEAR | PURGE_TXCLEAR));

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
    // Only the upgrade run reads the line.
    QVERIFY(!w->pPort->ThreadRunning());
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
    // Read cut at 2047 characters, the name cut in the middle is no file: dropped, not kept.
    QTest::addRow("over 2047 characters drops the cut name")
        << QStringLiteral("/a.upg,") + QString(3000, u'b') << QStringList{"/a.upg"};
    QTest::addRow("one name over 2047 characters") << QString(3000, u'a') << QStringList{};
    QTest::addRow("cut at a separator keeps every name")
        << QStringLiteral("/a.upg,") + QString(2040, u'b') + QStringLiteral(",/c.upg")
        << QStringList{"/a.upg", QString(2040, u'b')};
    QTest::addRow("exactly 2047 characters is whole")
        << QStringLiteral("/a.upg,") + QString(2040, u'b') << QStringList{"/a.upg", QString(2040, u'b')};
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
    QCOMPARE(w->objectName(), QStringLiteral("wMain"));
    QCOMPARE(w->Client()->size(), QSize(522, 241));
    // The menu bar takes its height above the client area; the window cannot be resized.
    QMenuBar* bar = w->MainMenu1->Bar();
    QCOMPARE(w->Client()->y(), bar->geometry().bottom() + 1);
    QCOMPARE(w->size(), QSize(522, 241 + bar->height()));
    QCOMPARE(w->minimumSize(), w->maximumSize());
    QCOMPARE(w->font().family(), QStringLiteral("MS Sans Serif"));
    QCOMPARE(w->font().pixelSize(), 11);

    // Each top-level entry with the entries of its submenu.
    QStringList menu;
    for (QAction* a : bar->actions()) {
        QString entry = a->text();
        if (a->menu())
            for (QAction* sub : a->menu()->actions())
                entry += QStringLiteral(" > ") + sub->text();
        menu << entry + (a->isEnabled() ? QString() : QStringLiteral(" (off)"));
    }
    QCOMPARE(menu, (QStringList{"Program > Exit", "Setup > ComSetup", "Terminal (off)", "Exit"}));

    QCOMPARE(w->rgUpgradeMode->Items()->ToStringList(), (QStringList{"Flash", "EEProm", "Flash+EEProm"}));
    QCOMPARE(w->rgUpgradeMode->ItemIndex(), 0);
    QVERIFY(!w->chkAutoExit->Checked());
}

void MainWindowTest::onlyTheWorkingCommandsStartEnabled()
{
    auto w = OpenWindow();
    QStringList enabled;
    for (QObject* o : w->Components()) {
        auto* a = qobject_cast<TAction*>(o);
        if (!a)
            continue;
        if (a->Enabled())
            enabled << a->objectName();
        // Every control and menu entry linked to it shows the same state.
        for (QObject* linked : w->Components()) {
            if (linked->property("Action").value<TAction*>() != a)
                continue;
            if (auto* widget = qobject_cast<QWidget*>(linked))
                QCOMPARE(widget->isEnabled(), a->Enabled());
            if (auto* item = qobject_cast<TMenuItem*>(linked))
                QCOMPARE(item->Enabled(), a->Enabled());
        }
    }
    enabled.sort();
    QCOMPARE(enabled, (QStringList{"aComSetup", "aExit", "aPrepareUpgrade", "aSelectUpgradeFile"}));
}

void MainWindowTest::typedNameIsPreparedByEnterNotStoredAndEscapeCloses()
{
    // On a real device: the stored port name is opened, and closed with the window.
    SetComDeviceFactory({});
    PtyPair pty;
    QVERIFY(pty.Valid());
    FIni->WriteString(kCommon, QStringLiteral("comport"), pty.SlaveName());
    const QString file = WriteUpgrade(QStringLiteral("typed.upg"), upgtest::Builder().Flash().Page(0, "x").Bytes());
    auto w = OpenWindow();
    w->show();
    QVERIFY(QTest::qWaitForWindowExposed(w.get()));
    QVERIFY(w->pPort->Connected());
    QCOMPARE(w->pPort->Port(), pty.SlaveName());

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
    // A typed name is neither listed nor stored.
    QCOMPARE(FIni->ReadString(kUpgrade, QStringLiteral("filelist"), QStringLiteral("?")), QString());
    QVERIFY(!FIni->ValueExists(kUpgrade, QStringLiteral("upgradefile")));
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
    QCOMPARE(FIni->ReadString(kUpgrade, QStringLiteral("upgradefile"), QString()), chosen);

    // Chosen again: offered once.
    w->aSelectUpgradeFile->Execute();
    QCOMPARE(seen[2], chosen);
    QCOMPARE(w->cbFile->Items()->ToStringList(), QStringList{chosen});

    // Cancelled: nothing changes.
    answer = false;
    w->cbFile->SetText(QStringLiteral("/other.upg"));
    w->aSelectUpgradeFile->Execute();
    QCOMPARE(w->cbFile->Items()->Count(), 1);
    QCOMPARE(FIni->ReadString(kUpgrade, QStringLiteral("filelist"), QString()), QString());
    QCOMPARE(FIni->ReadString(kUpgrade, QStringLiteral("upgradefile"), QString()), chosen);

    // A list too long for one value keeps whole names from its start: 20 names of 100
    // characters and their commas fit in 2047 characters, a 21st does not.
    QStringList many;
    for (int i = 0; i < 30; ++i)
        many << QStringLiteral("/upgrades/%1.upg").arg(i, 86, 10, QChar(u'0'));
    w->cbFile->Items()->Assign(many);
    w->close();
    QCOMPARE(FIni->ReadString(kUpgrade, QStringLiteral("filelist"), QString()), JoinCommaText(many.mid(0, 20)));
    QVERIFY(FBoxes.empty());
}

void MainWindowTest::prepareShowsTheFileOrWhyNot_data()
{
    // Prepared first when not empty.
    QTest::addColumn<QByteArray>("earlier");
    QTest::addColumn<QString>("fileName");
    // Null: the file is not there.
    QTest::addColumn<QByteArray>("content");
    // A pattern of the message shown; empty when none is.
    QTest::addColumn<QString>("message");
    QTest::addColumn<bool>("errorReport");
    // Name, version and user as the labels show them.
    QTest::addColumn<QStringList>("labels");
    QTest::addColumn<QString>("status");
    QTest::addColumn<QList<int>>("flash");
    QTest::addColumn<QList<int>>("eeprom");
    using upgtest::Builder;
    const QStringList blank{"Name: ", "Version: ", "User:"};
    const QString none = QStringLiteral("Ready for Upgrade (Flash: 0 pages, EEProm: 0 pages");
    QTest::newRow("full")
        << QByteArray() << "good.upg"
        << Builder().Name("Kaz\xE1n \xE9").Version("2.1").User(7, -1).Flash().Page(0x0100, QByteArray(300, 'f'))
               .Page(0x0000, "ab").EEProm().Page(0x0010, "e").Bytes()
        << "" << false << QStringList{QStringLiteral("Name: Kaz\u00E1n \u00E9"), "Version: 2.1", "User: -1"}
        << "Ready for Upgrade (Flash: 2 pages, EEProm: 1 pages" << QList<int>{0x100, 0} << QList<int>{0x10};
    QTest::newRow("no records") << QByteArray() << "good.upg" << Builder().Bytes() << "" << false << blank << none
                                << QList<int>{} << QList<int>{};
    QTest::newRow("page before any section")
        << QByteArray() << "good.upg" << Builder().Page(5, "x").Flash().Page(6, "y").Bytes() << "" << false << blank
        << "Ready for Upgrade (Flash: 1 pages, EEProm: 1 pages" << QList<int>{6} << QList<int>{5};
    // Each firmware value lives on until a file carries a new one.
    QTest::newRow("values of an earlier file")
        << Builder().Name("First").Version("v1").User(1, 42).Flash().Page(1, "a").Bytes() << "good.upg"
        << Builder().Version("v2").Bytes() << "" << false << QStringList{"Name: First", "Version: v2", "User: 42"}
        << none << QList<int>{} << QList<int>{};

    // A file that fails leaves the labels of the last good one and drops its pages.
    const QByteArray good =
        Builder().Name("Good").Version("1").User(0, 5).Flash().Page(1, "a").EEProm().Page(2, "b").Bytes();
    const QStringList goodLabels{"Name: Good", "Version: 1", "User: 5"};
    QByteArray badCrc = Builder().Name("Bad").Version("2").User(0, 6).Flash().Page(2, "b").Bytes();
    badCrc[badCrc.size() - 1] = static_cast<char>(badCrc[badCrc.size() - 1] ^ 0x01);
    QTest::newRow("CRC error") << good << "bad.upg" << badCrc << "^CRC error!$" << false << goodLabels << ""
                               << QList<int>{} << QList<int>{};
    QTest::newRow("missing") << good << "missing.upg" << QByteArray() << "^Cannot open file \"" << true << goodLabels
                             << "" << QList<int>{} << QList<int>{};
    QTest::newRow("no name") << good << "" << QByteArray() << "^Cannot open file \"" << true << goodLabels << ""
                             << QList<int>{} << QList<int>{};
    QTest::newRow("records beyond the end") << good << "short.upg" << Builder().Flash().Page(1, "a").Count(9).Bytes()
                                            << "^Damaged upgrade file" << true << goodLabels << ""
                                            << QList<int>{} << QList<int>{};
}

void MainWindowTest::prepareShowsTheFileOrWhyNot()
{
    QFETCH(QByteArray, earlier);
    QFETCH(QString, fileName);
    QFETCH(QByteArray, content);
    QFETCH(QString, message);
    QFETCH(bool, errorReport);
    QFETCH(QStringList, labels);
    QFETCH(QString, status);
    QFETCH(QList<int>, flash);
    QFETCH(QList<int>, eeprom);
    auto w = OpenWindow();
    if (!earlier.isEmpty()) {
        w->cbFile->SetText(WriteUpgrade(QStringLiteral("earlier.upg"), earlier));
        w->aPrepareUpgrade->Execute();
        QVERIFY(w->aWriteToDevice->Enabled());
    }
    QString path;
    if (!fileName.isEmpty())
        path = content.isNull() ? FDir->filePath(fileName) : WriteUpgrade(fileName, content);
    w->cbFile->SetText(path);
    w->Button1->click();

    if (message.isEmpty()) {
        QVERIFY(FBoxes.empty());
    } else {
        QCOMPARE(FBoxes.size(), size_t(1));
        QVERIFY2(FBoxes[0].Text.contains(QRegularExpression(message)), qPrintable(FBoxes[0].Text));
        if (errorReport) {
            QCOMPARE(FBoxes[0].Type, TMsgDlgType::mtError);
            QCOMPARE(FBoxes[0].Title, QStringLiteral("Error"));
        } else {
            QVERIFY(FBoxes[0].Type != TMsgDlgType::mtError);
        }
        if (!path.isEmpty() && content.isNull())
            QVERIFY(FBoxes[0].Text.contains(path));
    }
    QCOMPARE((QStringList{w->lbUpgradeFlashName->Caption(), w->lbUpgradeFlashVersion->Caption(), w->lbUser->Caption()}),
             labels);
    QCOMPARE(w->lbPageInfo->Caption(), status);
    QCOMPARE(w->aWriteToDevice->Enabled(), message.isEmpty());
    QList<int> f, e;
    for (const TPage& p : w->FlashPages())
        f << p.Address;
    for (const TPage& p : w->EEPromPages())
        e << p.Address;
    QCOMPARE(f, flash);
    QCOMPARE(e, eeprom);

    // The EEProm preparation only turns "Do Upgrade" off.
    QVERIFY(QMetaObject::invokeMethod(w.get(), "aPrepareEEPromExecute"));
    QVERIFY(!w->aWriteToDevice->Enabled());
    QCOMPARE(w->FlashPages().size(), size_t(flash.size()));
    QCOMPARE(w->lbPageInfo->Caption(), status);
}

void MainWindowTest::startUpPortErrorNamesThePort_data()
{
    QTest::addColumn<QString>("failingCall");
    QTest::addColumn<int>("error");
    QTest::addColumn<bool>("connected");
    QTest::addRow("cannot open") << "Open" << EIO << false;
    QTest::addRow("cannot purge") << "PurgeComm" << EPERM << true;
    // A device that is gone is not held.
    QTest::addRow("gone at the purge") << "PurgeComm" << EIO << false;
}

void MainWindowTest::startUpPortErrorNamesThePort()
{
    QFETCH(QString, failingCall);
    QFETCH(int, error);
    QFETCH(bool, connected);
    FDeviceFailures[failingCall] = error;
    FIni->WriteString(kCommon, QStringLiteral("comport"), QStringLiteral("/dev/ttyZ9"));
    auto w = OpenWindow();
    QCOMPARE(FBoxes.size(), size_t(1));
    QCOMPARE(FBoxes[0].Text, QStringLiteral("Hiba a /dev/ttyZ9 port megnyit\u00E1s\u00E1n\u00E1l!"));
    QCOMPARE(w->pPort->Connected(), connected);
    // The window opens with its commands as always.
    QVERIFY(w->aPrepareUpgrade->Enabled());
    QVERIFY(w->aComSetup->Enabled());
    QVERIFY(!w->aWriteToDevice->Enabled());
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
    const auto opens = [] { return gDevice->Calls().filter(QRegularExpression(QStringLiteral("^(Open|dialog)"))); };
    QCOMPARE(opens(), (QStringList{"Open COM1", "dialog", "Open COM3"}));
    QVERIFY(w->pPort->Connected());
    QVERIFY(FBoxes.empty());

    // A dialog that fails reaches the error report and leaves a closed port closed.
    w->pPort->Close();
    TCustomComPort::SetSetupDialogProc([](TCustomComPort&) { throw EComPort(QStringLiteral("COM3"), 23); });
    w->aComSetup->Execute();
    QCOMPARE(FBoxes.size(), size_t(1));
    QCOMPARE(FBoxes[0].Type, TMsgDlgType::mtError);
    QVERIFY(FBoxes[0].Text.startsWith(QStringLiteral("COM3")));
    QVERIFY(!w->pPort->Connected());
    QCOMPARE(opens().size(), 3);

    // The window goes on: an opening error of the reconnect is reported the same way.
    TCustomComPort::SetSetupDialogProc(nullptr);
    gDevice->Fail(QStringLiteral("Open"), EBUSY);
    w->aComSetup->Execute();
    QCOMPARE(FBoxes.size(), size_t(2));
    QCOMPARE(opens().size(), 4);
    QVERIFY(!w->pPort->Connected());
}

void MainWindowTest::unwritableSettingsAreReportedAndTheWindowStillCloses()
{
    const QString path = FDir->filePath(QStringLiteral("missing-dir/zentrop.ini"));
    FIni = std::make_unique<TIniFile>(path);
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
    // Closing the port cancels its requests first; that step failing must not stop the rest.
    gDevice->Fail(QStringLiteral("PurgeComm"), EIO);
    w->aExit->Execute();
    QVERIFY(FBoxes.empty());
    QVERIFY(w->FlashPages().empty());
    QCOMPARE(FIni->ReadString(kUpgrade, QStringLiteral("filelist"), QString()), QStringLiteral("listed.upg"));
}

void MainWindowTest::terminalCommandIsOffButWouldOpenThePortAndShowTheWindow()
{
    auto w = OpenWindow();
    TwTerminal terminal(w->pPort);
    w->SetTerminalWindow(&terminal);
    QVERIFY(!w->aTerminal->Execute());
    QVERIFY(!terminal.isVisible());

    // What the command does, were it reachable: the port opens and the window shows.
    w->pPort->Close();
    w->aTerminalExecute();
    QVERIFY(w->pPort->Connected());
    QVERIFY(terminal.isVisible());
    terminal.close();
    QVERIFY(!terminal.isVisible());
    // Without a terminal window it makes one of its own on the same port.
    w->SetTerminalWindow(nullptr);
    w->aTerminalExecute();
    QVERIFY(w->TerminalWindow() && w->TerminalWindow() != &terminal);
    QVERIFY(w->TerminalWindow()->isVisible());
    QCOMPARE(w->TerminalWindow()->ComTerminal1->ComPort(), w->pPort);
    QVERIFY(FBoxes.empty());
}

void MainWindowTest::programEntryPreparesRunsAndSaves()
{
    QStringList seenWhileRunning;
    QTimer::singleShot(0, [&] {
        // By the time the window runs, the default port is already in the file.
        seenWhileRunning = FIni->ReadSection(kCommon);
        for (QWidget* top : QApplication::topLevelWidgets())
            if (auto* w = qobject_cast<TwMain*>(top); w && w->isVisible()) {
                // The terminal window was made after it, hidden, on its port.
                QVERIFY(w->TerminalWindow() && !w->TerminalWindow()->isVisible());
                QCOMPARE(w->TerminalWindow()->ComTerminal1->ComPort(), w->pPort);
                QCOMPARE(w->pPort->Port(), QStringLiteral("COM1"));
                w->pPort->SetPort(QStringLiteral("COM4"));
                w->aExit->Execute();
            }
    });
    QCOMPARE(RunProgram(*static_cast<TApplication*>(qApp), IniPath()), 0);
    QCOMPARE(seenWhileRunning, QStringList{QStringLiteral("comport")});
    // The port name the window ended with is saved after the message loop.
    QCOMPARE(FIni->ReadString(kCommon, QStringLiteral("comport"), QString()), QStringLiteral("COM4"));
    QVERIFY(FBoxes.empty());
}

void MainWindowTest::unwritableSettingsEndTheProgramBeforeAWindow()
{
    // A settings file whose directory is a plain file cannot be written, not even by root.
    const QString blocker = FDir->filePath(QStringLiteral("plain"));
    QFile(blocker).open(QIODevice::WriteOnly);
    const QString path = blocker + QStringLiteral("/zentrop.ini");
    gDevice = nullptr;
    // Should the message loop start all the same, it is ended, so that the test fails instead of waiting.
    QTimer guard;
    guard.callOnTimeout([] { QCoreApplication::exit(2); });
    guard.start(0);
    QCOMPARE(RunProgram(*static_cast<TApplication*>(qApp), path), 1);
    QCOMPARE(FBoxes.size(), size_t(1));
    QCOMPARE(FBoxes[0].Text, QStringLiteral("Unable to write to ") + path);
    QVERIFY(!gDevice);
}

void MainWindowTest::signalsEndTheProgramAsExitDoes_data()
{
    QTest::addColumn<int>("signal");
    QTest::addRow("SIGTERM") << SIGTERM;
    QTest::addRow("SIGINT") << SIGINT;
    QTest::addRow("SIGHUP") << SIGHUP;
}

void MainWindowTest::signalsEndTheProgramAsExitDoes()
{
    QFETCH(int, signal);
    bool closedPort = false;
    QTimer::singleShot(0, [&] {
        for (QWidget* top : QApplication::topLevelWidgets())
            if (auto* w = qobject_cast<TwMain*>(top); w && w->isVisible()) {
                w->pPort->OnAfterClose = [&](QObject*) { closedPort = true; };
                w->cbFile->Items()->Add(QStringLiteral("/kept.upg"));
                w->pPort->SetPort(QStringLiteral("COM4"));
                ::raise(signal);
            }
    });
    // Should the signal not end the loop, the test fails instead of waiting.
    QTimer guard;
    guard.callOnTimeout([] { QCoreApplication::exit(2); });
    guard.start(5000);
    QCOMPARE(RunProgram(*static_cast<TApplication*>(qApp), IniPath()), 0);
    QVERIFY(closedPort);
    QCOMPARE(FIni->ReadString(kUpgrade, QStringLiteral("filelist"), QString()), QStringLiteral("/kept.upg"));
    QCOMPARE(FIni->ReadString(kCommon, QStringLiteral("comport"), QString()), QStringLiteral("COM4"));
    QVERIFY(FBoxes.empty());
}

int main(int argc, char** argv)
{
    TApplication app(argc, argv);
    MainWindowTest test;
    return QTest::qExec(&test, argc, argv);
}

#include "MainWindowTest.moc"
