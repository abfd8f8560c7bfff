// "Do Upgrade" in the main window, with the simulated bootloader on a pseudo-terminal: what the
// device receives, what the window shows during and after a run, the commands it holds back
// meanwhile, closing the window during a run, communication errors with "Exit on finish", and
// errors raised by the port.
#include "app/Bootloader.h"
#include "app/MainWindow.h"
#include "app/tests/UpgradeFileBuilder.h"
#include "base/IniFile.h"
#include "bootsim/BootSim.h"
#include "cport/ComPort.h"
#include "forms/Actions.h"
#include "forms/Application.h"
#include "forms/Buttons.h"
#include "forms/ComboBox.h"
#include "forms/Controls.h"
#include "forms/Menus.h"
#include "forms/MessageBox.h"
#include "forms/RadioGroup.h"

#include <QFile>
#include <QRadioButton>
#include <QTemporaryDir>
#include <QTimer>
#include <QWindow>
#include <QtTest>

#include <fcntl.h>
#include <sys/file.h>
#include <unistd.h>

#include <functional>
#include <memory>
#include <optional>
#include <vector>

namespace {

QByteArray Bytes(int size, int seed)
{
    QByteArray b(size, '\0');
    for (int i = 0; i < size; ++i)
        b[i] = static_cast<char>((i * 13 + seed) & 0xFF);
    return b;
}

constexpr int kFlashPageSize = 32;
constexpr int kEEPromPageSize = 16;

// The pages of the test file: Flash at four addresses, EEProm at three.
const TPageList kFlash{{0x0000, Bytes(kFlashPageSize, 1)},
                       {0x01A0, Bytes(kFlashPageSize, 2)},
                       {0x1000, Bytes(kFlashPageSize, 3)},
                       {0x12AB, Bytes(kFlashPageSize, 4)}};
const TPageList kEEProm{{0x0000, Bytes(kEEPromPageSize, 5)},
                        {0x0010, Bytes(kEEPromPageSize, 6)},
                        {0x0020, Bytes(kEEPromPageSize, 7)}};

QByteArray UpgradeFileBytes()
{
    upgtest::Builder b;
    b.Name("Sample").Version("1.0").User(0, 7).Flash();
    for (const TPage& p : kFlash)
        b.Page(p.Address, p.Data);
    b.EEProm();
    for (const TPage& p : kEEProm)
        b.Page(p.Address, p.Data);
    return b.Bytes();
}

// The simulated bootloader on its own thread, serving a new pseudo-terminal.
class SimDevice {
public:
    explicit SimDevice(const QString& fault = QString()) : FSim(Options(fault))
    {
        FPath = FSim.Open();
        FSim.Start();
    }

    const QString& Path() const { return FPath; }
    bootsim::DeviceRecord Record() const { return FSim.Snapshot(); }
    bool WaitFor(const std::function<bool(const bootsim::DeviceRecord&)>& condition) const
    {
        return FSim.WaitFor(condition, 5000);
    }

private:
    static bootsim::SimOptions Options(const QString& faultText)
    {
        bootsim::SimOptions o;
        o.Device.FlashPageSize = kFlashPageSize;
        o.Device.EEPromPageSize = kEEPromPageSize;
        if (!faultText.isEmpty()) {
            QString error;
            const std::optional<bootsim::Fault> fault = bootsim::Fault::Parse(faultText, &error);
            if (!fault)
                qFatal("bad fault %s: %s", qPrintable(faultText), qPrintable(error));
            o.Device.Faults.push_back(*fault);
        }
        return o;
    }

