// The terminal control's behaviour without a window: received bytes through the parser into
// the screen buffer, the caret, attributes, tabs, modes and replies, and the keyboard side.
// The widget derives from it, connects it to a port and paints what the buffer holds.
#pragma once

#include "term/EscapeCodes.h"
#include "term/TermBuffer.h"

#include <QByteArray>
#include <QPoint>
#include <qnamespace.h>
#include <functional>
#include <memory>
#include <vector>

class QObject;

namespace zentrop {

class TermEmulation;
class ClassicEmulation;
class VT102Emulation;

// The VT102's colours: colour Index 0..255 (the eight ANSI colours, their bright forms, a
// 6 x 6 x 6 cube and 24 greys), and bold text in a default colour.
TColor VT102PaletteColor(int Index);
TColor VT102BoldColor(TColor Normal);

class ComTermCore {
public:
    using TChScreenEvent = std::function<void(QObject* Sender, char Ch)>;
    // The handler may hand in a parser object of its own, which the terminal then owns.
    using TEscapeEvent = std::function<void(QObject* Sender, TEscapeCodes*& EscapeCodes)>;
    // The handler may replace the received text before it is processed.
    using TStrRecvEvent = std::function<void(QObject* Sender, QByteArray& Str)>;
    using TUnhandledEvent = std::function<void(QObject* Sender, TEscapeCode Code, const QByteArray& Data)>;
    // Key is a Qt::Key value; the handler may change it.
    using TKeyEvent = std::function<void(QObject* Sender, int& Key, Qt::KeyboardModifiers Shift)>;
    using TKeyPressEvent = std::function<void(QObject* Sender, char& Key)>;

    // Received data is processed in chunks of at most this many bytes.
    static constexpr int MaxChunk = 1024;
    static constexpr TColor DefaultAltColor = 0xA6A6A6;
    static constexpr int DefaultColumns = 80;
    static constexpr int DefaultRows = 24;

    // Ready for text: 80 x 24 empty cells, a VT100 parser, white text on black.
    ComTermCore();
    virtual ~ComTermCore();
    ComTermCore(const ComTermCore&) = delete;
    ComTermCore& operator=(const ComTermCore&) = delete;

    // ---- settings
    TColor AltColor() const { return FAltColor; }
    // Applies to characters printed afterwards.
    void SetAltColor(TColor Value) { FAltColor = Value; }
    bool AppendLF() const { return FAppendLF; }
    void SetAppendLF(bool Value) { FAppendLF = Value; }
    TArrowKeys ArrowKeys() const { return FArrowKeys; }
    void SetArrowKeys(TArrowKeys Value) { FArrowKeys = Value; }
    // The background colour; also the background of the attributes.
    TColor Color() const { return FColor; }
    void SetColor(TColor Value);
    // The font's colour; also the text colour of the attributes.
    TColor FontColor() const { return FFontColor; }
    void SetFontColor(TColor Value);
    // Kept in 2..256 and 2..100; a new size re-creates the buffer empty, with the caret
    // brought inside it.
    int Columns() const { return FColumns; }
    void SetColumns(int Value);
    int Rows() const { return FRows; }
    void SetRows(int Value);
    // A new size that keeps what the screen shows, for a grid that follows its window:
    // Columns in 2..256, Rows in 2..TComTermBuffer::MaxGridRows. Rows are cut or padded, not
    // re-flowed; when rows go, those above the caret leave first (to the scrollback), and the
    // caret stays on its line, kept inside the grid. The scrolling region becomes the whole
    // screen. Unlike SetColumns and SetRows, nothing is cleared.
    void Resize(int Columns, int Rows);
    TTermEmulation Emulation() const { return FEmulation; }
    // A new emulation replaces the parser; an unfinished sequence is lost.
    void SetEmulation(TTermEmulation Value);
    bool Force7Bit() const { return FForce7Bit; }
    void SetForce7Bit(bool Value) { FForce7Bit = Value; }
    bool LocalEcho() const { return FLocalEcho; }
    void SetLocalEcho(bool Value) { FLocalEcho = Value; }
    bool SendLF() const { return FSendLF; }
    void SetSendLF(bool Value) { FSendLF = Value; }
    bool WrapLines() const { return FWrapLines; }
    void SetWrapLines(bool Value) { FWrapLines = Value; }
    // The character set of received text in the VT102 emulation. False (the default): each
    // byte is one character, the upper half Latin-1. True: text is decoded as UTF-8, also
    // when a character is split between two chunks; a byte that cannot start or continue a
    // character shows as U+FFFD and the bytes after it are read as usual; a wide character
    // takes two cells (see CellPart). The classic emulations always take each byte as a
    // character of the 8-bit code page, whatever this says.
    bool Utf8() const { return FUtf8; }
    void SetUtf8(bool Value);
    // Lines kept above the main screen (the buffer's scrollback); 0 keeps none.
    int ScrollbackLines() const { return FBuffer.ScrollbackLines(); }
    void SetScrollbackLines(int Lines) { FBuffer.SetScrollbackLines(Lines); }

