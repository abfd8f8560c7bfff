// The port setup dialog: six selectors for the port name and line settings of one port, and
// the run that writes the confirmed choice to the port in one update.
#pragma once

#include "cportctl/ComComboBox.h"
#include "forms/Form.h"

namespace zentrop {

class TButton;
class TGroupBox;
class TLabel;

class TComSetupFrm : public TForm {
    Q_OBJECT

public:
    // Fills the port list from the installed ports; raises EComPortExt code 23 when they
    // cannot be listed.
    explicit TComSetupFrm(QWidget* parent = nullptr);

    TGroupBox* GroupBox1;
    TLabel* Label1;
    TLabel* Label2;
    TLabel* Label3;
    TLabel* Label4;
    TLabel* Label5;
    TLabel* Label6;
    TComComboBox* Combo1;
    TComComboBox* Combo2;
    TComComboBox* Combo3;
    TComComboBox* Combo4;
    TComComboBox* Combo5;
    TComComboBox* Combo6;
    TButton* Button1;
    TButton* Button2;

    // The six selectors, port name first, in the order they are written.
    QList<TComComboBox*> Combos() const { return {Combo1, Combo2, Combo3, Combo4, Combo5, Combo6}; }
};

// Shows the setup dialog for ComPort with its current values selected. On OK the six values
// are written between the port's BeginUpdate and EndUpdate, so an open port is reconfigured
// once; Cancel writes nothing. Errors of the port (listing the ports, applying a value)
// propagate to the caller; the form is released and the update bracket closed on every path.
void ExecuteComSetup(TCustomComPort* ComPort);

// Makes every port's ShowSetupDialog run ExecuteComSetup. Called once by the program entry.
void InstallComSetupDialog();

} // namespace zentrop
