// The terminal's display: scroll ranges from the client area, scrolling the view, the font
// rule, the caret, what received data has repainted, and the keys and focus it takes.
#include "cportctl/ComTerminal.h"

#include <QFontDatabase>
#include <QFontInfo>
#include <QLineEdit>
#include <QPaintEvent>
#include <QScreen>
#include <QScrollBar>
#include <QVBoxLayout>
#include <QtTest>

#include <memory>

using namespace zentrop;

namespace {

// Collects the regions the client area is asked to paint.
class PaintLog : public QObject {
public:
    explicit PaintLog(QWidget* Viewport) { Viewport->installEventFilter(this); }
    QRegion Painted;

protected:
    bool eventFilter(QObject*, QEvent* Event) override
    {
        if (Event->type() == QEvent::Paint)
            Painted += static_cast<QPaintEvent*>(Event)->region();
        return false;
    }
};

// A window with a terminal and, below it, a line edit that can take the focus from it.
struct FramedTerminal {
    QWidget Window;
    TComTerminal* T = new TComTerminal(&Window);
    QLineEdit* Other = new QLineEdit(&Window);

    FramedTerminal()
    {
        auto* layout = new QVBoxLayout(&Window);
        layout->setContentsMargins(0, 0, 0, 0);
        layout->addWidget(T);
        layout->addWidget(Other);
    }
    bool Show(QSize Size)
    {
        Window.resize(Size);
        Window.show();
        return QTest::qWaitForWindowActive(&Window);
    }
};

void Receive(TComTerminal& T, const QByteArray& Text)
{
    T.ComLink()->OnRxData(nullptr, Text.constData(), static_cast<int>(Text.size()));
}

// A borderless terminal whose client area is Width x Height cells plus the given pixels.
std::unique_ptr<TComTerminal> Sized(double Columns, double Rows, TScrollStyle Bars = TScrollStyle::ssBoth)
{
    auto t = std::make_unique<TComTerminal>();
    t->SetBorderStyle(TBorderStyle::bsNone);
    t->SetScrollBars(Bars);
    t->resize(static_cast<int>(Columns * t->FontWidth()), static_cast<int>(Rows * t->FontHeight()));
    return t;
}

} // namespace

class ComTermDisplayTest : public QObject {
    Q_OBJECT

private slots:
    void scrollRangesFollowTheClientArea_data();
    void scrollRangesFollowTheClientArea();
    void barsMoveTheViewByWholeCells();
    void onlyFixedPitchFontsWithoutUnderline();
    void caretShowsOnTheCellWhileFocused_data();
    void caretShowsOnTheCellWhileFocused();
    void receivedDataRepaintsOnlyWhatChanged();
    void incrementalPaintingShowsWhatAFullPaintShows();
    void tabGoesToTheTerminalOnlyWhenWanted_data();
    void tabGoesToTheTerminalOnlyWhenWanted();
    void autoSizeFitsTheGridUnlessAligned();
};

void ComTermDisplayTest::scrollRangesFollowTheClientArea_data()
{
    QTest::addColumn<double>("columns");   // client area in cells
    QTest::addColumn<double>("rows");
    QTest::addColumn<TScrollStyle>("bars");
    QTest::addColumn<bool>("horizontal");  // the bar shows
    QTest::addColumn<bool>("vertical");
    const auto both = TScrollStyle::ssBoth;
    QTest::newRow("exact fit") << 80.0 << 24.0 << both << false << false;
    QTest::newRow("larger than the grid") << 100.0 << 30.0 << both << false << false;
    QTest::newRow("one pixel row short") << 80.0 << 24.0 - 0.01 << both << true << true;
    QTest::newRow("half as wide") << 40.0 << 30.0 << both << true << false;
    QTest::newRow("both short") << 40.5 << 12.5 << both << true << true;
    QTest::newRow("only vertical allowed") << 40.0 << 12.0 << TScrollStyle::ssVertical << false << true;
    QTest::newRow("none allowed") << 40.0 << 12.0 << TScrollStyle::ssNone << false << false;
}

