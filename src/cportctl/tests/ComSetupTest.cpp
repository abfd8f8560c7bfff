// The port property selectors and the setup dialog, against ports whose device records what
// reaches it and a list of installed ports the tests name.
#include "RecordingComDevice.h"
#include "cportctl/ComComboBox.h"
#include "cportctl/ComSetup.h"
#include "forms/Buttons.h"
#include "forms/Controls.h"
#include "forms/MessageBox.h"

#include <QStyle>
#include <QStyleOptionComboBox>
#include <QPointer>
#include <QtTest>

#include <algorithm>
#include <cerrno>
#include <pty.h>
#include <termios.h>
#include <unistd.h>
#include <memory>
#include <optional>
#include <vector>

namespace {

// Installs the machine's list of installed ports for one test.
class ScopedPortSource {
public:
    explicit ScopedPortSource(ComPortSource Source) : FPrevious(SetComPortSource(std::move(Source))) {}
    explicit ScopedPortSource(const QStringList& Ports)
        : ScopedPortSource(ComPortSource([Ports] { return Ports; })) {}
    ~ScopedPortSource() { SetComPortSource(std::move(FPrevious)); }

private:
    ComPortSource FPrevious;
};

// Answers every modal form with the hook for one test.
class ScopedModalHook {
public:
    explicit ScopedModalHook(TForm::TShowModalHook Hook) : FPrevious(TForm::SetShowModalHook(std::move(Hook))) {}
    ~ScopedModalHook() { TForm::SetShowModalHook(std::move(FPrevious)); }

private:
    TForm::TShowModalHook FPrevious;
};

// A port at 115200 baud, 8 data bits, 1 stop bit, no parity and hardware flow control,
// whose device records the calls made after construction.
struct TestPort {
    std::shared_ptr<DeviceLog> Log = std::make_shared<DeviceLog>();
    std::unique_ptr<TComPort> Port = std::make_unique<TComPort>();

    explicit TestPort(const QString& Name, bool Open = true)
    {
        Port->SetDevice(std::make_unique<RecordingComDevice>(Log));
        Port->SetEvents({});
        Port->SetPort(Name);
        Port->SetBaudRate(TBaudRate::br115200);
        Port->FlowControl()->SetFlowControl(TFlowControl::fcHardware);
        if (Open)
            Port->Open();
        Log->Calls.clear();
        Log->States.clear();
    }
};

// Picks the item of that text the way a user does on the closed box, with the arrow keys;
// every item passed on the way is picked too, as it would be for the user.
void UserPicks(TComComboBox* box, const QString& text)
{
    const int target = box->Items()->IndexOf(text);
    QVERIFY2(target >= 0, qPrintable(text));
    for (int guard = 0; box->currentIndex() != target && guard <= box->count(); ++guard)
        QTest::keyClick(box, box->currentIndex() < target ? Qt::Key_Down : Qt::Key_Up);
    QCOMPARE(box->currentIndex(), target);
}

QStringList Texts(const TComComboBox* box)
{
    return box->Items()->ToStringList();
}

using Picks = QList<QPair<int, QString>>;   // selector row (0 = port) and the text picked

} // namespace

class ComSetupTest : public QObject {
    Q_OBJECT

private slots:
    void init();
    void cleanup();

    void listsHoldEveryValueOfTheirProperty_data();
    void listsHoldEveryValueOfTheirProperty();
    void userPickStoresAndAppliesBeforeOnChange_data();
    void userPickStoresAndAppliesBeforeOnChange();
    void settingTextNeverStoresOrApplies();
    void noPropertyEmptiesTheList();
    void destroyedPortIsUnlinked();
    void propertiesArePublishedUnderTheirNames();

    void dialogIsLaidOutAsDesigned();
    void dialogShowsThePortsCurrentValues();
    void dialogTextsFitTheirPlaces();
    void portNameIsLookedUpIgnoringCase_data();
    void portNameIsLookedUpIgnoringCase();
    void choiceReachesThePortInOneUpdateOnlyOnOk_data();
    void choiceReachesThePortInOneUpdateOnlyOnOk();
    void unreadablePortListRaisesBeforeShowing();
    void failedApplyReleasesFormAndClosesUpdate_data();
    void failedApplyReleasesFormAndClosesUpdate();
    void showSetupDialogRunsTheInstalledDialog();
    void pseudoTerminalPortIsMovedAndReconfigured();

private:
    std::optional<ScopedPortSource> FPorts;
    std::vector<TMessageBoxCall> FBoxes;
    std::optional<TScopedMessageBoxHook> FBoxHook;
};

