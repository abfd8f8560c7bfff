// "Do Upgrade" in the main window, with the simulated bootloader on a pseudo-terminal: what the
// device receives, what the window shows during and after a run, the commands it holds back
// meanwhile, closing the window during a run, communication errors with "Exit on finish", and
// errors raised by the port.
#include "upgrade/Bootloader.h"
#include "forms/ExitSignals.h"
#include "gui/MainWindow.h"
#include "testsupport/UpgradeFileBuilder.h"
#include "base/IniFile.h"
#include "testsupport/BootSim.h"
#include "cport/ComPort.h"
#include "forms/Actions.h"
#include "forms/Application.h"
#include "forms/Buttons.h"
#include "forms/ComboBox.h"
#include "forms/Controls.h"
#include "forms/Dialogs.h"
#include "forms/Menus.h"
#include "forms/MessageBox.h"
#include "forms/RadioGroup.h"

#include <QFile>
#include <QRadioButton>
#include <QLineEdit>
#include <QTemporaryDir>
#include <QTimer>
#include <QWindow>
#include <QtTest>

#include <fcntl.h>
#include <sys/file.h>
#include <unistd.h>

#include <csignal>
#include <functional>
#include <memory>
#include <optional>
#include <vector>

using namespace zentrop;

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
const PageList kFlash{{0x0000, Bytes(kFlashPageSize, 1)},
                       {0x01A0, Bytes(kFlashPageSize, 2)},
                       {0x1000, Bytes(kFlashPageSize, 3)},
                       {0x12AB, Bytes(kFlashPageSize, 4)}};
