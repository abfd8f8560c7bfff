// The terminal window: one terminal control filling the window, bound to the main window's
// port, showing what the user types and sending it to the port.
#pragma once

#include "forms/Form.h"

namespace zentrop {

class TComTerminal;
class TCustomComPort;

class TwTerminal : public TForm {
    Q_OBJECT

public:
    // Builds the window hidden, with its terminal control linked to Port (none when null).
    explicit TwTerminal(TCustomComPort* Port, QWidget* parent = nullptr);

    TComTerminal* ComTerminal1;
};

} // namespace zentrop
