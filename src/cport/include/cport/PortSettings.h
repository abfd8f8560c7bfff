// The port's line configuration as one value: built, compared and applied as a whole. Its
// parts follow the apply operations that send them to an open device.
#pragma once

#include "cport/CPortTypes.h"

namespace zentrop {

struct ParitySettings {
    TParityBits Bits = TParityBits::prNone;
    bool Check = false;
    bool Replace = false;
    char ReplaceChar = 0;

    bool operator==(const ParitySettings&) const = default;
};

struct FlowControlSettings {
    bool OutCTSFlow = false;
    bool OutDSRFlow = false;
    TDTRFlowControl ControlDTR = TDTRFlowControl::dtrDisable;
    TRTSFlowControl ControlRTS = TRTSFlowControl::rtsDisable;
    bool XonXoffOut = false;
    bool XonXoffIn = false;
    bool DSRSensitivity = false;
    bool TxContinueOnXoff = false;
    char XonChar = 17;
    char XoffChar = 19;

    // The preset the RTS, CTS and XON/XOFF fields make up; fcCustom when they match none.
    TFlowControl Preset() const;
    // Sets those fields to a preset; fcCustom leaves them as they are.
    void SetPreset(TFlowControl Value);

    bool operator==(const FlowControlSettings&) const = default;
};

// Milliseconds; -1 stands for the system value 0xFFFFFFFF.
struct TimeoutSettings {
    int ReadInterval = -1;
    int ReadTotalMultiplier = 0;
    int ReadTotalConstant = 0;
    int WriteTotalMultiplier = 100;
    int WriteTotalConstant = 1000;

    bool operator==(const TimeoutSettings&) const = default;
};

// Sizes of the device's input and output queues in bytes.
struct BufferSettings {
    int InputSize = 1024;
    int OutputSize = 1024;

    bool operator==(const BufferSettings&) const = default;
};

// The parts of the value by the apply operation that sends them: the queue sizes, the line
// state (everything but the time-outs and the queue sizes) and the time-outs.
enum class SettingsPart { Buffer, Line, Timeouts };
using SettingsParts = TSet<SettingsPart, uint8_t>;

struct PortSettings {
    TBaudRate BaudRate = TBaudRate::br9600;
    int CustomBaudRate = 9600;   // the rate when BaudRate is brCustom
    TStopBits StopBits = TStopBits::sbOneStopBit;
    TDataBits DataBits = TDataBits::dbEight;
    bool DiscardNull = false;
    char EventChar = 0;
    ParitySettings Parity;
    FlowControlSettings FlowControl;
    TimeoutSettings Timeouts;
    BufferSettings Buffer;

    bool operator==(const PortSettings&) const = default;
};

// The parts in which two values differ.
SettingsParts ChangedParts(const PortSettings& From, const PortSettings& To);

} // namespace zentrop