void ComTermDisplayTest::scrollRangesFollowTheClientArea()
{
    QFETCH(double, columns);
    QFETCH(double, rows);
    QFETCH(TScrollStyle, bars);
    QFETCH(bool, horizontal);
    QFETCH(bool, vertical);
    auto t = Sized(columns, rows, bars);
    t->show();
    QCOMPARE(t->horizontalScrollBar()->isVisible(), horizontal);
    QCOMPARE(t->verticalScrollBar()->isVisible(), vertical);
    // A bar's range is the part of the grid that the client area, as the bars leave it,
    // cannot show. A horizontal bar that comes only with the vertical one is the exception:
    // the vertical range was set before it came.
    const int shownColumns = t->viewport()->width() / t->FontWidth();
    const int shownRows = t->viewport()->height() / t->FontHeight();
    if (horizontal)
        QCOMPARE(t->horizontalScrollBar()->maximum(), 80 - shownColumns);
    if (QByteArray(QTest::currentDataTag()) == "one pixel row short")
        QCOMPARE(t->verticalScrollBar()->maximum(), 1);
    else if (vertical)
        QCOMPARE(t->verticalScrollBar()->maximum(), 24 - shownRows);
}

void ComTermDisplayTest::barsMoveTheViewByWholeCells()
{
    auto t = Sized(40, 10);
    t->show();
    QScrollBar* v = t->verticalScrollBar();
    QScrollBar* h = t->horizontalScrollBar();
    const int visibleRows = t->viewport()->height() / t->FontHeight();
    v->triggerAction(QAbstractSlider::SliderPageStepAdd);
    QCOMPARE(t->TopLeft(), QPoint(1, 1 + visibleRows));
    h->triggerAction(QAbstractSlider::SliderSingleStepAdd);
    QCOMPARE(t->TopLeft(), QPoint(2, 1 + visibleRows));
    // The bar's "Top" and "Bottom" leave the view alone.
    v->triggerAction(QAbstractSlider::SliderToMinimum);
    h->triggerAction(QAbstractSlider::SliderToMaximum);
    QCOMPARE(t->TopLeft(), QPoint(2, 1 + visibleRows));

    // Dragging the box moves the view only where it is let go, unless scrolling is smooth.
    v->setValue(0);
    v->setSliderDown(true);
    v->setSliderPosition(3);
    QCOMPARE(t->TopLeft().y(), 1);
    v->setSliderDown(false);
    QCOMPARE(t->TopLeft().y(), 4);
    t->SetSmoothScroll(true);
    v->setSliderDown(true);
    v->setSliderPosition(5);
    QCOMPARE(t->TopLeft().y(), 6);
    v->setSliderDown(false);
}

void ComTermDisplayTest::onlyFixedPitchFontsWithoutUnderline()
{
    TComTerminal t;
    // A proportional family, and one that calls itself monospaced but is not fixed-pitch and
    // carries glyphs far wider than its letters: both give way to a fixed-pitch family.
    for (const char* family : {"DejaVu Sans", "Noto Sans Mono"}) {
        t.Font()->SetName(QString::fromLatin1(family));
        QVERIFY(QFontInfo(t.font()).fixedPitch());
        QVERIFY(QFontDatabase::isFixedPitch(t.Font()->Name()));
    }
    QFont underlined = t.font();
    underlined.setUnderline(true);
    underlined.setPixelSize(20);
    t.setFont(underlined);
    QVERIFY(!t.font().underline());
    // The cells are measured again with every font change.
    QCOMPARE(t.FontHeight(), QFontMetrics(t.font()).height());
    // A cell is as wide as the characters it shows, not as the font's widest glyph.
    const QFontMetrics metrics(t.font());
    QCOMPARE(t.FontWidth(), metrics.horizontalAdvance(u'M'));
    QCOMPARE(t.FontWidth(), metrics.horizontalAdvance(QChar(0xE9)));
}

