// The port property selectors and the setup dialog, against ports on the recording device
// and a list of installed ports the tests name.
#include "cport/PortNames.h"
#include "testsupport/PtyPair.h"
#include "testsupport/RecordingComDevice.h"
#include "cportctl/ComComboBox.h"
#include "cportctl/ComSetup.h"
#include "forms/Buttons.h"
#include "forms/Controls.h"
#include "forms/MessageBox.h"

#include <QLineEdit>
#include <QPointer>
#include <QRegularExpression>
#include <QStyle>
#include <QStyleOptionComboBox>
#include <QtTest>
#include <QTimer>

#include <algorithm>
#include <cerrno>
#include <memory>
#include <optional>
#include <termios.h>
#include <vector>

using namespace zentrop;

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
    explicit ScopedModalHook(TForm::ShowModalHook Hook) : FPrevious(TForm::SetShowModalHook(std::move(Hook))) {}
    ~ScopedModalHook() { TForm::SetShowModalHook(std::move(FPrevious)); }

private:
    TForm::ShowModalHook FPrevious;
};

// The recording device, naming devices as the system's device does ("COM1" is /dev/ttyS0).
class SystemNamedDevice : public RecordingComDevice {
public:
    QString DeviceName(const QString& Port) const override { return PortDevicePath(Port); }
};

// A port at 115200 baud, 8 data bits, 1 stop bit, no parity and hardware flow control,
// whose device log starts after construction.
struct TestPort {
    std::unique_ptr<TComPort> Port = std::make_unique<TComPort>();
    RecordingComDevice* Device = nullptr;

    explicit TestPort(const QString& Name, bool Open = true)
    {
        auto device = std::make_unique<SystemNamedDevice>();
        Device = device.get();
        Port->SetDevice(std::move(device));
        Port->SetEvents({});
        Port->SetPort(Name);
        Port->SetBaudRate(TBaudRate::br115200);
        Port->FlowControl()->SetFlowControl(TFlowControl::fcHardware);
        if (Open)
            Port->Open();
        Device->ClearCalls();
    }