void ComSetupTest::init()
{
    FPorts.emplace(QStringList{QStringLiteral("COM1"), QStringLiteral("COM3")});
    FBoxes.clear();
    FBoxHook.emplace([this](const TMessageBoxCall& c) { FBoxes.push_back(c); });
}

void ComSetupTest::cleanup()
{
    FBoxHook.reset();
    FPorts.reset();
    // No test expects an error to reach the standard error report.
    QVERIFY(FBoxes.empty());
}

// ---- the selector box

void ComSetupTest::listsHoldEveryValueOfTheirProperty_data()
{
    QTest::addColumn<TComProperty>("kind");
    QTest::addColumn<QStringList>("texts");
    QTest::newRow("none") << TComProperty::cpNone << QStringList{};
    QTest::newRow("port, sorted ignoring case")
        << TComProperty::cpPort << QStringList{"COM1", "com10", "COM2", "/dev/ttyUSB0"};
    QTest::newRow("baud rate") << TComProperty::cpBaudRate
                               << QStringList{"Custom", "110", "300", "600", "1200", "2400", "4800", "9600",
                                              "14400", "19200", "38400", "56000", "57600", "115200",
                                              "128000", "256000"};
    QTest::newRow("data bits") << TComProperty::cpDataBits << QStringList{"5", "6", "7", "8"};
    QTest::newRow("stop bits") << TComProperty::cpStopBits << QStringList{"1", "1.5", "2"};
    QTest::newRow("parity") << TComProperty::cpParity << QStringList{"None", "Odd", "Even", "Mark", "Space"};
    QTest::newRow("flow control") << TComProperty::cpFlowControl
                                  << QStringList{"Hardware", "Software", "None", "Custom"};
}

void ComSetupTest::listsHoldEveryValueOfTheirProperty()
{
    QFETCH(TComProperty, kind);
    QFETCH(QStringList, texts);
    ScopedPortSource ports(QStringList{"COM2", "/dev/ttyUSB0", "com10", "COM1"});
    TComComboBox box(nullptr);
    // Fill it twice: the list is rebuilt, not added to.
    box.SetComProperty(TComProperty::cpBaudRate);
    box.SetComProperty(kind);
    if (kind == TComProperty::cpPort)
        texts = QStringList{"/dev/ttyUSB0", "COM1", "com10", "COM2"};
    QCOMPARE(Texts(&box), texts);
    // Without a port the first value is selected.
    QCOMPARE(box.ItemIndex(), texts.isEmpty() ? -1 : 0);
    QCOMPARE(box.Style(), TCustomComboBox::TComboBoxStyle::csDropDownList);
}

void ComSetupTest::userPickStoresAndAppliesBeforeOnChange_data()
{
    QTest::addColumn<bool>("autoApply");
    QTest::newRow("auto apply") << true;
    QTest::newRow("apply when told") << false;
}

void ComSetupTest::userPickStoresAndAppliesBeforeOnChange()
{
    QFETCH(bool, autoApply);
    TestPort p(QStringLiteral("COM1"));
    TComComboBox box(nullptr);
    box.SetComProperty(TComProperty::cpParity);
    box.SetAutoApply(autoApply);
    box.SetComPort(p.Port.get());
    QCOMPARE(box.Text(), QStringLiteral("None"));

    QList<TParityBits> seenAtChange;
    QStringList textAtChange;
    box.OnChange = [&] {
        seenAtChange << p.Port->Parity()->Bits();
        textAtChange << box.Text();
    };
    UserPicks(&box, QStringLiteral("Even"));

    // Every pick on the way (Odd, then Even) is stored and announced.
    QCOMPARE(textAtChange, (QStringList{"Odd", "Even"}));
    QCOMPARE(box.Selector().ParityValue(), TParityBits::prEven);
    if (autoApply) {
        QCOMPARE(seenAtChange, (QList<TParityBits>{TParityBits::prOdd, TParityBits::prEven}));
        QCOMPARE(p.Log->Count("state"), 2);
        QCOMPARE(p.Log->States.last().Parity, DCB::EVENPARITY);
    } else {
        QCOMPARE(seenAtChange, (QList<TParityBits>{TParityBits::prNone, TParityBits::prNone}));
        QVERIFY(p.Log->Calls.isEmpty());
        box.ApplyToPort();
        QCOMPARE(p.Port->Parity()->Bits(), TParityBits::prEven);
        QCOMPARE(p.Log->Count("state"), 1);
    }
}