void ComTermDisplayTest::caretShowsOnTheCellWhileFocused_data()
{
    QTest::addColumn<TTermCaret>("caret");
    QTest::addColumn<int>("eighths");   // caret height in eighths of the cell, 0 none
    QTest::newRow("block") << TTermCaret::tcBlock << 8;
    QTest::newRow("underline") << TTermCaret::tcUnderline << 1;
    QTest::newRow("none") << TTermCaret::tcNone << 0;
}

void ComTermDisplayTest::caretShowsOnTheCellWhileFocused()
{
    QFETCH(TTermCaret, caret);
    QFETCH(int, eighths);
    FramedTerminal f;
    TComTerminal* t = f.T;
    t->SetCaret(caret);
    t->Font()->SetHeight(-13);
    QVERIFY(f.Show(QSize(300, 200)));
    f.Other->setFocus();
    QVERIFY(t->CaretRect().isEmpty());

    // A click gives the focus, and the caret sits on the bottom of its cell.
    QTest::mouseClick(t->viewport(), Qt::LeftButton, {}, QPoint(5, 5));
    QVERIFY(t->hasFocus());
    Receive(*t, "\r\n\nabcdefghij");
    const int w = t->FontWidth();
    const int h = t->FontHeight();
    const int height = h * eighths / 8;
    const QRect expected = height ? QRect(10 * w, 3 * h - height, w, height) : QRect();
    QCOMPARE(t->CaretRect(), expected);

    // It follows its cell when the view scrolls.
    t->horizontalScrollBar()->setValue(2);
    t->verticalScrollBar()->setValue(1);
    QCOMPARE(t->CaretRect(), height ? expected.translated(-2 * w, -h) : QRect());
    f.Other->setFocus();
    QVERIFY(t->CaretRect().isEmpty());
}

void ComTermDisplayTest::receivedDataRepaintsOnlyWhatChanged()
{
    auto t = Sized(80, 24);
    t->setFocusPolicy(Qt::NoFocus);   // no caret: only the cells count
    t->show();
    QVERIFY(QTest::qWaitForWindowExposed(t.get()));
    QCoreApplication::processEvents();
    const int w = t->FontWidth();
    const int h = t->FontHeight();
    PaintLog log(t->viewport());
    Receive(*t, "\x1b[5;10Habc");
    QTRY_COMPARE(log.Painted, QRegion(9 * w, 4 * h, 3 * w, h));

    // A line feed on the last row moves the pixels up; only the uncovered row is painted.
    Receive(*t, "\x1b[24;1Hxy");
    QTRY_VERIFY(log.Painted.contains(QRect(0, 23 * h, 2 * w, h)));
    log.Painted = QRegion();
    Receive(*t, "\n");
    QTRY_COMPARE(log.Painted, QRegion(0, 23 * h, 80 * w, h));
    QCOMPARE(t->Buffer().GetChar(1, 23).Ch, uint8_t('x'));
}

