// The settings value's rules: the flow control presets and which parts two values differ in.
#include "cport/PortSettings.h"

namespace zentrop {

TFlowControl FlowControlSettings::Preset() const
{
    if (ControlRTS == TRTSFlowControl::rtsHandshake && OutCTSFlow && !XonXoffIn && !XonXoffOut)
        return TFlowControl::fcHardware;
    if (ControlRTS == TRTSFlowControl::rtsDisable && !OutCTSFlow && XonXoffIn && XonXoffOut)
        return TFlowControl::fcSoftware;
    if (ControlRTS == TRTSFlowControl::rtsDisable && !OutCTSFlow && !XonXoffIn && !XonXoffOut)
        return TFlowControl::fcNone;
    return TFlowControl::fcCustom;
}

void FlowControlSettings::SetPreset(TFlowControl Value)
{
    if (Value == TFlowControl::fcCustom)
        return;
    const bool hardware = Value == TFlowControl::fcHardware;
    const bool software = Value == TFlowControl::fcSoftware;
    ControlRTS = hardware ? TRTSFlowControl::rtsHandshake : TRTSFlowControl::rtsDisable;
    OutCTSFlow = hardware;
    XonXoffIn = software;
    XonXoffOut = software;
}

SettingsParts ChangedParts(const PortSettings& From, const PortSettings& To)
{
    SettingsParts parts;
    if (From.Buffer != To.Buffer)
        parts.Include(SettingsPart::Buffer);
    if (From.Timeouts != To.Timeouts)
        parts.Include(SettingsPart::Timeouts);
    // The line state is all the rest: compare the values with those two parts made equal.
    PortSettings line = To;
    line.Buffer = From.Buffer;
    line.Timeouts = From.Timeouts;
    if (line != From)
        parts.Include(SettingsPart::Line);
    return parts;
}

} // namespace zentrop
