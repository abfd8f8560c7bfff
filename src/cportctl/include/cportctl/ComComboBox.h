// The port property selector as a pick-only combo box: it lists every value of one property
// of a serial port, selects the linked port's current value, and writes the user's choice
// back to the port, at once with AutoApply or when told to.
#pragma once

#include "cportctl/ComSelect.h"
#include "forms/ComboBox.h"

#include <QMetaObject>

namespace zentrop {

class TComComboBox : public TCustomComboBox {
    Q_OBJECT
    Q_PROPERTY(TCustomComPort* ComPort READ ComPort WRITE SetComPort)
    Q_PROPERTY(CPortCtl::TComProperty ComProperty READ ComProperty WRITE SetComProperty)
    Q_PROPERTY(bool AutoApply READ AutoApply WRITE SetAutoApply)
    Q_PROPERTY(QString Text READ Text WRITE SetText)

public:
    explicit TComComboBox(QWidget* parent);

    TCustomComPort* ComPort() const { return FSelector.LinkedPort(); }
    // Links the port and selects its current value; the box unlinks itself when the port is
    // destroyed. nullptr unlinks.
    void SetComPort(TCustomComPort* Port);
    TComProperty ComProperty() const { return FSelector.Kind(); }
    // Refills the list for the kind and selects the linked port's value, or the first item
    // when no port is linked.
    void SetComProperty(TComProperty Kind);
    bool AutoApply() const { return FSelector.ApplyAtOnce(); }
    void SetAutoApply(bool Value) { FSelector.SetApplyAtOnce(Value); }

    // The selected item's text, empty when none is selected; for a box the user may type
    // into, the text it shows.
    QString Text() const override;
    // Selects the first item of that text (ignoring letter case), if there is one. Neither
    // stores nor applies anything.
    void SetText(const QString& Text) override;

    // Writes the stored value to the linked port.
    void ApplyToPort() { FSelector.ApplyToPort(); }
    // Selects the linked port's current value (no selection when it is not listed).
    void SelectFromPort();

    // The list logic, with the value stored from the user's last choice or the port.
    const TComSelect& Selector() const { return FSelector; }

protected:
    // The user picked an item: store it (applying it with AutoApply), then tell OnChange.
    void Change() override;

private:
    void PortDestroyed();

    TComSelect FSelector;
    QMetaObject::Connection FPortWatch;
};

} // namespace zentrop