    // ---- loading: between these, size and emulation changes are only recorded
    bool Loading() const { return FLoading; }
    void BeginLoading() { FLoading = true; }
    virtual void Loaded();

    // ---- state
    TComTermBuffer& Buffer() { return FBuffer; }
    const TComTermBuffer& Buffer() const { return FBuffer; }
    TEscapeCodes* EscapeCodes() const { return FEscapeCodes.get(); }
    QPoint CaretPos() const { return FCaretPos; }
    // The buffer cell shown at the view's top-left corner; only the display's scrolling
    // changes it.
    QPoint TopLeft() const { return FTopLeft; }
    void SetTopLeft(QPoint Value) { FTopLeft = Value; }
    QPoint SavedCaret() const { return FSavedCaret; }
    const TTermAttributes& TermAttr() const { return FTermAttr; }
    const TTermAttributes& SavedAttr() const { return FSavedAttr; }
    bool AppCursorKeys() const { return FAppCursorKeys; }
    // Modes the VT102 emulation takes from the device, for the display and the keyboard;
    // the classic emulations leave them at their defaults. The display reads them again
    // whenever DisplayDamaged is called.
    // The program shows the caret (CSI ?25 h / l).
    bool CaretVisible() const { return FCaretVisible; }
    // The keypad sends application sequences (ESC = / ESC >).
    bool AppKeypad() const { return FAppKeypad; }
    // Pasted text is to be framed by ESC [200~ and ESC [201~ (CSI ?2004 h / l).
    bool BracketedPaste() const { return FBracketedPaste; }
    // The alternate screen is shown (CSI ?1049, ?1047, ?47): nothing goes to the scrollback.
    bool AltScreen() const { return FBuffer.Alternate(); }

    // ---- events
    TChScreenEvent OnChar;
    TEscapeEvent OnGetEscapeCodes;
    TStrRecvEvent OnStrRecieved;
    TUnhandledEvent OnUnhandledCode;
    TKeyEvent OnKeyDown;
    TKeyPressEvent OnKeyPress;

    // ---- received data
    // The received-data slot of the terminal's link. A burst longer than MaxChunk is taken
    // as consecutive chunks of MaxChunk bytes, so no received byte is lost.
    void HandleRxData(QObject* Sender, const char* Buffer, int Count);
    void WriteText(QByteArray Str);
    void ProcessText(const QByteArray& Str);
    void PutChar(char Ch);

    // ---- caret, codes, attributes
    void MoveCaret(int X, int Y);
    void AdvanceCaret(TCaretMove Kind);
    // Carries out a code; false for codes the terminal does not act on.
    bool PerformCode(TEscapeCode Code, EscapeParams* Params);
    void SetAttributes(const EscapeParams* Params);
    // The same for parameters already read as numbers, Count of them.
    void SetAttributes(const int* Values, int Count);
    void SetMode(const EscapeParams* Params, bool Value);
    void ResetAttributes();
    // The cell the next printed character gets (its Ch is 0): bold text takes AltColor,
    // inverse swaps the colours, bold and inverse give AltColor on the text colour.
    TTermChar CurrentTermChar() const
    {
        TTermChar cell;
        cell.FrontColor = FTermAttr.Bold ? FAltColor : FTermAttr.Invert ? FTermAttr.BackColor : FTermAttr.FrontColor;
        cell.BackColor = FTermAttr.Invert ? FTermAttr.FrontColor : FTermAttr.BackColor;
        cell.Underline = FTermAttr.Underline;
        return cell;
    }
    void SaveCaret() { FSavedCaret = FCaretPos; }
    void RestoreCaret() { MoveCaret(FSavedCaret.x(), FSavedCaret.y()); }
    void SaveAttr() { FSavedAttr = FTermAttr; }
    void RestoreAttr() { FTermAttr = FSavedAttr; }
    // Every cell holds Ch in the font's colour on the background; caret and attributes stay.
    void FillScreen(char Ch);
    void CreateEscapeCodes();

    // ---- keyboard and sending
    void KeyDown(int& Key, Qt::KeyboardModifiers Shift);
    void KeyPress(char& Key);
    void SendChar(char Ch);
    void SendCode(TEscapeCode Code, EscapeParams* Params);
    void SendCodeNoEcho(TEscapeCode Code, EscapeParams* Params);
    // Writes the parser's text for Code to a connected port; nothing without a parser.
    void WriteEscCode(TEscapeCode Code, const EscapeParams* Params);

    // ---- the port, as the widget connects it
    virtual bool HasPort() const { return false; }
    virtual bool PortConnected() const { return false; }
    // Writes Str to the port; port errors reach the caller.
    virtual void WriteStr(const QByteArray& Str) { (void)Str; }

