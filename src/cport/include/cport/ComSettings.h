// The four settings objects a port owns: time-outs, flow control, parity and queue sizes.
// An object owned by a port publishes its part of the port's settings value, and a setter
// that changes it changes the port's value; a free-standing object keeps a part of its own.
#pragma once

#include "cport/CPortTypes.h"
#include "cport/PortSettings.h"

#include <QObject>

namespace zentrop {

class TCustomComPort;

// Common ground of the settings objects: the owning port (nil for a free-standing object,
// for example one a dialog fills) and the framework's assign error.
class TComSettings : public QObject {
    Q_OBJECT

public:
    explicit TComSettings(TCustomComPort* OwnerPort = nullptr);

    TCustomComPort* OwnerPort() const { return FOwnerPort; }

    // Copies the fields of another object of the same class without applying anything;
    // any other source raises EConvertError "Cannot assign a <source> to a <this>".
    virtual void Assign(const QObject* Source) = 0;

protected:
    [[noreturn]] void RaiseAssignError(const QObject* Source) const;
    // This object's part (Member of the port's value), from the owner, or Own without one.
    template <typename Part>
    const Part& Current(Part PortSettings::*Member, const Part& Own) const;
    // Stores Value as this object's part: the owner sends each changed part and those in
    // Also to its device. Without an owner, Own takes it.
    template <typename Part>
    void Change(Part PortSettings::*Member, Part& Own, const Part& Value, SettingsParts Also = {});
    // As Change, sending nothing: the framework's assign copies fields only.
    template <typename Part>
    void Copy(Part PortSettings::*Member, Part& Own, const Part& Value);

private:
    TCustomComPort* FOwnerPort;
};

// Read and write time-outs in milliseconds; -1 stands for the system value 0xFFFFFFFF.
class TComTimeouts : public TComSettings {
    Q_OBJECT
    Q_PROPERTY(int ReadInterval READ ReadInterval WRITE SetReadInterval)
    Q_PROPERTY(int ReadTotalMultiplier READ ReadTotalMultiplier WRITE SetReadTotalMultiplier)
    Q_PROPERTY(int ReadTotalConstant READ ReadTotalConstant WRITE SetReadTotalConstant)
    Q_PROPERTY(int WriteTotalMultiplier READ WriteTotalMultiplier WRITE SetWriteTotalMultiplier)
    Q_PROPERTY(int WriteTotalConstant READ WriteTotalConstant WRITE SetWriteTotalConstant)

public:
    using TComSettings::TComSettings;

    void Assign(const QObject* Source) override;

    const TimeoutSettings& Values() const;
    int ReadInterval() const { return Values().ReadInterval; }
    int ReadTotalMultiplier() const { return Values().ReadTotalMultiplier; }
    int ReadTotalConstant() const { return Values().ReadTotalConstant; }
    int WriteTotalMultiplier() const { return Values().WriteTotalMultiplier; }
    int WriteTotalConstant() const { return Values().WriteTotalConstant; }
    void SetReadInterval(int Value);
    void SetReadTotalMultiplier(int Value);
    void SetReadTotalConstant(int Value);
    void SetWriteTotalMultiplier(int Value);
    void SetWriteTotalConstant(int Value);

private:
    void Set(int TimeoutSettings::*Field, int Value);

    TimeoutSettings FOwn;
};

// Hardware and software flow control and the control lines; FlowControl is a preset read
// from and written to the detailed fields.
class TComFlowControl : public TComSettings {
    Q_OBJECT
    Q_PROPERTY(CPortTypes::TFlowControl FlowControl READ FlowControl WRITE SetFlowControl STORED false)
    Q_PROPERTY(bool OutCTSFlow READ OutCTSFlow WRITE SetOutCTSFlow)
    Q_PROPERTY(bool OutDSRFlow READ OutDSRFlow WRITE SetOutDSRFlow)
    Q_PROPERTY(CPortTypes::TDTRFlowControl ControlDTR READ ControlDTR WRITE SetControlDTR)
    Q_PROPERTY(CPortTypes::TRTSFlowControl ControlRTS READ ControlRTS WRITE SetControlRTS)
    Q_PROPERTY(bool XonXoffOut READ XonXoffOut WRITE SetXonXoffOut)
    Q_PROPERTY(bool XonXoffIn READ XonXoffIn WRITE SetXonXoffIn)
    Q_PROPERTY(bool DSRSensitivity READ DSRSensitivity WRITE SetDSRSensitivity)
    Q_PROPERTY(bool TxContinueOnXoff READ TxContinueOnXoff WRITE SetTxContinueOnXoff)
    Q_PROPERTY(char XonChar READ XonChar WRITE SetXonChar)
    Q_PROPERTY(char XoffChar READ XoffChar WRITE SetXoffChar)

public:
    using TComSettings::TComSettings;