void ComTermDisplayTest::incrementalPaintingShowsWhatAFullPaintShows()
{
    FramedTerminal f;
    TComTerminal* t = f.T;
    QVERIFY(f.Show(QSize(t->FontWidth() * 60, t->FontHeight() * 20)));
    t->setFocus();
    // The bottom rows in view, where the lines scroll in, and the caret with them.
    t->verticalScrollBar()->setValue(t->verticalScrollBar()->maximum());
    QVERIFY(t->TopLeft().y() > 1);
    QImage full;
    const auto shownAsPainted = [&] {
        // Each change on the screen before the next moves it.
        t->FlushDisplay();
        QCoreApplication::processEvents();
        const QPoint at = t->viewport()->mapTo(&f.Window, QPoint(0, 0));
        const QImage shown = f.Window.screen()->grabWindow(f.Window.winId(), at.x(), at.y(), t->viewport()->width(),
                                                          t->viewport()->height()).toImage().convertToFormat(QImage::Format_RGB32);
        full = t->viewport()->grab().toImage().convertToFormat(QImage::Format_RGB32);
        return shown == full;
    };
    for (int i = 0; i < 40; ++i) {
        Receive(*t, QByteArray("\x1b[1mline\x1b[0m ") + QByteArray::number(i) + "\t\x1b[7minverse\x1b[0m \x1b[4mu\x1b[0m\r\n");
        QVERIFY(shownAsPainted());
    }
    // The caret in the middle of the last row goes up with the pixels, and is drawn anew below.
    Receive(*t, "abc");
    QVERIFY(shownAsPainted());
    Receive(*t, "\n");
    QVERIFY(shownAsPainted());

    // An inverse blank: the text colour fills its cell; an empty cell stays in the background.
    Receive(*t, "\x1b[3;5H\x1b[Jtail\x1b[6;2H\x1b[7m \x1b[0m");
    t->verticalScrollBar()->setValue(0);
    QVERIFY(shownAsPainted());
    const int y = (6 - t->TopLeft().y()) * t->FontHeight() + t->FontHeight() / 2;
    QCOMPARE(full.pixelColor(t->FontWidth() * 3 / 2, y), QColor(Qt::white));
    QCOMPARE(full.pixelColor(t->FontWidth() * 9 / 2, y), QColor(Qt::black));
}

void ComTermDisplayTest::tabGoesToTheTerminalOnlyWhenWanted_data()
{
    QTest::addColumn<bool>("wantTab");
    QTest::addColumn<bool>("alone");       // no other control takes the focus
    QTest::newRow("wanted") << true << false;
    QTest::newRow("not wanted") << false << false;
    QTest::newRow("not wanted, alone in its window") << false << true;
}

void ComTermDisplayTest::tabGoesToTheTerminalOnlyWhenWanted()
{
    QFETCH(bool, wantTab);
    QFETCH(bool, alone);
    FramedTerminal f;
    TComTerminal* t = f.T;
    f.Other->setVisible(!alone);
    t->SetWantTab(wantTab);
    t->SetLocalEcho(true);
    QVERIFY(f.Show(QSize(300, 200)));
    t->setFocus();
    // Arrows and characters always stay with the terminal.
    QTest::keyClick(t, Qt::Key_Right);
    QTest::keyClick(t, Qt::Key_X);
    QVERIFY(t->hasFocus());
    QTest::keyClick(t, Qt::Key_Tab);
    QCOMPARE(t->hasFocus(), wantTab || alone);
    QCOMPARE(t->CaretPos().x(), wantTab ? 9 : 2);
}

void ComTermDisplayTest::autoSizeFitsTheGridUnlessAligned()
{
    QWidget parent;
    parent.resize(300, 200);
    auto* t = new TComTerminal(&parent);
    t->SetAutoSize(true);
    t->SetColumns(20);
    t->SetRows(5);
    const int border = 2 * t->frameWidth();
    QCOMPARE(t->size(), QSize(20 * t->FontWidth() + border, 5 * t->FontHeight() + border));
    t->SetBorderStyle(TBorderStyle::bsNone);
    QCOMPARE(t->size(), QSize(20 * t->FontWidth(), 5 * t->FontHeight()));
    t->SetAlign(TPanel::TAlign::alTop);
    QCOMPARE(t->geometry(), QRect(0, 0, 300, 5 * t->FontHeight()));
    t->SetAlign(TPanel::TAlign::alClient);
    parent.show();
    parent.resize(320, 240);
    QTRY_COMPARE(t->geometry(), QRect(0, 0, 320, 240));
}

QTEST_MAIN(ComTermDisplayTest)
#include "ComTermDisplayTest.moc"