void ComSetupTest::settingTextNeverStoresOrApplies()
{
    TestPort p(QStringLiteral("COM1"));
    TComComboBox box(nullptr);
    box.SetComProperty(TComProperty::cpDataBits);
    box.SetAutoApply(true);
    box.SetComPort(p.Port.get());
    int changes = 0;
    box.OnChange = [&] { ++changes; };

    QVERIFY(box.setProperty("Text", QStringLiteral("7")));
    QCOMPARE(box.ItemIndex(), 2);
    QCOMPARE(box.Text(), QStringLiteral("7"));
    box.SetText(QStringLiteral("9"));   // not a value: the selection stays
    QCOMPARE(box.Text(), QStringLiteral("7"));

    QCOMPARE(changes, 0);
    QCOMPARE(box.Selector().DataBitsValue(), TDataBits::dbEight);
    QCOMPARE(p.Port->DataBits(), TDataBits::dbEight);
    QVERIFY(p.Log->Calls.isEmpty());
}

void ComSetupTest::noPropertyEmptiesTheList()
{
    TestPort p(QStringLiteral("COM1"));
    TComComboBox box(nullptr);
    box.SetComProperty(TComProperty::cpBaudRate);
    box.SetComPort(p.Port.get());
    QCOMPARE(box.Text(), QStringLiteral("115200"));

    box.SetComProperty(TComProperty::cpNone);
    QCOMPARE(box.count(), 0);
    QCOMPARE(box.ItemIndex(), -1);
    QCOMPARE(box.Text(), QString());
    box.ApplyToPort();
    box.SelectFromPort();
    QVERIFY(p.Log->Calls.isEmpty());
    QCOMPARE(box.ItemIndex(), -1);
}

void ComSetupTest::destroyedPortIsUnlinked()
{
    auto p = std::make_unique<TestPort>(QStringLiteral("COM1"));
    TComComboBox box(nullptr);
    box.SetComProperty(TComProperty::cpBaudRate);
    box.SetComPort(p->Port.get());
    QCOMPARE(box.Text(), QStringLiteral("115200"));
    QCOMPARE(box.Selector().BaudValue(), TBaudRate::br115200);

    p.reset();
    QCOMPARE(box.ComPort(), nullptr);
    QCOMPARE(box.ItemIndex(), 0);
    QCOMPARE(box.Selector().BaudValue(), TBaudRate::br115200);
    box.ApplyToPort();   // no port: nothing to write to

    // A new port is linked and followed as before.
    TestPort q(QStringLiteral("COM3"));
    q.Port->SetBaudRate(TBaudRate::br57600);
    box.SetComPort(q.Port.get());
    QCOMPARE(box.Text(), QStringLiteral("57600"));
}

void ComSetupTest::propertiesArePublishedUnderTheirNames()
{
    TestPort p(QStringLiteral("COM1"), false);
    TComComboBox box(nullptr);
    QVERIFY(box.setProperty("ComProperty", QVariant::fromValue(TComProperty::cpStopBits)));
    QVERIFY(box.setProperty("ComPort", QVariant::fromValue(static_cast<TCustomComPort*>(p.Port.get()))));
    QVERIFY(box.setProperty("AutoApply", true));
    QCOMPARE(box.ComProperty(), TComProperty::cpStopBits);
    QCOMPARE(box.property("ComPort").value<TCustomComPort*>(), p.Port.get());
    QVERIFY(box.AutoApply());
    QCOMPARE(box.property("Text").toString(), QStringLiteral("1"));
}

// ---- the setup dialog

