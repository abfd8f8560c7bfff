// The terminal control: a widget that owns the terminal's behaviour (buffer, parser, caret),
// hears its port through a link of its own and sends typed keys to it. The display (font
// metrics, painting, caret drawing, scrolling) overrides the display hooks of the behaviour.
#pragma once

#include "term/KeyEncoder.h"
#include "term/TermCore.h"
#include "cport/ComPort.h"
#include "forms/Controls.h"
#include "forms/Font.h"

#include <QAbstractScrollArea>
#include <QElapsedTimer>
#include <QKeySequence>
#include <QPointer>

class QPainter;
class QTimer;

namespace zentrop {

// The client area is the scroll area's viewport; its scroll bars count whole cells.
class TCustomComTerminal : public QAbstractScrollArea, public ComTermCore {
    Q_OBJECT

public:
    static constexpr int DefaultWidth = 400;
    static constexpr int DefaultHeight = 250;

    explicit TCustomComTerminal(QWidget* Parent = nullptr);
    ~TCustomComTerminal() override;

    TComLink* ComLink() { return &FComLink; }

    TCustomComPort* ComPort() const { return FComPort.data(); }
    // Moves the terminal's link from the old port to the new one. The terminal forgets a
    // port that is destroyed.
    void SetComPort(TCustomComPort* Port);
    // A port is set and open.
    bool Connected() const;
    // Opens or closes the port; nothing without one.
    void SetConnected(bool Value);

    // A font that is not of fixed pitch is replaced by the system's fixed-pitch font, and
    // underline is taken off it (cells carry their own underline).
    TFont* Font() const { return FFont; }
    // The background colour; repaints the cells.
    void SetColor(TColor Value);

    // ---- the display
    // bsSingle: a sunken client edge; bsNone: no border.
    TBorderStyle BorderStyle() const { return FBorderStyle; }
    void SetBorderStyle(TBorderStyle Value);
    TTermCaret Caret() const { return FCaret; }
    void SetCaret(TTermCaret Value);
    // Which scroll bars may show; each shows only while the grid does not fit that way.
    TScrollStyle ScrollBars() const { return FScrollBars; }
    void SetScrollBars(TScrollStyle Value);
    // Dragging a scroll box moves the view at once, not only when it is let go.
    bool SmoothScroll() const { return FSmoothScroll; }
    void SetSmoothScroll(bool Value);
    // Tab goes to the terminal instead of moving the focus on.
    bool WantTab() const { return FWantTab; }
    void SetWantTab(bool Value) { FWantTab = Value; }
    // The control fills its parent (alClient) or spans one edge of it; alNone keeps its place.
    TPanel::TAlign Align() const { return FAlign; }
    void SetAlign(TPanel::TAlign Value);
    // The control is as large as the grid plus its border, in the directions its Align leaves free.
    bool AutoSize() const { return FAutoSize; }
    void SetAutoSize(bool Value);

    // The cell size in pixels, measured from the font.
    int FontWidth() const { return FFontWidth; }
    int FontHeight() const { return FFontHeight; }
    // The caret exists while the control has the focus and Caret is not tcNone.
    bool CaretCreated() const { return FCaretCreated; }
    int CaretHeight() const { return FCaretHeight; }
    // Where the caret is drawn in the client area; empty while it is hidden or not created.
    QRect CaretRect() const;

    // Asks for the cells of the buffer rectangle (1-based, inclusive) to be painted again.
    void InvalidateCells(const QRect& Cells);
    // Sets the scroll bars' ranges from the client size and the grid, and TopLeft from them.
    void UpdateScrollRange();
    // Changes are shown at most once a frame; this asks for what waits to be painted now.
    void FlushDisplay();

    bool HasPort() const override { return FComPort != nullptr; }
    bool PortConnected() const override { return Connected(); }
    void WriteStr(const QByteArray& Str) override;

    // ---- the keyboard of the VT102 emulation
    // While the control has the focus every key goes to the device: no shortcut of the
    // window takes it, except MenuKey, which is left to the window (to open its menus).
    bool KeysToDevice() const { return FKeysToDevice; }
    void SetKeysToDevice(bool Value) { FKeysToDevice = Value; }
    QKeySequence MenuKey() const { return FMenuKey; }
    void SetMenuKey(const QKeySequence& Value) { FMenuKey = Value; }
    // Backspace sends BS (8) instead of DEL (127).
    bool BackspaceSendsBS() const { return FBackspaceSendsBS; }
    void SetBackspaceSendsBS(bool Value) { FBackspaceSendsBS = Value; }
    // The character set of typed and pasted text (and of received text, where the core
    // decodes it): UTF-8, or the 8-bit code page. By default UTF-8 for the VT102 emulation
    // and the code page for the others.
    enum class CharacterSet { Default, Utf8, CodePage };
    CharacterSet Charset() const { return FCharset; }
    void SetCharset(CharacterSet Value);
    bool CharsetIsUtf8() const;
    // The emulation, with the character set's default following it.
    void SetEmulation(TTermEmulation Value);
    // The modes the keys are encoded with now.
    KeyModes CurrentKeyModes() const;
    // Bytes as if typed: echoed when LocalEcho is on, written to a connected port.
    void SendBytes(const QByteArray& Bytes);
    // Text as if typed, in the character set; line ends become CR, as Enter sends.
    void PasteText(const QString& Text);

