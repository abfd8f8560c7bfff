// The four settings objects a port owns: time-outs, flow control, parity and queue sizes.
// A setter that changes a value of an object owned by a port applies it to the device.
#pragma once

#include "CPortTypes.h"

#include <QObject>

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

    int ReadInterval() const { return FReadInterval; }
    int ReadTotalMultiplier() const { return FReadTotalMultiplier; }
    int ReadTotalConstant() const { return FReadTotalConstant; }
    int WriteTotalMultiplier() const { return FWriteTotalMultiplier; }
    int WriteTotalConstant() const { return FWriteTotalConstant; }
    void SetReadInterval(int Value);
    void SetReadTotalMultiplier(int Value);
    void SetReadTotalConstant(int Value);
    void SetWriteTotalMultiplier(int Value);
    void SetWriteTotalConstant(int Value);

private:
    void Change(int& field, int value);

    int FReadInterval = -1;
    int FReadTotalMultiplier = 0;
    int FReadTotalConstant = 0;
    int FWriteTotalMultiplier = 100;
    int FWriteTotalConstant = 1000;
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

    bool OutCTSFlow() const { return FOutCTSFlow; }
    bool OutDSRFlow() const { return FOutDSRFlow; }
    TDTRFlowControl ControlDTR() const { return FControlDTR; }
    TRTSFlowControl ControlRTS() const { return FControlRTS; }
    bool XonXoffOut() const { return FXonXoffOut; }
    bool XonXoffIn() const { return FXonXoffIn; }
    bool DSRSensitivity() const { return FDSRSensitivity; }
    bool TxContinueOnXoff() const { return FTxContinueOnXoff; }
    char XonChar() const { return FXonChar; }
    char XoffChar() const { return FXoffChar; }
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
    void Change(T& field, T value);
    void Apply();

    bool FOutCTSFlow = false;
    bool FOutDSRFlow = false;
    TDTRFlowControl FControlDTR = TDTRFlowControl::dtrDisable;
    TRTSFlowControl FControlRTS = TRTSFlowControl::rtsDisable;
    bool FXonXoffOut = false;
    bool FXonXoffIn = false;
    bool FDSRSensitivity = false;
    bool FTxContinueOnXoff = false;
    char FXonChar = 17;
    char FXoffChar = 19;
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

    TParityBits Bits() const { return FBits; }
    bool Check() const { return FCheck; }
    bool Replace() const { return FReplace; }
    char ReplaceChar() const { return FReplaceChar; }
    void SetBits(TParityBits Value);
    void SetCheck(bool Value);
    void SetReplace(bool Value);
    void SetReplaceChar(char Value);

private:
    template <typename T>
    void Change(T& field, T value);

    TParityBits FBits = TParityBits::prNone;
    bool FCheck = false;
    bool FReplace = false;
    char FReplaceChar = 0;
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

    int InputSize() const { return FInputSize; }
    int OutputSize() const { return FOutputSize; }
    void SetInputSize(int Value);
    void SetOutputSize(int Value);

private:
    void Change(int& field, int value);

    int FInputSize = 1024;
    int FOutputSize = 1024;
};