    // The calls that open, close or configure the device, in order.
    QStringList Settings() const
    {
        static const QRegularExpression settings(QStringLiteral("^(Open|Close|SetupComm|SetCommState|SetCommTimeouts)"));
        return Device->Calls().filter(settings);
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
    void initTestCase();
    void init();
    void cleanup();

    void listsHoldEveryValueOfTheirProperty_data();
    void listsHoldEveryValueOfTheirProperty();
    void userPickStoresAndAppliesBeforeOnChange_data();
    void userPickStoresAndAppliesBeforeOnChange();
    void settingTextNeverStoresOrApplies();
    void destroyedPortIsUnlinked();

    void dialogIsLaidOutAsDesigned();
    void dialogTextsFitTheirPlaces();
    void enterConfirmsAndEscapeCancelsFromAnyControl_data();
    void enterConfirmsAndEscapeCancelsFromAnyControl();
    void dialogShowsThePortsValuesAndFindsItsDevice_data();
    void dialogShowsThePortsValuesAndFindsItsDevice();
    void typedNetworkPortReachesThePort();
    void choiceReachesThePortInOneUpdateOnlyOnOk_data();
    void choiceReachesThePortInOneUpdateOnlyOnOk();
    void failuresReachTheCallerWithNothingLeftHalfDone_data();
    void failuresReachTheCallerWithNothingLeftHalfDone();
    void pseudoTerminalPortIsMovedAndReconfigured();

private:
    std::optional<ScopedPortSource> FPorts;
    std::vector<MessageBoxCall> FBoxes;
    std::optional<ScopedMessageBoxHook> FBoxHook;
};

void ComSetupTest::initTestCase()
{
    // The dialog is reached the way the program reaches it, through the port's own command.
    InstallComSetupDialog();
}

void ComSetupTest::init()
{
    FPorts.emplace(QStringList{QStringLiteral("COM1"), QStringLiteral("COM3")});
    FBoxes.clear();
    FBoxHook.emplace([this](const MessageBoxCall& c) { FBoxes.push_back(c); });
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
    QTest::addColumn<QString>("portValue");
    QTest::newRow("none") << TComProperty::cpNone << QStringList{} << "";
    QTest::newRow("port, sorted ignoring case")
        << TComProperty::cpPort << QStringList{"/dev/ttyUSB0", "COM1", "com10", "COM2"} << "COM1";
    QTest::newRow("baud rate") << TComProperty::cpBaudRate
                               << QStringList{"Custom", "110", "300", "600", "1200", "2400", "4800", "9600",
                                              "14400", "19200", "38400", "56000", "57600", "115200",
                                              "128000", "256000"}
                               << "115200";
    QTest::newRow("data bits") << TComProperty::cpDataBits << QStringList{"5", "6", "7", "8"} << "8";
    QTest::newRow("stop bits") << TComProperty::cpStopBits << QStringList{"1", "1.5", "2"} << "1";
    QTest::newRow("parity") << TComProperty::cpParity << QStringList{"None", "Odd", "Even", "Mark", "Space"}
                            << "None";
    QTest::newRow("flow control") << TComProperty::cpFlowControl
                                  << QStringList{"Hardware", "Software", "None", "Custom"} << "Hardware";
}

void ComSetupTest::listsHoldEveryValueOfTheirProperty()
{
    QFETCH(TComProperty, kind);
    QFETCH(QStringList, texts);
    QFETCH(QString, portValue);
    ScopedPortSource ports(QStringList{"COM2", "/dev/ttyUSB0", "com10", "COM1"});
    TComComboBox box(nullptr);
    QCOMPARE(box.Style(), TCustomComboBox::TComboBoxStyle::csDropDownList);
    // Filled twice: the list is rebuilt, not added to. Without a port the first value is
    // selected.
    box.SetComProperty(TComProperty::cpBaudRate);
    box.SetComProperty(kind);
    QCOMPARE(Texts(&box), texts);
    QCOMPARE(box.ItemIndex(), texts.isEmpty() ? -1 : 0);

    TestPort p(QStringLiteral("COM1"));
    box.SetComPort(p.Port.get());
    QCOMPARE(box.Text(), portValue);
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
        QCOMPARE(p.Settings(), (QStringList{"SetCommState 115200", "SetCommState 115200"}));
    } else {
        QCOMPARE(seenAtChange, (QList<TParityBits>{TParityBits::prNone, TParityBits::prNone}));
        QVERIFY(p.Settings().isEmpty());
        box.ApplyToPort();
        QCOMPARE(p.Port->Parity()->Bits(), TParityBits::prEven);
        QCOMPARE(p.Settings(), QStringList{"SetCommState 115200"});
    }
    QCOMPARE(p.Device->LastDCB().Parity, DCB::EVENPARITY);
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
    box.SetText(QStringLiteral("9"));   // not a value: the selection stays
    QCOMPARE(box.Text(), QStringLiteral("7"));

    QCOMPARE(changes, 0);
    QCOMPARE(box.Selector().DataBitsValue(), TDataBits::dbEight);
    QCOMPARE(p.Port->DataBits(), TDataBits::dbEight);
    QVERIFY(p.Device->Calls().isEmpty());
}

