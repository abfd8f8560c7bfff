// The VT52 and VT100/ANSI parsers and the texts they send for codes.
#include "term/EscapeCodes.h"

#include <QMetaEnum>

#include <algorithm>
#include <charconv>
#include <cstring>
#include <limits>

namespace zentrop {

const char* EscapeCodeName(TEscapeCode Code)
{
    const char* name = QMetaEnum::fromType<TEscapeCode>().valueToKey(static_cast<int>(Code));
    return name ? name : "";
}

const std::string& EscapeParams::operator[](int Index) const
{
    // Every string of the list at once, so that taking one never moves another.
    if (FStrings.size() < static_cast<size_t>(FCount))
        FStrings.resize(static_cast<size_t>(FCount));
    const Item& item = FItems[static_cast<size_t>(Index)];
    std::string& s = FStrings[static_cast<size_t>(Index)];
    if (!item.Made) {
        s.assign(Text(Index));
        item.Made = true;
    }
    return s;
}

void EscapeParams::Grow(size_t Bytes)
{
    if (static_cast<size_t>(FCount) == FItems.size())
        FItems.resize(std::max<size_t>(8, 2 * FItems.size()));
    if (FUsed + Bytes > FChars.size())
        FChars.resize(std::max<size_t>({64, 2 * FChars.size(), FUsed + Bytes}));
}

void EscapeParams::Swap(EscapeParams& Other)
{
    FChars.swap(Other.FChars);
    std::swap(FUsed, Other.FUsed);
    FItems.swap(Other.FItems);
    std::swap(FCount, Other.FCount);
    FStrings.swap(Other.FStrings);
}

namespace {

// The platform's string-to-integer rule: optional blanks, an optional sign, then decimal
// digits or hexadecimal ones after "$" or "0x"; nothing may follow, and the value must fit.
bool ToInteger(std::string_view s, int& Value)
{
    size_t i = 0;
    while (i < s.size() && s[i] == ' ')
        ++i;
    bool negative = false;
    if (i < s.size() && (s[i] == '-' || s[i] == '+'))
        negative = s[i++] == '-';
    int base = 10;
    if (i < s.size() && s[i] == '$') {
        base = 16;
        ++i;
    } else if (i + 1 < s.size() && s[i] == '0' && (s[i + 1] == 'x' || s[i + 1] == 'X')) {
        base = 16;
        i += 2;
    }
    if (i == s.size())
        return false;
    long long magnitude = 0;
    const char* end = s.data() + s.size();
    const auto [ptr, ec] = std::from_chars(s.data() + i, end, magnitude, base);
    if (ec != std::errc() || ptr != end || magnitude < 0)
        return false;
    const long long v = negative ? -magnitude : magnitude;
    if (v < std::numeric_limits<int>::min() || v > std::numeric_limits<int>::max())
        return false;
    Value = static_cast<int>(v);
    return true;
}

QByteArray Esc(const char* rest)
{
    return QByteArray("\x1b") + rest;
}

} // namespace

int TEscapeCodes::ParamOf(std::string_view Text)
{
    int value = 1;
    return ToInteger(Text, value) ? value : 1;
}

// ---- VT52

TEscapeResult TEscapeCodesVT52::ProcessChar(char Ch)
{
    TEscapeResult result;
    if (TakeOutsideSequence(Ch, result))
        return result;
    Collect(Ch);
    const TEscapeCode code = Classify();
    if (code == TEscapeCode::ecNotCompleted)
        return TEscapeResult::erNothing;
    return Finish(code);
}

TEscapeCode TEscapeCodesVT52::Classify()
{
    switch (Data.at(0)) {
    case 'A': return TEscapeCode::ecCursorUp;
    case 'B': return TEscapeCode::ecCursorDown;
    case 'C': return TEscapeCode::ecCursorRight;
    case 'D': return TEscapeCode::ecCursorLeft;
    case 'H': return TEscapeCode::ecCursorHome;
    case 'I': return TEscapeCode::ecReverseLineFeed;
    case 'J': return TEscapeCode::ecEraseScreenFrom;
    case 'K': return TEscapeCode::ecEraseLineFrom;
    case 'Z': return TEscapeCode::ecIdentify;
    case 'Y': {
        if (Data.size() < 3)
            return TEscapeCode::ecNotCompleted;
        // Row, then column, each sent as its number plus 31 (a blank is 1).
        for (int i = 1; i <= 2; ++i) {
            const std::string number = std::to_string(static_cast<unsigned char>(Data.at(i)) - 31);
            Params.Add(number);
        }
        return TEscapeCode::ecCursorMove;
    }
    case '/':
        if (Data.size() < 2)
            return TEscapeCode::ecNotCompleted;
        return Data.at(1) == 'Z' ? TEscapeCode::ecIdentResponse : TEscapeCode::ecUnknown;
    default:
        return TEscapeCode::ecUnknown;
    }
}

QByteArray TEscapeCodesVT52::EscCodeToStr(TEscapeCode Code, const EscapeParams* Params) const
{
    switch (Code) {
    case TEscapeCode::ecCursorUp: return Esc("A");
    case TEscapeCode::ecCursorDown: return Esc("B");
    case TEscapeCode::ecCursorRight: return Esc("C");
    case TEscapeCode::ecCursorLeft: return Esc("D");
    case TEscapeCode::ecCursorHome: return Esc("H");
    case TEscapeCode::ecCursorMove: {
        QByteArray s = Esc("Y");
        s.append(static_cast<char>(GetParam(1, Params) + 31));
        s.append(static_cast<char>(GetParam(2, Params) + 31));
        return s;
    }
    case TEscapeCode::ecReverseLineFeed: return Esc("I");
    case TEscapeCode::ecEraseLineFrom: return Esc("K");
    case TEscapeCode::ecEraseScreenFrom: return Esc("J");
    case TEscapeCode::ecIdentify: return Esc("Z");
    case TEscapeCode::ecIdentResponse: return Esc("/Z");
    default: return {};
    }
}

// ---- VT100

TEscapeResult TEscapeCodesVT100::ProcessChar(char Ch)
{
    TEscapeResult result;
    if (TakeOutsideSequence(Ch, result))
        return result;
    Collect(Ch);
    if (FInCSI)
        return IsLetter(Ch) ? FinishCSI() : TEscapeResult::erNothing;
    if (Data.size() == 1 && Data.at(0) == '[') {
        FInCSI = true;
        return TEscapeResult::erNothing;
    }
    const TEscapeCode code = ClassifySimple();
    if (code == TEscapeCode::ecNotCompleted)
        return TEscapeResult::erNothing;
    return Finish(code);
}

TEscapeResult TEscapeCodesVT100::FinishCSI()
{
    TEscapeCode code;
    if (FOverlong) {
        Params.Clear();
        code = TEscapeCode::ecUnknown;
    } else {
        code = ClassifyCSI(Data.constData() + 1, Data.size() - 2);
    }
    FInCSI = false;
    return Finish(code);
}

qsizetype TEscapeCodesVT100::ProcessCharsOneByOne(const char* Bytes, qsizetype Count, TEscapeResult& Result)
{
    qsizetype i = 0;
    if (!ExactType()) {
        while (i < Count)
            if ((Result = ProcessChar(Bytes[i++])) != TEscapeResult::erNothing || !FInSequence)
                return i;
        Result = TEscapeResult::erNothing;
        return i;
    }
    while (i < Count) {
        if (!FInCSI) {
            Result = TEscapeCodesVT100::ProcessChar(Bytes[i++]);
            if (Result != TEscapeResult::erNothing)
                return i;
            continue;
        }
        // Every byte up to the letter only joins the sequence.
        qsizetype end = i;
        while (end < Count && !IsLetter(Bytes[end]))
            ++end;
        if (end == Count) {
            CollectRun(Bytes + i, Count - i);
            break;
        }
        CollectRun(Bytes + i, end + 1 - i);
        Result = FinishCSI();
        return end + 1;
    }
    Result = TEscapeResult::erNothing;
    return Count;
}

TEscapeCode TEscapeCodesVT100::ClassifySimple() const
{
    if (Data.size() == 1) {
        switch (Data.at(0)) {
        case '#':
        case 'O': return TEscapeCode::ecNotCompleted;
        case '7': return TEscapeCode::ecSaveCaretAndAttr;
        case '8': return TEscapeCode::ecRestoreCaretAndAttr;
        case 'H': return TEscapeCode::ecSetTab;
        case 'c': return TEscapeCode::ecReset;
        default: return TEscapeCode::ecUnknown;
        }
    }
    if (Data.at(0) == '#' && Data.at(1) == '8')
        return TEscapeCode::ecTest;
    if (Data.at(0) == 'O') {
        switch (Data.at(1)) {
        case 'A': return TEscapeCode::ecAppCursorUp;
        case 'B': return TEscapeCode::ecAppCursorDown;
        case 'C': return TEscapeCode::ecAppCursorRight;
        case 'D': return TEscapeCode::ecAppCursorLeft;
        default: break;
        }
    }
    return TEscapeCode::ecUnknown;
}

TEscapeCode TEscapeCodesVT100::ClassifyCSI(const char* text, qsizetype size)
{
    // The parameter text lies between "[" and the final letter. A ";" closes a non-empty
    // field; met while the field is empty it becomes the field's first byte instead. The
    // new fields replace the list's contents; each is read as a number on the way.
    char* block = Params.NewBlock(static_cast<size_t>(size));
    qsizetype start = 0;   // where the open field begins
    unsigned value = 0;
    bool plain = true;
    for (qsizetype i = 0; i < size; ++i) {
        const char c = text[i];
        block[i] = c;
        if (c == ';' && i > start) {
            Params.AddSpan(static_cast<size_t>(start), static_cast<size_t>(i - start), plain && i - start <= 9 ? static_cast<int>(value) : -1);
            start = i + 1;
            value = 0;
            plain = true;
            continue;
        }
        const unsigned digit = static_cast<unsigned>(static_cast<uint8_t>(c) - '0');
        if (digit < 10)
            value = value * 10 + digit;
        else
            plain = false;
    }
    if (size > start)
        Params.AddSpan(static_cast<size_t>(start), static_cast<size_t>(size - start), plain && size - start <= 9 ? static_cast<int>(value) : -1);

    // The letters full-screen programs send most are tested first: a branch that is taken
    // or not is foreseen by the processor far better than a jump through a table.
    const char letter = text[size];
    if (letter == 'm')
        return TEscapeCode::ecAttributes;
    if (letter == 'H')
        return TEscapeCode::ecCursorHome;
    const char first = Params.Count() > 0 ? Params.Front(0) : 0;
    TEscapeCode code = TEscapeCode::ecUnknown;
    switch (letter) {
    case 'A': code = TEscapeCode::ecCursorUp; break;
    case 'B': code = TEscapeCode::ecCursorDown; break;
    case 'C': code = TEscapeCode::ecCursorRight; break;
    case 'D': code = TEscapeCode::ecCursorLeft; break;
    case 'H': code = TEscapeCode::ecCursorHome; break;
    case 'f': code = TEscapeCode::ecCursorMove; break;
    case 'J':
        code = first == 0 || first == '0' ? TEscapeCode::ecEraseScreenFrom
            : first == '2'                ? TEscapeCode::ecEraseScreen
                                          : TEscapeCode::ecUnknown;
        Params.Clear();
        break;
    case 'K':
        code = first == 0 || first == '0' ? TEscapeCode::ecEraseLineFrom
            : first == '2'                ? TEscapeCode::ecEraseLine
                                          : TEscapeCode::ecUnknown;
        Params.Clear();
        break;
    case 'g':
        code = first == 0 || first == '0' ? TEscapeCode::ecClearTab
            : first == '3'                ? TEscapeCode::ecClearAllTabs
                                          : TEscapeCode::ecUnknown;
        Params.Clear();
        break;
    case 'n':
        switch (first) {
        case '0': code = TEscapeCode::ecReportDeviceOK; break;
        case '3': code = TEscapeCode::ecReportDeviceFailure; break;
        case '5': code = TEscapeCode::ecQueryDevice; break;
        case '6': code = TEscapeCode::ecQueryCursorPos; break;
        default: code = TEscapeCode::ecUnknown; break;
        }
        Params.Clear();
        break;
    case 'c':
        if (Params.Count() == 0 || (Params.Count() == 1 && Params.Text(0) == "0"))
            code = TEscapeCode::ecIdentify;
        else if (Params.Count() == 2 && Params.Text(0) == "?1")
            code = TEscapeCode::ecIdentResponse;
        break;
    case 'R': code = TEscapeCode::ecReportCursorPos; break;
    case 'm': code = TEscapeCode::ecAttributes; break;
    case 'h': code = TEscapeCode::ecSetMode; break;
    case 'l': code = TEscapeCode::ecResetMode; break;
    case 's': code = TEscapeCode::ecSaveCaret; break;
    case 'u': code = TEscapeCode::ecRestoreCaret; break;
    default: break;
    }
    return code;
}

QByteArray TEscapeCodesVT100::EscCodeToStr(TEscapeCode Code, const EscapeParams* Params) const
{
    const auto p = [Params](int n) { return QByteArray::number(GetParam(n, Params)); };
    switch (Code) {
    case TEscapeCode::ecCursorUp: return Esc("[A");
    case TEscapeCode::ecCursorDown: return Esc("[B");
    case TEscapeCode::ecCursorRight: return Esc("[C");
    case TEscapeCode::ecCursorLeft: return Esc("[D");
    case TEscapeCode::ecCursorHome: return Esc("[H");
    case TEscapeCode::ecCursorMove: return Esc("[") + p(1) + ';' + p(2) + 'f';
    case TEscapeCode::ecAppCursorUp: return Esc("OA");
    case TEscapeCode::ecAppCursorDown: return Esc("OB");
    case TEscapeCode::ecAppCursorRight: return Esc("OC");
    case TEscapeCode::ecAppCursorLeft: return Esc("OD");
    case TEscapeCode::ecEraseLineFrom: return Esc("[K");
    case TEscapeCode::ecEraseScreenFrom: return Esc("[J");
    case TEscapeCode::ecEraseLine: return Esc("[2K");
    case TEscapeCode::ecEraseScreen: return Esc("[2J");
    case TEscapeCode::ecSetTab: return Esc("H");
    case TEscapeCode::ecClearTab: return Esc("[g");
    case TEscapeCode::ecClearAllTabs: return Esc("[3g");
    case TEscapeCode::ecIdentify: return Esc("[c");
    case TEscapeCode::ecIdentResponse: return Esc("[?1;") + p(1) + 'c';
    case TEscapeCode::ecQueryDevice: return Esc("[5n");
    case TEscapeCode::ecReportDeviceOK: return Esc("[0n");
    case TEscapeCode::ecReportDeviceFailure: return Esc("[3n");
    case TEscapeCode::ecQueryCursorPos: return Esc("[6n");
    case TEscapeCode::ecReportCursorPos: return Esc("[") + p(1) + ';' + p(2) + 'R';
    case TEscapeCode::ecAttributes: return Esc("[m");
    case TEscapeCode::ecSetMode: return Esc("[h");
    case TEscapeCode::ecResetMode: return Esc("[l");
    case TEscapeCode::ecReset: return Esc("c");
    case TEscapeCode::ecSaveCaretAndAttr: return Esc("7");
    case TEscapeCode::ecRestoreCaretAndAttr: return Esc("8");
    case TEscapeCode::ecSaveCaret: return Esc("[s");
    case TEscapeCode::ecRestoreCaret: return Esc("[u");
    case TEscapeCode::ecTest: return Esc("#8");
    default: return {};
    }
}

} // namespace zentrop