void ComSetupTest::dialogIsLaidOutAsDesigned()
{
    // What others find by name, and what each part does; the look is checked by rendering.
    TComSetupFrm form;
    QCOMPARE(form.objectName(), QStringLiteral("ComSetupFrm"));
    QCOMPARE(form.Client()->size(), QSize(231, 216));
    const QList<TComComboBox*> combos = form.Combos();
    for (int row = 0; row < 6; ++row) {
        QCOMPARE(form.FindComponent(QStringLiteral("Combo%1").arg(row + 1)), combos[row]);
        QCOMPARE(combos[row]->parentWidget(), form.GroupBox1);
        QCOMPARE(combos[row]->ComProperty(), static_cast<TComProperty>(row + 1));
        QVERIFY(!combos[row]->AutoApply());
    }
    QVERIFY(form.Button1->Default());
    QCOMPARE(form.Button1->ModalResult(), mrOk);
    QCOMPARE(form.Button2->ModalResult(), mrCancel);

    // Tab goes down the six lists, then to OK and Cancel.
    const QList<QWidget*> order{form.Combo1, form.Combo2, form.Combo3, form.Combo4, form.Combo5,
                                form.Combo6, form.Button1, form.Button2};
    QList<QWidget*> seen;
    QWidget* w = form.Combo1;
    do {
        if (order.contains(w))
            seen << w;
        w = w->nextInFocusChain();
    } while (w != form.Combo1 && seen.size() < order.size());
    QCOMPARE(seen, order);
}

void ComSetupTest::dialogShowsThePortsCurrentValues()
{
    TestPort p(QStringLiteral("COM1"));
    QStringList shown;
    QStringList ports;
    QList<TCustomComPort*> linked;
    int runs = 0;
    ScopedModalHook modal([&](TForm& f) {
        ++runs;
        auto& form = dynamic_cast<TComSetupFrm&>(f);
        for (TComComboBox* combo : form.Combos()) {
            linked << combo->ComPort();
            shown << combo->Text();
        }
        ports = Texts(form.Combo1);
        return mrCancel;
    });
    ExecuteComSetup(p.Port.get());
    QCOMPARE(runs, 1);
    QCOMPARE(linked, QList<TCustomComPort*>(6, p.Port.get()));
    QCOMPARE(ports, (QStringList{"COM1", "COM3"}));
    QCOMPARE(shown, (QStringList{"COM1", "115200", "8", "1", "None", "Hardware"}));
}

void ComSetupTest::dialogTextsFitTheirPlaces()
{
    ScopedPortSource ports(QStringList{"/dev/ttyS0", "/dev/ttyUSB0"});
    TestPort p(QStringLiteral("/dev/ttyUSB0"), false);
    TComSetupFrm form;
    for (TComComboBox* combo : form.Combos())
        combo->SetComPort(p.Port.get());
    form.show();
    QVERIFY(QTest::qWaitForWindowExposed(&form));

    // Each label ends before its list begins; each list shows its longest value whole.
    for (const TLabel* label : form.findChildren<TLabel*>()) {
        QVERIFY2(label->x() + label->fontMetrics().horizontalAdvance(label->Caption()) < 80,
                 qPrintable(label->Caption()));
    }
    for (const TComComboBox* combo : form.Combos()) {
        QStyleOptionComboBox option;
        option.initFrom(combo);
        option.editable = false;
        const QRect field = combo->style()->subControlRect(QStyle::CC_ComboBox, &option,
                                                           QStyle::SC_ComboBoxEditField, combo);
        int widest = 0;
        for (const QString& text : Texts(combo))
            widest = std::max(widest, combo->fontMetrics().horizontalAdvance(text));
        QVERIFY2(widest <= field.width(), qPrintable(combo->objectName()));
        QVERIFY2(combo->fontMetrics().height() <= field.height(), qPrintable(combo->objectName()));
    }
    for (const TButton* button : {form.Button1, form.Button2})
        QVERIFY(button->fontMetrics().horizontalAdvance(button->Caption()) < button->width() - 8);

    // Where a picture of the dialog is wanted, it is saved there.
    const QString shot = qEnvironmentVariable("ZENTROP_SETUP_SCREENSHOT");
    if (!shot.isEmpty())
        QVERIFY(form.grab().save(shot));
}

void ComSetupTest::portNameIsLookedUpIgnoringCase_data()
{
    QTest::addColumn<QString>("portName");
    QTest::addColumn<int>("selected");
    QTest::addColumn<QString>("written");
    QTest::newRow("listed") << "COM3" << 1 << "COM3";
    QTest::newRow("other letter case") << "com1" << 0 << "COM1";
    QTest::newRow("not installed") << "COM7" << -1 << "";
}

void ComSetupTest::portNameIsLookedUpIgnoringCase()
{
    QFETCH(QString, portName);
    QFETCH(int, selected);
    QFETCH(QString, written);
    TestPort p(portName, false);
    ScopedModalHook modal([&](TForm& f) {
        auto& form = dynamic_cast<TComSetupFrm&>(f);
        [&] { QCOMPARE(form.Combo1->ItemIndex(), selected); }();
        return mrCancel;
    });
    ExecuteComSetup(p.Port.get());
    QCOMPARE(p.Port->Port(), portName);

    ScopedModalHook ok([](TForm&) { return mrOk; });
    ExecuteComSetup(p.Port.get());
    QCOMPARE(p.Port->Port(), written);
    QVERIFY(p.Log->Calls.isEmpty());
}

