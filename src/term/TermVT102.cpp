// The VT102 emulation: deferred wrap, the scrolling region and origin mode, insert and
// delete of lines and characters, character sets, modes, the pen with ANSI colours, save and
// restore of the cursor, and the VT102's replies.
#include "EscapeCodesVT102.h"
#include "TermShared.h"
#include "term/TermCore.h"

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

constexpr char SO = 14;
constexpr char SI = 15;

// A count: missing or 0 is 1.
int CountParam(int Num, const EscapeParams* Params)
{
    return std::max(1, EscapeCodesVT102::Number(*Params, Num, 1));
}

} // namespace

TColor VT102PaletteColor(int Index)
{
    return Palette[static_cast<size_t>(Index & 15)];
}

TColor VT102BoldColor(TColor Normal)
{
    return Brighten(Normal);
}

void ComTermCore::ResetVT102()
{
    FVT = VT102State();
    FVT.Bottom = FRows;
    FVTHasSaved = false;
    UpdatePen();
}

void ComTermCore::ClearPenVT102()
{
    FVT.Fore = FVT.Back = -1;
    FVT.Bold = FVT.Underline = FVT.Blink = FVT.Inverse = false;
}

void ComTermCore::UpdatePen()
{
    const bool bright = FVT.Bold || FVT.Blink;
    TColor fore = FVT.Fore < 0 ? (bright ? Brighten(FFontColor) : FFontColor)
                               : Palette[static_cast<size_t>(FVT.Fore < 8 && bright ? FVT.Fore + 8 : FVT.Fore)];
    TColor back = FVT.Back < 0 ? FColor : Palette[static_cast<size_t>(FVT.Back)];
    if (FVT.Inverse)
        std::swap(fore, back);
    FPen = TTermChar{0, fore, back, FVT.Underline, bright, false};
    FTermAttr = TTermAttributes{fore, back, FVT.Inverse, FVT.Bold, FVT.Underline};
}

TTermChar ComTermCore::BlankVT102() const
{
    // Erased cells take the background colour, not the other attributes.
    if (FVT.Back < 0)
        return TTermChar();
    const TColor back = Palette[static_cast<size_t>(FVT.Back)];
    return TTermChar{' ', FFontColor, back, false, false, false};
}

void ComTermCore::PutCharVT102(char Ch)
{
    const auto c = static_cast<uint8_t>(Ch);
    if (c >= 32) {
        PrintVT102(c);
        return;
    }
    switch (Ch) {
    case 8:
        MoveCaret(FCaretPos.x() - 1, FCaretPos.y());
        break;
    case 9: {
        const int t = FBuffer.NextTab(FCaretPos.x() + 1);
        MoveCaret(t > 0 ? t : FColumns, FCaretPos.y());
        break;
    }
    case 10:
    case 11:
    case 12:
        IndexVT102();
        if (FVT.NewLineMode)
            MoveCaret(1, FCaretPos.y());
        break;
    case 13:
        MoveCaret(1, FCaretPos.y());
        break;
    case SO:
        FVT.Shift = 1;
        break;
    case SI:
        FVT.Shift = 0;
        break;
    default:
        break;
    }
}

void ComTermCore::PrintVT102(uint8_t Ch)
{
    // DEL and the C1 range show nothing on a 7-bit terminal; the upper half is Latin-1.
    if (Ch == 127 || (Ch >= 0x80 && Ch < 0xA0))
        return;
    if (FVT.WrapPending && FWrapLines) {
        MoveCaret(1, FCaretPos.y());
        IndexVT102();
    }
    TTermChar cell = FPen;
    const char set = FVT.Charsets[FVT.Shift];
    if (set == '0' && Ch >= 0x5F && Ch <= 0x7E)
        cell.Graphic = true;
    else if (set == 'A' && Ch == '#')
        Ch = 0xA3;   // the pound sign
    cell.Ch = Ch;
    const int x = FCaretPos.x();
    const int y = FCaretPos.y();
    if (FVT.InsertMode)
        FBuffer.InsertCells(x, y, 1, BlankVT102());
    FBuffer.SetChar(x, y, cell);
    if (x < FColumns) {
        FCaretPos.rx() = x + 1;
        FVT.WrapPending = false;
    } else {
        FVT.WrapPending = FWrapLines;
    }
    CaretMoved();
}

