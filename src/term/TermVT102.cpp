// The VT102 emulation: deferred wrap, the scrolling region and origin mode, insert and
// delete of lines and characters, character sets, modes, the pen with 16, 256 and direct
// colours, save and restore of the cursor, the alternate screen, UTF-8 with wide characters,
// the sequences of today's full-screen programs, and the VT102's replies. Plain text and
// complete CSI sequences are taken straight from the received bytes; everything else goes
// through the parser.
#include "EscapeCodesVT102.h"
#include "TermEmulation.h"
#include "TermShared.h"

#include <algorithm>
#include <array>

namespace zentrop {

namespace {

constexpr TColor Rgb(int r, int g, int b)
{
    return static_cast<TColor>(r | (g << 8) | (b << 16));
}

// The eight ANSI colours and their bright forms.
constexpr std::array<TColor, 16> Palette = {
    Rgb(0, 0, 0),       Rgb(205, 0, 0),     Rgb(0, 205, 0),     Rgb(205, 205, 0),
    Rgb(0, 0, 238),     Rgb(205, 0, 205),   Rgb(0, 205, 205),   Rgb(229, 229, 229),
    Rgb(127, 127, 127), Rgb(255, 0, 0),     Rgb(0, 255, 0),     Rgb(255, 255, 0),
    Rgb(92, 92, 255),   Rgb(255, 0, 255),   Rgb(0, 255, 255),   Rgb(255, 255, 255),
};

TColor IndexedColor(int Index)
{
    if (Index < 16)
        return Palette[static_cast<size_t>(Index)];
    if (Index < 232) {
        // A 6 x 6 x 6 cube.
        static constexpr int Level[6] = {0, 95, 135, 175, 215, 255};
        const int i = Index - 16;
        return Rgb(Level[i / 36], Level[i / 6 % 6], Level[i % 6]);
    }
    const int grey = 8 + 10 * (Index - 232);
    return Rgb(grey, grey, grey);
}

// Bold text in the default colour: each channel half way to full.
TColor Brighten(TColor c)
{
    int out = 0;
    for (int shift = 0; shift <= 16; shift += 8) {
        const int v = (c >> shift) & 0xFF;
        out |= ((v + 255 + 1) / 2) << shift;
    }
    return static_cast<TColor>(out);
}

// A pen colour: -1 the default, 0..255 an index, Direct with the colour in the low bits.
constexpr int32_t Direct = 1 << 24;

constexpr char32_t Replacement = 0xFFFD;

// Cells a character takes: 0 for a combining mark or a zero-width character (left out), 2 for
// the East Asian wide and full-width forms and emoji, 1 for the rest.
int CharWidth(char32_t c)
{
    struct Range {
        char32_t from, to;
    };
    static constexpr Range Zero[] = {
        {0x0300, 0x036F}, {0x0483, 0x0489}, {0x0591, 0x05BD}, {0x0610, 0x061A}, {0x064B, 0x065F},
        {0x1AB0, 0x1AFF}, {0x1DC0, 0x1DFF}, {0x200B, 0x200F}, {0x2028, 0x202E}, {0x2060, 0x2064},
        {0x20D0, 0x20FF}, {0xFE00, 0xFE0F}, {0xFE20, 0xFE2F}, {0xFEFF, 0xFEFF}, {0xE0100, 0xE01EF},
    };
    static constexpr Range Wide[] = {
        {0x1100, 0x115F}, {0x231A, 0x231B}, {0x2329, 0x232A}, {0x23E9, 0x23EC}, {0x23F0, 0x23F0},
        {0x23F3, 0x23F3}, {0x25FD, 0x25FE}, {0x2614, 0x2615}, {0x2648, 0x2653}, {0x267F, 0x267F},
        {0x2693, 0x2693}, {0x26A1, 0x26A1}, {0x26AA, 0x26AB}, {0x26BD, 0x26BE}, {0x26C4, 0x26C5},
        {0x26CE, 0x26CE}, {0x26D4, 0x26D4}, {0x26EA, 0x26EA}, {0x26F2, 0x26F3}, {0x26F5, 0x26F5},
        {0x26FA, 0x26FA}, {0x26FD, 0x26FD}, {0x2705, 0x2705}, {0x270A, 0x270B}, {0x2728, 0x2728},
        {0x274C, 0x274C}, {0x274E, 0x274E}, {0x2753, 0x2755}, {0x2757, 0x2757}, {0x2795, 0x2797},
        {0x27B0, 0x27B0}, {0x27BF, 0x27BF}, {0x2B1B, 0x2B1C}, {0x2B50, 0x2B50}, {0x2B55, 0x2B55},
        {0x2E80, 0x303E}, {0x3041, 0x33FF}, {0x3400, 0x4DBF}, {0x4E00, 0x9FFF}, {0xA000, 0xA4CF},
        {0xA960, 0xA97F}, {0xAC00, 0xD7A3}, {0xF900, 0xFAFF}, {0xFE10, 0xFE19}, {0xFE30, 0xFE6F},
        {0xFF00, 0xFF60}, {0xFFE0, 0xFFE6}, {0x16FE0, 0x16FE4}, {0x17000, 0x18AFF}, {0x1B000, 0x1B2FF},
        {0x1F004, 0x1F004}, {0x1F0CF, 0x1F0CF}, {0x1F18E, 0x1F18E}, {0x1F191, 0x1F19A}, {0x1F200, 0x1F251},
        {0x1F260, 0x1F265}, {0x1F300, 0x1F64F}, {0x1F680, 0x1F6FF}, {0x1F7E0, 0x1F7EB}, {0x1F90C, 0x1F9FF},
        {0x1FA70, 0x1FAFF}, {0x20000, 0x2FFFD}, {0x30000, 0x3FFFD},
    };
    const auto in = [c](const auto& Table) {
        const auto it = std::upper_bound(std::begin(Table), std::end(Table), c,
                                         [](char32_t v, const Range& r) { return v < r.from; });
        return it != std::begin(Table) && c <= std::prev(it)->to;
    };
    if (c < 0x300)
        return 1;
    if (in(Zero))
        return 0;
    return in(Wide) ? 2 : 1;
}

// UTF-8 read one byte at a time, so that a character may be split between chunks.
class Utf8Decoder {
public:
    enum class Result { More, Done, Invalid, InvalidBefore };
    // Done: Out is the character. Invalid: Out is U+FFFD and the byte is used up.
    // InvalidBefore: the unfinished character before the byte was broken (Out is U+FFFD) and
    // the byte must be read again.
    Result Feed(uint8_t c, char32_t& Out)
    {
        if (FNeed > 0) {
            if ((c & 0xC0) != 0x80) {
                FNeed = 0;
                Out = Replacement;
                return Result::InvalidBefore;
            }
            FCode = (FCode << 6) | (c & 0x3F);
            if (--FNeed > 0)
                return Result::More;
            const bool bad = FCode < FMin || (FCode >= 0xD800 && FCode <= 0xDFFF) || FCode > 0x10FFFF;
            Out = bad ? Replacement : FCode;
            return bad ? Result::Invalid : Result::Done;
        }
        if (c >= 0xC2 && c <= 0xDF)
            Start(c & 0x1F, 1, 0x80);
        else if (c >= 0xE0 && c <= 0xEF)
            Start(c & 0x0F, 2, 0x800);
        else if (c >= 0xF0 && c <= 0xF4)
            Start(c & 0x07, 3, 0x10000);
        else {
            Out = c < 0x80 ? c : Replacement;
            return c < 0x80 ? Result::Done : Result::Invalid;
        }
        return Result::More;
    }
    bool Pending() const { return FNeed > 0; }
    void Reset() { FNeed = 0; }

private:
    void Start(char32_t Code, int Need, char32_t Min)
    {
        FCode = Code;
        FNeed = Need;
        FMin = Min;
    }
    char32_t FCode = 0;
    char32_t FMin = 0;
    int FNeed = 0;
};

} // namespace

TColor VT102PaletteColor(int Index)
{
    return IndexedColor(Index & 255);
}

TColor VT102BoldColor(TColor Normal)
{
    return Brighten(Normal);
}

class VT102Emulation final : public TermEmulation {
public:
    VT102Emulation(ComTermCore& Term, EscapeCodesVT102& Parser)
        : TermEmulation(Term), P(Parser), FFontColor(Term.FFontColor), FBrightFontColor(Brighten(Term.FFontColor))
    {
        FVT.Bottom = T.FRows;
        UpdatePen();
    }