    // ---- the display's side
    // Hands over which cells changed since the last call.
    TermDamage TakeDamage() { return FBuffer.TakeDamage(); }

protected:
    // Event firers; each calls its event when one is assigned.
    virtual void DoChar(char Ch);
    // Whether runs of printable bytes may be printed a row's stretch at a time, without a
    // DoChar for each byte, while OnChar is unassigned. Only for the classes known not to
    // override DoChar: a class derived elsewhere gets every byte through its DoChar unless
    // it says otherwise here.
    virtual bool TextInRuns() const;
    virtual void DoGetEscapeCodes(TEscapeCodes*& EscapeCodes);
    virtual void DoStrRecieved(QByteArray& Str);
    virtual void DoUnhandledCode(TEscapeCode Code, const QByteArray& Data);

    // What events name as their sender.
    virtual QObject* EventSender() const { return nullptr; }

    // Display hooks, called by the behaviour above; the widget paints.
    // The buffer has changed cells (TakeDamage tells which); called once per received
    // chunk, echo or key, not once per cell.
    virtual void DisplayDamaged() {}
    // The caret cell has moved.
    virtual void CaretMoved() {}
    virtual void HideTermCaret() {}
    virtual void ShowTermCaret() {}
    // Columns or Rows changed: the automatic size and the scroll ranges follow.
    virtual void SizeChanged() {}

    // Tells the display of changed cells, if there are any.
    void NotifyDamage();

private:
    friend class TermEmulation;
    friend class ClassicEmulation;
    friend class VT102Emulation;
    class CaretHidden;
    void ReceiveChunk(const char* Buffer, int Count);
    // Every printed byte must pass DoChar one at a time, or the grid is not yet the size the
    // caret is kept in (while loading): text is not printed in runs.
    bool BytewiseText() const
    {
        return OnChar || !TextInRuns() || FBuffer.Columns() != FColumns || FBuffer.Rows() != FRows
            || !FBuffer.Contains(FCaretPos.x(), FCaretPos.y());
    }
    // Writes at most the rest of the caret's row: Count bytes of Text, or as many as fit, in
    // Cell. The caret goes behind them, or to the last column when they fill the row.
    // Returns how many it wrote.
    inline qsizetype WriteRowStretch(const char* Text, qsizetype Count, const TTermChar& Cell);
    void ResizeBuffer();
    // One attribute parameter: 0 resets, 1/21 bold, 4/24 underline, 7/27 inverse on or off.
    void SetAttribute(int P);

    // How an emulation reads parameter Num of a code as a number from its own list.
    using ParamReader = int (*)(int Num, const void* Params);
    // Where the caret's moves stop: a cursor position lands in rows Top..Bottom, steps up
    // stop at row UpStop and steps down at row DownStop.
    struct CaretLimits {
        int Top;
        int Bottom;
        int UpStop;
        int DownStop;
    };
    // The codes every emulation carries out alike once it says how it reads its numbers and
    // where the caret stops: the caret's steps and moves, the tab stops and the status
    // query. False for any other code. Always inline: a call of its own costs the codes
    // measurable speed.
    [[gnu::always_inline]] inline bool PerformCommon(TEscapeCode Code, const void* Params, ParamReader Read, const CaretLimits& Limits);

    TComTermBuffer FBuffer;
    std::unique_ptr<TEscapeCodes> FEscapeCodes;
    // What the emulation does with the parser's results; made with the parser.
    std::unique_ptr<TermEmulation> FEmulationObject;
    // Emulations replaced while they were taking received text, freed when it is done.
    std::vector<std::unique_ptr<TermEmulation>> FRetired;
    int FReceiving = 0;

    TColor FAltColor = DefaultAltColor;
    bool FAppendLF = false;
    TArrowKeys FArrowKeys = TArrowKeys::akTerminal;
    TColor FColor = clBlack;
    TColor FFontColor = clWhite;
    int FColumns = DefaultColumns;
    int FRows = DefaultRows;
    TTermEmulation FEmulation = TTermEmulation::teVT100orANSI;
    bool FForce7Bit = false;
    bool FLocalEcho = false;
    bool FSendLF = false;
    bool FWrapLines = false;
    bool FLoading = false;

    QPoint FCaretPos{1, 1};
    QPoint FTopLeft{1, 1};
    QPoint FSavedCaret{0, 0};
    TTermAttributes FTermAttr;
    TTermAttributes FSavedAttr;
    bool FAppCursorKeys = false;
    bool FUtf8 = false;
    bool FCaretVisible = true;
    bool FAppKeypad = false;
    bool FBracketedPaste = false;
    // The last column was written and the next character wraps first (VT102); any caret
    // move cancels it.
    bool FWrapPending = false;
};

} // namespace zentrop
