// The terminal widget: its published properties, its port and link, and the keys it takes.
#include "testsupport/RecordingComDevice.h"
#include "cportctl/ComTerminal.h"

#include <QFontInfo>
#include <QMetaProperty>
#include <QTest>

using namespace zentrop;

namespace {

// A port on the recording device, opened unless asked otherwise, with no event thread.
std::unique_ptr<TComPort> RecordingPort(RecordingComDevice*& Device, bool Open = true)
{
    auto port = std::make_unique<TComPort>();
    auto device = std::make_unique<RecordingComDevice>();
    Device = device.get();
    port->SetDevice(std::move(device));
    port->SetEvents({});
    port->SetSyncMethod(TSyncMethod::smDisableEvents);
    port->SetPort(QStringLiteral("TERMTEST"));
    if (Open)
        port->Open();
    return port;
}

QString Row(const TComTerminal& t, int y)
{
    QString s;
    for (int x = 1; x <= t.Columns(); ++x)
        s += QChar(t.Buffer().GetChar(x, y).Ch ? t.Buffer().GetChar(x, y).Ch : ' ');
    return s.trimmed();
}

} // namespace

class ComTerminalTest : public QObject {
    Q_OBJECT

private slots:
    void publishedDefaults_data()
    {
        QTest::addColumn<QString>("name");
        QTest::addColumn<QVariant>("value");
        QTest::newRow("AltColor") << "AltColor" << QVariant(0xA6A6A6);
        QTest::newRow("AppendLF") << "AppendLF" << QVariant(false);
        QTest::newRow("ArrowKeys") << "ArrowKeys" << QVariant::fromValue(TArrowKeys::akTerminal);
        QTest::newRow("BorderStyle") << "BorderStyle" << QVariant::fromValue(TBorderStyle::bsSingle);
        QTest::newRow("Caret") << "Caret" << QVariant::fromValue(TTermCaret::tcBlock);
        QTest::newRow("Color") << "Color" << QVariant(0);
        QTest::newRow("Columns") << "Columns" << QVariant(80);
        QTest::newRow("Connected") << "Connected" << QVariant(false);
        QTest::newRow("Emulation") << "Emulation" << QVariant::fromValue(TTermEmulation::teVT100orANSI);
        QTest::newRow("Force7Bit") << "Force7Bit" << QVariant(false);
        QTest::newRow("LocalEcho") << "LocalEcho" << QVariant(false);
        QTest::newRow("Rows") << "Rows" << QVariant(24);
        QTest::newRow("ScrollBars") << "ScrollBars" << QVariant::fromValue(TScrollStyle::ssBoth);
        QTest::newRow("SendLF") << "SendLF" << QVariant(false);
        QTest::newRow("SmoothScroll") << "SmoothScroll" << QVariant(false);
        QTest::newRow("WantTab") << "WantTab" << QVariant(false);
        QTest::newRow("WrapLines") << "WrapLines" << QVariant(false);
        QTest::newRow("TabStop") << "TabStop" << QVariant(true);
    }

    void publishedDefaults()
    {
        QFETCH(QString, name);
        QFETCH(QVariant, value);
        TComTerminal t;
        const QMetaObject* mo = t.metaObject();
        const QMetaProperty p = mo->property(mo->indexOfProperty(name.toLatin1()));
        QVERIFY2(p.isValid(), qPrintable(name));
        QCOMPARE(p.read(&t), value);
        QVERIFY(p.isWritable());
    }

    void sizeAndFont()
    {
        TComTerminal t;
        QCOMPARE(t.size(), QSize(400, 250));
        // Whatever "Fixedsys" falls back to on this machine, the font in use is fixed-pitch.
        QVERIFY(QFontInfo(t.font()).fixedPitch());
        QCOMPARE(t.Font()->Color(), 0xFFFFFF);
        QVERIFY(!t.metaObject()->property(t.metaObject()->indexOfProperty("Connected")).isStored());
    }