    // ---- selection and copy
    // The mouse selects text (copied to the X primary selection), the middle button pastes
    // that selection, Ctrl+Shift+C copies and Ctrl+Shift+V or Shift+Insert paste.
    bool MouseSelection() const { return FMouseSelection; }
    void SetMouseSelection(bool Value) { FMouseSelection = Value; }
    // Selects the buffer cells from From to To (1-based, in reading order, both included).
    void Select(QPoint From, QPoint To);
    void ClearSelection();
    bool HasSelection() const { return FHasSelection; }
    // The selected cells' text, one line per row, without the blanks that end a row.
    QString SelectedText() const;
    void CopySelection();
    // The cell at a point of the client area, kept inside the buffer.
    QPoint CellAt(QPoint Pixel) const;

    // ---- the grid that follows the window, and the scrollback view
    // The columns and rows follow the client area (whole cells of the font), keeping what
    // the screen shows; the vertical scroll bar, the mouse wheel and Shift+PgUp/PgDn scroll
    // back through the lines that left the top.
    bool GridFollowsWindow() const { return FGridFollowsWindow; }
    void SetGridFollowsWindow(bool Value);
    // Lines the view is scrolled back from the live screen; 0 shows the screen.
    int ScrolledBack() const { return FScrollBack; }
    void ScrollBack(int Lines);
    // Finds Text (case-insensitive) in the scrollback and the screen, searching upward from
    // above the current match (or from the bottom); the view scrolls to it and it is
    // selected. False when it is not there.
    bool FindText(const QString& Text);

protected:
    QObject* EventSender() const override { return const_cast<TCustomComTerminal*>(this); }
    bool TextInRuns() const override;
    bool event(QEvent* Event) override;
    bool eventFilter(QObject* Watched, QEvent* Event) override;
    void keyPressEvent(QKeyEvent* Event) override;
    void changeEvent(QEvent* Event) override;
    void paintEvent(QPaintEvent* Event) override;
    void resizeEvent(QResizeEvent* Event) override;
    void scrollContentsBy(int Dx, int Dy) override;
    void focusInEvent(QFocusEvent* Event) override;
    void focusOutEvent(QFocusEvent* Event) override;
    void mousePressEvent(QMouseEvent* Event) override;
    void mouseMoveEvent(QMouseEvent* Event) override;
    void mouseReleaseEvent(QMouseEvent* Event) override;
    void wheelEvent(QWheelEvent* Event) override;
    // The control's own keys before the encoder sees them (copy, paste, scrolling back);
    // true when the key was one of them.
    virtual bool HandleViewKey(QKeyEvent* Event);

    void DisplayDamaged() override;
    void CaretMoved() override;
    void HideTermCaret() override;
    void ShowTermCaret() override;
    void SizeChanged() override;

private:
    // The client area, border and scroll bars as a new control has them.
    void InitDisplay();
    // True when the font is of fixed pitch.
    bool GetFontMetrics();
    void FontChanged();
    void DrawChars(QPainter& Painter, const QRect& View);
    void DrawChar(QPainter& Painter, int C, int R, const TTermChar& Cell);
    // Draws a line-drawing cell that is a box piece or scan line; false for the other symbols.
    bool DrawLinePiece(QPainter& Painter, const QRect& Box, uint8_t Ch);
    // Changed cells and the caret reach the screen together, at most once a frame.
    void RequestFlush();
    void ScrollPixels(int Rows);
    void SetBarRange(Qt::Orientation Bar, int Extent);
    void SyncTopLeft();
    void ApplyAutoSize();
    void ApplyAlign();
    void CreateTermCaret();
    void RestoreTermCaret();
    // Repaints where the caret was and where it is now.
    void CaretChanged();

    // Sets the columns and rows from the client area, when the grid follows the window.
    void FitGrid();
    // Applies the character set to the core's decoding of received text.
    void ApplyCharset();