void ComSetupTest::choiceReachesThePortInOneUpdateOnlyOnOk_data()
{
    QTest::addColumn<bool>("open");
    QTest::addColumn<Picks>("picks");
    QTest::addColumn<int>("result");
    QTest::addColumn<QStringList>("calls");
    QTest::addColumn<QString>("portName");
    QTest::addColumn<TBaudRate>("baudRate");

    const Picks newPortAndRate{{0, "COM3"}, {1, "9600"}};
    QTest::newRow("OK unchanged: applied once more, not reopened")
        << true << Picks{} << mrOk << QStringList{"buffer", "state 115200", "timeouts"} << "COM1"
        << TBaudRate::br115200;
    QTest::newRow("9600 then Cancel") << true << Picks{{1, "9600"}} << mrCancel << QStringList{} << "COM1"
                                      << TBaudRate::br115200;
    QTest::newRow("new port and rate on an open port")
        << true << newPortAndRate << mrOk
        << QStringList{"close", "open COM3", "buffer", "state 9600", "timeouts"} << "COM3" << TBaudRate::br9600;
    QTest::newRow("new port and rate on a closed port")
        << false << newPortAndRate << mrOk << QStringList{} << "COM3" << TBaudRate::br9600;
    QTest::newRow("no modal result") << true << newPortAndRate << mrNone << QStringList{} << "COM1"
                                   << TBaudRate::br115200;
}

void ComSetupTest::choiceReachesThePortInOneUpdateOnlyOnOk()
{
    QFETCH(bool, open);
    QFETCH(Picks, picks);
    QFETCH(int, result);
    QFETCH(QStringList, calls);
    QFETCH(QString, portName);
    QFETCH(TBaudRate, baudRate);
    TestPort p(QStringLiteral("COM1"), open);
    ScopedModalHook modal([&](TForm& f) {
        auto& form = dynamic_cast<TComSetupFrm&>(f);
        for (const auto& [row, text] : picks)
            UserPicks(form.Combos()[row], text);
        // Nothing reaches the port while the dialog is up.
        [&] { QVERIFY(p.Log->Calls.isEmpty()); }();
        return result;
    });
    ExecuteComSetup(p.Port.get());

    QCOMPARE(p.Log->Calls, calls);
    QCOMPARE(p.Port->Port(), portName);
    QCOMPARE(p.Port->BaudRate(), baudRate);
    QCOMPARE(p.Port->Connected(), open);
    QCOMPARE(p.Port->UpdateDepth(), 0);
    // The other settings are written as they were.
    QCOMPARE(p.Port->DataBits(), TDataBits::dbEight);
    QCOMPARE(p.Port->StopBits(), TStopBits::sbOneStopBit);
    QCOMPARE(p.Port->Parity()->Bits(), TParityBits::prNone);
    QCOMPARE(p.Port->FlowControl()->FlowControl(), TFlowControl::fcHardware);
    if (!p.Log->States.isEmpty())
        QCOMPARE(p.Log->States.last().Flags & DCB::fRtsControlMask, uint32_t(DCB::fRtsControlHandshake));
}

void ComSetupTest::unreadablePortListRaisesBeforeShowing()
{
    TestPort p(QStringLiteral("COM1"));
    ScopedPortSource ports(ComPortSource([]() -> QStringList {
        throw EComPortExt(QStringLiteral("EnumComPorts"), ComErr::RegError, EACCES);
    }));
    int runs = 0;
    ScopedModalHook modal([&](TForm&) {
        ++runs;
        return mrOk;
    });
    try {
        ExecuteComSetup(p.Port.get());
        QFAIL("the dialog opened without a port list");
    } catch (const EComPortExt& e) {
        QCOMPARE(e.Code(), 23);
        QCOMPARE(e.Message(), QStringLiteral("COM Port Error: Registry error on EnumComPorts"));
    }
    QCOMPARE(runs, 0);
    QVERIFY(p.Log->Calls.isEmpty());
    QCOMPARE(p.Port->UpdateDepth(), 0);
    QCOMPARE(p.Port->Port(), QStringLiteral("COM1"));
}

