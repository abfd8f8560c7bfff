// The terminal widget: its port and link, its font, and the keys it takes.
#include "cportctl/ComTerminal.h"

#include "base/Ansi.h"

#include <QApplication>
#include <QClipboard>
#include <QEvent>
#include <QKeyEvent>

#include <typeinfo>

namespace zentrop {

TCustomComTerminal::TCustomComTerminal(QWidget* Parent)
    : QAbstractScrollArea(Parent)
{
    // Made once every member is set: a new child sends this control an event, which its
    // event handler reads members for.
    FFont = new TFont(this);
    InitDisplay();
    setFocusPolicy(Qt::StrongFocus);
    resize(DefaultWidth, DefaultHeight);
    FFont->SetName(QStringLiteral("Fixedsys"));
    FFont->SetSize(9);
    FFont->SetColor(clWhite);
    SetFontColor(FFont->Color());
    FComLink.OnRxData = [this](QObject* Sender, const char* Buffer, int Count) {
        HandleRxData(Sender, Buffer, Count);
    };
}

TCustomComTerminal::~TCustomComTerminal()
{
    SetComPort(nullptr);
}

void TCustomComTerminal::SetComPort(TCustomComPort* Port)
{
    if (Port == FComPort)
        return;
    if (FComPort)
        FComPort->DetachLink(&FComLink);
    FComPort = Port;
    if (Port)
        Port->AttachLink(&FComLink);
}

bool TCustomComTerminal::Connected() const
{
    return FComPort && FComPort->Connected();
}

void TCustomComTerminal::SetConnected(bool Value)
{
    if (FComPort)
        FComPort->SetConnected(Value);
}

bool TCustomComTerminal::TextInRuns() const
{
    return typeid(*this) == typeid(TCustomComTerminal) || typeid(*this) == typeid(TComTerminal);
}

void TCustomComTerminal::WriteStr(const QByteArray& Str)
{
    if (FComPort)
        FComPort->WriteStr(Str);
}

void TCustomComTerminal::SetCharset(CharacterSet Value)
{
    FCharset = Value;
    ApplyCharset();
}

bool TCustomComTerminal::CharsetIsUtf8() const
{
    if (FCharset == CharacterSet::Default)
        return Emulation() == TTermEmulation::teVT102;
    return FCharset == CharacterSet::Utf8;
}

void TCustomComTerminal::ApplyCharset()
{
    SetUtf8(CharsetIsUtf8());
}

void TCustomComTerminal::SetEmulation(TTermEmulation Value)
{
    ComTermCore::SetEmulation(Value);
    ApplyCharset();
}

KeyModes TCustomComTerminal::CurrentKeyModes() const
{
    KeyModes modes;
    modes.AppCursor = AppCursorKeys();
    modes.BackspaceSendsBS = FBackspaceSendsBS;
    modes.Utf8 = CharsetIsUtf8();
    modes.AppKeypad = AppKeypad();
    return modes;
}

void TCustomComTerminal::SendBytes(const QByteArray& Bytes)
{
    if (Bytes.isEmpty())
        return;
    // What is typed goes where the device's answer will show: the live screen.
    ScrollBack(0);
    QByteArray bytes = Bytes;
    if (SendLF())
        bytes.replace("\r", "\r\n");
    if (LocalEcho())
        ProcessText(bytes);
    if (Connected())
        WriteStr(bytes);
}

void TCustomComTerminal::PasteText(const QString& Text)
{
    QString text = Text;
    // Lines end as Enter ends them, whatever the clipboard's owner used.
    text.replace(QStringLiteral("\r\n"), QStringLiteral("\r"));
    text.replace(u'\n', u'\r');
    QByteArray bytes = EncodeText(text, CharsetIsUtf8());
    // A program that asked for it is told where the paste begins and ends, so that it does
    // not run what was pasted as typed commands.
    if (BracketedPaste())
        bytes = "\x1b[200~" + bytes + "\x1b[201~";
    SendBytes(bytes);
}

bool TCustomComTerminal::HandleViewKey(QKeyEvent* Event)
{
    const Qt::KeyboardModifiers mods = Event->modifiers() & ~Qt::KeypadModifier;
    const int key = Event->key();
    if (mods == (Qt::ControlModifier | Qt::ShiftModifier) && key == Qt::Key_C) {
        CopySelection();
        return true;
    }
    if (mods == (Qt::ControlModifier | Qt::ShiftModifier) && key == Qt::Key_V) {
        PasteText(QApplication::clipboard()->text());
        return true;
    }
    if (FGridFollowsWindow && mods == Qt::ShiftModifier && (key == Qt::Key_PageUp || key == Qt::Key_PageDown)) {
        ScrollBack(FScrollBack + (key == Qt::Key_PageUp ? 1 : -1) * std::max(1, Rows() - 1));
        return true;
    }
    if (mods == Qt::ShiftModifier && key == Qt::Key_Insert) {
        PasteText(QApplication::clipboard()->text());
        return true;
    }
    return false;
}

void TCustomComTerminal::keyPressEvent(QKeyEvent* Event)
{
    Event->accept();
    if (Emulation() == TTermEmulation::teVT102) {
        if (HandleViewKey(Event))
            return;
        SendBytes(EncodeKey(Event->key(), Event->modifiers(), Event->text(), CurrentKeyModes()));
        return;
    }
    int key = Event->key();
    KeyDown(key, Event->modifiers());
    // The characters a key gives are sent as bytes after the key itself, in the character
    // set (the code page the screen shows received bytes in, unless set otherwise).
    for (const char c : EncodeText(Event->text(), CharsetIsUtf8())) {
        char ch = c;
        KeyPress(ch);
    }
}

void TCustomComTerminal::changeEvent(QEvent* Event)
{
    if (Event->type() == QEvent::PaletteChange && FFont->Color() != FontColor())
        SetFontColor(FFont->Color());
    QAbstractScrollArea::changeEvent(Event);
    if (Event->type() == QEvent::FontChange)
        FontChanged();
}

} // namespace zentrop