qsizetype ComTermCore::PutTextVT102(const char* Text, qsizetype Count)
{
    if (FVT.InsertMode || FVT.Charsets[FVT.Shift] != 'B') {
        for (qsizetype i = 0; i < Count; ++i)
            PrintVT102(static_cast<uint8_t>(Text[i]));
        return Count;
    }
    // Plain ASCII over existing cells: a row's stretch at a time, as PrintVT102 for each byte.
    const auto shown = [](char c) {
        const auto u = static_cast<uint8_t>(c);
        return u != 127 && (u < 0x80 || u >= 0xA0);
    };
    qsizetype done = 0;
    while (done < Count) {
        if (!shown(Text[done])) {
            ++done;
            continue;
        }
        if (FVT.WrapPending && FWrapLines) {
            FCaretPos.rx() = 1;
            IndexVT102();
        }
        const qsizetype room = FColumns - FCaretPos.x() + 1;
        qsizetype n = 0;
        while (n < room && done + n < Count && shown(Text[done + n]))
            ++n;
        done += WriteRowStretch(Text + done, n, FPen);
        FVT.WrapPending = n == room && FWrapLines;
    }
    CaretMoved();
    return Count;
}

void ComTermCore::IndexVT102()
{
    const int y = FCaretPos.y();
    if (y == FVT.Bottom)
        FBuffer.ScrollRegionUp(FVT.Top, FVT.Bottom, 1, BlankVT102());
    else if (y < FRows)
        MoveCaret(FCaretPos.x(), y + 1);
    FVT.WrapPending = false;
}

void ComTermCore::ReverseIndexVT102()
{
    const int y = FCaretPos.y();
    if (y == FVT.Top)
        FBuffer.ScrollRegionDown(FVT.Top, FVT.Bottom, 1, BlankVT102());
    else if (y > 1)
        MoveCaret(FCaretPos.x(), y - 1);
    FVT.WrapPending = false;
}

void ComTermCore::EraseVT102(int FromX, int FromY, int ToX, int ToY)
{
    const TTermChar blank = BlankVT102();
    for (int y = FromY; y <= ToY; ++y)
        FBuffer.FillCells(y == FromY ? FromX : 1, y == ToY ? ToX : FColumns, y, blank);
}

