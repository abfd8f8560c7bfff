// Linking the selector box to a port, following the port's value and the user's choice.
#include "cportctl/ComComboBox.h"

#include "cport/NetPortName.h"

namespace zentrop {

TComComboBox::TComComboBox(QWidget* parent)
    : TCustomComboBox(parent), FSelector(Items())
{
    SetStyle(TComboBoxStyle::csDropDownList);
}

void TComComboBox::SetComPort(TCustomComPort* Port)
{
    if (Port == FSelector.LinkedPort())
        return;
    disconnect(FPortWatch);
    FPortWatch = {};
    FSelector.SetLinkedPort(Port);
    if (!Port)
        return;
    FPortWatch = connect(Port, &QObject::destroyed, this, [this] { PortDestroyed(); });
    SelectFromPort();
}

void TComComboBox::PortDestroyed()
{
    // Only the linked port is watched. The stored value stays what it was.
    disconnect(FPortWatch);
    FPortWatch = {};
    FSelector.SetLinkedPort(nullptr);
    if (count() > 0)
        setCurrentIndex(0);
}

void TComComboBox::SetComProperty(TComProperty Kind)
{
    FSelector.SetKind(Kind);
    if (count() == 0)
        return;
    if (FSelector.LinkedPort())
        SelectFromPort();
    else
        setCurrentIndex(0);
}

QString TComComboBox::Text() const
{
    // A box the user may type into gives what it shows.
    if (Style() == TComboBoxStyle::csDropDown)
        return currentText();
    return currentIndex() >= 0 ? itemText(currentIndex()) : QString();
}

void TComComboBox::SetText(const QString& Text)
{
    const int index = Items()->IndexOf(Text);
    if (index >= 0)
        setCurrentIndex(index);
}

void TComComboBox::SelectFromPort()
{
    int index = -1;
    if (!FSelector.FindPortValue(index))
        return;
    setCurrentIndex(index);
    // No list holds a network port: a box the user may type into shows it as typed.
    const TCustomComPort* port = FSelector.LinkedPort();
    if (index < 0 && Style() == TComboBoxStyle::csDropDown && ComProperty() == TComProperty::cpPort
        && IsNetPortName(port->Port())) {
        setEditText(port->Port());
        FSelector.StoreText(port->Port());
    }
}

void TComComboBox::Change()
{
    FSelector.StoreText(Text());
    TCustomComboBox::Change();
}

} // namespace zentrop
