// The terminal window's stored settings and those of its terminal control.
#include "gui/Terminal.h"

#include "cportctl/ComTerminal.h"
#include "forms/Controls.h"

namespace zentrop {

TwTerminal::TwTerminal(TCustomComPort* Port, QWidget* parent)
    : TForm(parent)
{
    setObjectName(QStringLiteral("wTerminal"));
    SetCaption(QStringLiteral("wTerminal"));
    setFont(DesignFont(QStringLiteral("MS Sans Serif"), 11));
    // A 559 x 529 window with the classic frame around this client area.
    SetClientSize(551, 495);
    move(537, 353);
    // Closing only hides the window; it never keeps the program running on its own.
    setAttribute(Qt::WA_QuitOnClose, false);

    ComTerminal1 = Own(new TComTerminal(Client()), QStringLiteral("ComTerminal1"));
    // Set as a stored form is read: size and emulation take effect once, at Loaded.
    ComTerminal1->BeginLoading();
    ComTerminal1->setGeometry(0, 0, 551, 495);
    ComTerminal1->SetAlign(TPanel::TAlign::alClient);
    ComTerminal1->SetColor(clBlack);
    ComTerminal1->SetComPort(Port);
    ComTerminal1->SetEmulation(TTermEmulation::teNone);
    ComTerminal1->Font()->SetName(QStringLiteral("Fixedsys"));
    ComTerminal1->Font()->SetHeight(-12);
    ComTerminal1->Font()->SetColor(clWhite);
    ComTerminal1->SetLocalEcho(true);
    ComTerminal1->SetScrollBars(TScrollStyle::ssBoth);
    ComTerminal1->SetAutoSize(true);
    ComTerminal1->Loaded();
    ComTerminal1->setFocus();
}

} // namespace zentrop
