// The terminal window: its stored settings, what typing does with the port open, and its
// scroll bars in a window narrower than the grid.
#include "gui/Terminal.h"
#include "testsupport/RecordingComDevice.h"
#include "cportctl/ComTerminal.h"

#include <QFontInfo>
#include <QScrollBar>
#include <QtTest>

#include <memory>

using namespace zentrop;

namespace {

// An open port on the recording device, with nothing written yet.
struct OpenPort {
    std::unique_ptr<TComPort> Port = std::make_unique<TComPort>();
    RecordingComDevice* Device = nullptr;

    OpenPort()
    {
        auto device = std::make_unique<RecordingComDevice>();
        Device = device.get();
        Port->SetDevice(std::move(device));
        Port->SetEvents({});
        Port->SetSyncMethod(TSyncMethod::smDisableEvents);
        Port->SetPort(QStringLiteral("TERMWINDOW"));
        Port->Open();
    }
};

QString Screen(const TComTerminal& t)
{
    QString s;
    for (int y = 1; y <= t.Rows(); ++y)
        for (int x = 1; x <= t.Columns(); ++x)
            s += QChar(t.Buffer().GetChar(x, y).Ch ? t.Buffer().GetChar(x, y).Ch : '.');
    return s;
}

} // namespace

class TerminalWindowTest : public QObject {
    Q_OBJECT

private slots:
    void windowAndTerminalHaveTheirStoredSettings_data();
    void windowAndTerminalHaveTheirStoredSettings();
    void typingEchoesAndSendsOnlyCharacters();
    void narrowWindowShowsAHorizontalBar();
};

void TerminalWindowTest::windowAndTerminalHaveTheirStoredSettings_data()
{
    QTest::addColumn<QString>("name");
    QTest::addColumn<QVariant>("value");
    QTest::newRow("Emulation") << "Emulation" << QVariant::fromValue(TTermEmulation::teNone);
    QTest::newRow("LocalEcho") << "LocalEcho" << QVariant(true);
    QTest::newRow("ScrollBars") << "ScrollBars" << QVariant::fromValue(TScrollStyle::ssBoth);
    QTest::newRow("AutoSize") << "AutoSize" << QVariant(true);
    QTest::newRow("Align") << "Align" << QVariant::fromValue(TPanel::TAlign::alClient);
    QTest::newRow("Color") << "Color" << QVariant(0);
    QTest::newRow("SendLF") << "SendLF" << QVariant(false);
    QTest::newRow("Caret") << "Caret" << QVariant::fromValue(TTermCaret::tcBlock);
    QTest::newRow("Columns") << "Columns" << QVariant(80);
    QTest::newRow("Rows") << "Rows" << QVariant(24);
}

void TerminalWindowTest::windowAndTerminalHaveTheirStoredSettings()
{
    QFETCH(QString, name);
    QFETCH(QVariant, value);
    OpenPort p;
    TwTerminal w(p.Port.get());
    QCOMPARE(w.ComTerminal1->property(name.toLatin1()), value);

    QVERIFY(!w.isVisible());
    QCOMPARE(w.Caption(), QStringLiteral("wTerminal"));
    QCOMPARE(w.Client()->size(), QSize(551, 495));
    QCOMPARE(w.pos(), QPoint(537, 353));
    QCOMPARE(w.FindComponent(QStringLiteral("ComTerminal1")), w.ComTerminal1);
    QCOMPARE(w.ComTerminal1->ComPort(), p.Port.get());
    // Filling the window rather than sized to its grid.
    QCOMPARE(w.ComTerminal1->geometry(), w.Client()->rect());
    QCOMPARE(w.ComTerminal1->Font()->Height(), -12);
    QCOMPARE(w.ComTerminal1->Font()->Color(), 0xFFFFFF);
    QVERIFY(QFontInfo(w.ComTerminal1->font()).fixedPitch());
}

void TerminalWindowTest::typingEchoesAndSendsOnlyCharacters()
{
    OpenPort p;
    TwTerminal w(p.Port.get());
    w.show();
    QVERIFY(QTest::qWaitForWindowActive(&w));
    TComTerminal* t = w.ComTerminal1;
    QVERIFY(t->hasFocus());
    const QString empty = Screen(*t);

    QTest::keyClicks(t, QStringLiteral("A"));
    QCOMPARE(p.Device->Written(), QByteArray("A"));
    QCOMPARE(t->Buffer().GetChar(1, 1).Ch, uint8_t('A'));
    QCOMPARE(t->CaretPos(), QPoint(2, 1));
    const QString typed = Screen(*t);
    QCOMPARE(typed, QStringLiteral("A") + empty.mid(1));

    // Enter sends a carriage return alone and only brings the caret to column 1.
    QTest::keyClick(t, Qt::Key_Return);
    QCOMPARE(p.Device->Written(), QByteArray("A\r"));
    QCOMPARE(t->CaretPos(), QPoint(1, 1));
    QCOMPARE(Screen(*t), typed);

    // Cursor keys have no text without a parser: nothing is sent, nothing moves.
    for (const Qt::Key key : {Qt::Key_Left, Qt::Key_Right, Qt::Key_Up, Qt::Key_Down, Qt::Key_Home})
        QTest::keyClick(t, key);
    QCOMPARE(p.Device->Written(), QByteArray("A\r"));
    QCOMPARE(t->CaretPos(), QPoint(1, 1));
    QCOMPARE(Screen(*t), typed);

    // Closing only hides the window; it stays bound to the port.
    w.close();
    QVERIFY(!w.isVisible());
    QCOMPARE(t->ComPort(), p.Port.get());
}

void TerminalWindowTest::narrowWindowShowsAHorizontalBar()
{
    TwTerminal w(nullptr);
    TComTerminal* t = w.ComTerminal1;
    w.SetClientSize(t->FontWidth() * 40, 495);
    w.show();
    QVERIFY(QTest::qWaitForWindowExposed(&w));
    QTRY_VERIFY(t->horizontalScrollBar()->isVisible());
    QVERIFY(!t->verticalScrollBar()->isVisible());
    QCOMPARE(t->horizontalScrollBar()->maximum(), 80 - t->viewport()->width() / t->FontWidth());
}

QTEST_MAIN(TerminalWindowTest)
#include "TerminalWindowTest.moc"