const PageList kEEProm{{0x0000, Bytes(kEEPromPageSize, 5)},
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

// The simulated bootloader on its own thread, serving a new pseudo-terminal, with at most one
// fault in the form the simulator parses.
class SimDevice {
public:
    explicit SimDevice(const QString& fault = QString()) : FSim(Options(fault)), FPath(FSim.Open()) { FSim.Start(); }

    const QString& Path() const { return FPath; }
    bootsim::DeviceRecord Record() const { return FSim.Snapshot(); }
    bool WaitForJumps(int jumps) const
    {
        return FSim.WaitFor([jumps](const bootsim::DeviceRecord& r) { return r.Jumps == jumps; }, 5000);
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
    QStringList out;
    for (const char* name : {"aPrepareUpgrade", "aWriteToDevice", "aSelectUpgradeFile", "aComSetup", "aExit",
                             "Button1", "Button2", "Button3", "Button4", "SpeedButton1", "Exit1", "Exit2", "ComSetup1",
                             "rgUpgradeMode", "chkAutoExit", "cbFile"}) {
        const QObject* o = w.FindComponent(QString::fromLatin1(name));
        const auto* widget = qobject_cast<const QWidget*>(o);
        if (widget ? widget->isEnabled() : o->property("Enabled").toBool())
            out << QString::fromLatin1(name);
    }
    return out;
}

const QStringList kLeftAloneDuringARun{QStringLiteral("chkAutoExit"), QStringLiteral("cbFile")};

// Turns off two commands that are usually on, so that a run is seen to give back the states it
// found rather than simply turning everything on; returns the states before the run.
QStringList UnusualCommands(TwMain& w)
{
    w.aComSetup->SetEnabled(false);
    w.rgUpgradeMode->setEnabled(false);
    return EnabledCommands(w);
}

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

    void runShowsItsProgressAndSendsThePagesOfTheMode_data();
    void runShowsItsProgressAndSendsThePagesOfTheMode();
    void closeDuringARunWaitsForItsEnd_data();
    void closeDuringARunWaitsForItsEnd();
    void failedRunIsReported_data();
    void failedRunIsReported();
    void unpluggedDeviceIsOpenedAgainByName();
    void signalStopsARunAndEndsTheWindow();

private:
    // A shown window on the port, with the test file prepared and aExit counted.
    std::unique_ptr<TwMain> OpenPrepared(const QString& port);
    QStringList BoxTexts() const
    {
        QStringList texts;
        for (const MessageBoxCall& c : FBoxes)
            texts << c.Text;
        return texts;
    }

    std::unique_ptr<QTemporaryDir> FDir;
    std::unique_ptr<TIniFile> FIni;
    QString FUpgradePath;
    std::vector<MessageBoxCall> FBoxes;
    std::function<void(const MessageBoxCall&)> FOnBox;
    std::unique_ptr<ScopedMessageBoxHook> FBoxHook;
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
    FBoxHook = std::make_unique<ScopedMessageBoxHook>([this](const MessageBoxCall& c) {
        FBoxes.push_back(c);
        if (FOnBox)
            FOnBox(c);
    });
    // A file box that opens during a run is cancelled, so that the test sees it instead of waiting.
    TOpenDialog::SetExecuteHook([](TOpenDialog&) { return false; });
}

void MainWindowUpgradeTest::cleanup()
{
    FBoxHook.reset();
    TOpenDialog::SetExecuteHook({});
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

void MainWindowUpgradeTest::runShowsItsProgressAndSendsThePagesOfTheMode_data()
{
    QTest::addColumn<int>("mode");
    QTest::addColumn<bool>("flash");
    QTest::addColumn<bool>("eeprom");
    QTest::addRow("Flash") << 0 << true << false;
    QTest::addRow("EEProm") << 1 << false << true;
    QTest::addRow("Flash+EEProm") << 2 << true << true;
}

void MainWindowUpgradeTest::runShowsItsProgressAndSendsThePagesOfTheMode()
{
    QFETCH(int, mode);
    QFETCH(bool, flash);
    QFETCH(bool, eeprom);
    SimDevice device;
    auto w = OpenPrepared(device.Path());
    w->rgUpgradeMode->SetItemIndex(mode);
    const QStringList before = EnabledCommands(*w);
    QStringList statuses;
    QList<QPair<int, int>> progress;
    QSet<QString> enabledDuringRun;
    bool pagesIntact = true;
    bool portOpen = true;
    // What a user could try in the middle of a page; nothing of it may take effect.
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
            if (tookEffect || !status.startsWith(QStringLiteral("Write ")))
                return;
            QStringList ran;
            for (TAction* a : {w->aPrepareUpgrade, w->aWriteToDevice, w->aSelectUpgradeFile, w->aComSetup, w->aExit})
                if (a->Execute())
                    ran << a->objectName();
            QTest::mouseClick(w->Button1, Qt::LeftButton);
            QTest::keyClick(w.get(), Qt::Key_Escape);
            QTest::mouseClick(w->rgUpgradeMode->Buttons()[(mode + 1) % 3], Qt::LeftButton);
            if (w->rgUpgradeMode->ItemIndex() != mode)
                ran << QStringLiteral("mode changed");
            if (FExits != 0 || !w->isVisible())
                ran << QStringLiteral("exit");
            // A second run would show in the device's record below.
            w->aWriteToDeviceExecute();
            tookEffect = ran;
        });
        w->activateWindow();
        QVERIFY(QTest::qWaitForWindowActive(w.get()));
        w->Button2->setFocus();
        QTest::mouseClick(w->Button2, Qt::LeftButton);
    }
    // The keyboard focus is back where it was, and no text was selected on the way.
    QCOMPARE(QApplication::focusWidget(), w->Button2);
    QVERIFY(!w->cbFile->lineEdit()->hasSelectedText());
    QCOMPARE(BoxTexts(), QStringList());
    QVERIFY2(tookEffect, "no round of events during a page");
    QCOMPARE(*tookEffect, QStringList());
    QVERIFY(pagesIntact);
    QVERIFY(portOpen);
    QCOMPARE(enabledDuringRun, QSet<QString>(kLeftAloneDuringARun.begin(), kLeftAloneDuringARun.end()));

    // The first round may come before the run cleared the "Ready for Upgrade" line.
    if (statuses.first().startsWith(QStringLiteral("Ready for Upgrade")))
        statuses.removeFirst();
    QStringList expectedStatuses{QString()};
    // The bar starts from its state before the run, then fills once per phase.
    QList<QPair<int, int>> expectedProgress{{100, 0}};
    std::vector<std::pair<bootsim::Memory, TPage>> expectedPages;
    if (flash) {
        expectedStatuses << "Send Flash mode" << "Write Flash Page at 0x   0" << "Write Flash Page at 0x 1A0"
                         << "Write Flash Page at 0x1000" << "Write Flash Page at 0x12AB";
        for (int i = 0; i <= int(kFlash.size()); ++i)
            expectedProgress << qMakePair(int(kFlash.size()), i);
        for (const TPage& p : kFlash)
            expectedPages.emplace_back(bootsim::Memory::Flash, p);
    }
    if (eeprom) {
        expectedStatuses << "Send EEProm mode" << "Write EEProm Page at 0x   0" << "Write EEProm Page at 0x  10"
                         << "Write EEProm Page at 0x  20";
        for (int i = 0; i <= int(kEEProm.size()); ++i)
            expectedProgress << qMakePair(int(kEEProm.size()), i);
        for (const TPage& p : kEEProm)
            expectedPages.emplace_back(bootsim::Memory::EEProm, p);
    }
    expectedStatuses << "Jump to Application!";
    QCOMPARE(statuses, expectedStatuses);
    QCOMPARE(progress, expectedProgress);
    QCOMPARE(w->lbPageInfo->Caption(), expectedStatuses.last());
    QCOMPARE(qMakePair(w->pbar->Max(), w->pbar->Position()), expectedProgress.last());

    QVERIFY(device.WaitForJumps(1));
    const bootsim::DeviceRecord record = device.Record();
    QCOMPARE(record.Pages.size(), expectedPages.size());
    for (size_t i = 0; i < expectedPages.size(); ++i) {
        QCOMPARE(record.Pages[i].Where, expectedPages[i].first);
        QCOMPARE(record.Pages[i].Address, expectedPages[i].second.Address);
        QCOMPARE(record.Pages[i].Data, expectedPages[i].second.Data);
    }

    // The port, the pages and the commands stay, so the run can be repeated at once.
    QVERIFY(w->pPort->Connected());
    QCOMPARE(w->FlashPages().size(), kFlash.size());
    QCOMPARE(w->EEPromPages().size(), kEEProm.size());
    QCOMPARE(EnabledCommands(*w), before);
    QVERIFY(w->aWriteToDevice->Execute());
    QCOMPARE(BoxTexts(), QStringList());
    QVERIFY(device.WaitForJumps(2));
    QCOMPARE(device.Record().Wakes, 2);
    QCOMPARE(device.Record().Pages.size(), 2 * expectedPages.size());
    QCOMPARE(FExits, 0);
    QVERIFY(w->isVisible());
}

