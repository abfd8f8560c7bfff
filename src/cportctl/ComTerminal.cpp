// The terminal widget: its port and link, its font, and the keys it takes.
#include "cportctl/ComTerminal.h"

#include "base/Ansi.h"

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

void TCustomComTerminal::keyPressEvent(QKeyEvent* Event)
{
    int key = Event->key();
    KeyDown(key, Event->modifiers());
    // The characters a key gives are sent as 8-bit bytes after the key itself, in the code
    // page the screen shows received bytes in.
    for (const char c : EncodeAnsi(Event->text())) {
        char ch = c;
        KeyPress(ch);
    }
    Event->accept();
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
