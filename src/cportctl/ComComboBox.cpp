// Linking the selector box to a port, following the port's value and the user's choice.
#include "ComComboBox.h"

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
    if (FSelector.FindPortValue(index))
        setCurrentIndex(index);
}

void TComComboBox::Change()
{
    FSelector.StoreText(Text());
    TCustomComboBox::Change();
}