    bootsim::Simulator FSim;
    QString FPath;
};

// The controls a run holds back, and two that it leaves alone, by name when enabled.
QStringList EnabledCommands(const TwMain& w)
{
    const std::pair<const char*, bool> states[] = {
        {"aPrepareUpgrade", w.aPrepareUpgrade->Enabled()},
        {"aWriteToDevice", w.aWriteToDevice->Enabled()},
        {"aSelectUpgradeFile", w.aSelectUpgradeFile->Enabled()},
        {"aComSetup", w.aComSetup->Enabled()},
        {"aExit", w.aExit->Enabled()},
        {"Button1", w.Button1->isEnabled()},
        {"Button2", w.Button2->isEnabled()},
        {"Button3", w.Button3->isEnabled()},
        {"SpeedButton1", w.SpeedButton1->isEnabled()},
        {"Exit1", w.Exit1->Enabled()},
        {"Exit2", w.Exit2->Enabled()},
        {"ComSetup1", w.ComSetup1->Enabled()},
        {"rgUpgradeMode", w.rgUpgradeMode->isEnabled() && w.rgUpgradeMode->Buttons()[1]->isEnabled()},
        {"chkAutoExit", w.chkAutoExit->isEnabled()},
        {"cbFile", w.cbFile->isEnabled()},
    };
    QStringList out;
    for (const auto& [name, enabled] : states)
        if (enabled)
            out << QString::fromLatin1(name);
    return out;
}

const QStringList kLeftAloneDuringARun{QStringLiteral("chkAutoExit"), QStringLiteral("cbFile")};

// Calls the function at every round of event processing, which a run does after every byte.
class Sampler {
public:
    explicit Sampler(std::function<void()> onRound)
    {
        FTimer.setInterval(0);
        QObject::connect(&FTimer, &QTimer::timeout, std::move(onRound));
        FTimer.start();
    }

private:
    QTimer FTimer;
};

// Counts the close events the window gets, and those of them that came during a run.
class CloseCounter : public QObject {
public:
    explicit CloseCounter(TwMain& w) : FWindow(w) { w.installEventFilter(this); }
    int During = 0;
    int After = 0;

protected:
    bool eventFilter(QObject* watched, QEvent* event) override
    {
        if (watched == &FWindow && event->type() == QEvent::Close)
            ++(FWindow.UpgradeRunning() ? During : After);
        return false;
    }

private:
    TwMain& FWindow;
};

} // namespace

class MainWindowUpgradeTest : public QObject {
    Q_OBJECT

private slots:
    void initTestCase();
    void init();
    void cleanup();

    void runSendsThePagesOfTheMode_data();
    void runSendsThePagesOfTheMode();
    void statusAndProgressFollowTheRun();
    void commandsComeBackAsTheyWere_data();
    void commandsComeBackAsTheyWere();
    void closeDuringARunWaitsForItsEnd_data();
    void closeDuringARunWaitsForItsEnd();
    void communicationErrorEndsTheRun_data();
    void communicationErrorEndsTheRun();
    void exitOnFinishTickedDuringTheRunCounts();
    void portErrorReachesTheErrorReportWithoutExit_data();
    void portErrorReachesTheErrorReportWithoutExit();
    void closedPortThatCannotOpenSendsNothing();

private:
    // A shown window on the port, with the test file prepared and aExit counted.
    std::unique_ptr<TwMain> OpenPrepared(const QString& port);
    QStringList BoxTexts() const
    {
        QStringList texts;
        for (const TMessageBoxCall& c : FBoxes)
            texts << c.Text;
        return texts;
    }

    std::unique_ptr<QTemporaryDir> FDir;
    std::unique_ptr<TIniFile> FIni;
    QString FUpgradePath;
    std::vector<TMessageBoxCall> FBoxes;
    std::function<void(const TMessageBoxCall&)> FOnBox;
    std::unique_ptr<TScopedMessageBoxHook> FBoxHook;
    int FExits = 0;
};

void MainWindowUpgradeTest::initTestCase()
{
    // Closing the window is observed here, not left to end the test program.
    QApplication::setQuitOnLastWindowClosed(false);
}

void MainWindowUpgradeTest::init()
{
    FDir = std::make_unique<QTemporaryDir>();
    QVERIFY(FDir->isValid());
    FIni = std::make_unique<TIniFile>(FDir->filePath(QStringLiteral("zentrop.ini")));
    FUpgradePath = FDir->filePath(QStringLiteral("sample.upg"));
    QFile f(FUpgradePath);
    QVERIFY(f.open(QIODevice::WriteOnly));
    f.write(UpgradeFileBytes());
    f.close();
    FBoxes.clear();
    FOnBox = nullptr;
    FExits = 0;
    FBoxHook = std::make_unique<TScopedMessageBoxHook>([this](const TMessageBoxCall& c) {
        FBoxes.push_back(c);
        if (FOnBox)
            FOnBox(c);
    });
}

void MainWindowUpgradeTest::cleanup()
{
    FBoxHook.reset();
}