    void Assign(const QObject* Source) override;

    TFlowControl FlowControl() const;
    // Applies to the owner even when nothing changed.
    void SetFlowControl(TFlowControl Value);

    const FlowControlSettings& Values() const;
    bool OutCTSFlow() const { return Values().OutCTSFlow; }
    bool OutDSRFlow() const { return Values().OutDSRFlow; }
    TDTRFlowControl ControlDTR() const { return Values().ControlDTR; }
    TRTSFlowControl ControlRTS() const { return Values().ControlRTS; }
    bool XonXoffOut() const { return Values().XonXoffOut; }
    bool XonXoffIn() const { return Values().XonXoffIn; }
    bool DSRSensitivity() const { return Values().DSRSensitivity; }
    bool TxContinueOnXoff() const { return Values().TxContinueOnXoff; }
    char XonChar() const { return Values().XonChar; }
    char XoffChar() const { return Values().XoffChar; }
    void SetOutCTSFlow(bool Value);
    void SetOutDSRFlow(bool Value);
    void SetControlDTR(TDTRFlowControl Value);
    void SetControlRTS(TRTSFlowControl Value);
    void SetXonXoffOut(bool Value);
    void SetXonXoffIn(bool Value);
    void SetDSRSensitivity(bool Value);
    void SetTxContinueOnXoff(bool Value);
    void SetXonChar(char Value);
    void SetXoffChar(char Value);

private:
    template <typename T>
    void Set(T FlowControlSettings::*Field, T Value);

    FlowControlSettings FOwn;
};

// Parity bit kind, whether it is checked, and the replacement of bytes that fail the check.
class TComParity : public TComSettings {
    Q_OBJECT
    Q_PROPERTY(CPortTypes::TParityBits Bits READ Bits WRITE SetBits)
    Q_PROPERTY(bool Check READ Check WRITE SetCheck)
    Q_PROPERTY(bool Replace READ Replace WRITE SetReplace)
    Q_PROPERTY(char ReplaceChar READ ReplaceChar WRITE SetReplaceChar)

public:
    using TComSettings::TComSettings;

    void Assign(const QObject* Source) override;

    const ParitySettings& Values() const;
    TParityBits Bits() const { return Values().Bits; }
    bool Check() const { return Values().Check; }
    bool Replace() const { return Values().Replace; }
    char ReplaceChar() const { return Values().ReplaceChar; }
    void SetBits(TParityBits Value);
    void SetCheck(bool Value);
    void SetReplace(bool Value);
    void SetReplaceChar(char Value);

private:
    template <typename T>
    void Set(T ParitySettings::*Field, T Value);

    ParitySettings FOwn;
};

// Sizes of the device's input and output queues in bytes; a positive odd size is rounded
// down to an even one.
class TComBuffer : public TComSettings {
    Q_OBJECT
    Q_PROPERTY(int InputSize READ InputSize WRITE SetInputSize)
    Q_PROPERTY(int OutputSize READ OutputSize WRITE SetOutputSize)

public:
    using TComSettings::TComSettings;

    void Assign(const QObject* Source) override;

    const BufferSettings& Values() const;
    int InputSize() const { return Values().InputSize; }
    int OutputSize() const { return Values().OutputSize; }
    void SetInputSize(int Value);
    void SetOutputSize(int Value);

private:
    void Set(int BufferSettings::*Field, int Value);

    BufferSettings FOwn;
};

} // namespace zentrop