bool ComTermCore::PerformVT102(TEscapeCode Code, EscapeParams* Params)
{
    static const EscapeParams none;
    const EscapeParams& params = Params ? *Params : none;
    const auto N = [&params](int n, int Default) { return EscapeCodesVT102::Number(params, n, Default); };
    const auto Count = [&params](int n) { return CountParam(n, &params); };
    const int x = FCaretPos.x();
    const int y = FCaretPos.y();
    const int top = FVT.OriginMode ? FVT.Top : 1;
    const int bottom = FVT.OriginMode ? FVT.Bottom : FRows;
    switch (Code) {
    case TEscapeCode::ecIndex:
        IndexVT102();
        break;
    case TEscapeCode::ecNextLine:
        MoveCaret(1, y);
        IndexVT102();
        break;
    case TEscapeCode::ecReverseLineFeed:
        ReverseIndexVT102();
        break;
    case TEscapeCode::ecEraseLineFrom:
        EraseVT102(x, y, FColumns, y);
        break;
    case TEscapeCode::ecEraseLineTo:
        EraseVT102(1, y, x, y);
        break;
    case TEscapeCode::ecEraseLine:
        EraseVT102(1, y, FColumns, y);
        break;
    case TEscapeCode::ecEraseScreenFrom:
        EraseVT102(x, y, FColumns, FRows);
        break;
    case TEscapeCode::ecEraseScreenTo:
        EraseVT102(1, 1, x, y);
        break;
    case TEscapeCode::ecEraseScreen:
        EraseVT102(1, 1, FColumns, FRows);
        break;
    case TEscapeCode::ecInsertLines:
    case TEscapeCode::ecDeleteLines:
        // Only inside the scrolling region; the caret goes to the first column.
        if (y >= FVT.Top && y <= FVT.Bottom) {
            if (Code == TEscapeCode::ecInsertLines)
                FBuffer.ScrollRegionDown(y, FVT.Bottom, Count(1), BlankVT102());
            else
                FBuffer.ScrollRegionUp(y, FVT.Bottom, Count(1), BlankVT102());
            MoveCaret(1, y);
        }
        break;
    case TEscapeCode::ecInsertChars:
        FBuffer.InsertCells(x, y, Count(1), BlankVT102());
        FVT.WrapPending = false;
        break;
    case TEscapeCode::ecDeleteChars:
        FBuffer.DeleteCells(x, y, Count(1), BlankVT102());
        FVT.WrapPending = false;
        break;
    case TEscapeCode::ecEraseChars:
        EraseVT102(x, y, std::min(FColumns, x + Count(1) - 1), y);
        FVT.WrapPending = false;
        break;
    case TEscapeCode::ecSetScrollRegion: {
        const int t = Count(1);
        const int b = std::min(N(2, 0) == 0 ? FRows : N(2, 0), FRows);
        if (t < b) {
            FVT.Top = t;
            FVT.Bottom = b;
            MoveCaret(1, FVT.OriginMode ? t : 1);
        }
        break;
    }
    case TEscapeCode::ecIdentify:
        SendCodeNoEcho(TEscapeCode::ecIdentResponse, nullptr);
        break;
    case TEscapeCode::ecQueryCursorPos: {
        EscapeParams reply;
        reply.Add(std::to_string(y - top + 1));
        reply.Add(std::to_string(x));
        SendCodeNoEcho(TEscapeCode::ecReportCursorPos, &reply);
        break;
    }
    case TEscapeCode::ecAttributes:
        SetAttributesVT102(params);
        break;
    case TEscapeCode::ecSetMode:
    case TEscapeCode::ecResetMode:
        SetModesVT102(params, false, Code == TEscapeCode::ecSetMode);
        break;
    case TEscapeCode::ecSetPrivateMode:
    case TEscapeCode::ecResetPrivateMode:
        SetModesVT102(params, true, Code == TEscapeCode::ecSetPrivateMode);
        break;
    case TEscapeCode::ecReset:
        ResetVT102();
        FAppCursorKeys = false;
        FBuffer.Init(FColumns, FRows);
        MoveCaret(1, 1);
        break;
    case TEscapeCode::ecSaveCaretAndAttr:
    case TEscapeCode::ecSaveCaret:
        FVTSaved = FVT;
        FVTSavedCaret = FCaretPos;
        FVTHasSaved = true;
        break;
    case TEscapeCode::ecRestoreCaretAndAttr:
    case TEscapeCode::ecRestoreCaret: {
        // Before any save: home with the default pen. The region and the modes other than
        // origin mode are not part of what is saved.
        const VT102State saved = FVTHasSaved ? FVTSaved : VT102State();
        const QPoint caret = FVTHasSaved ? FVTSavedCaret : QPoint(1, 1);
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
        MoveCaret(caret.x(), caret.y());
        FVT.WrapPending = saved.WrapPending && FWrapLines && caret.x() == FColumns;
        break;
    }
    case TEscapeCode::ecTest:
        FBuffer.Fill(TTermChar{'E', FFontColor, FColor, false, false, false});
        FVT.Top = 1;
        FVT.Bottom = FRows;
        MoveCaret(1, 1);
        break;
    case TEscapeCode::ecDesignateG0:
    case TEscapeCode::ecDesignateG1:
        FVT.Charsets[Code == TEscapeCode::ecDesignateG0 ? 0 : 1] = params.Count() > 0 && !params[0].empty() ? params[0][0] : 'B';
        break;
    case TEscapeCode::ecAppKeypad:
    case TEscapeCode::ecNumericKeypad:
    case TEscapeCode::ecLineSize:
        // The keypad sends what its keys show either way; lines keep their single size.
        break;
    default:
        // Positions count in the region under origin mode; steps stop at the region's edge
        // from inside it, at the screen's from outside.
        return PerformCommon(Code, &params, CountParam,
                             CaretLimits{top, bottom, y >= FVT.Top ? FVT.Top : 1, y <= FVT.Bottom ? FVT.Bottom : FRows});
    }
    return true;
}