    // The cells shown on view row Y (1-based from the view's top, TopLeft's row included):
    // a screen row, or a scrollback line while the view is scrolled back (unpacked into
    // Scratch, which the result then points into).
    std::span<const TTermChar> LineCells(int Y, std::vector<TTermChar>& Scratch) const;
    // The selection's cells in reading order.
    std::pair<QPoint, QPoint> SelectionRange() const;
    void DrawSelection(QPainter& Painter);
    void RepaintSelection();

    TComLink FComLink;
    bool FGridFollowsWindow = false;
    int FScrollBack = 0;
    uint64_t FHistorySeen = 0;
    int FFoundLine = 0;    // the last match's line, counted from the oldest scrollback line
    bool FMouseSelection = false;
    bool FSelecting = false;
    bool FHasSelection = false;
    QPoint FSelAnchor;
    QPoint FSelEnd;
    bool FKeysToDevice = false;
    QKeySequence FMenuKey;
    bool FBackspaceSendsBS = false;
    CharacterSet FCharset = CharacterSet::Default;
    QPointer<TCustomComPort> FComPort;
    TFont* FFont = nullptr;
    TBorderStyle FBorderStyle = TBorderStyle::bsSingle;
    TTermCaret FCaret = TTermCaret::tcBlock;
    TScrollStyle FScrollBars = TScrollStyle::ssBoth;
    bool FSmoothScroll = false;
    bool FWantTab = false;
    TPanel::TAlign FAlign = TPanel::TAlign::alNone;
    bool FAutoSize = false;

    int FFontWidth = 1;
    int FFontHeight = 1;
    int FCaretHeight = 0;
    bool FCaretCreated = false;
    int FCaretHideCount = 0;
    // Where the caret was last asked to be painted.
    QRect FCaretShown;
    bool FUpdatingRange = false;
    QTimer* FFlushTimer = nullptr;
    QElapsedTimer FLastFlush;
};

// The terminal control with its settings published under their names.
class TComTerminal : public TCustomComTerminal {
    Q_OBJECT
    Q_PROPERTY(int AltColor READ AltColor WRITE SetAltColor)
    Q_PROPERTY(bool AppendLF READ AppendLF WRITE SetAppendLF)
    Q_PROPERTY(TermTypes::TArrowKeys ArrowKeys READ ArrowKeys WRITE SetArrowKeys)
    Q_PROPERTY(TermTypes::TBorderStyle BorderStyle READ BorderStyle WRITE SetBorderStyle)
    Q_PROPERTY(TermTypes::TTermCaret Caret READ Caret WRITE SetCaret)
    Q_PROPERTY(int Color READ Color WRITE SetColor)
    Q_PROPERTY(int Columns READ Columns WRITE SetColumns)
    Q_PROPERTY(TCustomComPort* ComPort READ ComPort WRITE SetComPort)
    Q_PROPERTY(TPanel::TAlign Align READ Align WRITE SetAlign)
    Q_PROPERTY(bool AutoSize READ AutoSize WRITE SetAutoSize)
    Q_PROPERTY(bool Connected READ Connected WRITE SetConnected STORED false)
    Q_PROPERTY(TermTypes::TTermEmulation Emulation READ Emulation WRITE SetEmulation)
    Q_PROPERTY(TFont* Font READ Font)
    Q_PROPERTY(bool Force7Bit READ Force7Bit WRITE SetForce7Bit)
    Q_PROPERTY(bool LocalEcho READ LocalEcho WRITE SetLocalEcho)
    Q_PROPERTY(int Rows READ Rows WRITE SetRows)
    Q_PROPERTY(TermTypes::TScrollStyle ScrollBars READ ScrollBars WRITE SetScrollBars)
    Q_PROPERTY(bool SendLF READ SendLF WRITE SetSendLF)
    Q_PROPERTY(bool SmoothScroll READ SmoothScroll WRITE SetSmoothScroll)
    Q_PROPERTY(bool WantTab READ WantTab WRITE SetWantTab)
    Q_PROPERTY(bool WrapLines READ WrapLines WRITE SetWrapLines)
    Q_PROPERTY(QString Hint READ Hint WRITE SetHint)
    Q_PROPERTY(bool Enabled READ isEnabled WRITE setEnabled)
    Q_PROPERTY(bool Visible READ isVisible WRITE setVisible)
    Q_PROPERTY(bool TabStop READ TabStop WRITE SetTabStop)

public:
    using TCustomComTerminal::TCustomComTerminal;

    QString Hint() const { return toolTip(); }
    void SetHint(const QString& Value) { setToolTip(Value); }
    bool TabStop() const { return focusPolicy() != Qt::NoFocus; }
    void SetTabStop(bool Value) { setFocusPolicy(Value ? Qt::StrongFocus : Qt::NoFocus); }
};

} // namespace zentrop
