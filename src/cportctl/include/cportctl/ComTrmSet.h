// The terminal settings dialog: the ASCII handling switches and the terminal's caret,
// emulation, size and cursor keys, laid out for a program that offers them to its user.
#pragma once

#include "forms/Form.h"

namespace zentrop {

class TButton;
class TCheckBox;
class TCustomComTerminal;
class TComboBox;
class TEdit;
class TGroupBox;
class TLabel;

class TComTrmSetForm : public TForm {
    Q_OBJECT

public:
    explicit TComTrmSetForm(QWidget* parent = nullptr);

    TGroupBox* gbAscii;
    TCheckBox* chkLocalEcho;
    TCheckBox* chkSendLF;
    TCheckBox* chkWrapLines;
    TCheckBox* chkForce7Bit;
    TCheckBox* chkAppendLF;
    TGroupBox* gbTerminal;
    TLabel* lbCaret;
    TComboBox* cbCaret;
    TLabel* lbEmulation;
    TComboBox* cbEmulation;
    TLabel* lbColumns;
    TEdit* edColumns;
    TLabel* lbRows;
    TEdit* edRows;
    TLabel* lbArrowKeys;
    TComboBox* cbArrowKeys;
    TButton* Button1;
    TButton* Button2;
};

// Shows the settings dialog for Terminal with its current settings. On OK they are applied
// to it; Cancel changes nothing. A size that is not a number keeps the terminal's size, one
// out of range is brought into it by the terminal. True when the user confirmed.
bool ExecuteTerminalSetup(TCustomComTerminal* Terminal);

// The two halves of that run, for a program that adds settings of its own to the form.
void LoadTerminalSetup(TComTrmSetForm& Form, const TCustomComTerminal& Terminal);
void ApplyTerminalSetup(const TComTrmSetForm& Form, TCustomComTerminal& Terminal);

} // namespace zentrop