std::unique_ptr<TwMain> MainWindowUpgradeTest::OpenPrepared(const QString& port)
{
    FIni->WriteString(QStringLiteral("COMMON"), QStringLiteral("comport"), port);
    auto w = std::make_unique<TwMain>(*FIni);
    w->show();
    if (!QTest::qWaitForWindowExposed(w.get()))
        qWarning("the window was not exposed");
    w->cbFile->SetText(FUpgradePath);
    w->aPrepareUpgrade->Execute();
    // The real exit, counted.
    const TAction::TNotifyEvent exit = w->aExit->OnExecute();
    w->aExit->SetOnExecute([this, exit] {
        ++FExits;
        exit();
    });
    return w;
}

void MainWindowUpgradeTest::runSendsThePagesOfTheMode_data()
{
    QTest::addColumn<int>("mode");
    QTest::addColumn<bool>("flash");
    QTest::addColumn<bool>("eeprom");
    QTest::addRow("Flash") << 0 << true << false;
    QTest::addRow("EEProm") << 1 << false << true;
    QTest::addRow("Flash+EEProm") << 2 << true << true;
}

void MainWindowUpgradeTest::runSendsThePagesOfTheMode()
{
    QFETCH(int, mode);
    QFETCH(bool, flash);
    QFETCH(bool, eeprom);
    SimDevice device;
    auto w = OpenPrepared(device.Path());
    QVERIFY(w->pPort->Connected());
    QVERIFY(w->aWriteToDevice->Enabled());
    const QStringList commands = EnabledCommands(*w);
    w->rgUpgradeMode->SetItemIndex(mode);

    QTest::mouseClick(w->Button2, Qt::LeftButton);
    QCOMPARE(BoxTexts(), QStringList());
    QCOMPARE(w->lbPageInfo->Caption(), QStringLiteral("Jump to Application!"));
    QVERIFY(device.WaitFor([](const bootsim::DeviceRecord& r) { return r.Jumps == 1; }));

    std::vector<std::pair<bootsim::Memory, TPage>> expected;
    if (flash)
        for (const TPage& p : kFlash)
            expected.emplace_back(bootsim::Memory::Flash, p);
    if (eeprom)
        for (const TPage& p : kEEProm)
            expected.emplace_back(bootsim::Memory::EEProm, p);
    const bootsim::DeviceRecord record = device.Record();
    QCOMPARE(record.Pages.size(), expected.size());
    for (size_t i = 0; i < expected.size(); ++i) {
        QCOMPARE(record.Pages[i].Where, expected[i].first);
        QCOMPARE(record.Pages[i].Address, expected[i].second.Address);
        QCOMPARE(record.Pages[i].Data, expected[i].second.Data);
    }
    // Full after the last phase.
    const int lastPhasePages = static_cast<int>(eeprom ? kEEProm.size() : kFlash.size());
    QCOMPARE(w->pbar->Max(), lastPhasePages);
    QCOMPARE(w->pbar->Position(), lastPhasePages);

    // The port stays open and the pages stay, so the run can be repeated at once.
    QVERIFY(w->pPort->Connected());
    QCOMPARE(w->FlashPages().size(), kFlash.size());
    QCOMPARE(w->EEPromPages().size(), kEEProm.size());
    QCOMPARE(EnabledCommands(*w), commands);
    QVERIFY(w->aWriteToDevice->Execute());
    QCOMPARE(BoxTexts(), QStringList());
    QVERIFY(device.WaitFor([](const bootsim::DeviceRecord& r) { return r.Jumps == 2; }));
    QCOMPARE(device.Record().Wakes, 2);
    QCOMPARE(device.Record().Pages.size(), 2 * expected.size());
    QCOMPARE(FExits, 0);
    QVERIFY(w->isVisible());
}