    qsizetype Receive(const char* Text, qsizetype Count) override;
    void PutChar(char Ch) override;
    bool Perform(TEscapeCode Code, EscapeParams* Params) override;
    void ColoursChanged() override { UpdatePen(); }
    void AttributesReset() override
    {
        ClearPen();
        UpdatePen();
    }
    void SizeChanged() override
    {
        FVT.Top = 1;
        FVT.Bottom = T.FRows;
    }
    void Leaving() override
    {
        T.FBuffer.SetAlternate(false);
        ResetModes();
        // The VT102's colours mean nothing to the others.
        T.ResetAttributes();
    }

private:
    static constexpr int MaxArgs = 32;
    // The numbers of a sequence; -1 where one is missing or empty.
    struct Args {
        int Count = 0;
        int V[MaxArgs];
        int operator()(int Num, int Default) const { return Num >= 1 && Num <= Count && V[Num - 1] >= 0 ? V[Num - 1] : Default; }
        // A count: missing or 0 is 1.
        int N(int Num) const { return std::max(1, (*this)(Num, 1)); }
    };
    struct State {
        int Top = 1;                // scrolling region, rows Top..Bottom
        int Bottom = ComTermCore::DefaultRows;
        bool OriginMode = false;    // cursor addresses count from the region's top
        bool InsertMode = false;
        bool NewLineMode = false;   // a line feed also returns the carriage
        char Charsets[2] = {'B', 'B'};   // G0 and G1: "B" ASCII, "A" UK, "0" line drawing
        int Shift = 0;              // which of G0 and G1 is in use
        int32_t Fore = -1;          // see Direct
        int32_t Back = -1;
        bool Bold = false;
        bool Underline = false;
        bool Blink = false;
        bool Inverse = false;
    };