void ComSetupTest::failedApplyReleasesFormAndClosesUpdate_data()
{
    QTest::addColumn<bool>("refuseCom3");
    QTest::addColumn<bool>("refuseState");
    QTest::addColumn<int>("code");
    QTest::addColumn<bool>("connected");
    QTest::newRow("new port cannot be opened") << true << false << 1 << false;
    QTest::newRow("line settings refused at the end") << false << true << 7 << true;
}

void ComSetupTest::failedApplyReleasesFormAndClosesUpdate()
{
    QFETCH(bool, refuseCom3);
    QFETCH(bool, refuseState);
    QFETCH(int, code);
    QFETCH(bool, connected);
    TestPort p(QStringLiteral("COM1"));
    if (refuseCom3)
        p.Log->RefusedNames << QStringLiteral("COM3");
    p.Log->RefuseState = refuseState;
    QPointer<TComSetupFrm> shown;
    ScopedModalHook modal([&](TForm& f) {
        shown = &dynamic_cast<TComSetupFrm&>(f);
        UserPicks(shown->Combo1, QStringLiteral("COM3"));
        UserPicks(shown->Combo2, QStringLiteral("9600"));
        return mrOk;
    });
    try {
        ExecuteComSetup(p.Port.get());
        QFAIL("the failure did not reach the caller");
    } catch (const EComPort& e) {
        QCOMPARE(e.Code(), code);
    }
    QVERIFY(shown.isNull());
    QCOMPARE(p.Port->UpdateDepth(), 0);
    QCOMPARE(p.Port->Connected(), connected);
    // The port keeps its own state: the next change on it is applied at once again.
    p.Log->RefuseState = false;
    p.Log->Calls.clear();
    p.Port->SetDataBits(TDataBits::dbSeven);
    QCOMPARE(p.Log->Count("state"), connected ? 1 : 0);
}

void ComSetupTest::showSetupDialogRunsTheInstalledDialog()
{
    TestPort p(QStringLiteral("COM3"));
    const auto previous = TCustomComPort::SetSetupDialogProc(nullptr);
    InstallComSetupDialog();
    QString formName;
    TCustomComPort* linked = nullptr;
    ScopedModalHook modal([&](TForm& f) {
        formName = f.objectName();
        linked = dynamic_cast<TComSetupFrm&>(f).Combo1->ComPort();
        return mrCancel;
    });
    p.Port->ShowSetupDialog();
    TCustomComPort::SetSetupDialogProc(previous);
    QCOMPARE(formName, QStringLiteral("ComSetupFrm"));
    QCOMPARE(linked, p.Port.get());
}

void ComSetupTest::pseudoTerminalPortIsMovedAndReconfigured()
{
    // Two lines with nothing on the far end; the test keeps each slave open to read its
    // line settings, which belong to the line and not to one descriptor. (A pseudo-terminal
    // keeps the speed and stop bits it is given, but always drops parity.)
    struct Pty {
        int Master = -1;
        int Slave = -1;
        QString Path;
        ~Pty()
        {
            ::close(Master);
            ::close(Slave);
        }
    } a, b;
    for (Pty* pty : {&a, &b}) {
        char name[128] = {};
        QVERIFY(::openpty(&pty->Master, &pty->Slave, name, nullptr, nullptr) == 0);
        pty->Path = QString::fromLocal8Bit(name);
    }
    ScopedPortSource ports(QStringList{a.Path, b.Path});
    TComPort port;
    port.SetEvents({});
    port.SetPort(a.Path);
    port.SetBaudRate(TBaudRate::br115200);
    port.Open();

    ScopedModalHook modal([&](TForm& f) {
        auto& form = dynamic_cast<TComSetupFrm&>(f);
        UserPicks(form.Combo1, b.Path);
        UserPicks(form.Combo2, QStringLiteral("9600"));
        UserPicks(form.Combo4, QStringLiteral("2"));
        return mrOk;
    });
    ExecuteComSetup(&port);

    QVERIFY(port.Connected());
    QCOMPARE(port.Port(), b.Path);
    termios line{};
    QCOMPARE(::tcgetattr(b.Slave, &line), 0);
    QCOMPARE(::cfgetospeed(&line), speed_t(B9600));
    QCOMPARE(line.c_cflag & CSTOPB, tcflag_t(CSTOPB));
    port.Close();
}

QTEST_MAIN(ComSetupTest)
#include "ComSetupTest.moc"
