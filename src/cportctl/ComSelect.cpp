// The selector's value lists, stored value, port lookup and writing to the port.
#include "cportctl/ComSelect.h"

namespace zentrop {

namespace {

// The texts of every member of an enumeration, in ordinal order.
template <typename E>
void AddTexts(TStrings& list, E last, QString (*toText)(E))
{
    for (int i = 0; i <= static_cast<int>(last); ++i)
        list.Add(toText(static_cast<E>(i)));
}

} // namespace

void TComSelect::SetKind(TComProperty Kind)
{
    FKind = Kind;
    if (!FList)
        return;
    FList->Clear();
    switch (Kind) {
    case TComProperty::cpNone:
        break;
    case TComProperty::cpPort:
        EnumComPorts(*FList);
        break;
    case TComProperty::cpBaudRate:
        AddTexts(*FList, TBaudRate::br256000, BaudRateToText);
        break;
    case TComProperty::cpDataBits:
        AddTexts(*FList, TDataBits::dbEight, DataBitsToText);
        break;
    case TComProperty::cpStopBits:
        AddTexts(*FList, TStopBits::sbTwoStopBits, StopBitsToText);
        break;
    case TComProperty::cpParity:
        AddTexts(*FList, TParityBits::prSpace, ParityToText);
        break;
    case TComProperty::cpFlowControl:
        AddTexts(*FList, TFlowControl::fcCustom, FlowControlToText);
        break;
    }
}

void TComSelect::StoreText(const QString& Text)
{
    ParseText(Text);
    if (FApplyAtOnce)
        ApplyToPort();
}

void TComSelect::ParseText(const QString& Text)
{
    switch (FKind) {
    case TComProperty::cpNone:
        break;
    case TComProperty::cpPort:
        FPortName = Text;
        break;
    case TComProperty::cpBaudRate:
        FBaudValue = TextToBaudRate(Text);
        break;
    case TComProperty::cpDataBits:
        FDataBitsValue = TextToDataBits(Text);
        break;
    case TComProperty::cpStopBits:
        FStopBitsValue = TextToStopBits(Text);
        break;
    case TComProperty::cpParity:
        FParityValue = TextToParity(Text);
        break;
    case TComProperty::cpFlowControl:
        FFlowValue = TextToFlowControl(Text);
        break;
    }
}

void TComSelect::ApplyToPort()
{
    TCustomComPort* port = FLinkedPort.data();
    if (!port)
        return;
    switch (FKind) {
    case TComProperty::cpNone:
        break;
    case TComProperty::cpPort:
        // Another spelling of the device the port is on already (the listed "/dev/ttyS0" for
        // "COM1") keeps the port's own name: renaming would close and reopen an open port on
        // that very device. A name that differs in letter case only is written as listed.
        if (FPortName.compare(port->Port(), Qt::CaseInsensitive) == 0 || !SameDevice(port->Port(), FPortName))
            port->SetPort(FPortName);
        break;
    case TComProperty::cpBaudRate:
        port->SetBaudRate(FBaudValue);
        break;
    case TComProperty::cpDataBits:
        port->SetDataBits(FDataBitsValue);
        break;
    case TComProperty::cpStopBits:
        port->SetStopBits(FStopBitsValue);
        break;
    case TComProperty::cpParity:
        port->Parity()->SetBits(FParityValue);
        break;
    case TComProperty::cpFlowControl:
        port->FlowControl()->SetFlowControl(FFlowValue);
        break;
    }
}

QString TComSelect::PortValueText() const
{
    const TCustomComPort* port = FLinkedPort.data();
    switch (FKind) {
    case TComProperty::cpNone:
        break;
    case TComProperty::cpPort:
        return port->Port();
    case TComProperty::cpBaudRate:
        return BaudRateToText(port->BaudRate());
    case TComProperty::cpDataBits:
        return DataBitsToText(port->DataBits());
    case TComProperty::cpStopBits:
        return StopBitsToText(port->StopBits());
    case TComProperty::cpParity:
        return ParityToText(port->Parity()->Bits());
    case TComProperty::cpFlowControl:
        return FlowControlToText(port->FlowControl()->FlowControl());
    }
    return QString();
}

bool TComSelect::SameDevice(const QString& A, const QString& B) const
{
    // The port's device maps names to devices, as it does when it opens one.
    const ComDevice& device = FLinkedPort->Device();
    return !A.isEmpty() && !B.isEmpty() && device.DeviceName(A) == device.DeviceName(B);
}

bool TComSelect::FindPortValue(int& Index)
{
    if (!FLinkedPort || FKind == TComProperty::cpNone || !FList)
        return false;
    Index = FList->IndexOf(PortValueText());
    // The installed ports are listed by device path, while a port is often named "COMn".
    if (Index < 0 && FKind == TComProperty::cpPort) {
        for (int i = 0; i < FList->Count() && Index < 0; ++i)
            if (SameDevice(FLinkedPort->Port(), FList->Get(i)))
                Index = i;
    }
    // Stored without applying: the port has this value already.
    if (Index >= 0)
        ParseText(FList->Get(Index));
    return true;
}

} // namespace zentrop
