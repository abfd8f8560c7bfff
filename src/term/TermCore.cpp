// Received bytes, escape codes, caret moves, attributes, modes, replies and keys.
#include "term/TermCore.h"

#include "EscapeCodesVT102.h"
#include "TermEmulation.h"

#include "base/Debug.h"

#include <algorithm>
#include <typeinfo>

namespace zentrop {

namespace {

constexpr char LF = 10;
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
    if (FEmulationObject)
        FEmulationObject->ColoursChanged();
    FBuffer.DamageAll();
    NotifyDamage();
}

void ComTermCore::SetFontColor(TColor Value)
{
    FFontColor = Value;
    FTermAttr.FrontColor = Value;
    if (FEmulationObject)
        FEmulationObject->ColoursChanged();
}

void ComTermCore::SetUtf8(bool Value)
{
    FUtf8 = Value;
}

void ComTermCore::Resize(int Columns, int Rows)
{
    Columns = std::clamp(Columns, 2, TComTermBuffer::MaxColumns);
    Rows = std::clamp(Rows, 2, TComTermBuffer::MaxGridRows);
    if (Columns == FColumns && Rows == FRows)
        return;
    const bool sameGrid = FBuffer.Columns() == FColumns && FBuffer.Rows() == FRows;
    FColumns = Columns;
    FRows = Rows;
    SizeChanged();
    if (FLoading)
        return;
    int up = 0;
    if (sameGrid)
        up = FBuffer.Resize(Columns, Rows, FCaretPos.y());
    else
        FBuffer.Init(Columns, Rows);
    FSavedCaret.ry() -= up;
    MoveCaret(FCaretPos.x(), FCaretPos.y() - up);
    if (FEmulationObject)
        FEmulationObject->SizeChanged();
    NotifyDamage();
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
    if (FEmulationObject)
        FEmulationObject->SizeChanged();
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
    // An emulation that is taking received text lives until that text is done.
    std::unique_ptr<TermEmulation> old = std::move(FEmulationObject);
    if (old)
        old->Leaving();
    if (FReceiving > 0 && old)
        FRetired.push_back(std::move(old));
    old.reset();
    FEscapeCodes.reset();
    switch (FEmulation) {
    case TTermEmulation::teVT100orANSI:
        FEscapeCodes = std::make_unique<TEscapeCodesVT100>();
        break;
    case TTermEmulation::teVT52:
        FEscapeCodes = std::make_unique<TEscapeCodesVT52>();
        break;
    case TTermEmulation::teVT102: {
        auto codes = std::make_unique<EscapeCodesVT102>();
        FEmulationObject = MakeVT102Emulation(*this, *codes);
        FEscapeCodes = std::move(codes);
        return;
    }
    case TTermEmulation::teNone: {
        TEscapeCodes* codes = nullptr;
        DoGetEscapeCodes(codes);
        FEscapeCodes.reset(codes);
        break;
    }
    }
    FEmulationObject = MakeClassicEmulation(*this);
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
    struct Receiving {
        ComTermCore& t;
        explicit Receiving(ComTermCore& Term) : t(Term) { ++t.FReceiving; }
        ~Receiving()
        {
            if (--t.FReceiving == 0)
                t.FRetired.clear();
        }
        Receiving(const Receiving&) = delete;
        Receiving& operator=(const Receiving&) = delete;
    } receiving(*this);
    const char* bytes = Str.constData();
    const qsizetype size = Str.size();
    // Each emulation takes what it can; one that a handler replaced hands the rest on.
    for (qsizetype i = 0; i < size;)
        i += FEmulationObject->Receive(bytes + i, size - i);
}

void ComTermCore::PutChar(char Ch)
{
    FEmulationObject->PutChar(Ch);
    DoChar(Ch);
}

// ---- caret

void ComTermCore::MoveCaret(int X, int Y)
{
    FCaretPos = QPoint(std::clamp(X, 1, FColumns), std::clamp(Y, 1, FRows));
    FWrapPending = false;
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
    return FEmulationObject->Perform(Code, Params);
}

void ComTermCore::SetAttributes(const EscapeParams* Params)
{
    const int count = Params ? Params->Count() : 0;
    if (count == 0)
        ResetAttributes();
    for (int n = 1; n <= count; ++n)
        SetAttribute(TEscapeCodes::GetParam(n, Params));
}

void ComTermCore::SetAttributes(const int* Values, int Count)
{
    if (Count == 0)
        ResetAttributes();
    for (int n = 0; n < Count; ++n)
        SetAttribute(Values[n]);
}

void ComTermCore::SetAttribute(int P)
{
    // Branches the processor foresees better than a jump through a table; other values
    // (colours among them) change nothing.
    if (P == 0)
        ResetAttributes();
    else if (P == 1 || P == 21)
        FTermAttr.Bold = P == 1;
    else if (P == 4 || P == 24)
        FTermAttr.Underline = P == 4;
    else if (P == 7 || P == 27)
        FTermAttr.Invert = P == 7;
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
    if (FEmulationObject)
        FEmulationObject->AttributesReset();
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