    bool Act(TEscapeCode Code, const Args& A);
    // A whole CSI sequence of numbers at Text (ESC "[" ...) carried out at once; 0 when it is
    // not one (split, unusual or unknown), for the parser to read.
    [[gnu::always_inline]] inline qsizetype TakeCsi(const char* Text, qsizetype Count);
    void PrintAscii(const char* Text, qsizetype Count);
    void PrintByte(uint8_t Ch);
    void Print(char32_t Ch);
    void Control(uint8_t Ch);
    // An unfinished UTF-8 character broken by what follows shows as U+FFFD.
    void BreakCharacter()
    {
        if (FDecoder.Pending()) {
            FDecoder.Reset();
            Print(Replacement);
        }
    }
    // A wide character partly overwritten at columns From..To of the caret's row loses its
    // other half.
    void SplitWide(int From, int To)
    {
        const int y = T.FCaretPos.y();
        if (T.FBuffer.Part(From, y) == CellPart::WideRight && From > 1) [[unlikely]]
            T.FBuffer.SetChar(From - 1, y, Blank());
        if (T.FBuffer.Part(To, y) == CellPart::WideLeft && To < T.FColumns) [[unlikely]]
            T.FBuffer.SetChar(To + 1, y, Blank());
    }
    void SetAttributes(const Args& A);
    void SetModes(const Args& A, bool Private, bool Value);
    void SaveCursor();
    void RestoreCursor();
    void ResetModes()
    {
        T.FCaretVisible = true;
        T.FAppKeypad = false;
        T.FBracketedPaste = false;
    }
    // Moves the caret down one row inside the scrolling region, scrolling it at its bottom.
    void Index();
    void ReverseIndex();
    TColor Color(int32_t Pen) const { return (Pen & Direct) ? (Pen & 0xFFFFFF) : IndexedColor(Pen); }
    // The cell the pen prints with, and what erased cells hold.
    void UpdatePen();
    void ClearPen()
    {
        FVT.Fore = FVT.Back = -1;
        FVT.Bold = FVT.Underline = FVT.Blink = FVT.Inverse = false;
    }
    TTermChar Blank() const
    {
        // Erased cells take the background colour, not the other attributes.
        if (FVT.Back < 0)
            return TTermChar();
        return TTermChar{' ', T.FFontColor, Color(FVT.Back), false, false, false};
    }
    void Erase(int FromX, int FromY, int ToX, int ToY);

