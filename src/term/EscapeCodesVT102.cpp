// The VT102 parser's byte grammar and its table of sequences.
#include "EscapeCodesVT102.h"

#include <algorithm>

namespace zentrop {

namespace {

constexpr uint8_t ESC = 27;
constexpr uint8_t CAN = 24;
constexpr uint8_t SUB = 26;
constexpr uint8_t BEL = 7;
constexpr uint8_t DEL = 127;

// Byte classes of ECMA-48.
bool IsIntermediate(uint8_t c) { return c >= 0x20 && c <= 0x2F; }
bool IsParameter(uint8_t c) { return c >= 0x30 && c <= 0x3F; }
bool IsFinal(uint8_t c) { return c >= 0x40 && c <= 0x7E; }
bool IsMarker(uint8_t c) { return c >= 0x3C && c <= 0x3F; }

} // namespace

int EscapeCodesVT102::Number(const EscapeParams& Params, int Num, int Default)
{
    if (Num < 1 || Num > Params.Count())
        return Default;
    const std::string_view text = Params.Text(Num - 1);
    int value = 0;
    size_t i = 0;
    for (; i < text.size() && text[i] >= '0' && text[i] <= '9'; ++i)
        value = value < 9999 ? value * 10 + (text[i] - '0') : 9999;
    if (i == 0)
        return Default;
    return value > 9999 ? 9999 : value;
}

TEscapeResult EscapeCodesVT102::ProcessChar(char Ch)
{
    const auto c = static_cast<uint8_t>(Ch);
    if (!FInSequence) {
        if (c == ESC)
            return Begin();
        Character = Ch;
        return TEscapeResult::erChar;
    }
    return Sequence(c);
}

TEscapeResult EscapeCodesVT102::Done(TEscapeCode Result)
{
    Data.resize(FLength);
    std::copy(FBytes, FBytes + FLength, Data.data());
    return Finish(Result);
}

TEscapeResult EscapeCodesVT102::Begin()
{
    FLength = 0;
    FInSequence = true;
    FOverlong = false;
    FState = State::Escape;
    FMarker = 0;
    FIntermediate = 0;
    return TEscapeResult::erNothing;
}

TEscapeResult EscapeCodesVT102::Sequence(uint8_t c)
{
    if (c == CAN || c == SUB) {
        // The sequence is dropped without a trace.
        FInSequence = false;
        return TEscapeResult::erNothing;
    }
    if (FState == State::String || FState == State::StringEscape) {
        // A control string (a window title, a device control string) is read to its end and
        // reported as unknown; a BEL or ESC "\" ends it.
        if (c == BEL)
            return Done(TEscapeCode::ecUnknown);
        if (FState == State::StringEscape) {
            if (c == '\\')
                return Done(TEscapeCode::ecUnknown);
            Begin();
            return Sequence(c);
        }
        if (c == ESC)
            FState = State::StringEscape;
        else
            Put(static_cast<char>(c));
        return TEscapeResult::erNothing;
    }
    if (c == ESC)
        return Begin();
    if (c < 0x20) {
        // Carried out at once; the sequence goes on.
        Character = static_cast<char>(c);
        return TEscapeResult::erChar;
    }
    if (c == DEL || c >= 0x80)
        return TEscapeResult::erNothing;
    Put(static_cast<char>(c));
    switch (FState) {
    case State::Escape:
        if (IsIntermediate(c)) {
            FIntermediate = static_cast<char>(c);
            FState = State::EscIntermediate;
            return TEscapeResult::erNothing;
        }
        switch (c) {
        case '[':
            FState = State::Csi;
            FParamStart = 1;
            return TEscapeResult::erNothing;
        case ']': case 'P': case 'X': case '^': case '_':
            FState = State::String;
            return TEscapeResult::erNothing;
        default:
            return FinishEsc(c);
        }
    case State::EscIntermediate:
        if (IsIntermediate(c))
            return TEscapeResult::erNothing;
        return FinishEsc(c);
    case State::Csi:
        if (IsParameter(c)) {
            if (IsMarker(c)) {
                if (FLength == 2) {
                    FMarker = static_cast<char>(c);
                    FParamStart = 2;
                } else {
                    FState = State::CsiIgnore;
                }
            }
            return TEscapeResult::erNothing;
        }
        if (IsIntermediate(c)) {
            FIntermediate = static_cast<char>(c);
            FState = State::CsiIntermediate;
            return TEscapeResult::erNothing;
        }
        return FinishCsi(c);
    case State::CsiIntermediate:
        if (IsIntermediate(c))
            return TEscapeResult::erNothing;
        if (IsParameter(c)) {
            FState = State::CsiIgnore;
            return TEscapeResult::erNothing;
        }
        return FinishCsi(c);
    case State::CsiIgnore:
        if (IsFinal(c)) {
            Params.Clear();
            return Done(TEscapeCode::ecUnknown);
        }
        return TEscapeResult::erNothing;
    case State::String:
    case State::StringEscape:
        break;
    }
    return TEscapeResult::erNothing;
}

TEscapeResult EscapeCodesVT102::FinishEsc(uint8_t Final)
{
    TEscapeCode code = TEscapeCode::ecUnknown;
    if (FIntermediate == 0) {
        switch (Final) {
        case '7': code = TEscapeCode::ecSaveCaretAndAttr; break;
        case '8': code = TEscapeCode::ecRestoreCaretAndAttr; break;
        case 'D': code = TEscapeCode::ecIndex; break;
        case 'E': code = TEscapeCode::ecNextLine; break;
        case 'H': code = TEscapeCode::ecSetTab; break;
        case 'M': code = TEscapeCode::ecReverseLineFeed; break;
        case 'Z': code = TEscapeCode::ecIdentify; break;
        case 'c': code = TEscapeCode::ecReset; break;
        case '=': code = TEscapeCode::ecAppKeypad; break;
        case '>': code = TEscapeCode::ecNumericKeypad; break;
        default: break;
        }
    } else if (FIntermediate == '#' && FLength == 2) {
        if (Final == '8')
            code = TEscapeCode::ecTest;
        else if (Final >= '3' && Final <= '6')
            code = TEscapeCode::ecLineSize;
    } else if ((FIntermediate == '(' || FIntermediate == ')') && FLength == 2) {
        switch (Final) {
        case 'A': case 'B': case '0': case '1': case '2':
            // The set's final byte is the parameter.
            Params.Clear();
            Params.Add(std::string_view(FBytes + 1, 1));
            code = FIntermediate == '(' ? TEscapeCode::ecDesignateG0 : TEscapeCode::ecDesignateG1;
            break;
        default: break;
        }
    }
    return Done(code);
}

void EscapeCodesVT102::SplitParams()
{
    Params.Clear();
    const char* text = FBytes + FParamStart;
    const int size = FLength - FParamStart - 1;
    if (size <= 0)
        return;
    int start = 0;
    for (int i = 0; i <= size; ++i) {
        if (i == size || text[i] == ';') {
            Params.Add(std::string_view(text + start, static_cast<size_t>(i - start)));
            start = i + 1;
        }
    }
}

TEscapeResult EscapeCodesVT102::FinishCsi(uint8_t Final)
{
    if (FOverlong || FIntermediate != 0) {
        Params.Clear();
        return Done(TEscapeCode::ecUnknown);
    }
    SplitParams();
    return Done(CsiCode(FMarker, Final, Number(Params, 1, 0), Params.Count()));
}

TEscapeCode EscapeCodesVT102::CsiCode(char Marker, uint8_t Final, int P1, int Count)
{
    if (Marker == '?') {
        if (Final == 'h')
            return TEscapeCode::ecSetPrivateMode;
        if (Final == 'l')
            return TEscapeCode::ecResetPrivateMode;
        return TEscapeCode::ecUnknown;
    }
    if (Marker != 0)
        return TEscapeCode::ecUnknown;
    const int p1 = P1;
    switch (Final) {
    case '@': return TEscapeCode::ecInsertChars;
    case 'A': return TEscapeCode::ecCursorUp;
    case 'B':
    case 'e': return TEscapeCode::ecCursorDown;
    case 'C':
    case 'a': return TEscapeCode::ecCursorRight;
    case 'D': return TEscapeCode::ecCursorLeft;
    case 'E': return TEscapeCode::ecNextLineDown;
    case 'F': return TEscapeCode::ecPrevLineUp;
    case 'G':
    case '`': return TEscapeCode::ecCursorColumn;
    case 'd': return TEscapeCode::ecCursorRow;
    case 'H':
    case 'f': return TEscapeCode::ecCursorMove;
    case 'I': return TEscapeCode::ecForwardTab;
    case 'Z': return TEscapeCode::ecBackTab;
    case 'J':
        return p1 == 0 ? TEscapeCode::ecEraseScreenFrom
            : p1 == 1  ? TEscapeCode::ecEraseScreenTo
            : p1 == 2  ? TEscapeCode::ecEraseScreen
                       : TEscapeCode::ecUnknown;
    case 'K':
        return p1 == 0 ? TEscapeCode::ecEraseLineFrom
            : p1 == 1  ? TEscapeCode::ecEraseLineTo
            : p1 == 2  ? TEscapeCode::ecEraseLine
                       : TEscapeCode::ecUnknown;
    case 'L': return TEscapeCode::ecInsertLines;
    case 'M': return TEscapeCode::ecDeleteLines;
    case 'P': return TEscapeCode::ecDeleteChars;
    case 'S': return TEscapeCode::ecScrollUp;
    // With more parameters it is a mouse tracking request, not a scroll.
    case 'T': return Count <= 1 ? TEscapeCode::ecScrollDown : TEscapeCode::ecUnknown;
    case 'X': return TEscapeCode::ecEraseChars;
    case 'b': return TEscapeCode::ecRepeatChar;
    case 'c': return p1 == 0 ? TEscapeCode::ecIdentify : TEscapeCode::ecUnknown;
    case 'g': return p1 == 0 ? TEscapeCode::ecClearTab : p1 == 3 ? TEscapeCode::ecClearAllTabs : TEscapeCode::ecUnknown;
    case 'h': return TEscapeCode::ecSetMode;
    case 'l': return TEscapeCode::ecResetMode;
    case 'm': return TEscapeCode::ecAttributes;
    case 'n':
        return p1 == 5 ? TEscapeCode::ecQueryDevice
            : p1 == 6  ? TEscapeCode::ecQueryCursorPos
            : p1 == 0 && Count > 0 ? TEscapeCode::ecReportDeviceOK
            : p1 == 3  ? TEscapeCode::ecReportDeviceFailure
                       : TEscapeCode::ecUnknown;
    case 'r': return TEscapeCode::ecSetScrollRegion;
    case 's': return TEscapeCode::ecSaveCaret;
    case 'u': return TEscapeCode::ecRestoreCaret;
    case 'R': return TEscapeCode::ecReportCursorPos;
    default: return TEscapeCode::ecUnknown;
    }
}

QByteArray EscapeCodesVT102::EscCodeToStr(TEscapeCode Code, const EscapeParams* Params) const
{
    // A VT102 answers an identify request with its own class; everything else it sends as
    // a VT100 does.
    if (Code == TEscapeCode::ecIdentResponse)
        return QByteArrayLiteral("\x1b[?6c");
    static const TEscapeCodesVT100 vt100;
    return vt100.EscCodeToStr(Code, Params);
}

} // namespace zentrop
