// The terminal's display: the cell grid measured from a fixed-pitch font, painting of the
// cells a paint request covers, the caret, the scroll bars and the view's origin, focus,
// border, alignment and automatic size.
#include "cportctl/ComTerminal.h"

#include "base/Ansi.h"

#include <QApplication>
#include <QClipboard>
#include <QFocusEvent>
#include <QFontDatabase>
#include <QFontInfo>
#include <QFontMetrics>
#include <QKeyEvent>
#include <QMouseEvent>
#include <QPaintEvent>
#include <QPainter>
#include <QScrollBar>
#include <QTimer>
#include <QWheelEvent>

#include <algorithm>
#include <array>
#include <cstdlib>

namespace zentrop {

namespace {

// Received data is shown at most this often (about 60 frames a second): a fast line fills
// the buffer many times over between two frames, and each frame costs a round trip to the
// display, which would otherwise set the pace for taking in data.
constexpr qint64 kFrameMs = 16;

// The character a cell's byte shows: the 8-bit code page of the program's other texts.
const QString& CellText(uint8_t Ch)
{
    static const std::array<QString, 256> texts = [] {
        std::array<QString, 256> t;
        for (int i = 0; i < 256; ++i)
            t[static_cast<size_t>(i)] = DecodeAnsi(QByteArray(1, static_cast<char>(i)));
        return t;
    }();
    return texts[Ch];
}

// The family that replaces a font that is not fixed-pitch: the system's fixed font, else
// the first of the common monospaced families that this machine has, else any family the
// font database knows as fixed-pitch and that writes Latin text. The system's monospace alias may name a family that
// is not (some "Mono" families declare no fixed pitch and carry wide symbols), so every
// candidate is asked. Empty when there is none.
QString FixedPitchFamily()
{
    static const char* const kKnown[] = {"DejaVu Sans Mono", "Liberation Mono", "Noto Mono", "Ubuntu Mono",
                                         "Cousine", "Source Code Pro", "Nimbus Mono PS", "FreeMono",
                                         "Courier New"};
    QStringList candidates{QFontDatabase::systemFont(QFontDatabase::FixedFont).family()};
    for (const char* family : kKnown)
        candidates << QString::fromLatin1(family);
    candidates << QFontDatabase::families();
    for (const QString& family : candidates)
        if (QFontDatabase::hasFamily(family) && QFontDatabase::isFixedPitch(family)
            && QFontDatabase::writingSystems(family).contains(QFontDatabase::Latin) && QFontInfo(QFont(family)).fixedPitch())
            return family;
    return {};
}

QColor ToQColor(TColor Color)
{
    return QColor(Color & 0xFF, (Color >> 8) & 0xFF, (Color >> 16) & 0xFF);
}

bool Allows(TScrollStyle Style, Qt::Orientation Bar)
{
    return Style == TScrollStyle::ssBoth
        || Style == (Bar == Qt::Horizontal ? TScrollStyle::ssHorizontal : TScrollStyle::ssVertical);
}

} // namespace

void TCustomComTerminal::InitDisplay()
{
    FFlushTimer = new QTimer(this);
    FFlushTimer->setSingleShot(true);
    connect(FFlushTimer, &QTimer::timeout, this, [this] { FlushDisplay(); });
    // The client area's background is the terminal's colour; empty cells are never drawn.
    viewport()->setAutoFillBackground(true);
    viewport()->setBackgroundRole(QPalette::Base);
    // Typed keys go to the control, not to the client area.
    viewport()->setFocusProxy(this);
    for (QScrollBar* bar : {horizontalScrollBar(), verticalScrollBar()}) {
        bar->setSingleStep(1);
        bar->setTracking(FSmoothScroll);
        // "Top" and "Bottom" of the bar's menu leave the view where it is.
        connect(bar, &QAbstractSlider::actionTriggered, this, [bar](int Action) {
            if (Action == QAbstractSlider::SliderToMinimum || Action == QAbstractSlider::SliderToMaximum)
                bar->setSliderPosition(bar->value());
        });
    }
    setFrameStyle(QFrame::StyledPanel | QFrame::Sunken);
    SetScrollBars(FScrollBars);
    SetColor(Color());
}

// ---- font, colour, border, size

bool TCustomComTerminal::GetFontMetrics()
{
    const QFontMetrics metrics(font());
    FFontHeight = std::max(1, metrics.height());
    // The widest character a cell can show, not the average one: none may reach into the
    // next cell. The widest glyph of the whole font would be far too wide, since fonts that
    // call themselves monospaced also carry double-width symbols that no cell ever shows.
    int widest = 1;
    for (int ch = 0x20; ch < 0x100; ++ch) {
        const QString& text = CellText(static_cast<uint8_t>(ch));
        if (!text.isEmpty() && text.at(0).isPrint())
            widest = std::max(widest, metrics.horizontalAdvance(text));
    }
    FFontWidth = widest;
    return QFontInfo(font()).fixedPitch();
}

void TCustomComTerminal::FontChanged()
{
    const bool fixed = GetFontMetrics();
    if (!fixed) {
        // Each change of the font comes back here and is measured again. When the machine
        // has no family that is really fixed-pitch, the font is kept: the cells are still
        // as wide as its widest character.
        const QString family = FixedPitchFamily();
        if (!family.isEmpty() && font().family() != family) {
            QFont f = font();
            f.setFamily(family);
            f.setStyleHint(QFont::TypeWriter);
            f.setFixedPitch(true);
            setFont(f);
            return;
        }
    }
    if (font().underline()) {
        QFont f = font();
        f.setUnderline(false);
        setFont(f);
        return;
    }
    if (FCaretCreated)
        RestoreTermCaret();
    ApplyAutoSize();
    UpdateScrollRange();
    viewport()->update();
}

void TCustomComTerminal::SetColor(TColor Value)
{
    ComTermCore::SetColor(Value);
    QPalette p = viewport()->palette();
    p.setColor(QPalette::Base, ToQColor(Value));
    p.setColor(QPalette::Window, ToQColor(Value));
    viewport()->setPalette(p);
    viewport()->update();
}

void TCustomComTerminal::SetBorderStyle(TBorderStyle Value)
{
    FBorderStyle = Value;
    setFrameStyle(Value == TBorderStyle::bsSingle ? QFrame::StyledPanel | QFrame::Sunken : QFrame::NoFrame);
    ApplyAutoSize();
    UpdateScrollRange();
}

void TCustomComTerminal::SetAutoSize(bool Value)
{
    FAutoSize = Value;
    ApplyAutoSize();
}

void TCustomComTerminal::ApplyAutoSize()
{
    if (!FAutoSize)
        return;
    using A = TPanel::TAlign;
    // The border counts, the scroll bars do not.
    const int border = 2 * frameWidth();
    QSize size = this->size();
    if (FAlign == A::alNone || FAlign == A::alLeft || FAlign == A::alRight)
        size.setWidth(FFontWidth * Columns() + border);
    if (FAlign == A::alNone || FAlign == A::alTop || FAlign == A::alBottom)
        size.setHeight(FFontHeight * Rows() + border);
    resize(size);
}

void TCustomComTerminal::SetAlign(TPanel::TAlign Value)
{
    FAlign = Value;
    if (QWidget* parent = parentWidget()) {
        parent->removeEventFilter(this);
        if (Value != TPanel::TAlign::alNone)
            parent->installEventFilter(this);
    }
    ApplyAlign();
    ApplyAutoSize();
}

void TCustomComTerminal::ApplyAlign()
{
    const QWidget* parent = parentWidget();
    if (!parent)
        return;
    const QRect area = parent->rect();
    QRect r = geometry();
    switch (FAlign) {
    case TPanel::TAlign::alNone:
        return;
    case TPanel::TAlign::alTop:
        r = QRect(0, 0, area.width(), r.height());
        break;
    case TPanel::TAlign::alBottom:
        r = QRect(0, area.height() - r.height(), area.width(), r.height());
        break;
    case TPanel::TAlign::alLeft:
        r = QRect(0, 0, r.width(), area.height());
        break;
    case TPanel::TAlign::alRight:
        r = QRect(area.width() - r.width(), 0, r.width(), area.height());
        break;
    case TPanel::TAlign::alClient:
        r = area;
        break;
    }
    setGeometry(r);
}

bool TCustomComTerminal::eventFilter(QObject* Watched, QEvent* Event)
{
    if (Watched == parentWidget() && Event->type() == QEvent::Resize) {
        ApplyAlign();
        ApplyAutoSize();
    }
    return QAbstractScrollArea::eventFilter(Watched, Event);
}

void TCustomComTerminal::SizeChanged()
{
    ApplyAutoSize();
    UpdateScrollRange();
    viewport()->update();
}

// ---- painting

void TCustomComTerminal::paintEvent(QPaintEvent* Event)
{
    QPainter painter(viewport());
    painter.setFont(font());
    for (const QRect& r : Event->region()) {
        // View cells, 1-based, that the rectangle touches.
        const QRect view(QPoint(r.left() / FFontWidth + 1, r.top() / FFontHeight + 1),
                         QPoint(std::min(r.right() / FFontWidth + 1, Columns()),
                                std::min(r.bottom() / FFontHeight + 1, Rows())));
        DrawChars(painter, view);
    }
    DrawSelection(painter);
    const QRect caret = CaretRect();
    if (!caret.isEmpty()) {
        // A solid caret inverts what lies under it.
        painter.setCompositionMode(QPainter::CompositionMode_Difference);
        painter.fillRect(caret, Qt::white);
    }
}

void TCustomComTerminal::DrawChars(QPainter& Painter, const QRect& View)
{
    const QPoint origin = TopLeft();
    // Only cells inside the buffer are read: a view larger than the rest of the grid shows
    // the background beyond it.
    const int right = std::min(View.right(), Columns() - origin.x() + 1);
    const int bottom = std::min(View.bottom(), Rows() - origin.y() + 1);
    std::vector<TTermChar> scratch;
    for (int r = View.top(); r <= bottom; ++r) {
        const std::span<const TTermChar> row = LineCells(r + origin.y() - 1, scratch);
        const int count = static_cast<int>(row.size());
        // A scrollback line may be shorter than the screen: nothing beyond it is drawn.
        const int lineRight = std::min(right, count - origin.x() + 1);
        // A view that starts on the right half of a wide character paints the whole of it.
        const int first = View.left() > 1 && View.left() + origin.x() - 2 < count
                                  && row[View.left() + origin.x() - 2].Part == CellPart::WideRight
                              ? View.left() - 1
                              : View.left();
        for (int c = first; c <= lineRight; ++c) {
            const TTermChar& cell = row[c + origin.x() - 2];
            if (cell.Ch != 0)
                DrawChar(Painter, c, r, cell);
        }
    }
}

void TCustomComTerminal::DrawChar(QPainter& Painter, int C, int R, const TTermChar& Cell)
{
    // A wide character covers its own cell and the next.
    const int cells = Cell.Part == CellPart::WideLeft ? 2 : 1;
    const QRect box((C - 1) * FFontWidth, (R - 1) * FFontHeight, cells * FFontWidth, FFontHeight);
    Painter.fillRect(box, ToQColor(Cell.BackColor));
    if (Painter.font().underline() != Cell.Underline || Painter.font().bold() != Cell.Bold) {
        QFont f = Painter.font();
        f.setUnderline(Cell.Underline);
        f.setBold(Cell.Bold);
        Painter.setFont(f);
    }
    Painter.setPen(ToQColor(Cell.FrontColor));
    if (Cell.Graphic && DrawLinePiece(Painter, box, Cell.Ch))
        return;
    const int baseline = box.top() + Painter.fontMetrics().ascent();
    if (Cell.Unicode != 0) {
        const char32_t c = Cell.Unicode;
        Painter.drawText(box.left(), baseline, QString::fromUcs4(&c, 1));
    } else if (Cell.Graphic)
        Painter.drawText(box.left(), baseline, QString(QChar(GraphicCharacter(Cell.Ch))));
    else
        Painter.drawText(box.left(), baseline, CellText(Cell.Ch));
}

bool TCustomComTerminal::DrawLinePiece(QPainter& Painter, const QRect& Box, uint8_t Ch)
{
    // The box pieces are drawn as lines through the cell's middle, so that they join from
    // cell to cell whatever the font has; the scan lines are drawn at their heights.
    enum : uint8_t { Up = 1, Down = 2, Left = 4, Right = 8 };
    uint8_t arms = 0;
    int scan = 0;   // tenths of the cell's height for a scan line
    switch (Ch) {
    case 'j': arms = Up | Left; break;
    case 'k': arms = Down | Left; break;
    case 'l': arms = Down | Right; break;
    case 'm': arms = Up | Right; break;
    case 'n': arms = Up | Down | Left | Right; break;
    case 'q': arms = Left | Right; break;
    case 't': arms = Up | Down | Right; break;
    case 'u': arms = Up | Down | Left; break;
    case 'v': arms = Up | Left | Right; break;
    case 'w': arms = Down | Left | Right; break;
    case 'x': arms = Up | Down; break;
    case 'o': scan = 1; break;
    case 'p': scan = 3; break;
    case 'r': scan = 7; break;
    case 's': scan = 9; break;
    default: return false;
    }
    const int thick = std::max(1, FFontWidth / 8);
    const QColor color = Painter.pen().color();
    if (scan > 0) {
        Painter.fillRect(QRect(Box.left(), Box.top() + Box.height() * scan / 10, Box.width(), thick), color);
        return true;
    }
    const int cx = Box.left() + (Box.width() - thick) / 2;
    const int cy = Box.top() + (Box.height() - thick) / 2;
    if (arms & Up)
        Painter.fillRect(QRect(cx, Box.top(), thick, cy - Box.top() + thick), color);
    if (arms & Down)
        Painter.fillRect(QRect(cx, cy, thick, Box.bottom() - cy + 1), color);
    if (arms & Left)
        Painter.fillRect(QRect(Box.left(), cy, cx - Box.left() + thick, thick), color);
    if (arms & Right)
        Painter.fillRect(QRect(cx, cy, Box.right() - cx + 1, thick), color);
    return true;
}

void TCustomComTerminal::InvalidateCells(const QRect& Cells)
{
    const QPoint origin = TopLeft();
    const int left = std::max(0, (Cells.left() - origin.x()) * FFontWidth);
    const int right = std::max(0, (Cells.right() - origin.x() + 1) * FFontWidth);
    const int top = std::max(0, (Cells.top() - origin.y()) * FFontHeight);
    const int bottom = std::max(0, (Cells.bottom() - origin.y() + 1) * FFontHeight);
    if (right > left && bottom > top)
        viewport()->update(QRect(left, top, right - left, bottom - top));
}

void TCustomComTerminal::DisplayDamaged()
{
    RequestFlush();
}

void TCustomComTerminal::RequestFlush()
{
    if (FFlushTimer->isActive())
        return;
    // Right after the event that asked for it, or a frame after the last one.
    const qint64 since = FLastFlush.isValid() ? FLastFlush.elapsed() : kFrameMs;
    FFlushTimer->start(static_cast<int>(std::max<qint64>(0, kFrameMs - since)));
}

void TCustomComTerminal::FlushDisplay()
{
    FLastFlush.start();
    const TermDamage damage = TakeDamage();
    const uint64_t added = Buffer().HistoryAdded();
    const bool historyGrew = added != FHistorySeen;
    if (historyGrew && FScrollBack > 0) {
        // A view scrolled back keeps showing the same lines while new ones come in.
        FScrollBack = std::min<int>(Buffer().HistoryCount(), FScrollBack + static_cast<int>(added - FHistorySeen));
        ClearSelection();
        viewport()->update();
    }
    FHistorySeen = added;
    if (FGridFollowsWindow && (historyGrew || Buffer().HistoryCount() != verticalScrollBar()->maximum()))
        UpdateScrollRange();
    if (FScrollBack > 0)
        viewport()->update();
    else if (damage.ScrolledRows != 0)
        ScrollPixels(damage.ScrolledRows);
    for (const QRect& cells : damage.Cells)
        InvalidateCells(cells);
    CaretChanged();
}

void TCustomComTerminal::ScrollPixels(int Rows)
{
    // The grid's part of the client area moves; what it uncovers is painted again, and so are
    // areas already waiting to be painted, which move with the pixels.
    const QPoint origin = TopLeft();
    const QRect area(0, 0, std::min(viewport()->width(), (Columns() - origin.x() + 1) * FFontWidth),
                     std::min(viewport()->height(), (this->Rows() - origin.y() + 1) * FFontHeight));
    if (area.isEmpty())
        return;
    const int dy = -Rows * FFontHeight;
    if (std::abs(dy) >= area.height())
        viewport()->update(area);
    else
        viewport()->scroll(0, dy, area);
    // A caret on the screen moved with the pixels.
    FCaretShown.translate(0, dy);
}

// ---- scrolling

void TCustomComTerminal::SetScrollBars(TScrollStyle Value)
{
    FScrollBars = Value;
    setHorizontalScrollBarPolicy(Allows(Value, Qt::Horizontal) ? Qt::ScrollBarAsNeeded : Qt::ScrollBarAlwaysOff);
    setVerticalScrollBarPolicy(Allows(Value, Qt::Vertical) ? Qt::ScrollBarAsNeeded : Qt::ScrollBarAlwaysOff);
    UpdateScrollRange();
}

void TCustomComTerminal::SetSmoothScroll(bool Value)
{
    FSmoothScroll = Value;
    // Without tracking, a dragged scroll box moves the view only where it is let go.
    horizontalScrollBar()->setTracking(Value);
    verticalScrollBar()->setTracking(Value);
}

void TCustomComTerminal::SetBarRange(Qt::Orientation Bar, int Extent)
{
    const bool horizontal = Bar == Qt::Horizontal;
    const int cells = horizontal ? Columns() : Rows();
    const int visible = Extent / (horizontal ? FFontWidth : FFontHeight);
    const int max = Allows(FScrollBars, Bar) && visible < cells ? cells - visible : 0;
    QScrollBar* bar = horizontal ? horizontalScrollBar() : verticalScrollBar();
    bar->setPageStep(std::max(1, visible));
    if (bar->maximum() == max)
        return;
    bar->setRange(0, max);
    // The scroll area shows or hides a bar only later; the next step needs the client area
    // as the bar leaves it now.
    setViewportMargins(viewportMargins());
}

void TCustomComTerminal::UpdateScrollRange()
{
    // A bar that appears or goes resizes the client area, which comes back here.
    if (FUpdatingRange)
        return;
    if (FGridFollowsWindow) {
        // The grid fits the client area; the vertical bar moves through the scrollback, its
        // bottom the live screen.
        FUpdatingRange = true;
        FitGrid();
        QScrollBar* bar = verticalScrollBar();
        const int history = Buffer().HistoryCount();
        FScrollBack = std::min(FScrollBack, history);
        horizontalScrollBar()->setRange(0, 0);
        bar->setRange(0, history);
        bar->setPageStep(std::max(1, Rows()));
        bar->setValue(history - FScrollBack);
        FUpdatingRange = false;
        if (TopLeft() != QPoint(1, 1)) {
            SetTopLeft(QPoint(1, 1));
            viewport()->update();
        }
        return;
    }
    FUpdatingRange = true;
    // The client area without bars; a bar shows only when the grid does not fit that way.
    const QSize full = maximumViewportSize();
    SetBarRange(Qt::Horizontal, full.width());
    SetBarRange(Qt::Vertical, viewport()->height());
    // The vertical bar took width, which may need a horizontal bar. The vertical range stays
    // as it was set: a client area one pixel short of the grid's height scrolls by one row.
    if (viewport()->width() != full.width())
        SetBarRange(Qt::Horizontal, viewport()->width());
    FUpdatingRange = false;
    SyncTopLeft();
}

void TCustomComTerminal::SyncTopLeft()
{
    const QPoint origin(horizontalScrollBar()->value() + 1, verticalScrollBar()->value() + 1);
    if (origin == TopLeft())
        return;
    SetTopLeft(origin);
    viewport()->update();
    CaretChanged();
}

void TCustomComTerminal::scrollContentsBy(int Dx, int Dy)
{
    if (FGridFollowsWindow) {
        if (!FUpdatingRange)
            ScrollBack(verticalScrollBar()->maximum() - verticalScrollBar()->value());
        return;
    }
    // The bars count cells; the pixels on view move by whole cells.
    SetTopLeft(QPoint(horizontalScrollBar()->value() + 1, verticalScrollBar()->value() + 1));
    viewport()->scroll(Dx * FFontWidth, Dy * FFontHeight);
    // The caret moved with the pixels, as its cell did.
    FCaretShown = CaretRect();
}

void TCustomComTerminal::resizeEvent(QResizeEvent* Event)
{
    QAbstractScrollArea::resizeEvent(Event);
    UpdateScrollRange();
}

// ---- caret and focus

QRect TCustomComTerminal::CaretRect() const
{
    if (!FCaretCreated || FCaretHideCount > 0 || !CaretVisible())
        return {};
    QPoint caret = CaretPos();
    // Scrolled back, the caret's row moves down with the screen, out of the view in the end.
    caret.ry() += FScrollBack;
    if (caret.y() > Rows())
        return {};
    const QPoint origin = TopLeft();
    // A block fills the cell, an underline caret sits on its bottom edge.
    return QRect((caret.x() - origin.x()) * FFontWidth,
                 (caret.y() - origin.y() + 1) * FFontHeight - FCaretHeight, FFontWidth, FCaretHeight);
}

void TCustomComTerminal::CaretChanged()
{
    const QRect now = CaretRect();
    if (now == FCaretShown)
        return;
    viewport()->update(FCaretShown);
    viewport()->update(now);
    FCaretShown = now;
}

void TCustomComTerminal::CreateTermCaret()
{
    switch (FCaret) {
    case TTermCaret::tcBlock:
        FCaretHeight = FFontHeight;
        break;
    case TTermCaret::tcUnderline:
        FCaretHeight = FFontHeight / 8;
        break;
    case TTermCaret::tcNone:
        FCaretHeight = 0;
        break;
    }
    FCaretCreated = FCaretHeight > 0;
}

void TCustomComTerminal::RestoreTermCaret()
{
    CreateTermCaret();
    CaretChanged();
}

void TCustomComTerminal::CaretMoved()
{
    RequestFlush();
}

void TCustomComTerminal::HideTermCaret()
{
    ++FCaretHideCount;
    RequestFlush();
}

void TCustomComTerminal::ShowTermCaret()
{
    if (FCaretHideCount > 0)
        --FCaretHideCount;
    RequestFlush();
}

void TCustomComTerminal::SetCaret(TTermCaret Value)
{
    if (Value == FCaret)
        return;
    FCaret = Value;
    if (hasFocus())
        RestoreTermCaret();
}

void TCustomComTerminal::focusInEvent(QFocusEvent* Event)
{
    // The whole control is not repainted for a focus frame; only the caret appears.
    Event->accept();
    RestoreTermCaret();
}

void TCustomComTerminal::focusOutEvent(QFocusEvent* Event)
{
    Event->accept();
    FCaretCreated = false;
    CaretChanged();
}

void TCustomComTerminal::mousePressEvent(QMouseEvent* Event)
{
    if (Event->button() == Qt::LeftButton && focusPolicy() != Qt::NoFocus && isEnabled())
        setFocus(Qt::MouseFocusReason);
    if (FMouseSelection) {
        if (Event->button() == Qt::LeftButton) {
            ClearSelection();
            FSelecting = true;
            FSelAnchor = FSelEnd = CellAt(Event->position().toPoint());
        } else if (Event->button() == Qt::MiddleButton) {
            const QClipboard::Mode mode = QApplication::clipboard()->supportsSelection() ? QClipboard::Selection
                                                                                         : QClipboard::Clipboard;
            PasteText(QApplication::clipboard()->text(mode));
        }
    }
    QAbstractScrollArea::mousePressEvent(Event);
}

void TCustomComTerminal::mouseMoveEvent(QMouseEvent* Event)
{
    if (FSelecting) {
        const QPoint cell = CellAt(Event->position().toPoint());
        if (cell != FSelEnd || !FHasSelection) {
            RepaintSelection();
            FSelEnd = cell;
            FHasSelection = FSelEnd != FSelAnchor || FHasSelection;
            RepaintSelection();
        }
    }
    QAbstractScrollArea::mouseMoveEvent(Event);
}

void TCustomComTerminal::mouseReleaseEvent(QMouseEvent* Event)
{
    if (FSelecting && Event->button() == Qt::LeftButton) {
        FSelecting = false;
        if (FHasSelection && QApplication::clipboard()->supportsSelection())
            QApplication::clipboard()->setText(SelectedText(), QClipboard::Selection);
    }
    QAbstractScrollArea::mouseReleaseEvent(Event);
}

QPoint TCustomComTerminal::CellAt(QPoint Pixel) const
{
    const QPoint origin = TopLeft();
    const int x = std::clamp(Pixel.x() / FFontWidth + origin.x(), 1, Columns());
    const int y = std::clamp(Pixel.y() / FFontHeight + origin.y(), 1, Rows());
    return {x, y};
}

std::pair<QPoint, QPoint> TCustomComTerminal::SelectionRange() const
{
    const bool forward = FSelAnchor.y() < FSelEnd.y() || (FSelAnchor.y() == FSelEnd.y() && FSelAnchor.x() <= FSelEnd.x());
    return forward ? std::pair{FSelAnchor, FSelEnd} : std::pair{FSelEnd, FSelAnchor};
}

void TCustomComTerminal::Select(QPoint From, QPoint To)
{
    RepaintSelection();
    FSelAnchor = From;
    FSelEnd = To;
    FHasSelection = true;
    RepaintSelection();
}

void TCustomComTerminal::ClearSelection()
{
    if (!FHasSelection)
        return;
    RepaintSelection();
    FHasSelection = false;
}

void TCustomComTerminal::RepaintSelection()
{
    if (!FHasSelection)
        return;
    const auto [from, to] = SelectionRange();
    InvalidateCells(QRect(QPoint(1, from.y()), QPoint(Columns(), to.y())));
}

QString TCustomComTerminal::SelectedText() const
{
    if (!FHasSelection)
        return {};
    const auto [from, to] = SelectionRange();
    QStringList lines;
    std::vector<TTermChar> scratch;
    for (int y = std::max(1, from.y()); y <= std::min(Rows(), to.y()); ++y) {
        const std::span<const TTermChar> cells = LineCells(y, scratch);
        const int count = static_cast<int>(cells.size());
        const int first = y == from.y() ? from.x() : 1;
        const int last = std::min(y == to.y() ? to.x() : Columns(), count);
        QString line;
        for (int x = first; x <= last; ++x) {
            const TTermChar& cell = cells[x - 1];
            if (cell.Part == CellPart::WideRight)
                continue;
            const char32_t c = cell.Ch == 0 && cell.Unicode == 0 ? U' ' : CellCharacter(cell);
            line += QString::fromUcs4(&c, 1);
        }
        while (line.endsWith(u' '))
            line.chop(1);
        lines << line;
    }
    return lines.join(u'\n');
}

void TCustomComTerminal::CopySelection()
{
    if (FHasSelection)
        QApplication::clipboard()->setText(SelectedText());
}

void TCustomComTerminal::DrawSelection(QPainter& Painter)
{
    if (!FHasSelection)
        return;
    const auto [from, to] = SelectionRange();
    const QPoint origin = TopLeft();
    Painter.save();
    Painter.setCompositionMode(QPainter::CompositionMode_Difference);
    for (int y = from.y(); y <= to.y(); ++y) {
        const int first = y == from.y() ? from.x() : 1;
        const int last = y == to.y() ? to.x() : Columns();
        Painter.fillRect(QRect((first - origin.x()) * FFontWidth, (y - origin.y()) * FFontHeight,
                               (last - first + 1) * FFontWidth, FFontHeight),
                         QColor(0xC0, 0xC0, 0xC0));
    }
    Painter.restore();
}

void TCustomComTerminal::SetGridFollowsWindow(bool Value)
{
    FGridFollowsWindow = Value;
    if (Value) {
        setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
        setVerticalScrollBarPolicy(Qt::ScrollBarAsNeeded);
        FHistorySeen = Buffer().HistoryAdded();
    } else {
        SetScrollBars(FScrollBars);
    }
    UpdateScrollRange();
}

void TCustomComTerminal::FitGrid()
{
    const int columns = std::clamp(viewport()->width() / FFontWidth, 2, TComTermBuffer::MaxColumns);
    const int rows = std::clamp(viewport()->height() / FFontHeight, 2, TComTermBuffer::MaxGridRows);
    // Until it is shown the client area has no size of its own yet: the grid keeps its own.
    if (Loading() || !isVisible() || (columns == Columns() && rows == Rows()))
        return;
    ClearSelection();
    Resize(columns, rows);
    viewport()->update();
}

std::span<const TTermChar> TCustomComTerminal::LineCells(int Y, std::vector<TTermChar>& Scratch) const
{
    const int row = Y - FScrollBack;
    if (row >= 1)
        return row <= Rows() ? std::span<const TTermChar>(Buffer().Row(row), static_cast<size_t>(Columns()))
                             : std::span<const TTermChar>();
    Scratch = Buffer().HistoryLine(1 - row);
    return Scratch;
}

void TCustomComTerminal::ScrollBack(int Lines)
{
    const int value = std::clamp(Lines, 0, Buffer().HistoryCount());
    if (value == FScrollBack)
        return;
    ClearSelection();
    FScrollBack = value;
    if (FGridFollowsWindow && !FUpdatingRange) {
        FUpdatingRange = true;
        verticalScrollBar()->setValue(verticalScrollBar()->maximum() - value);
        FUpdatingRange = false;
    }
    viewport()->update();
    CaretChanged();
}

void TCustomComTerminal::wheelEvent(QWheelEvent* Event)
{
    if (!FGridFollowsWindow) {
        QAbstractScrollArea::wheelEvent(Event);
        return;
    }
    // Three lines a notch, as desktop views scroll.
    const int notches = Event->angleDelta().y() / 120;
    if (notches != 0)
        ScrollBack(FScrollBack + 3 * notches);
    Event->accept();
}

bool TCustomComTerminal::FindText(const QString& Text)
{
    if (Text.isEmpty())
        return false;
    const int history = Buffer().HistoryCount();
    const int total = history + Rows();
    // Lines counted from the oldest scrollback line (1) to the screen's last row (total).
    std::vector<TTermChar> scratch;
    const auto lineText = [this, history, &scratch](int n) -> std::span<const TTermChar> {
        if (n <= history) {
            scratch = Buffer().HistoryLine(history - n + 1);
            return scratch;
        }
        return {Buffer().Row(n - history), static_cast<size_t>(Columns())};
    };
    const int start = FFoundLine > 1 && FFoundLine <= total ? FFoundLine - 1 : total;
    for (int n = start; n >= 1; --n) {
        const std::span<const TTermChar> cells = lineText(n);
        const int count = static_cast<int>(cells.size());
        QString line;
        for (int x = 0; x < count; ++x) {
            const char32_t c = cells[x].Ch == 0 && cells[x].Unicode == 0 ? U' ' : CellCharacter(cells[x]);
            line += QString::fromUcs4(&c, 1);
        }
        const qsizetype at = line.indexOf(Text, 0, Qt::CaseInsensitive);
        if (at < 0)
            continue;
        FFoundLine = n;
        // Show the line in the view's middle where the scrollback allows.
        const int back = std::clamp(history - n + 1 + Rows() / 2, 0, history);
        ScrollBack(n > history && n - history > Rows() / 2 ? 0 : back);
        const int viewRow = n - history + FScrollBack;
        Select(QPoint(static_cast<int>(at) + 1, viewRow), QPoint(static_cast<int>(at + Text.size()), viewRow));
        return true;
    }
    FFoundLine = 0;
    return false;
}

bool TCustomComTerminal::event(QEvent* Event)
{
    if (Event->type() == QEvent::ShortcutOverride && FKeysToDevice) {
        // Taken here, a key that is also a shortcut or a menu's mnemonic comes to
        // keyPressEvent instead; only the menu key is left to the window.
        auto* key = static_cast<QKeyEvent*>(Event);
        const QKeyCombination combination = key->keyCombination();
        if (FMenuKey.isEmpty() || QKeySequence(QKeyCombination(combination.keyboardModifiers() & ~Qt::KeypadModifier,
                                                               combination.key())) != FMenuKey) {
            key->accept();
            return true;
        }
    }
    if (Event->type() == QEvent::KeyPress) {
        auto* key = static_cast<QKeyEvent*>(Event);
        if (key->key() == Qt::Key_Tab || key->key() == Qt::Key_Backtab) {
            // Unless the control wants it, Tab belongs to the window's focus order, even
            // where no other control takes the focus: it never reaches the device.
            if (FWantTab)
                keyPressEvent(key);
            else if (!(key->modifiers() & (Qt::ControlModifier | Qt::AltModifier)))
                focusNextPrevChild(key->key() == Qt::Key_Tab && !(key->modifiers() & Qt::ShiftModifier));
            key->accept();
            return true;
        }
    }
    return QAbstractScrollArea::event(Event);
}

} // namespace zentrop