    // Sizes are kept in range through the property; a font or background colour change is
    // the attributes' new text or background colour.
    void propertiesTakeEffect()
    {
        TComTerminal t;
        t.setProperty("Columns", 300);
        t.setProperty("Rows", 1);
        QCOMPARE(t.Buffer().Columns(), 256);
        QCOMPARE(t.Buffer().Rows(), 2);
        t.Font()->SetColor(0x0000FF);
        t.setProperty("Color", 0x00FF00);
        QCOMPARE(t.TermAttr().FrontColor, 0x0000FF);
        QCOMPARE(t.TermAttr().BackColor, 0x00FF00);
        t.setProperty("Emulation", QVariant::fromValue(TTermEmulation::teVT52));
        QVERIFY(dynamic_cast<TEscapeCodesVT52*>(t.EscapeCodes()));
    }

    void receivedDataThroughLink()
    {
        TComTerminal t;
        t.ComLink()->OnRxData(nullptr, "AB\x1b[2;3HC", 9);
        QCOMPARE(Row(t, 1), QStringLiteral("AB"));
        QCOMPARE(Row(t, 2), QStringLiteral("C"));
    }

    void portLinkAndConnected()
    {
        RecordingComDevice* device = nullptr;
        auto port = RecordingPort(device, false);
        TComTerminal t;
        t.setProperty("ComPort", QVariant::fromValue<TCustomComPort*>(port.get()));
        QCOMPARE(t.ComPort(), port.get());
        QVERIFY(!t.Connected());
        t.setProperty("Connected", true);
        QVERIFY(port->Connected());
        QVERIFY(t.property("Connected").toBool());
        port.reset();
        QCOMPARE(t.ComPort(), nullptr);
        t.SetConnected(true);   // nothing without a port
        QVERIFY(!t.Connected());
    }

    void repliesGoToThePort()
    {
        RecordingComDevice* device = nullptr;
        auto port = RecordingPort(device);
        TComTerminal t;
        t.SetComPort(port.get());
        t.ComLink()->OnRxData(nullptr, "\x1b[3;4H\x1b[6n", 10);
        QCOMPARE(device->Written(), QByteArray("\x1b[3;4R"));
    }

    void keysGoToThePort()
    {
        RecordingComDevice* device = nullptr;
        auto port = RecordingPort(device);
        TComTerminal t;
        t.SetComPort(port.get());
        t.SetLocalEcho(true);
        QTest::keyClick(&t, Qt::Key_A);
        QTest::keyClick(&t, Qt::Key_Return);
        QTest::keyClick(&t, Qt::Key_Up);
        QCOMPARE(device->Written(), QByteArray("a\r\x1b[A"));
        QCOMPARE(Row(t, 1), QStringLiteral("a"));
        QCOMPARE(t.CaretPos(), QPoint(1, 1));
        // Typed text goes out in the code page the screen shows.
        QTest::sendKeyEvent(QTest::KeyAction::Click, &t, Qt::Key_unknown, QStringLiteral("\u20ac"), Qt::NoModifier);
        QCOMPARE(device->Written(), QByteArray("a\r\x1b[A\x80"));
        QCOMPARE(t.Buffer().GetChar(1, 1).Ch, uint8_t(0x80));
    }

    void keyEventsFireFirst()
    {
        TComTerminal t;
        t.SetLocalEcho(true);
        QStringList order;
        t.OnKeyDown = [&](QObject* sender, int& key, Qt::KeyboardModifiers) {
            QCOMPARE(sender, &t);
            order << QStringLiteral("down %1").arg(key);
        };
        t.OnKeyPress = [&](QObject*, char& key) {
            order << QStringLiteral("press %1").arg(key);
            key = 'Z';
        };
        QTest::keyClick(&t, Qt::Key_B);
        QCOMPARE(order, (QStringList{QStringLiteral("down %1").arg(Qt::Key_B), "press b"}));
        QCOMPARE(Row(t, 1), QStringLiteral("Z"));
    }
};

QTEST_MAIN(ComTerminalTest)
#include "ComTerminalTest.moc"
