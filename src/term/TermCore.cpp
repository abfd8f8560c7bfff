// Received bytes, escape codes, caret moves, attributes, modes, replies and keys.
#include "term/TermCore.h"

#include "EscapeCodesVT102.h"
#include "TermShared.h"

#include "base/Debug.h"

#include <algorithm>
#include <typeinfo>

namespace zentrop {

namespace {

constexpr char BS = 8;
constexpr char TAB = 9;
constexpr char LF = 10;
constexpr char FF = 12;
constexpr char CR = 13;

} // namespace

// Hides the caret for a stretch of work and shows it again however the work ends.
class ComTermCore::CaretHidden {
public:
    explicit CaretHidden(ComTermCore& Term) : FTerm(Term) { FTerm.HideTermCaret(); }
    ~CaretHidden()
    {
        FTerm.ShowTermCaret();
        FTerm.NotifyDamage();
    }
    CaretHidden(const CaretHidden&) = delete;
    CaretHidden& operator=(const CaretHidden&) = delete;

private:
    ComTermCore& FTerm;
};

ComTermCore::ComTermCore()
{
    ResetAttributes();
    CreateEscapeCodes();
    FBuffer.Init(FColumns, FRows);
}

ComTermCore::~ComTermCore() = default;

// ---- settings

void ComTermCore::SetColor(TColor Value)
{
    FColor = Value;
    FTermAttr.BackColor = Value;
    if (FVT102Active)
        UpdatePen();
    FBuffer.DamageAll();
    NotifyDamage();
}

void ComTermCore::SetFontColor(TColor Value)
{
    FFontColor = Value;
    FTermAttr.FrontColor = Value;
    if (FVT102Active)
        UpdatePen();
}

void ComTermCore::SetColumns(int Value)
{
    // A value out of range that clamps to the current one still starts a fresh grid.
    if (Value == FColumns)
        return;
    FColumns = std::clamp(Value, 2, TComTermBuffer::MaxColumns);
    ResizeBuffer();
}

void ComTermCore::SetRows(int Value)
{
    if (Value == FRows)
        return;
    FRows = std::clamp(Value, 2, TComTermBuffer::MaxRows);
    ResizeBuffer();
}

void ComTermCore::ResizeBuffer()
{
    SizeChanged();
    // The caret may lie beyond a smaller grid; every printed character goes to its cell.
    MoveCaret(FCaretPos.x(), FCaretPos.y());
    FVT.Top = 1;
    FVT.Bottom = FRows;
    if (FLoading)
        return;
    FBuffer.Init(FColumns, FRows);
    NotifyDamage();
}

void ComTermCore::SetEmulation(TTermEmulation Value)
{
    if (Value == FEmulation)
        return;
    FEmulation = Value;
    if (!FLoading)
        CreateEscapeCodes();
}

void ComTermCore::Loaded()
{
    FLoading = false;
    CreateEscapeCodes();
    FBuffer.Init(FColumns, FRows);
    MoveCaret(FCaretPos.x(), FCaretPos.y());
    NotifyDamage();
}

void ComTermCore::CreateEscapeCodes()
{
    FEscapeCodes.reset();
    const bool wasVT102 = FVT102Active;
    FVT102Active = FEmulation == TTermEmulation::teVT102;
    if (FVT102Active)
        ResetVT102();
    else if (wasVT102)
        ResetAttributes();   // the VT102's colours mean nothing to the others
    switch (FEmulation) {
    case TTermEmulation::teVT100orANSI:
        FEscapeCodes = std::make_unique<TEscapeCodesVT100>();
        break;
    case TTermEmulation::teVT52:
        FEscapeCodes = std::make_unique<TEscapeCodesVT52>();
        break;
    case TTermEmulation::teVT102:
        FEscapeCodes = std::make_unique<EscapeCodesVT102>();
        break;
    case TTermEmulation::teNone: {
        TEscapeCodes* codes = nullptr;
        DoGetEscapeCodes(codes);
        FEscapeCodes.reset(codes);
        break;
    }
    }
}

// ---- received data

void ComTermCore::HandleRxData(QObject* Sender, const char* Buffer, int Count)
{
    (void)Sender;
    if (!Buffer)
        return;
    for (int offset = 0; offset < Count; offset += MaxChunk)
        ReceiveChunk(Buffer + offset, std::min(MaxChunk, Count - offset));
}

void ComTermCore::ReceiveChunk(const char* Buffer, int Count)
{
    if (Buffer[0] == 0)
        OutputDebugString(QStringLiteral("nul"));
    QByteArray str;
    if (!FAppendLF && !FForce7Bit) {
        str = QByteArray(Buffer, Count);
    } else {
        str.reserve(FAppendLF ? 2 * Count : Count);
        for (int i = 0; i < Count; ++i) {
            const char c = Buffer[i];
            str.append(FForce7Bit ? static_cast<char>(c & 0x7F) : c);
            // A CR already followed by an LF still gets one of its own.
            if (FAppendLF && c == CR)
                str.append(LF);
        }
    }
    WriteText(std::move(str));
}

void ComTermCore::WriteText(QByteArray Str)
{
    DoStrRecieved(Str);
    ProcessText(Str);
}

void ComTermCore::ProcessText(const QByteArray& Str)
{
    CaretHidden hidden(*this);
    const char* bytes = Str.constData();
    const qsizetype size = Str.size();
    for (qsizetype i = 0; i < size;) {
        // Read each time: a handler may have changed the emulation.
        TEscapeCodes* codes = FEscapeCodes.get();
        if (!codes || (codes->PassesPlainBytes() && !codes->InSequence())) {
            qsizetype end = i;
            while (end < size && static_cast<unsigned char>(bytes[end]) >= 32)
                ++end;
            if (end > i) {
                i += PutText(bytes + i, end - i, codes);
                continue;
            }
        }
        const char ch = bytes[i++];
        if (!codes) {
            PutChar(ch);
            continue;
        }
        // A control byte outside a sequence is a plain character: no need to ask the parser.
        if (ch != 27 && codes->PassesPlainBytes() && !codes->InSequence()) {
            codes->Character = ch;
            PutChar(ch);
            continue;
        }
        if (FVT102Active) {
            // The VT102 parser is the one made for this emulation.
            auto* vt = static_cast<EscapeCodesVT102*>(codes);
            const TEscapeResult r = vt->EscapeCodesVT102::ProcessChar(ch);
            if (r == TEscapeResult::erNothing) {
                i += vt->TakeParameterBytes(bytes + i, size - i);
                continue;
            }
            if (r == TEscapeResult::erChar) {
                PutChar(vt->Character);
            } else {
                if (!PerformVT102(vt->Code, &vt->Params))
                    DoUnhandledCode(vt->Code, vt->Data);
                if (TEscapeCodes* now = FEscapeCodes.get())
                    now->Params.Clear();
            }
            continue;
        }
        switch (codes->ProcessChar(ch)) {
        case TEscapeResult::erChar:
            PutChar(codes->Character);
            break;
        case TEscapeResult::erCode:
            if (!PerformCode(codes->Code, &codes->Params))
                DoUnhandledCode(codes->Code, codes->Data);
            if (TEscapeCodes* now = FEscapeCodes.get())
                now->Params.Clear();
            break;
        case TEscapeResult::erNothing:
            break;
        }
    }
}

qsizetype ComTermCore::PutText(const char* Text, qsizetype Count, TEscapeCodes* Codes)
{
    // While loading, the grid may not have the size the caret is kept in, so the caret may
    // lie outside it: byte by byte, as SetChar leaves out such cells.
    if (OnChar || !TextInRuns() || FBuffer.Columns() != FColumns || FBuffer.Rows() != FRows
        || !FBuffer.Contains(FCaretPos.x(), FCaretPos.y()))
        return PutTextBytewise(Text, Count, Codes);
    if (FVT102Active) {
        if (Codes && Count > 0)
            Codes->Character = Text[Count - 1];
        return PutTextVT102(Text, Count);
    }
    // Nobody watches single bytes: as PutChar for each byte, a row's stretch at a time.
    const TTermChar cell = CurrentTermChar();
    qsizetype done = 0;
    while (done < Count) {
        const qsizetype room = FColumns - FCaretPos.x() + 1;   // cells from the caret to the row's end
        const qsizetype left = Count - done;
        if (left < room || FWrapLines) {
            done += WriteRowStretch(Text + done, left, cell);
            if (left >= room)
                AdvanceCaret(TCaretMove::cmNextChar);
        } else {
            // Without wrapping, every byte past the row's end lands in its last cell.
            WriteRowStretch(Text + done, room - 1, cell);
            FBuffer.WriteRun(FColumns, FCaretPos.y(), Text + Count - 1, 1, cell);
            done = Count;
        }
    }
    if (Codes && Count > 0)
        Codes->Character = Text[Count - 1];
    CaretMoved();
    return Count;
}

qsizetype ComTermCore::PutTextBytewise(const char* Text, qsizetype Count, TEscapeCodes* Codes)
{
    qsizetype done = 0;
    while (done < Count) {
        const char ch = Text[done++];
        if (Codes)
            Codes->Character = ch;
        if (FVT102Active) {
            PrintVT102(static_cast<uint8_t>(ch));
        } else {
            TTermChar cell = CurrentTermChar();
            cell.Ch = static_cast<uint8_t>(ch);
            FBuffer.SetChar(FCaretPos.x(), FCaretPos.y(), cell);
            if (FCaretPos.x() < FColumns)
                FCaretPos.rx()++;
            else
                AdvanceCaret(TCaretMove::cmNextChar);
        }
        DoChar(ch);
        // A handler may have replaced the parser, which then takes the rest.
        if (FEscapeCodes.get() != Codes)
            break;
    }
    CaretMoved();
    return done;
}

void ComTermCore::PutChar(char Ch)
{
    if (FVT102Active) {
        PutCharVT102(Ch);
        DoChar(Ch);
        return;
    }
    switch (Ch) {
    case BS:
        AdvanceCaret(TCaretMove::cmBackspace);
        break;
    case TAB:
        AdvanceCaret(TCaretMove::cmTab);
        break;
    case LF:
    case FF:
        AdvanceCaret(TCaretMove::cmLineFeed);
        break;
    case CR:
        AdvanceCaret(TCaretMove::cmReturn);
        break;
    default:
        if (static_cast<unsigned char>(Ch) >= 32) {
            TTermChar cell = CurrentTermChar();
            cell.Ch = static_cast<uint8_t>(Ch);
            FBuffer.SetChar(FCaretPos.x(), FCaretPos.y(), cell);
            AdvanceCaret(TCaretMove::cmNextChar);
        }
        break;
    }
    DoChar(Ch);
}

// ---- caret

void ComTermCore::MoveCaret(int X, int Y)
{
    FCaretPos = QPoint(std::clamp(X, 1, FColumns), std::clamp(Y, 1, FRows));
    FVT.WrapPending = false;
    CaretMoved();
}

void ComTermCore::AdvanceCaret(TCaretMove Kind)
{
    const int x = FCaretPos.x();
    const int y = FCaretPos.y();
    switch (Kind) {
    case TCaretMove::cmNextChar:
        if (x < FColumns) {
            MoveCaret(x + 1, y);
        } else if (FWrapLines) {
            // The wrap happens as soon as the last column is written.
            if (y == FRows) {
                FBuffer.ScrollUp();
                MoveCaret(1, y);
            } else {
                MoveCaret(1, y + 1);
            }
        }
        break;
    case TCaretMove::cmReturn:
        MoveCaret(1, y);
        break;
    case TCaretMove::cmLineFeed:
        if (y == FRows)
            FBuffer.ScrollUp();
        else
            MoveCaret(x, y + 1);
        break;
    case TCaretMove::cmReverseLineFeed:
        if (y == 1)
            FBuffer.ScrollDown();
        else
            MoveCaret(x, y - 1);
        break;
    case TCaretMove::cmTab:
        if (const int t = FBuffer.NextTab(x + 1); t > 0)
            MoveCaret(t, y);
        break;
    case TCaretMove::cmBackspace:
        MoveCaret(x - 1, y);
        break;
    }
}

// ---- codes

bool ComTermCore::PerformCode(TEscapeCode Code, EscapeParams* Params)
{
    if (FVT102Active)
        return PerformVT102(Code, Params);
    // Replies build their parameters in the given list, or in one of their own without.
    EscapeParams own;
    EscapeParams& reply = Params ? *Params : own;
    const int x = FCaretPos.x();
    const int y = FCaretPos.y();
    switch (Code) {
    case TEscapeCode::ecReverseLineFeed:
        AdvanceCaret(TCaretMove::cmReverseLineFeed);
        break;
    case TEscapeCode::ecEraseLineFrom:
        FBuffer.EraseLineFrom(x, y);
        break;
    case TEscapeCode::ecEraseScreenFrom:
        FBuffer.EraseScreenFrom(x, y);
        break;
    case TEscapeCode::ecEraseLine:
        FBuffer.EraseLineFrom(1, y);
        MoveCaret(1, y);
        break;
    case TEscapeCode::ecEraseScreen:
        FBuffer.EraseScreenFrom(1, 1);
        MoveCaret(1, 1);
        break;
    case TEscapeCode::ecIdentify:
        reply.Clear();
        reply.Add("2");
        SendCodeNoEcho(TEscapeCode::ecIdentResponse, &reply);
        break;
    case TEscapeCode::ecQueryCursorPos:
        reply.Clear();
        reply.Add(std::to_string(y));
        reply.Add(std::to_string(x));
        SendCodeNoEcho(TEscapeCode::ecReportCursorPos, &reply);
        break;
    case TEscapeCode::ecAttributes:
        SetAttributes(Params);
        break;
    case TEscapeCode::ecSetMode:
        SetMode(Params, true);
        break;
    case TEscapeCode::ecResetMode:
        SetMode(Params, false);
        break;
    case TEscapeCode::ecReset:
        // Only the attributes: screen, caret, tab stops and modes stay.
        reply.Clear();
        reply.Add("0");
        SetAttributes(&reply);
        break;
    case TEscapeCode::ecSaveCaretAndAttr:
        SaveCaret();
        SaveAttr();
        break;
    case TEscapeCode::ecRestoreCaretAndAttr:
        RestoreCaret();
        RestoreAttr();
        break;
    case TEscapeCode::ecSaveCaret:
        SaveCaret();
        break;
    case TEscapeCode::ecRestoreCaret:
        RestoreCaret();
        break;
    case TEscapeCode::ecTest:
        FillScreen('E');
        break;
    default:
        // Every row is in reach: only the screen's edges stop the caret.
        return PerformCommon(Code, Params, &TEscapeCodes::GetParam, CaretLimits{1, FRows, 1, FRows});
    }
    return true;
}

void ComTermCore::SetAttributes(const EscapeParams* Params)
{
    const int count = Params ? Params->Count() : 0;
    if (count == 0)
        ResetAttributes();
    for (int n = 1; n <= count; ++n) {
        switch (TEscapeCodes::GetParam(n, Params)) {
        case 0: ResetAttributes(); break;
        case 1: FTermAttr.Bold = true; break;
        case 4: FTermAttr.Underline = true; break;
        case 7: FTermAttr.Invert = true; break;
        case 21: FTermAttr.Bold = false; break;
        case 24: FTermAttr.Underline = false; break;
        case 27: FTermAttr.Invert = false; break;
        default: break;
        }
    }
}

void ComTermCore::SetMode(const EscapeParams* Params, bool Value)
{
    if (!Params || Params->Count() == 0)
        return;
    const std::string& mode = (*Params)[0];
    if (mode == "?1")
        FAppCursorKeys = Value;
    else if (mode == "?7")
        FWrapLines = Value;
    else if (mode == "?3")
        SetColumns(Value ? 132 : 80);
}

void ComTermCore::ResetAttributes()
{
    FTermAttr = TTermAttributes{FFontColor, FColor, false, false, false};
    if (FVT102Active) {
        ClearPenVT102();
        UpdatePen();
    }
}

void ComTermCore::FillScreen(char Ch)
{
    FBuffer.Fill(TTermChar{static_cast<uint8_t>(Ch), FFontColor, FColor, false});
    NotifyDamage();
}

// ---- keyboard and sending

void ComTermCore::KeyDown(int& Key, Qt::KeyboardModifiers Shift)
{
    if (OnKeyDown)
        OnKeyDown(EventSender(), Key, Shift);
    TEscapeCode code;
    switch (Key) {
    case Qt::Key_Home: code = TEscapeCode::ecCursorHome; break;
    case Qt::Key_Left: code = TEscapeCode::ecCursorLeft; break;
    case Qt::Key_Up: code = TEscapeCode::ecCursorUp; break;
    case Qt::Key_Right: code = TEscapeCode::ecCursorRight; break;
    case Qt::Key_Down: code = TEscapeCode::ecCursorDown; break;
    default: return;
    }
    if (FAppCursorKeys) {
        switch (code) {
        case TEscapeCode::ecCursorUp: SendCode(TEscapeCode::ecAppCursorUp, nullptr); break;
        case TEscapeCode::ecCursorDown: SendCode(TEscapeCode::ecAppCursorDown, nullptr); break;
        case TEscapeCode::ecCursorLeft: SendCode(TEscapeCode::ecAppCursorLeft, nullptr); break;
        case TEscapeCode::ecCursorRight: SendCode(TEscapeCode::ecAppCursorRight, nullptr); break;
        default: break;
        }
    } else if (FArrowKeys == TArrowKeys::akTerminal) {
        SendCode(code, nullptr);
    } else {
        CaretHidden hidden(*this);
        PerformCode(code, nullptr);
    }
}

void ComTermCore::KeyPress(char& Key)
{
    if (OnKeyPress)
        OnKeyPress(EventSender(), Key);
    SendChar(Key);
}

void ComTermCore::SendChar(char Ch)
{
    if (FLocalEcho) {
        CaretHidden hidden(*this);
        PutChar(Ch);
        if (FSendLF && Ch == CR && !HasPort())
            PutChar(LF);
    }
    if (PortConnected()) {
        WriteStr(QByteArray(1, Ch));
        if (Ch == CR && FSendLF)
            SendChar(LF);
    }
}

void ComTermCore::SendCode(TEscapeCode Code, EscapeParams* Params)
{
    if (!PortConnected() || !FEscapeCodes)
        return;
    WriteEscCode(Code, Params);
    if (FLocalEcho) {
        CaretHidden hidden(*this);
        PerformCode(Code, Params);
    }
}

void ComTermCore::SendCodeNoEcho(TEscapeCode Code, EscapeParams* Params)
{
    if (PortConnected() && FEscapeCodes)
        WriteEscCode(Code, Params);
}

void ComTermCore::WriteEscCode(TEscapeCode Code, const EscapeParams* Params)
{
    if (PortConnected() && FEscapeCodes)
        WriteStr(FEscapeCodes->EscCodeToStr(Code, Params));
}

// ---- events and display

bool ComTermCore::TextInRuns() const
{
    return typeid(*this) == typeid(ComTermCore);
}

void ComTermCore::DoChar(char Ch)
{
    if (OnChar)
        OnChar(EventSender(), Ch);
}

void ComTermCore::DoGetEscapeCodes(TEscapeCodes*& EscapeCodes)
{
    if (OnGetEscapeCodes)
        OnGetEscapeCodes(EventSender(), EscapeCodes);
}

void ComTermCore::DoStrRecieved(QByteArray& Str)
{
    if (OnStrRecieved)
        OnStrRecieved(EventSender(), Str);
}

void ComTermCore::DoUnhandledCode(TEscapeCode Code, const QByteArray& Data)
{
    if (OnUnhandledCode)
        OnUnhandledCode(EventSender(), Code, Data);
}

void ComTermCore::NotifyDamage()
{
    if (FBuffer.Damaged())
        DisplayDamaged();
}

} // namespace zentrop