void ComSetupTest::destroyedPortIsUnlinked()
{
    auto p = std::make_unique<TestPort>(QStringLiteral("COM1"));
    TComComboBox box(nullptr);
    box.SetComProperty(TComProperty::cpBaudRate);
    box.SetComPort(p->Port.get());
    QCOMPARE(box.Text(), QStringLiteral("115200"));

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

// ---- the setup dialog

void ComSetupTest::dialogIsLaidOutAsDesigned()
{
    // What others find by name (form translation), and what the buttons and keys do; the
    // look is checked by rendering, the lists' kinds by the values they show.
    TComSetupFrm form;
    QCOMPARE(form.objectName(), QStringLiteral("ComSetupFrm"));
    QCOMPARE(form.Client()->size(), QSize(231, 216));
    const QList<QWidget*> order{form.Combo1, form.Combo2, form.Combo3, form.Combo4, form.Combo5,
                                form.Combo6, form.Button1, form.Button2};
    for (int row = 0; row < 6; ++row)
        QCOMPARE(form.FindComponent(QStringLiteral("Combo%1").arg(row + 1)), order[row]);
    QCOMPARE(form.FindComponent(QStringLiteral("label6")), form.Label6);
    QCOMPARE(form.FindComponent(QStringLiteral("Button2")), form.Button2);
    QCOMPARE(form.DefaultButton(), form.Button1);
    QCOMPARE(form.Button1->ModalResult(), mrOk);
    QCOMPARE(form.Button2->ModalResult(), mrCancel);

    // Tab goes down the six lists, then to OK and Cancel.
    QList<QWidget*> seen;
    for (QWidget* w = form.Combo1; seen.size() < order.size() && !(w == form.Combo1 && !seen.isEmpty());
         w = w->nextInFocusChain()) {
        if (order.contains(w))
            seen << w;
    }
    QCOMPARE(seen, order);
}

void ComSetupTest::enterConfirmsAndEscapeCancelsFromAnyControl_data()
{
    QTest::addColumn<int>("focus");   // 0 to 5 a list, 6 OK, 7 Cancel
    QTest::addColumn<int>("key");
    QTest::addColumn<int>("result");
    QTest::newRow("Enter in the port list") << 0 << int(Qt::Key_Return) << mrOk;
    QTest::newRow("Enter on the keypad in the parity list") << 4 << int(Qt::Key_Enter) << mrOk;
    QTest::newRow("Escape in the baud rate list") << 1 << int(Qt::Key_Escape) << mrCancel;
    QTest::newRow("Escape on OK") << 6 << int(Qt::Key_Escape) << mrCancel;
    QTest::newRow("Enter on Cancel presses Cancel") << 7 << int(Qt::Key_Return) << mrCancel;
}

void ComSetupTest::enterConfirmsAndEscapeCancelsFromAnyControl()
{
    QFETCH(int, focus);
    QFETCH(int, key);
    QFETCH(int, result);
    TestPort p(QStringLiteral("COM1"));
    int answered = mrNone;
    // The real modal run, with the key given once the dialog is up.
    QTimer::singleShot(0, [&] {
        TComSetupFrm* form = nullptr;
        for (QWidget* w : QApplication::topLevelWidgets())
            if (auto* f = qobject_cast<TComSetupFrm*>(w); f && f->isVisible())
                form = f;
        QVERIFY(form);
        QList<QWidget*> order;
        for (TComComboBox* c : form->Combos())
            order << c;
        order << form->Button1 << form->Button2;
        order[focus]->setFocus();
        QTest::keyClick(order[focus], Qt::Key(key));
        answered = form->ModalResult();
        if (form->isVisible())
            form->close();
    });
    ExecuteComSetup(p.Port.get());
    QCOMPARE(answered, result);
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
}

void ComSetupTest::dialogShowsThePortsValuesAndFindsItsDevice_data()
{
    QTest::addColumn<QString>("portName");
    QTest::addColumn<QStringList>("installed");
    QTest::addColumn<QString>("shown");
    QTest::addColumn<QString>("written");
    const QStringList names{"COM1", "COM3"};
    const QStringList paths{"/dev/ttyS0", "/dev/ttyS1", "/dev/ttyUSB0"};
    QTest::newRow("listed") << "COM3" << names << "COM3" << "COM3";
    QTest::newRow("other letter case") << "com1" << names << "COM1" << "COM1";
    QTest::newRow("COM name of a listed device") << "COM1" << paths << "/dev/ttyS0" << "COM1";
    QTest::newRow("bare name of a listed device") << "ttyUSB0" << paths << "/dev/ttyUSB0" << "ttyUSB0";
    // OK without a choice in the port list keeps the port's name.
    QTest::newRow("not installed") << "COM7" << paths << "" << "COM7";
    QTest::newRow("pseudo-terminal") << "/dev/pts/7" << paths << "" << "/dev/pts/7";
    QTest::newRow("network port") << "rfc2217://rack-7:2217" << paths << "rfc2217://rack-7:2217"
                                  << "rfc2217://rack-7:2217";
}

void ComSetupTest::dialogShowsThePortsValuesAndFindsItsDevice()
{
    QFETCH(QString, portName);
    QFETCH(QStringList, installed);
    QFETCH(QString, shown);
    QFETCH(QString, written);
    ScopedPortSource ports(installed);
    TestPort p(portName);
    for (const TModalResult result : {mrCancel, mrOk}) {
        QStringList texts;
        QList<TCustomComPort*> linked;
        ScopedModalHook modal([&](TForm& f) {
            for (TComComboBox* combo : dynamic_cast<TComSetupFrm&>(f).Combos()) {
                linked << combo->ComPort();
                texts << combo->Text();
            }
            return result;
        });
        p.Port->ShowSetupDialog();
        QCOMPARE(linked, QList<TCustomComPort*>(6, p.Port.get()));
        QCOMPARE(texts, (QStringList{shown, "115200", "8", "1", "None", "Hardware"}));
        QCOMPARE(p.Port->Port(), result == mrOk ? written : portName);
    }
    // The open port is closed and reopened only when OK gave it another name; a name of the
    // device it is on already keeps it as it is.
    QVERIFY(p.Port->Connected());
    const QStringList reopened{"Close", QStringLiteral("Open %1").arg(written).trimmed()};
    QCOMPARE(p.Device->Calls().filter(QRegularExpression("^(Open|Close)")),
             written == portName ? QStringList{} : reopened);
}

// A network port is in no list: typed into the port box, OK writes it to the port.
void ComSetupTest::typedNetworkPortReachesThePort()
{
    ScopedPortSource ports(QStringList{"/dev/ttyS0"});
    TestPort p(QStringLiteral("/dev/ttyS0"), false);
    ScopedModalHook modal([&](TForm& f) {
        QLineEdit* edit = dynamic_cast<TComSetupFrm&>(f).Combo1->lineEdit();
        edit->clear();
        QTest::keyClicks(edit, QStringLiteral("socket://10.0.0.5:4001"));
        return mrOk;
    });
    ExecuteComSetup(p.Port.get());
    QCOMPARE(p.Port->Port(), QStringLiteral("socket://10.0.0.5:4001"));
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
    const QString buffer = QStringLiteral("SetupComm 1024 1024");
    QTest::newRow("OK unchanged: applied once more, not reopened")
        << true << Picks{} << mrOk << QStringList{buffer, "SetCommState 115200", "SetCommTimeouts"} << "COM1"
        << TBaudRate::br115200;
    QTest::newRow("9600 then Cancel") << true << Picks{{1, "9600"}} << mrCancel << QStringList{} << "COM1"
                                      << TBaudRate::br115200;
    QTest::newRow("new port and rate on an open port")
        << true << newPortAndRate << mrOk
        << QStringList{"Close", "Open COM3", buffer, "SetCommState 9600", "SetCommTimeouts"} << "COM3"
        << TBaudRate::br9600;
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
        [&] { QVERIFY(p.Device->Calls().isEmpty()); }();
        return result;
    });
    ExecuteComSetup(p.Port.get());

    QCOMPARE(p.Settings(), calls);
    QCOMPARE(p.Port->Port(), portName);
    QCOMPARE(p.Port->BaudRate(), baudRate);
    QCOMPARE(p.Port->Connected(), open);
    QCOMPARE(p.Port->UpdateDepth(), 0);
    // The other settings are written as they were.
    QCOMPARE(p.Port->DataBits(), TDataBits::dbEight);
    QCOMPARE(p.Port->StopBits(), TStopBits::sbOneStopBit);
    QCOMPARE(p.Port->Parity()->Bits(), TParityBits::prNone);
    QCOMPARE(p.Port->FlowControl()->FlowControl(), TFlowControl::fcHardware);
    if (open)
        QCOMPARE(p.Device->LastDCB().Flags & DCB::fRtsControlMask, uint32_t(DCB::fRtsControlHandshake));
}