void MainWindowUpgradeTest::statusAndProgressFollowTheRun()
{
    SimDevice device;
    auto w = OpenPrepared(device.Path());
    w->rgUpgradeMode->SetItemIndex(2);
    QStringList statuses;
    QList<QPair<int, int>> progress;
    QSet<QString> enabledDuringRun;
    bool pagesIntact = true;
    bool portOpen = true;
    // What a user could try in the middle of a Flash page; nothing of it may take effect.
    std::optional<QStringList> tookEffect;
    {
        const Sampler sampler([&] {
            const QString status = w->lbPageInfo->Caption();
            if (statuses.isEmpty() || statuses.last() != status)
                statuses << status;
            const QPair<int, int> bar(w->pbar->Max(), w->pbar->Position());
            if (progress.isEmpty() || progress.last() != bar)
                progress << bar;
            if (!w->UpgradeRunning())
                return;
            for (const QString& name : EnabledCommands(*w))
                enabledDuringRun.insert(name);
            pagesIntact = pagesIntact && w->FlashPages().size() == kFlash.size() &&
                          w->EEPromPages().size() == kEEProm.size();
            portOpen = portOpen && w->pPort->Connected();
            if (tookEffect || !status.startsWith(QStringLiteral("Write Flash Page")))
                return;
            QStringList ran;
            for (TAction* a : {w->aPrepareUpgrade, w->aWriteToDevice, w->aSelectUpgradeFile, w->aComSetup, w->aExit})
                if (a->Execute())
                    ran << a->objectName();
            QTest::mouseClick(w->Button1, Qt::LeftButton);
            QTest::keyClick(w.get(), Qt::Key_Escape);
            QTest::mouseClick(w->rgUpgradeMode->Buttons()[0], Qt::LeftButton);
            if (w->rgUpgradeMode->ItemIndex() != 2)
                ran << QStringLiteral("mode changed");
            if (FExits != 0 || !w->isVisible())
                ran << QStringLiteral("exit");
            try {
                w->aWriteToDeviceExecute();
                ran << QStringLiteral("second run");
            } catch (const EUpgradeBusy&) {
            }
            tookEffect = ran;
        });
        QVERIFY(w->aWriteToDevice->Execute());
    }
    QCOMPARE(BoxTexts(), QStringList());
    QVERIFY2(tookEffect, "no round of events during a Flash page");
    QCOMPARE(*tookEffect, QStringList());
    QVERIFY(pagesIntact);
    QVERIFY(portOpen);
    QCOMPARE(QStringList(enabledDuringRun.begin(), enabledDuringRun.end()).size(), kLeftAloneDuringARun.size());
    for (const QString& name : kLeftAloneDuringARun)
        QVERIFY2(enabledDuringRun.contains(name), qPrintable(name));

    const QStringList expectedStatuses{"",
                                       "Send Flash mode",
                                       "Write Flash Page at 0x   0",
                                       "Write Flash Page at 0x 1A0",
                                       "Write Flash Page at 0x1000",
                                       "Write Flash Page at 0x12AB",
                                       "Send EEProm mode",
                                       "Write EEProm Page at 0x   0",
                                       "Write EEProm Page at 0x  10",
                                       "Write EEProm Page at 0x  20",
                                       "Jump to Application!"};
    // The first round may come before the run cleared the "Ready for Upgrade" line.
    if (statuses.first().startsWith(QStringLiteral("Ready for Upgrade")))
        statuses.removeFirst();
    QCOMPARE(statuses, expectedStatuses);
    // The bar starts from its state before the run, then fills once per phase.
    QList<QPair<int, int>> expectedProgress{{100, 0}};
    for (int i = 0; i <= int(kFlash.size()); ++i)
        expectedProgress << qMakePair(int(kFlash.size()), i);
    for (int i = 0; i <= int(kEEProm.size()); ++i)
        expectedProgress << qMakePair(int(kEEProm.size()), i);
    QCOMPARE(progress, expectedProgress);
}

void MainWindowUpgradeTest::commandsComeBackAsTheyWere_data()
{
    QTest::addColumn<QString>("fault");
    QTest::addColumn<int>("boxes");
    QTest::addRow("success") << "" << 0;
    QTest::addRow("communication error") << "A#2:wrong" << 1;
    QTest::addRow("port error") << "D#2+5:hangup" << 1;
}

void MainWindowUpgradeTest::commandsComeBackAsTheyWere()
{
    QFETCH(QString, fault);
    QFETCH(int, boxes);
    SimDevice device(fault);
    auto w = OpenPrepared(device.Path());
    // States that differ from the usual ones are put back as they were, not simply turned on.
    w->aComSetup->SetEnabled(false);
    w->rgUpgradeMode->setEnabled(false);
    const QStringList before = EnabledCommands(*w);
    QVERIFY(!before.contains(QStringLiteral("ComSetup1")));
    QStringList duringBox;
    FOnBox = [&](const TMessageBoxCall&) { duringBox = EnabledCommands(*w); };

    QVERIFY(w->aWriteToDevice->Execute());
    QCOMPARE(int(FBoxes.size()), boxes);
    QVERIFY(!w->UpgradeRunning());
    QCOMPARE(EnabledCommands(*w), before);
    // A message of the run is shown while the run still holds the commands; the error report
    // of a port error comes after the run has given them back.
    if (fault.endsWith(QStringLiteral("wrong")))
        QCOMPARE(duringBox, kLeftAloneDuringARun);
    else if (boxes)
        QCOMPARE(duringBox, before);
}