void ComTermCore::SetAttributesVT102(const EscapeParams& Params)
{
    const int count = std::max(1, Params.Count());
    for (int n = 1; n <= count; ++n) {
        const int p = EscapeCodesVT102::Number(Params, n, 0);
        switch (p) {
        case 0: ClearPenVT102(); break;
        case 1: FVT.Bold = true; break;
        case 4:
        case 21: FVT.Underline = true; break;
        case 5: FVT.Blink = true; break;
        case 7: FVT.Inverse = true; break;
        case 22: FVT.Bold = false; break;
        case 24: FVT.Underline = false; break;
        case 25: FVT.Blink = false; break;
        case 27: FVT.Inverse = false; break;
        case 39: FVT.Fore = -1; break;
        case 49: FVT.Back = -1; break;
        case 38:
        case 48: {
            // An indexed colour (5;n) or a direct one (2;r;g;b): the first sixteen indices are
            // the ANSI colours; the others, and direct colours, are skipped with their
            // arguments.
            const int kind = EscapeCodesVT102::Number(Params, n + 1, 0);
            if (kind == 5) {
                const int index = EscapeCodesVT102::Number(Params, n + 2, 0);
                if (index < 16)
                    (p == 38 ? FVT.Fore : FVT.Back) = index;
                n += 2;
            } else if (kind == 2) {
                n += 4;
            }
            break;
        }
        default:
            if (p >= 30 && p <= 37)
                FVT.Fore = p - 30;
            else if (p >= 40 && p <= 47)
                FVT.Back = p - 40;
            else if (p >= 90 && p <= 97)
                FVT.Fore = p - 90 + 8;
            else if (p >= 100 && p <= 107)
                FVT.Back = p - 100 + 8;
            break;
        }
    }
    UpdatePen();
}

void ComTermCore::SetModesVT102(const EscapeParams& Params, bool Private, bool Value)
{
    for (int n = 1; n <= Params.Count(); ++n) {
        const int mode = EscapeCodesVT102::Number(Params, n, -1);
        if (!Private) {
            if (mode == 4)
                FVT.InsertMode = Value;
            else if (mode == 20)
                FVT.NewLineMode = Value;
            continue;
        }
        switch (mode) {
        case 1:
            FAppCursorKeys = Value;
            break;
        case 3:
            // A new width clears the screen, as does setting the width it already has.
            FVT.Top = 1;
            FVT.Bottom = FRows;
            if (FColumns != (Value ? 132 : 80))
                SetColumns(Value ? 132 : 80);
            else
                EraseVT102(1, 1, FColumns, FRows);
            MoveCaret(1, 1);
            break;
        case 6:
            FVT.OriginMode = Value;
            MoveCaret(1, Value ? FVT.Top : 1);
            break;
        case 7:
            FWrapLines = Value;
            if (!Value)
                FVT.WrapPending = false;
            break;
        default:
            break;
        }
    }
}

} // namespace zentrop