void ComSetupTest::failuresReachTheCallerWithNothingLeftHalfDone_data()
{
    QTest::addColumn<QString>("failing");
    QTest::addColumn<int>("code");
    QTest::addColumn<QString>("portName");
    QTest::addColumn<bool>("connected");
    QTest::newRow("ports cannot be listed: no dialog") << "EnumComPorts" << 23 << "COM1" << true;
    QTest::newRow("new port cannot be opened") << "Open" << 1 << "COM3" << false;
    QTest::newRow("line settings refused at the end") << "SetCommState" << 7 << "COM3" << true;
}

void ComSetupTest::failuresReachTheCallerWithNothingLeftHalfDone()
{
    QFETCH(QString, failing);
    QFETCH(int, code);
    QFETCH(QString, portName);
    QFETCH(bool, connected);
    TestPort p(QStringLiteral("COM1"));
    std::optional<ScopedPortSource> ports;
    if (failing == "EnumComPorts") {
        ports.emplace(ComPortSource([]() -> QStringList {
            throw EComPortExt(QStringLiteral("EnumComPorts"), ComErr::RegError, EACCES);
        }));
    } else {
        p.Device->Fail(failing, failing == "Open" ? ENOENT : EINVAL);
    }
    int runs = 0;
    QPointer<TComSetupFrm> shown;
    ScopedModalHook modal([&](TForm& f) {
        ++runs;
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
    QCOMPARE(runs, code == 23 ? 0 : 1);
    QVERIFY(shown.isNull());
    QCOMPARE(p.Port->Port(), portName);
    QCOMPARE(p.Port->UpdateDepth(), 0);
    QCOMPARE(p.Port->Connected(), connected);
    // The port keeps its own state: the next change on it is applied at once again.
    p.Device->Fail(failing, 0);
    p.Device->ClearCalls();
    p.Port->SetDataBits(TDataBits::dbSeven);
    QCOMPARE(p.Settings().size(), connected ? 1 : 0);
}

void ComSetupTest::pseudoTerminalPortIsMovedAndReconfigured()
{
    // Two lines with nothing on the far end, on the system's device. Each slave stays open
    // to read its line settings, which belong to the line and not to one descriptor.
    const PtyPair a(true), b(true);
    QVERIFY(a.Valid() && b.Valid() && a.SlaveName().startsWith(QStringLiteral("/dev/")));
    ScopedPortSource ports(QStringList{a.SlaveName(), b.SlaveName()});
    TComPort port;
    port.SetEvents({});
    // Named as under /dev/: the list shows the same line by its path.
    port.SetPort(a.SlaveName().mid(5));
    port.Open();

    QString shownPort;
    ScopedModalHook modal([&](TForm& f) {
        auto& form = dynamic_cast<TComSetupFrm&>(f);
        shownPort = form.Combo1->Text();
        UserPicks(form.Combo1, b.SlaveName());
        UserPicks(form.Combo2, QStringLiteral("9600"));
        UserPicks(form.Combo4, QStringLiteral("2"));
        return mrOk;
    });
    ExecuteComSetup(&port);

    QCOMPARE(shownPort, a.SlaveName());
    QVERIFY(port.Connected());
    QCOMPARE(port.Port(), b.SlaveName());
    termios line{};
    QCOMPARE(::tcgetattr(b.Slave(), &line), 0);
    QCOMPARE(::cfgetospeed(&line), speed_t(B9600));
    QCOMPARE(line.c_cflag & CSTOPB, tcflag_t(CSTOPB));
}

QTEST_MAIN(ComSetupTest)
#include "ComSetupTest.moc"