void MainWindowUpgradeTest::closeDuringARunWaitsForItsEnd_data()
{
    QTest::addColumn<bool>("exitOnFinish");
    QTest::addRow("plain") << false;
    QTest::addRow("exit on finish") << true;
}

void MainWindowUpgradeTest::closeDuringARunWaitsForItsEnd()
{
    QFETCH(bool, exitOnFinish);
    SimDevice device;
    auto w = OpenPrepared(device.Path());
    w->rgUpgradeMode->SetItemIndex(2);
    w->chkAutoExit->SetChecked(exitOnFinish);
    const CloseCounter closes(*w);
    bool asked = false;
    bool stayed = false;
    {
        const Sampler sampler([&] {
            if (asked || !w->lbPageInfo->Caption().startsWith(QStringLiteral("Write Flash Page")))
                return;
            asked = true;
            // By program and as the window system asks (the close button, Alt+F4).
            const bool closed = w->close();
            w->windowHandle()->close();
            stayed = !closed && w->isVisible() && w->UpgradeRunning() && w->pPort->Connected() &&
                     w->FlashPages().size() == kFlash.size();
        });
        QVERIFY(w->aWriteToDevice->Execute());
    }
    QVERIFY(asked);
    QVERIFY(stayed);
    QVERIFY(closes.During >= 2);
    // The run went to its end, then the window closed, once.
    QVERIFY(device.WaitFor([](const bootsim::DeviceRecord& r) { return r.Jumps == 1; }));
    QCOMPARE(device.Record().Pages.size(), kFlash.size() + kEEProm.size());
    QCOMPARE(closes.After, 1);
    QVERIFY(!w->isVisible());
    QVERIFY(!w->pPort->Connected());
    QVERIFY(w->FlashPages().empty());
    QCOMPARE(FExits, exitOnFinish ? 1 : 0);
    QCOMPARE(BoxTexts(), QStringList());
}

void MainWindowUpgradeTest::communicationErrorEndsTheRun_data()
{
    QTest::addColumn<QString>("fault");
    QTest::addColumn<QString>("message");
    QTest::addColumn<QString>("status");
    QTest::addColumn<bool>("exitOnFinish");
    QTest::addRow("Flash mode refused, exit on finish")
        << "F:wrong" << "Set Flash mode: Communication Error!" << "Send Flash mode" << true;
    QTest::addRow("Flash page refused")
        << "D#2:wrong=00" << "Send Flash Page: Communication Error!" << "Write Flash Page at 0x 1A0" << false;
    QTest::addRow("EEProm mode unanswered, exit on finish")
        << "E:silent" << "Set EEProm mode: Communication Error!" << "Send EEProm mode" << true;
    QTest::addRow("EEProm address refused")
        << "A#6:wrong" << "Send Page address: Communication Error!" << "Write EEProm Page at 0x  10" << false;
}

void MainWindowUpgradeTest::communicationErrorEndsTheRun()
{
    QFETCH(QString, fault);
    QFETCH(QString, message);
    QFETCH(QString, status);
    QFETCH(bool, exitOnFinish);
    SimDevice device(fault);
    auto w = OpenPrepared(device.Path());
    w->rgUpgradeMode->SetItemIndex(2);
    w->chkAutoExit->SetChecked(exitOnFinish);
    std::optional<int> exitsAtBox;
    QString statusAtBox;
    FOnBox = [&](const TMessageBoxCall&) {
        exitsAtBox = FExits;
        statusAtBox = w->lbPageInfo->Caption();
    };

    QVERIFY(w->aWriteToDevice->Execute());
    QCOMPARE(FBoxes.size(), size_t(1));
    QCOMPARE(FBoxes[0].Text, message);
    QCOMPARE(FBoxes[0].Type, TMsgDlgType::mtCustom);
    QCOMPARE(statusAtBox, status);
    // The program ends only once the message has been closed.
    QCOMPARE(exitsAtBox, std::optional<int>(0));
    QCOMPARE(FExits, exitOnFinish ? 1 : 0);
    QCOMPARE(w->isVisible(), !exitOnFinish);
    QCOMPARE(device.Record().Jumps, 0);
    if (!exitOnFinish) {
        QCOMPARE(w->lbPageInfo->Caption(), status);
        QVERIFY(w->aWriteToDevice->Enabled());
        QVERIFY(w->pPort->Connected());
        QCOMPARE(w->FlashPages().size(), kFlash.size());
    }
}