void MainWindowUpgradeTest::closeDuringARunWaitsForItsEnd_data()
{
    QTest::addColumn<bool>("exitOnFinish");
    QTest::addRow("plain") << false;
    // "Exit on finish" is read when the run ends.
    QTest::addRow("exit on finish ticked during the run") << true;
}

void MainWindowUpgradeTest::closeDuringARunWaitsForItsEnd()
{
    QFETCH(bool, exitOnFinish);
    SimDevice device;
    auto w = OpenPrepared(device.Path());
    w->rgUpgradeMode->SetItemIndex(2);
    const QStringList before = UnusualCommands(*w);
    const CloseCounter closes(*w);
    bool asked = false;
    bool stayed = false;
    {
        const Sampler sampler([&] {
            if (exitOnFinish && w->UpgradeRunning())
                w->chkAutoExit->SetChecked(true);
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
    QVERIFY(device.WaitForJumps(1));
    QCOMPARE(device.Record().Pages.size(), kFlash.size() + kEEProm.size());
    QCOMPARE(closes.After, 1);
    QVERIFY(!w->isVisible());
    QVERIFY(!w->pPort->Connected());
    QVERIFY(w->FlashPages().empty());
    QCOMPARE(FExits, exitOnFinish ? 1 : 0);
    QCOMPARE(BoxTexts(), QStringList());
    QCOMPARE(EnabledCommands(*w), before);
}

void MainWindowUpgradeTest::failedRunIsReported_data()
{
    QTest::addColumn<QString>("fault");
    // A pattern; %1 stands for the port's name.
    QTest::addColumn<QString>("message");
    QTest::addColumn<QString>("status");
    // A Communication Error is the run's own message; the others are errors raised by the port.
    QTest::addColumn<bool>("communicationError");
    QTest::addColumn<bool>("exitOnFinish");
    QTest::addColumn<bool>("closeDuringRun");
    QTest::addColumn<bool>("portTaken");
    QTest::addRow("Flash mode refused, exit on finish") << "F:wrong" << "^Set Flash mode: Communication Error!$"
                                                        << "Send Flash mode" << true << true << false << false;
    QTest::addRow("Flash page refused") << "D#2:wrong=00" << "^Send Flash Page: Communication Error!$"
                                        << "Write Flash Page at 0x 1A0" << true << false << false << false;
    // The second answer waits before the page's last byte: the device ended the page early.
    QTest::addRow("Flash page answered early") << "A#2:twice" << "^Send Flash Page: Communication Error!$"
                                               << "Write Flash Page at 0x 1A0" << true << false << false << false;
    QTest::addRow("EEProm mode unanswered, exit on finish") << "E:silent" << "^Set EEProm mode: Communication Error!$"
                                                            << "Send EEProm mode" << true << true << false << false;
    QTest::addRow("EEProm address refused") << "A#6:wrong" << "^Send Page address: Communication Error!$"
                                            << "Write EEProm Page at 0x  10" << true << false << false << false;
    const QString hangUp = QStringLiteral("(WriteFile|ReadFile) function failed");
    QTest::addRow("hang-up, exit on finish")
        << "D#2+5:hangup" << hangUp << "Write Flash Page at 0x 1A0" << false << true << false << false;
    QTest::addRow("hang-up, window closed during the run")
        << "D#2+5:hangup" << hangUp << "Write Flash Page at 0x 1A0" << false << true << true << false;
    QTest::addRow("closed port taken by another program, exit on finish")
        << "" << "^COM Port Error: Unable to open com port on %1$" << "" << false << true << false << true;
}

void MainWindowUpgradeTest::failedRunIsReported()
{
    QFETCH(QString, fault);
    QFETCH(QString, message);
    QFETCH(QString, status);
    QFETCH(bool, communicationError);
    QFETCH(bool, exitOnFinish);
    QFETCH(bool, closeDuringRun);
    QFETCH(bool, portTaken);
    SimDevice device(fault);
    auto w = OpenPrepared(device.Path());
    w->rgUpgradeMode->SetItemIndex(2);
    w->chkAutoExit->SetChecked(exitOnFinish);
    const QStringList before = UnusualCommands(*w);
    int other = -1;
    if (portTaken) {
        w->pPort->Close();
        other = ::open(device.Path().toLocal8Bit().constData(), O_RDWR | O_NOCTTY | O_NONBLOCK);
        QVERIFY(other >= 0);
        QCOMPARE(::flock(other, LOCK_EX | LOCK_NB), 0);
    }
    const CloseCounter closes(*w);
    struct {
        std::optional<int> exits;
        bool visible = false;
        QString status;
        QStringList commands;
    } atBox;
    FOnBox = [&](const MessageBoxCall&) {
        atBox = {FExits, w->isVisible(), w->lbPageInfo->Caption(), EnabledCommands(*w)};
    };
    {
        const Sampler sampler([&] {
            if (closeDuringRun && w->UpgradeRunning() && closes.During == 0)
                w->close();
        });
        QVERIFY(w->aWriteToDevice->Execute());
    }
    if (other >= 0)
        ::close(other);
    QCOMPARE(FBoxes.size(), size_t(1));
    const QString pattern = QString(message).replace(QStringLiteral("%1"), QRegularExpression::escape(device.Path()));
    QVERIFY2(FBoxes[0].Text.contains(QRegularExpression(pattern)), qPrintable(FBoxes[0].Text));
    QCOMPARE(FBoxes[0].Type, communicationError ? TMsgDlgType::mtCustom : TMsgDlgType::mtError);
    QCOMPARE(atBox.status, status);
    // A Communication Error is shown while the run still holds the commands; a port error is
    // reported after the run has given them back. Either way the window is still there.
    QCOMPARE(atBox.commands, communicationError ? kLeftAloneDuringARun : before);
    QCOMPARE(atBox.exits, std::optional<int>(0));
    QVERIFY(atBox.visible);

    // "Exit on finish" follows a Communication Error once its message is closed, never a port
    // error; a close asked for during the run follows the report.
    const bool exits = communicationError && exitOnFinish;
    QCOMPARE(FExits, exits ? 1 : 0);
    QCOMPARE(closes.After, exits || closeDuringRun ? 1 : 0);
    QCOMPARE(w->isVisible(), !exits && !closeDuringRun);
    QVERIFY(!w->UpgradeRunning());
    QCOMPARE(EnabledCommands(*w), before);
    QCOMPARE(device.Record().Jumps, 0);
    if (w->isVisible()) {
        QCOMPARE(w->lbPageInfo->Caption(), status);
        QCOMPARE(w->FlashPages().size(), kFlash.size());
    }
    if (communicationError && !exits)
        QVERIFY(w->pPort->Connected());
    if (portTaken) {
        QVERIFY(!w->pPort->Connected());
        // Give a stray byte time to arrive: there is none.
        QTest::qWait(100);
        QCOMPARE(device.Record().Received, QByteArray());
    }
}

// An adapter unplugged during a run and plugged in again: its name (a link, as the system's
// by-id names are) stays while the device behind it goes, and comes back as a new one.
void MainWindowUpgradeTest::unpluggedDeviceIsOpenedAgainByName()
{
    const QString link = FDir->filePath(QStringLiteral("usb-adapter"));
    auto first = std::make_unique<SimDevice>(QStringLiteral("D#2+5:hangup"));
    QVERIFY(QFile::link(first->Path(), link));
    auto w = OpenPrepared(link);
    w->rgUpgradeMode->SetItemIndex(0);
    QVERIFY(w->pPort->Connected());
    QVERIFY(w->aWriteToDevice->Execute());
    QCOMPARE(FBoxes.size(), size_t(1));
    QVERIFY2(FBoxes[0].Text.contains(QRegularExpression(QStringLiteral("(WriteFile|ReadFile) function failed"))),
             qPrintable(FBoxes[0].Text));
    // The gone device is no longer held.
    QVERIFY(!w->pPort->Connected());
    first.reset();

    // Not plugged in again: the run fails as with any port that cannot be opened.
    QFile::remove(link);
    QVERIFY(w->aWriteToDevice->Execute());
    QCOMPARE(FBoxes.size(), size_t(2));
    QVERIFY2(FBoxes[1].Text.startsWith(QStringLiteral("COM Port Error: Unable to open com port on ")),
             qPrintable(FBoxes[1].Text));

    SimDevice again;
    QVERIFY(QFile::link(again.Path(), link));
    QVERIFY(w->aWriteToDevice->Execute());
    QCOMPARE(FBoxes.size(), size_t(2));
    QVERIFY(again.WaitForJumps(1));
    QCOMPARE(again.Record().Pages.size(), kFlash.size());
}

// SIGTERM during a run: the run stops at its next request, as the command line's does, and
// the window ends as "Exit" ends it, without a report of the interrupted run.
void MainWindowUpgradeTest::signalStopsARunAndEndsTheWindow()
{
    SimDevice device;
    auto w = OpenPrepared(device.Path());
    w->rgUpgradeMode->SetItemIndex(2);
    const ExitSignals exitSignals([&w] { w->ExitOnSignal(); });
    bool raised = false;
    {
        const Sampler sampler([&] {
            if (!raised && w->UpgradeRunning() && device.Record().Pages.size() == 1) {
                raised = true;
                ::raise(SIGTERM);
            }
        });
        QVERIFY(w->aWriteToDevice->Execute());
    }
    QVERIFY(raised);
    QVERIFY(FBoxes.empty());
    QCOMPARE(FExits, 1);
    QVERIFY(!w->isVisible());
    QVERIFY(!w->UpgradeRunning());
    QVERIFY(!w->pPort->Connected());
    QVERIFY(device.Record().Pages.size() < kFlash.size());
    QCOMPARE(device.Record().Jumps, 0);
}

int main(int argc, char** argv)
{
    TApplication app(argc, argv);
    MainWindowUpgradeTest test;
    return QTest::qExec(&test, argc, argv);
}

#include "MainWindowUpgradeTest.moc"
