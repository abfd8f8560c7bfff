// The classic emulations (VT52, VT100/ANSI, none, or a parser of the application's own):
// the received bytes through the parser (the VT100 one takes a sequence's bytes in one call),
// and the codes carried out as the terminal control always has, with runs of printable bytes
// written a row's stretch at a time while nobody watches single bytes.
#include "TermEmulation.h"
#include "TermShared.h"

#include <typeinfo>

namespace zentrop {

namespace {

constexpr char BS = 8;
constexpr char TAB = 9;
constexpr char LF = 10;
constexpr char FF = 12;
constexpr char CR = 13;

} // namespace

class ClassicEmulation final : public TermEmulation {
public:
    using TermEmulation::TermEmulation;

    qsizetype Receive(const char* Text, qsizetype Count) override;
    void PutChar(char Ch) override;
    bool Perform(TEscapeCode Code, EscapeParams* Params) override;

private:
    // Receive with the VT100 parser: its sequences are taken whole, not a byte at a time.
    qsizetype ReceiveVT100(const char* Text, qsizetype Count, TEscapeCodesVT100& Codes);
    // Carries out the code the parser has just finished, or reports it as unhandled.
    void Act(TEscapeCodes& Codes)
    {
        // The codes full-screen programs send most go straight to their work, as Perform
        // would carry them out: a branch that is taken or not is foreseen by the processor
        // far better than a jump through a table.
        if (Codes.Code == TEscapeCode::ecAttributes) {
            T.SetAttributes(&Codes.Params);
        } else if (Codes.Code == TEscapeCode::ecCursorHome) {
            const int row = TEscapeCodes::GetParam(1, &Codes.Params);
            T.MoveCaret(TEscapeCodes::GetParam(2, &Codes.Params), std::clamp(row, 1, T.FRows));
        } else {
            Codes.TakePendingData();
            // What PerformCode does: this is the terminal's emulation.
            if (!Perform(Codes.Code, &Codes.Params))
                T.DoUnhandledCode(Codes.Code, Codes.Data);
        }
        if (TEscapeCodes* now = T.FEscapeCodes.get())
            now->Params.Clear();
    }
    // PutChar for a byte from 32 on, apart so that control bytes take a light call.
    [[gnu::noinline]] void PutPrintable(char Ch);
    // What T.PutChar does, without asking which emulation is the terminal's: this one.
    void PutOwnChar(char Ch)
    {
        PutChar(Ch);
        T.DoChar(Ch);
    }
    // Prints a run of printable bytes; returns how many it took (fewer when a handler
    // replaced the emulation).
    qsizetype PutText(const char* Text, qsizetype Count, TEscapeCodes* Codes);
    // The same one byte at a time, firing OnChar after each.
    qsizetype PutTextBytewise(const char* Text, qsizetype Count, TEscapeCodes* Codes);
};

std::unique_ptr<TermEmulation> MakeClassicEmulation(ComTermCore& Term)
{
    return std::make_unique<ClassicEmulation>(Term);
}

qsizetype ClassicEmulation::Receive(const char* bytes, qsizetype size)
{
    // Only a handler that replaces the emulation replaces the parser, and then this loop ends.
    TEscapeCodes* codes = T.FEscapeCodes.get();
    // A parser derived from it goes the general way, a byte at a time through its override.
    if (codes && typeid(*codes) == typeid(TEscapeCodesVT100))
        return ReceiveVT100(bytes, size, static_cast<TEscapeCodesVT100&>(*codes));
    qsizetype i = 0;
    while (i < size) {
        if (!codes || (codes->PassesPlainBytes() && !codes->InSequence())) {
            const qsizetype end = i + RunInRange<32, 255>(bytes + i, size - i);
            if (end > i) {
                i += PutText(bytes + i, end - i, codes);
                if (!Current())
                    return i;
                continue;
            }
        }
        const char ch = bytes[i++];
        if (!codes || (ch != 27 && codes->PassesPlainBytes() && !codes->InSequence())) {
            // A control byte outside a sequence is a plain character: no need to ask the parser.
            if (codes)
                codes->Character = ch;
            PutOwnChar(ch);
        } else {
            switch (codes->ProcessChar(ch)) {
            case TEscapeResult::erChar:
                T.PutChar(codes->Character);
                break;
            case TEscapeResult::erCode:
                Act(*codes);
                break;
            case TEscapeResult::erNothing:
                break;
            }
        }
        if (!Current())
            return i;
    }
    return i;
}

qsizetype ClassicEmulation::ReceiveVT100(const char* bytes, qsizetype size, TEscapeCodesVT100& codes)
{
    TEscapeCodesVT100::CsiNumbers numbers;
    qsizetype i = 0;
    while (i < size) {
        const auto c = static_cast<uint8_t>(bytes[i]);
        if (const qsizetype taken = c == 27 ? codes.TakeNumericCSI(bytes + i, size - i, numbers) : 0) {
            // Attributes and cursor moves, the codes full-screen programs send most, go
            // straight to their work with their numbers.
            i += taken;
            if (codes.Code == TEscapeCode::ecAttributes)
                T.SetAttributes(numbers.Values, numbers.Count);
            else
                T.MoveCaret(numbers.Count > 1 ? numbers.Values[1] : 1,
                            std::clamp(numbers.Count > 0 ? numbers.Values[0] : 1, 1, T.FRows));
        } else if (c == 27 || codes.InSequence()) {
            TEscapeResult result;
            i += codes.ProcessChars(bytes + i, size - i, result);
            if (result == TEscapeResult::erCode) {
                Act(codes);
            } else if (result == TEscapeResult::erChar) {
                codes.TakePendingData();
                T.PutChar(codes.Character);
            }
        } else if (c >= 32) {
            // Text goes a byte at a time to whoever watches single bytes, with Data filled.
            i += PutText(bytes + i, 1 + RunInRange<32, 255>(bytes + i + 1, size - i - 1), &codes);
        } else {
            // A control byte outside a sequence is a plain character: no need to ask the parser.
            codes.Character = static_cast<char>(c);
            codes.TakePendingData();
            PutOwnChar(static_cast<char>(c));
            ++i;
        }
        if (!Current())
            break;
    }
    // Data must not point into bytes that are about to go. A handler that replaced the
    // emulation may have replaced the parser too, which is then gone.
    if (T.FEscapeCodes.get() == &codes)
        codes.TakePendingData();
    return i;
}

qsizetype ClassicEmulation::PutText(const char* Text, qsizetype Count, TEscapeCodes* Codes)
{
    if (T.BytewiseText())
        return PutTextBytewise(Text, Count, Codes);
    // Nobody watches single bytes: as PutChar for each byte, a row's stretch at a time.
    const TTermChar cell = T.CurrentTermChar();
    const int columns = T.FColumns;
    qsizetype done = 0;
    while (done < Count) {
        const qsizetype room = columns - T.FCaretPos.x() + 1;   // cells from the caret to the row's end
        const qsizetype left = Count - done;
        if (left < room || T.FWrapLines) {
            done += T.WriteRowStretch(Text + done, left, cell);
            if (left >= room)
                T.AdvanceCaret(TCaretMove::cmNextChar);
        } else {
            // Without wrapping, every byte past the row's end lands in its last cell.
            T.WriteRowStretch(Text + done, room - 1, cell);
            T.FBuffer.WriteRun(columns, T.FCaretPos.y(), Text + Count - 1, 1, cell);
            done = Count;
        }
    }
    if (Codes && Count > 0)
        Codes->Character = Text[Count - 1];
    T.CaretMoved();
    return Count;
}

qsizetype ClassicEmulation::PutTextBytewise(const char* Text, qsizetype Count, TEscapeCodes* Codes)
{
    if (Codes)
        Codes->TakePendingData();
    qsizetype done = 0;
    while (done < Count) {
        const char ch = Text[done++];
        if (Codes)
            Codes->Character = ch;
        TTermChar cell = T.CurrentTermChar();
        cell.Ch = static_cast<uint8_t>(ch);
        T.FBuffer.SetChar(T.FCaretPos.x(), T.FCaretPos.y(), cell);
        if (T.FCaretPos.x() < T.FColumns)
            T.FCaretPos.rx()++;
        else
            T.AdvanceCaret(TCaretMove::cmNextChar);
        T.DoChar(ch);
        // A handler may have replaced the emulation, which then takes the rest.
        if (!Current())
            break;
    }
    T.CaretMoved();
    return done;
}

void ClassicEmulation::PutChar(char Ch)
{
    switch (Ch) {
    case BS:
        T.AdvanceCaret(TCaretMove::cmBackspace);
        break;
    case TAB:
        T.AdvanceCaret(TCaretMove::cmTab);
        break;
    case LF:
    case FF:
        T.AdvanceCaret(TCaretMove::cmLineFeed);
        break;
    case CR:
        T.AdvanceCaret(TCaretMove::cmReturn);
        break;
    default:
        if (static_cast<unsigned char>(Ch) >= 32)
            PutPrintable(Ch);
        break;
    }
}

void ClassicEmulation::PutPrintable(char Ch)
{
    TTermChar cell = T.CurrentTermChar();
    cell.Ch = static_cast<uint8_t>(Ch);
    T.FBuffer.SetChar(T.FCaretPos.x(), T.FCaretPos.y(), cell);
    T.AdvanceCaret(TCaretMove::cmNextChar);
}

bool ClassicEmulation::Perform(TEscapeCode Code, EscapeParams* Params)
{
    // Replies build their parameters in the given list, or in one of their own without.
    const auto reply = [Params](auto Use) {
        if (Params)
            return Use(*Params);
        EscapeParams own;
        return Use(own);
    };
    const int x = T.FCaretPos.x();
    const int y = T.FCaretPos.y();
    switch (Code) {
    case TEscapeCode::ecReverseLineFeed:
        T.AdvanceCaret(TCaretMove::cmReverseLineFeed);
        break;
    case TEscapeCode::ecEraseLineFrom:
        T.FBuffer.EraseLineFrom(x, y);
        break;
    case TEscapeCode::ecEraseScreenFrom:
        T.FBuffer.EraseScreenFrom(x, y);
        break;
    case TEscapeCode::ecEraseLine:
        T.FBuffer.EraseLineFrom(1, y);
        T.MoveCaret(1, y);
        break;
    case TEscapeCode::ecEraseScreen:
        T.FBuffer.EraseScreenFrom(1, 1);
        T.MoveCaret(1, 1);
        break;
    case TEscapeCode::ecIdentify:
        reply([this](EscapeParams& List) {
            List.Clear();
            List.Add("2");
            T.SendCodeNoEcho(TEscapeCode::ecIdentResponse, &List);
        });
        break;
    case TEscapeCode::ecQueryCursorPos:
        reply([this, x, y](EscapeParams& List) {
            List.Clear();
            List.Add(std::to_string(y));
            List.Add(std::to_string(x));
            T.SendCodeNoEcho(TEscapeCode::ecReportCursorPos, &List);
        });
        break;
    case TEscapeCode::ecAttributes:
        T.SetAttributes(Params);
        break;
    case TEscapeCode::ecSetMode:
        T.SetMode(Params, true);
        break;
    case TEscapeCode::ecResetMode:
        T.SetMode(Params, false);
        break;
    case TEscapeCode::ecReset:
        // Only the attributes: screen, caret, tab stops and modes stay.
        reply([this](EscapeParams& List) {
            List.Clear();
            List.Add("0");
            T.SetAttributes(&List);
        });
        break;
    case TEscapeCode::ecSaveCaretAndAttr:
        T.SaveCaret();
        T.SaveAttr();
        break;
    case TEscapeCode::ecRestoreCaretAndAttr:
        T.RestoreCaret();
        T.RestoreAttr();
        break;
    case TEscapeCode::ecSaveCaret:
        T.SaveCaret();
        break;
    case TEscapeCode::ecRestoreCaret:
        T.RestoreCaret();
        break;
    case TEscapeCode::ecTest:
        T.FillScreen('E');
        break;
    default:
        // Every row is in reach: only the screen's edges stop the caret.
        const auto read = [](int Num, const void* List) { return TEscapeCodes::GetParam(Num, static_cast<const EscapeParams*>(List)); };
        return T.PerformCommon(Code, Params, read, ComTermCore::CaretLimits{1, T.FRows, 1, T.FRows});
    }
    return true;
}


} // namespace zentrop