void MainWindowUpgradeTest::exitOnFinishTickedDuringTheRunCounts()
{
    SimDevice device;
    auto w = OpenPrepared(device.Path());
    {
        const Sampler sampler([&] {
            if (w->UpgradeRunning())
                w->chkAutoExit->SetChecked(true);
        });
        QVERIFY(w->aWriteToDevice->Execute());
    }
    QCOMPARE(FExits, 1);
    QVERIFY(!w->isVisible());
}

void MainWindowUpgradeTest::portErrorReachesTheErrorReportWithoutExit_data()
{
    QTest::addColumn<bool>("closeDuringRun");
    QTest::addRow("window kept") << false;
    QTest::addRow("window closed during the run") << true;
}

void MainWindowUpgradeTest::portErrorReachesTheErrorReportWithoutExit()
{
    QFETCH(bool, closeDuringRun);
    SimDevice device(QStringLiteral("D#2+5:hangup"));
    auto w = OpenPrepared(device.Path());
    w->chkAutoExit->SetChecked(true);
    const CloseCounter closes(*w);
    bool visibleAtReport = false;
    FOnBox = [&](const TMessageBoxCall&) { visibleAtReport = w->isVisible(); };
    {
        const Sampler sampler([&] {
            if (closeDuringRun && w->UpgradeRunning() && closes.During == 0)
                w->close();
        });
        QVERIFY(w->aWriteToDevice->Execute());
    }
    QCOMPARE(FBoxes.size(), size_t(1));
    QCOMPARE(FBoxes[0].Type, TMsgDlgType::mtError);
    QVERIFY2(FBoxes[0].Text.contains(QStringLiteral("WriteFile function failed")) ||
                 FBoxes[0].Text.contains(QStringLiteral("ReadFile function failed")),
             qPrintable(FBoxes[0].Text));
    QCOMPARE(FExits, 0);
    QVERIFY(!w->UpgradeRunning());
    QCOMPARE(w->lbPageInfo->Caption(), QStringLiteral("Write Flash Page at 0x 1A0"));
    // The report is shown with the window still there; a close asked for during the run
    // follows it.
    QVERIFY(visibleAtReport);
    QCOMPARE(closes.After, closeDuringRun ? 1 : 0);
    QCOMPARE(w->isVisible(), !closeDuringRun);
}

void MainWindowUpgradeTest::closedPortThatCannotOpenSendsNothing()
{
    SimDevice device;
    auto w = OpenPrepared(device.Path());
    w->chkAutoExit->SetChecked(true);
    // Another program has the port now.
    w->pPort->Close();
    const int other = ::open(device.Path().toLocal8Bit().constData(), O_RDWR | O_NOCTTY | O_NONBLOCK);
    QVERIFY(other >= 0);
    QCOMPARE(::flock(other, LOCK_EX | LOCK_NB), 0);

    QVERIFY(w->aWriteToDevice->Execute());
    ::close(other);
    QCOMPARE(FBoxes.size(), size_t(1));
    QCOMPARE(FBoxes[0].Type, TMsgDlgType::mtError);
    QCOMPARE(FBoxes[0].Text, QStringLiteral("COM Port Error: Unable to open com port on ") + device.Path());
    QVERIFY(!w->pPort->Connected());
    QCOMPARE(FExits, 0);
    QVERIFY(w->isVisible());
    QCOMPARE(w->lbPageInfo->Caption(), QString());
    QVERIFY(w->aWriteToDevice->Enabled());
    // Give a stray byte time to arrive: there is none.
    QTest::qWait(100);
    QCOMPARE(device.Record().Received, QByteArray());
}

int main(int argc, char** argv)
{
    TApplication app(argc, argv);
    MainWindowUpgradeTest test;
    return QTest::qExec(&test, argc, argv);
}

#include "MainWindowUpgradeTest.moc"