    EscapeCodesVT102& P;
    State FVT;
    State FSaved;           // kept by save cursor
    QPoint FSavedCaret{1, 1};
    bool FSavedWrap = false;
    bool FHasSaved = false;
    TTermChar FPen;
    // The font's colour made bright, for bold text, and the colour it was made from.
    TColor FFontColor;
    TColor FBrightFontColor;
    Utf8Decoder FDecoder;
    char32_t FLast = 0;     // the last printed character, for the repeat
};

std::unique_ptr<TermEmulation> MakeVT102Emulation(ComTermCore& Term, EscapeCodesVT102& Parser)
{
    return std::make_unique<VT102Emulation>(Term, Parser);
}

// ---- received bytes

qsizetype VT102Emulation::Receive(const char* Text, qsizetype Count)
{
    const bool bytewise = T.BytewiseText();
    qsizetype i = 0;
    while (i < Count) {
        if (!P.InSequence()) {
            const auto c = static_cast<uint8_t>(Text[i]);
            if (c >= 0x20 && c < 0x7F && !bytewise) {
                const qsizetype end = i + 1 + RunInRange<0x20, 0x7E>(Text + i + 1, Count - i - 1);
                PrintAscii(Text + i, end - i);
                P.Character = Text[end - 1];
                i = end;
                continue;
            }
            if (c == 27) {
                // A sequence ends an unfinished character, as a control does.
                BreakCharacter();
                if (i + 1 < Count && Text[i + 1] == '[') {
                    if (const qsizetype n = TakeCsi(Text + i, Count - i); n > 0) {
                        i += n;
                        if (!Current())
                            return i;
                        continue;
                    }
                }
                P.EscapeCodesVT102::ProcessChar(Text[i++]);
                continue;
            }
            if (c < 0x20 && !bytewise) {
                // Nobody watches single bytes: the control is carried out at once.
                P.Character = Text[i++];
                BreakCharacter();
                Control(c);
                continue;
            }
            // Any other byte, or any byte while single bytes are watched: a plain character.
            P.Character = Text[i++];
            T.PutChar(static_cast<char>(c));
            if (!Current())
                return i;
            continue;
        }
        switch (P.EscapeCodesVT102::ProcessChar(Text[i++])) {
        case TEscapeResult::erNothing:
            i += P.TakeParameterBytes(Text + i, Count - i);
            continue;
        case TEscapeResult::erChar:
            T.PutChar(P.Character);
            break;
        case TEscapeResult::erCode:
            if (!Perform(P.Code, &P.Params))
                T.DoUnhandledCode(P.Code, P.Data);
            if (TEscapeCodes* now = T.FEscapeCodes.get())
                now->Params.Clear();
            break;
        }
        if (!Current())
            return i;
    }
    return i;
}

qsizetype VT102Emulation::TakeCsi(const char* Text, qsizetype Count)
{
    // Longer ones are rare: the parser takes them, with its bound.
    const qsizetype limit = std::min<qsizetype>(Count, 64);
    qsizetype i = 2;
    char marker = 0;
    if (i < limit && Text[i] == '?')
        marker = Text[i++];
    const qsizetype start = i;
    Args a;
    int v = -1;
    for (; i < limit; ++i) {
        const auto c = static_cast<uint8_t>(Text[i]);
        if (const unsigned digit = c - '0'; digit < 10) {
            // Held at 9999: v is never above it, so the product cannot overflow.
            v = std::min(std::max(v, 0) * 10 + static_cast<int>(digit), 9999);
        } else if (c == ';') {
            if (a.Count == MaxArgs)
                return 0;
            a.V[a.Count++] = v;
            v = -1;
        } else if (c >= 0x40 && c <= 0x7E) {
            if (i > start) {
                if (a.Count == MaxArgs)
                    return 0;
                a.V[a.Count++] = v;
            }
            // The two sequences that full-screen programs send most, straight to their work.
            if (marker == 0 && c == 'm') {
                SetAttributes(a);
                return i + 1;
            }
            if (marker == 0 && (c == 'H' || c == 'f')) {
                const int top = FVT.OriginMode ? FVT.Top : 1;
                const int bottom = FVT.OriginMode ? FVT.Bottom : T.FRows;
                T.MoveCaret(a.N(2), std::clamp(top - 1 + a.N(1), top, bottom));
                return i + 1;
            }
            const TEscapeCode code = EscapeCodesVT102::CsiCode(marker, c, a(1, 0), a.Count);
            if (code == TEscapeCode::ecUnknown)
                return 0;
            if (!Act(code, a)) {
                P.Data = QByteArray(Text + 1, i);
                T.DoUnhandledCode(code, P.Data);
            }
            return i + 1;
        } else {
            return 0;
        }
    }
    return 0;
}

void VT102Emulation::PutChar(char Ch)
{
    const auto c = static_cast<uint8_t>(Ch);
    if (c >= 0x20 && c != 0x7F) {
        PrintByte(c);
        return;
    }
    BreakCharacter();
    Control(c);
}

void VT102Emulation::Control(uint8_t Ch)
{
    const int x = T.FCaretPos.x();
    const int y = T.FCaretPos.y();
    switch (Ch) {
    case 8:
        T.MoveCaret(x - 1, y);
        break;
    case 9: {
        const int t = T.FBuffer.NextTab(x + 1);
        T.MoveCaret(t > 0 ? t : T.FColumns, y);
        break;
    }
    case 10:
    case 11:
    case 12:
        Index();
        if (FVT.NewLineMode)
            T.MoveCaret(1, T.FCaretPos.y());
        break;
    case 13:
        T.MoveCaret(1, y);
        break;
    case 14:
        FVT.Shift = 1;
        break;
    case 15:
        FVT.Shift = 0;
        break;
    default:
        break;
    }
}

// ---- printing

void VT102Emulation::PrintByte(uint8_t Ch)
{
    if (Ch < 0x80) {
        BreakCharacter();
        Print(Ch);
        return;
    }
    if (!T.FUtf8) {
        // The C1 range shows nothing on a 7-bit terminal; the upper half is Latin-1.
        if (Ch >= 0xA0)
            Print(Ch);
        return;
    }
    char32_t c = 0;
    switch (FDecoder.Feed(Ch, c)) {
    case Utf8Decoder::Result::More:
        return;
    case Utf8Decoder::Result::Done:
        // Decoded C1 controls show nothing either.
        if (c >= 0xA0)
            Print(c);
        return;
    case Utf8Decoder::Result::Invalid:
        Print(Replacement);
        return;
    case Utf8Decoder::Result::InvalidBefore:
        Print(Replacement);
        PrintByte(Ch);
        return;
    }
}

void VT102Emulation::Print(char32_t Ch)
{
    FLast = Ch;
    TTermChar cell = FPen;
    int width = 1;
    if (Ch < 0x80) {
        const char set = FVT.Charsets[FVT.Shift];
        if (set == '0' && Ch >= 0x5F && Ch <= 0x7E)
            cell.Graphic = true;
        else if (set == 'A' && Ch == '#')
            Ch = 0xA3;   // the pound sign
        cell.Ch = static_cast<uint8_t>(Ch);
    } else if (T.FUtf8) {
        width = CharWidth(Ch);
        if (width == 0)
            return;
        cell.Unicode = Ch;
        cell.Ch = Ch <= 0xFF ? static_cast<uint8_t>(Ch) : '?';
    } else {
        cell.Ch = static_cast<uint8_t>(Ch);
    }
    if (T.FWrapPending && T.FWrapLines) {
        T.MoveCaret(1, T.FCaretPos.y());
        Index();
    }
    if (width == 2 && T.FCaretPos.x() == T.FColumns) {
        // No room for both halves: on the next row when lines wrap, else in the last two.
        if (T.FWrapLines) {
            T.FBuffer.SetChar(T.FColumns, T.FCaretPos.y(), Blank());
            T.MoveCaret(1, T.FCaretPos.y());
            Index();
        } else {
            T.FCaretPos.rx() = T.FColumns - 1;
        }
    }
    const int x = T.FCaretPos.x();
    const int y = T.FCaretPos.y();
    if (FVT.InsertMode)
        T.FBuffer.InsertCells(x, y, width, Blank());
    if (T.FBuffer.Contains(x, y))
        SplitWide(x, x + width - 1);
    if (width == 2) {
        cell.Part = CellPart::WideLeft;
        T.FBuffer.SetChar(x, y, cell);
        TTermChar tail = cell;
        tail.Ch = 0;
        tail.Unicode = 0;
        tail.Part = CellPart::WideRight;
        T.FBuffer.SetChar(x + 1, y, tail);
    } else {
        T.FBuffer.SetChar(x, y, cell);
    }
    if (x + width <= T.FColumns) {
        T.FCaretPos.rx() = x + width;
        T.FWrapPending = false;
    } else {
        T.FCaretPos.rx() = T.FColumns;
        T.FWrapPending = T.FWrapLines;
    }
    T.CaretMoved();
}

void VT102Emulation::PrintAscii(const char* Text, qsizetype Count)
{
    if (FVT.InsertMode || FVT.Charsets[FVT.Shift] != 'B' || FDecoder.Pending()) {
        for (qsizetype i = 0; i < Count; ++i)
            PrintByte(static_cast<uint8_t>(Text[i]));
        return;
    }
    // Plain ASCII over existing cells: a row's stretch at a time, as Print for each byte.
    FLast = static_cast<uint8_t>(Text[Count - 1]);
    const int columns = T.FColumns;
    qsizetype done = 0;
    while (done < Count) {
        if (T.FWrapPending && T.FWrapLines) {
            T.FCaretPos.rx() = 1;
            Index();
        }
        const int x = T.FCaretPos.x();
        const qsizetype room = columns - x + 1;
        const qsizetype n = std::min(room, Count - done);
        SplitWide(x, x + static_cast<int>(n) - 1);
        done += T.WriteRowStretch(Text + done, n, FPen);
        T.FWrapPending = n == room && T.FWrapLines;
    }
    T.CaretMoved();
}

void VT102Emulation::Index()
{
    const int y = T.FCaretPos.y();
    if (y == FVT.Bottom)
        T.FBuffer.ScrollRegionUp(FVT.Top, FVT.Bottom, 1, Blank(), true);
    else if (y < T.FRows)
        T.MoveCaret(T.FCaretPos.x(), y + 1);
    T.FWrapPending = false;
}

void VT102Emulation::ReverseIndex()
{
    const int y = T.FCaretPos.y();
    if (y == FVT.Top)
        T.FBuffer.ScrollRegionDown(FVT.Top, FVT.Bottom, 1, Blank());
    else if (y > 1)
        T.MoveCaret(T.FCaretPos.x(), y - 1);
    T.FWrapPending = false;
}

void VT102Emulation::Erase(int FromX, int FromY, int ToX, int ToY)
{
    const TTermChar blank = Blank();
    for (int y = FromY; y <= ToY; ++y)
        T.FBuffer.FillCells(y == FromY ? FromX : 1, y == ToY ? ToX : T.FColumns, y, blank);
}

// ---- codes

bool VT102Emulation::Perform(TEscapeCode Code, EscapeParams* Params)
{
    Args a;
    if (Params) {
        a.Count = std::min(Params->Count(), MaxArgs);
        for (int n = 1; n <= a.Count; ++n)
            a.V[n - 1] = EscapeCodesVT102::Number(*Params, n, -1);
    }
    // The character sets' designations carry the set as their text.
    if (Code == TEscapeCode::ecDesignateG0 || Code == TEscapeCode::ecDesignateG1) {
        FVT.Charsets[Code == TEscapeCode::ecDesignateG0 ? 0 : 1] =
            Params && Params->Count() > 0 && !Params->Text(0).empty() ? Params->Text(0)[0] : 'B';
        return true;
    }
    return Act(Code, a);
}

void VT102Emulation::SaveCursor()
{
    FSaved = FVT;
    FSavedCaret = T.FCaretPos;
    FSavedWrap = T.FWrapPending;
    FHasSaved = true;
}

void VT102Emulation::RestoreCursor()
{
    // Before any save: home with the default pen. The region and the modes other than
    // origin mode are not part of what is saved.
    const State saved = FHasSaved ? FSaved : State();
    const QPoint caret = FHasSaved ? FSavedCaret : QPoint(1, 1);
    FVT.OriginMode = saved.OriginMode;
    std::copy(std::begin(saved.Charsets), std::end(saved.Charsets), std::begin(FVT.Charsets));
    FVT.Shift = saved.Shift;
    FVT.Fore = saved.Fore;
    FVT.Back = saved.Back;
    FVT.Bold = saved.Bold;
    FVT.Underline = saved.Underline;
    FVT.Blink = saved.Blink;
    FVT.Inverse = saved.Inverse;
    UpdatePen();
    T.MoveCaret(caret.x(), caret.y());
    T.FWrapPending = FHasSaved && FSavedWrap && T.FWrapLines && caret.x() == T.FColumns;
}

bool VT102Emulation::Act(TEscapeCode Code, const Args& A)
{
    const int x = T.FCaretPos.x();
    const int y = T.FCaretPos.y();
    // Where cursor addresses count from, and where steps stop: at the region's edge from
    // inside it, at the screen's from outside.
    const auto top = [this] { return FVT.OriginMode ? FVT.Top : 1; };
    const auto bottom = [this] { return FVT.OriginMode ? FVT.Bottom : T.FRows; };
    const auto upStop = [this, y] { return y >= FVT.Top ? FVT.Top : 1; };
    const auto downStop = [this, y] { return y <= FVT.Bottom ? FVT.Bottom : T.FRows; };
    switch (Code) {
    case TEscapeCode::ecIndex:
        Index();
        break;
    case TEscapeCode::ecNextLine:
        T.MoveCaret(1, y);
        Index();
        break;
    case TEscapeCode::ecReverseLineFeed:
        ReverseIndex();
        break;
    case TEscapeCode::ecEraseLineFrom:
        Erase(x, y, T.FColumns, y);
        break;
    case TEscapeCode::ecEraseLineTo:
        Erase(1, y, x, y);
        break;
    case TEscapeCode::ecEraseLine:
        Erase(1, y, T.FColumns, y);
        break;
    case TEscapeCode::ecEraseScreenFrom:
        Erase(x, y, T.FColumns, T.FRows);
        break;
    case TEscapeCode::ecEraseScreenTo:
        Erase(1, 1, x, y);
        break;
    case TEscapeCode::ecEraseScreen:
        Erase(1, 1, T.FColumns, T.FRows);
        break;
    case TEscapeCode::ecInsertLines:
    case TEscapeCode::ecDeleteLines:
        // Only inside the scrolling region; the caret goes to the first column.
        if (y >= FVT.Top && y <= FVT.Bottom) {
            if (Code == TEscapeCode::ecInsertLines)
                T.FBuffer.ScrollRegionDown(y, FVT.Bottom, A.N(1), Blank());
            else
                T.FBuffer.ScrollRegionUp(y, FVT.Bottom, A.N(1), Blank());
            T.MoveCaret(1, y);
        }
        break;
    case TEscapeCode::ecScrollUp:
        T.FBuffer.ScrollRegionUp(FVT.Top, FVT.Bottom, A.N(1), Blank(), true);
        break;
    case TEscapeCode::ecScrollDown:
        T.FBuffer.ScrollRegionDown(FVT.Top, FVT.Bottom, A.N(1), Blank());
        break;
    case TEscapeCode::ecInsertChars:
        T.FBuffer.InsertCells(x, y, A.N(1), Blank());
        T.FWrapPending = false;
        break;
    case TEscapeCode::ecDeleteChars:
        T.FBuffer.DeleteCells(x, y, A.N(1), Blank());
        T.FWrapPending = false;
        break;
    case TEscapeCode::ecEraseChars:
        Erase(x, y, std::min(T.FColumns, x + A.N(1) - 1), y);
        T.FWrapPending = false;
        break;
    case TEscapeCode::ecCursorColumn:
        T.MoveCaret(A.N(1), y);
        break;
    case TEscapeCode::ecCursorRow:
        T.MoveCaret(x, std::clamp(top() - 1 + A.N(1), top(), bottom()));
        break;
    case TEscapeCode::ecNextLineDown:
        T.MoveCaret(1, std::min(y + A.N(1), downStop()));
        break;
    case TEscapeCode::ecPrevLineUp:
        T.MoveCaret(1, std::max(y - A.N(1), upStop()));
        break;
    case TEscapeCode::ecForwardTab: {
        int to = x;
        for (int n = std::min(A.N(1), T.FColumns); n > 0 && to < T.FColumns; --n) {
            const int t = T.FBuffer.NextTab(to + 1);
            to = t > 0 ? t : T.FColumns;
        }
        T.MoveCaret(to, y);
        break;
    }
    case TEscapeCode::ecBackTab: {
        int to = x;
        for (int n = std::min(A.N(1), T.FColumns); n > 0 && to > 1; --n) {
            --to;
            while (to > 1 && !T.FBuffer.GetTab(to))
                --to;
        }
        T.MoveCaret(to, y);
        break;
    }
    case TEscapeCode::ecRepeatChar:
        if (FLast != 0) {
            // No more than the screen holds: the rest would only scroll it round.
            const int n = std::min(A.N(1), T.FColumns * T.FRows);
            const char32_t c = FLast;
            for (int i = 0; i < n; ++i)
                Print(c);
        }
        break;
    case TEscapeCode::ecSetScrollRegion: {
        const int t = A.N(1);
        const int b = std::min(A(2, 0) == 0 ? T.FRows : A(2, 0), T.FRows);
        if (t < b) {
            FVT.Top = t;
            FVT.Bottom = b;
            T.MoveCaret(1, FVT.OriginMode ? t : 1);
        }
        break;
    }
    case TEscapeCode::ecIdentify:
        T.SendCodeNoEcho(TEscapeCode::ecIdentResponse, nullptr);
        break;
    case TEscapeCode::ecQueryCursorPos: {
        EscapeParams reply;
        reply.Add(std::to_string(y - top() + 1));
        reply.Add(std::to_string(x));
        T.SendCodeNoEcho(TEscapeCode::ecReportCursorPos, &reply);
        break;
    }
    case TEscapeCode::ecAttributes:
        SetAttributes(A);
        break;
    case TEscapeCode::ecSetMode:
    case TEscapeCode::ecResetMode:
        SetModes(A, false, Code == TEscapeCode::ecSetMode);
        break;
    case TEscapeCode::ecSetPrivateMode:
    case TEscapeCode::ecResetPrivateMode:
        SetModes(A, true, Code == TEscapeCode::ecSetPrivateMode);
        break;
    case TEscapeCode::ecReset:
        FVT = State();
        FVT.Bottom = T.FRows;
        FHasSaved = false;
        FDecoder.Reset();
        FLast = 0;
        UpdatePen();
        ResetModes();
        T.FAppCursorKeys = false;
        T.FBuffer.SetAlternate(false);
        T.FBuffer.Init(T.FColumns, T.FRows);
        T.MoveCaret(1, 1);
        break;
    case TEscapeCode::ecSaveCaretAndAttr:
    case TEscapeCode::ecSaveCaret:
        SaveCursor();
        break;
    case TEscapeCode::ecRestoreCaretAndAttr:
    case TEscapeCode::ecRestoreCaret:
        RestoreCursor();
        break;
    case TEscapeCode::ecTest:
        T.FBuffer.Fill(TTermChar{'E', T.FFontColor, T.FColor, false, false, false});
        FVT.Top = 1;
        FVT.Bottom = T.FRows;
        T.MoveCaret(1, 1);
        break;
    case TEscapeCode::ecAppKeypad:
    case TEscapeCode::ecNumericKeypad:
        T.FAppKeypad = Code == TEscapeCode::ecAppKeypad;
        break;
    case TEscapeCode::ecLineSize:
        // Lines keep their single size.
        break;
    default: {
        const auto read = [](int Num, const void* List) { return static_cast<const Args*>(List)->N(Num); };
        return T.PerformCommon(Code, &A, read, ComTermCore::CaretLimits{top(), bottom(), upStop(), downStop()});
    }
    }
    return true;
}

void VT102Emulation::UpdatePen()
{
    const bool bright = FVT.Bold || FVT.Blink;
    if (bright && FFontColor != T.FFontColor) {
        FFontColor = T.FFontColor;
        FBrightFontColor = Brighten(FFontColor);
    }
    TColor fore = FVT.Fore < 0 ? (bright ? FBrightFontColor : T.FFontColor)
                               : Color(FVT.Fore < 8 && bright ? FVT.Fore + 8 : FVT.Fore);
    TColor back = FVT.Back < 0 ? T.FColor : Color(FVT.Back);
    if (FVT.Inverse)
        std::swap(fore, back);
    // The pen's other fields are those of an empty cell; made whole, its styles are stored
    // at once instead of bit by bit.
    FPen = TTermChar{.FrontColor = fore, .BackColor = back, .Underline = FVT.Underline, .Bold = bright};
    T.FTermAttr = TTermAttributes{fore, back, FVT.Inverse, FVT.Bold, FVT.Underline};
}

void VT102Emulation::SetAttributes(const Args& A)
{
    const int count = std::max(1, A.Count);
    for (int n = 1; n <= count; ++n) {
        const int p = A(n, 0);
        // The commonest first, by branches the processor foresees better than a table's jump.
        if (p == 0) {
            ClearPen();
            continue;
        }
        if (p == 1) {
            FVT.Bold = true;
            continue;
        }
        if (p >= 30 && p <= 37) {
            FVT.Fore = p - 30;
            continue;
        }
        if (p >= 40 && p <= 47) {
            FVT.Back = p - 40;
            continue;
        }
        if (p == 7) {
            FVT.Inverse = true;
            continue;
        }
        if (p == 4) {
            FVT.Underline = true;
            continue;
        }
        switch (p) {
        case 21: FVT.Underline = true; break;
        case 5: FVT.Blink = true; break;
        case 22: FVT.Bold = false; break;
        case 24: FVT.Underline = false; break;
        case 25: FVT.Blink = false; break;
        case 27: FVT.Inverse = false; break;
        case 39: FVT.Fore = -1; break;
        case 49: FVT.Back = -1; break;
        case 38:
        case 48: {
            // An indexed colour (5;n) or a direct one (2;r;g;b).
            int32_t& pen = p == 38 ? FVT.Fore : FVT.Back;
            const int kind = A(n + 1, 0);
            if (kind == 5) {
                const int index = A(n + 2, 0);
                if (index <= 255)
                    pen = index;
                n += 2;
            } else if (kind == 2) {
                pen = Direct | Rgb(std::min(A(n + 2, 0), 255), std::min(A(n + 3, 0), 255), std::min(A(n + 4, 0), 255));
                n += 4;
            }
            break;
        }
        default:
            if (p >= 90 && p <= 97)
                FVT.Fore = p - 90 + 8;
            else if (p >= 100 && p <= 107)
                FVT.Back = p - 100 + 8;
            break;
        }
    }
    UpdatePen();
}

void VT102Emulation::SetModes(const Args& A, bool Private, bool Value)
{
    for (int n = 1; n <= A.Count; ++n) {
        const int mode = A(n, -1);
        if (!Private) {
            if (mode == 4)
                FVT.InsertMode = Value;
            else if (mode == 20)
                FVT.NewLineMode = Value;
            continue;
        }
        switch (mode) {
        case 1:
            T.FAppCursorKeys = Value;
            break;
        case 3:
            // A new width clears the screen, as does setting the width it already has.
            FVT.Top = 1;
            FVT.Bottom = T.FRows;
            if (T.FColumns != (Value ? 132 : 80))
                T.SetColumns(Value ? 132 : 80);
            else
                Erase(1, 1, T.FColumns, T.FRows);
            T.MoveCaret(1, 1);
            break;
        case 6:
            FVT.OriginMode = Value;
            T.MoveCaret(1, Value ? FVT.Top : 1);
            break;
        case 7:
            T.FWrapLines = Value;
            if (!Value)
                T.FWrapPending = false;
            break;
        case 25:
            T.FCaretVisible = Value;
            break;
        case 47:
            T.FBuffer.SetAlternate(Value);
            break;
        case 1047:
            // Leaving clears the alternate screen for the next program.
            if (!Value && T.FBuffer.Alternate())
                Erase(1, 1, T.FColumns, T.FRows);
            T.FBuffer.SetAlternate(Value);
            break;
        case 1049:
            if (Value) {
                SaveCursor();
                T.FBuffer.SetAlternate(true);
                Erase(1, 1, T.FColumns, T.FRows);
            } else {
                T.FBuffer.SetAlternate(false);
                RestoreCursor();
            }
            break;
        case 2004:
            T.FBracketedPaste = Value;
            break;
        default:
            break;
        }
    }
}

} // namespace zentrop
