// The list logic of a port property selector: which property of a serial port it shows, the
// texts of every value of that property, the value it has stored, and writing that value to
// the linked port. Knows the item list only as a string list, so it needs no widgets.
#pragma once

#include "base/Strings.h"
#include "cport/ComPort.h"

#include <QObject>
#include <QPointer>
#include <QString>
#include <cstdint>

namespace zentrop {

namespace CPortCtl {
Q_NAMESPACE

// The port property a selector shows.
enum class TComProperty : uint8_t { cpNone, cpPort, cpBaudRate, cpDataBits, cpStopBits, cpParity, cpFlowControl };
Q_ENUM_NS(TComProperty)

} // namespace CPortCtl

using CPortCtl::TComProperty;

class TComSelect {
public:
    // List is the item list the selector fills (not owned); it must outlive the selector's use.
    explicit TComSelect(TStrings* List = nullptr) : FList(List) {}

    TStrings* List() const { return FList; }

    TComProperty Kind() const { return FKind; }
    // Takes the kind and refills the list with the texts of its values; for cpPort these are
    // the installed ports, whose enumeration may raise EComPortExt code 23.
    void SetKind(TComProperty Kind);

    TCustomComPort* LinkedPort() const { return FLinkedPort.data(); }
    // Links a port (not owned); nullptr unlinks. Nothing is read or written.
    void SetLinkedPort(TCustomComPort* Port) { FLinkedPort = Port; }

    bool ApplyAtOnce() const { return FApplyAtOnce; }
    void SetApplyAtOnce(bool Value) { FApplyAtOnce = Value; }

    // Parses Text into the stored value of the kind; applies it at once when ApplyAtOnce.
    void StoreText(const QString& Text);
    // Writes the stored value to the linked port's property; nothing without a port or kind.
    // A stored port name that spells the device the port is on already otherwise than by
    // letter case (the listed "/dev/ttyS0" for a port named "COM1") leaves the port's own
    // name in place.
    void ApplyToPort();
    // Looks up the linked port's current value in the list, ignoring letter case; a port
    // name not listed as such is found by the device it names, so "COM1" finds "/dev/ttyS0".
    // False when there was nothing to look up (no port, or cpNone): Index is then left as it
    // was. Otherwise Index is the position (-1 when the value is not listed), and a listed
    // value is stored as the list spells it.
    bool FindPortValue(int& Index);

    // The stored values; only the one of the current kind means anything.
    QString PortName() const { return FPortName; }
    TBaudRate BaudValue() const { return FBaudValue; }
    TDataBits DataBitsValue() const { return FDataBitsValue; }
    TStopBits StopBitsValue() const { return FStopBitsValue; }
    TParityBits ParityValue() const { return FParityValue; }
    TFlowControl FlowValue() const { return FFlowValue; }

private:
    // Parses Text into the stored value of the kind; the port name is kept as it is.
    void ParseText(const QString& Text);
    QString PortValueText() const;
    // Whether two port names stand for the same device of the linked port; an empty name
    // names none.
    bool SameDevice(const QString& A, const QString& B) const;

    QString FPortName;
    TBaudRate FBaudValue = TBaudRate::brCustom;
    TDataBits FDataBitsValue = TDataBits::dbFive;
    TStopBits FStopBitsValue = TStopBits::sbOneStopBit;
    TParityBits FParityValue = TParityBits::prNone;
    TFlowControl FFlowValue = TFlowControl::fcHardware;
    TStrings* FList;
    TComProperty FKind = TComProperty::cpNone;
    // Guarded, so that a port destroyed behind the selector's back is never written to.
    QPointer<TCustomComPort> FLinkedPort;
    bool FApplyAtOnce = false;
};

} // namespace zentrop
