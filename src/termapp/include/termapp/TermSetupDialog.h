// zentrop-term's terminal settings: the terminal settings dialog with a group for what the
// program adds (font, character set, Backspace, scrollback, the menu key).
#pragma once

#include "cportctl/ComTrmSet.h"

class QComboBox;
class QFontComboBox;
class QSpinBox;

namespace zentrop {

class TCustomComTerminal;

class TermSetupForm : public TComTrmSetForm {
    Q_OBJECT

public:
    explicit TermSetupForm(QWidget* Parent = nullptr);

    TGroupBox* gbWindow;
    QFontComboBox* cbFont;
    QSpinBox* seFontSize;
    QComboBox* cbCharset;
    QComboBox* cbBackspace;
    QSpinBox* seScrollback;
    QComboBox* cbMenuKey;

    // The choices of the menu key, as key sequences ("" for none).
    static QStringList MenuKeys();

    void Load(const TCustomComTerminal& Terminal);
    void Apply(TCustomComTerminal& Terminal) const;
};

// Shows the dialog for Terminal; on OK applies it. True when the user confirmed.
bool ExecuteTermSetup(TCustomComTerminal* Terminal);

} // namespace zentrop
