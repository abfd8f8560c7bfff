// The serial port component: its settings, opening, configuring and closing its device,
// reads and writes with the device time-outs, the event thread's delivery to its handlers
// and to the links through which controls hear it, and the storage of its settings.
#pragma once

#include "CPortTypes.h"
#include "ComConvert.h"
#include "ComDevice.h"
#include "ComError.h"
#include "ComPortList.h"
#include "ComSettings.h"
#include "PortNames.h"
#include "PortSettings.h"

#include <QObject>
#include <QString>
#include <QThread>
#include <memory>

namespace zentrop {

class TComThread;
class TCustomComPort;
class TIniFile;
class TRegistry;

// Through a link a control hears one port without taking the port's own handlers. The port
// calls the assigned slots; it never owns, frees or changes a link.
class TComLink {
public:
    TComSignalEvent OnConnectionChange;   // after open (true) and after close (false)
    TRxBufEvent OnRxData;                 // bytes the port has read
    TRxBufEvent OnTxData;                 // a completed write; the port's copy of its bytes
    TNotifyEvent OnTxQueueEmpty;
    TNotifyEvent OnRxEventChar;
    TComSignalEvent OnCTSSignal;
    TComSignalEvent OnDSRSignal;
    TComSignalEvent OnRLSDSignal;
    TNotifyEvent OnRingSignal;
    TComSignalEvent OnTxBusy;             // a write started (true); the output queue ran empty (false)
    TComSignalEvent OnRxBusy;             // bytes are waiting (true); a read left none (false)
};

enum class TRequestOperation { roWrite, roRead };

// One device request: the device's record of it, what it does, and the port's private copy
// of the bytes of a write (told to the links once the write has completed).
struct TComRequest {
    Overlapped Ovl;
    TRequestOperation Operation = TRequestOperation::roWrite;
    std::unique_ptr<char[]> DataCopy;
    int CopySize = 0;
};

void NewRequest(TComRequest*& Request);
// Releases the request and sets the reference to nil.
void FreeRequest(TComRequest*& Request);

class TCustomComPort : public QObject {
    Q_OBJECT

public:
    explicit TCustomComPort(QObject* Owner = nullptr);
    ~TCustomComPort() override;

    // ---- component states: while designing, Open and Close do nothing; while loading,
    // Connected only records the value and Loaded opens the port afterwards.
    bool Designing() const;
    void SetDesigning(bool Value);
    bool Loading() const;
    void BeginLoading();
    // The form has been read: opens the port if Connected was read as true. An error is
    // handed to the installed load-error handler (the application shows it) and the port
    // stays closed.
    virtual void Loaded();
    // The application's error report: it shows the errors of Loaded and those of event
    // processing under smWindowSync, which reach no caller.
    using LoadErrorHandler = void (*)(const Exception&);
    static LoadErrorHandler SetLoadErrorHandler(LoadErrorHandler Handler);

    // ---- settings storage, for the groups in StoredGroups. The INI pair uses the section
    // named after the port's objectName; the registry pair the key the store has open.
    virtual void StoreToRegistry(TRegistry& Reg);
    virtual void StoreToIniFile(TIniFile& Ini);
    virtual void LoadFromRegistry(TRegistry& Reg);
    virtual void LoadFromIniFile(TIniFile& Ini);

    // ---- settings. The line configuration is one value: SetSettings stores it and sends
    // each part that differs from the current value to an open device (queue sizes, line
    // state, time-outs, in this order), so a value equal to the current one sends nothing.
    // The property setters below change one field of it through this path.
    const PortSettings& Settings() const;
    void SetSettings(const PortSettings& Value);

    bool Connected() const;
    void SetConnected(bool Value);
    TBaudRate BaudRate() const { return Settings().BaudRate; }
    void SetBaudRate(TBaudRate Value);
    int CustomBaudRate() const { return Settings().CustomBaudRate; }
    void SetCustomBaudRate(int Value);
    QString Port() const;
    // A different name (compared case-sensitively) reopens an open port under it.
    void SetPort(const QString& Value);
    TStopBits StopBits() const { return Settings().StopBits; }
    void SetStopBits(TStopBits Value);
    TDataBits DataBits() const { return Settings().DataBits; }
    void SetDataBits(TDataBits Value);
    bool DiscardNull() const { return Settings().DiscardNull; }
    void SetDiscardNull(bool Value);
    char EventChar() const { return Settings().EventChar; }
    void SetEventChar(char Value);
    // Takes effect at the next Open.
    TComEvents Events() const;
    void SetEvents(TComEvents Value);
    TSyncMethod SyncMethod() const;
    // Raises code 14 on a connected port.
    void SetSyncMethod(TSyncMethod Value);
    bool AnnounceRxCount() const;
    void SetAnnounceRxCount(bool Value);
    QThread::Priority ThreadPriority() const;
    void SetThreadPriority(QThread::Priority Value);
    TStoredGroups StoredGroups() const;
    void SetStoredGroups(TStoredGroups Value);

    TComParity* Parity() const;
    TComFlowControl* FlowControl() const;
    TComTimeouts* Timeouts() const;
    TComBuffer* Buffer() const;
    // These copy the given object's fields, then apply them.
    void SetParity(const TComParity* Value);
    void SetFlowControl(const TComFlowControl* Value);
    void SetTimeouts(const TComTimeouts* Value);
    void SetBuffer(const TComBuffer* Value);

    // ---- handlers
    TNotifyEvent OnAfterOpen;
    TNotifyEvent OnAfterClose;
    TNotifyEvent OnBeforeOpen;
    TNotifyEvent OnBeforeClose;
    TRxCharEvent OnRxChar;
    TRxBufEvent OnRxBuf;
    TNotifyEvent OnTxEmpty;
    TNotifyEvent OnBreak;
    TNotifyEvent OnRing;
    TComSignalEvent OnCTSChange;
    TComSignalEvent OnDSRChange;
    TComSignalEvent OnRLSDChange;
    TNotifyEvent OnRxFlag;
    TComErrorEvent OnError;
    TNotifyEvent OnRx80Full;
    // Called on the port's own thread once the port has closed itself because its device
    // went away (unplugged, hung up, the server gone), after the close's own handlers.
    TNotifyEvent OnDeviceLost;

    // ---- lifecycle. Close may be called from a handler, on another thread, or while the
    // event thread delivers; it never waits for a delivery that waits for it. Of several
    // Close calls at once one closes, and the others return once it has.
    void Open();
    void Close();
    // Settings changed between these reach an open device together at the last EndUpdate.
    void BeginUpdate();
    void EndUpdate();
    int UpdateDepth() const;
    bool ThreadRunning() const;
    // The event thread of the open port; nil without one.
    TComThread* EventWatcher() const;
    virtual void ApplyAllSettings();
    virtual void ApplyLineSettings();
    virtual void ApplyTimeoutSettings();
    virtual void ApplyBufferSettings();
    // Ends every pending read and write of the device.
    void CancelRequests();
    TLineSignals LineSignals();
    // The modem output lines and the break, each one operation for every caller (a reset, a
    // menu, a key). SetDTR and SetRTS raise or lower the line at once and keep it as the
    // port's DTR or RTS setting (unless a handshake or RS-485 drives the line), so that the
    // next line settings and the settings file keep it too; on a closed port they only
    // store it. A device without the line raises code 12 with its system code.
    void SetDTR(bool On);
    void SetRTS(bool On);
    // Starts (true) or ends a break on the line; raises code 12 when the device refuses.
    void SetBreak(bool On);
    // RS-485 (ControlRTS rtsToggle, RTS raised while sending): the pauses in ms between RTS
    // going up and the first bit, and between the last bit and RTS going down; 0 and 0 at
    // first. GetRS485Mode says how the open port does it: by the driver's RS-485 mode, or by
    // raising RTS around each write where the driver has none (Off when closed or not set).
    void SetRS485Delays(int BeforeMs, int AfterMs);
    int RS485DelayBefore() const;
    int RS485DelayAfter() const;
    RS485Mode GetRS485Mode() const;

    // Shows the port setup dialog through the hook its library installs; nothing without one.
    void ShowSetupDialog();
    using SetupDialogProc = void (*)(TCustomComPort&);
    static SetupDialogProc SetSetupDialogProc(SetupDialogProc proc);

    // ---- transfer; Read and Write may run on two threads at once.
    int StartWrite(const void* Buffer, int Count, TComRequest* Request);
    int StartWriteStr(const QByteArray& Str, TComRequest* Request);
    // Sets the first byte of Buffer to 0xFF, so a read that gets nothing leaves 0xFF there.
    int StartRead(void* Buffer, int Count, TComRequest* Request);
    int WaitForRequest(TComRequest* Request);
    int Write(const void* Buffer, int Count);
    int WriteStr(const QByteArray& Str);
    int Read(void* Buffer, int Count);
    void PurgeBuffers(bool Input, bool Output);
    int InputQueueCount();
    TComErrors TakeLineErrors();

    // ---- links: attached and detached on any thread, also while events are delivered.
    void AttachLink(TComLink* Link);
    void DetachLink(TComLink* Link);

    // ---- event processing: each tells the links and calls the port's handler.
    void ProcessRxChar();
    void ProcessRxFlag();
    void ProcessTxEmpty();
    void ProcessBreak();
    void ProcessRing();
    // Reads the signal and tells the links and the handler of its state.
    void ProcessCTSChange();
    void ProcessDSRChange();
    void ProcessRLSDChange();
    void ProcessError();
    void ProcessRx80Full();
    // Window delivery of one event, by its mask bit: processed only on a connected port,
    // an error goes to the application's error report.
    void PortWindowProc(uint32_t EventCode);

    // The device this port drives. Another one can be installed only while the device is
    // closed; false when it was refused.
    ComDevice& Device() const;
    bool SetDevice(std::unique_ptr<ComDevice> Device);

protected:
    virtual void OpenDevice();
    virtual void CloseDevice();

    virtual void FireAfterClose();
    virtual void FireAfterOpen();
    virtual void FireBeforeClose();
    virtual void FireBeforeOpen();
    virtual void FireRxChar(int Count);
    virtual void FireRxBuf(const char* Buffer, int Count);
    virtual void FireTxEmpty();
    virtual void FireBreak();
    virtual void FireRing();
    virtual void FireRxFlag();
    virtual void FireCTSChange(bool OnOff);
    virtual void FireDSRChange(bool OnOff);
    virtual void FireError(TComErrors Errors);
    virtual void FireRLSDChange(bool OnOff);
    virtual void FireRx80Full();

    void NotifyLinksState(TComSignalEvent TComLink::*Slot, bool OnOff);
    void NotifyLinksEvent(TNotifyEvent TComLink::*Slot);
    void NotifyLinksTxData(const char* Buffer, int Count);

private:
    friend class TComThread;
    friend class TComSettings;

    // Stores Value and sends the parts in Apply to an open device, changed or not: the
    // settings objects' assign sends nothing, and some setters send an unchanged part.
    void StoreSettings(const PortSettings& Value, SettingsParts Apply);

    // The port's state (device, flags, event thread, links and settings) and the steps of
    // opening, closing and event processing that work on it.
    struct Private;
    std::unique_ptr<Private> d;
};

// The port with its settings published under their names, in the order a form lists them.
class TComPort : public TCustomComPort {
    Q_OBJECT
    Q_PROPERTY(bool Connected READ Connected WRITE SetConnected)
    Q_PROPERTY(CPortTypes::TBaudRate BaudRate READ BaudRate WRITE SetBaudRate)
    Q_PROPERTY(QString Port READ Port WRITE SetPort)
    Q_PROPERTY(TComParity* Parity READ Parity WRITE SetParity)
    Q_PROPERTY(CPortTypes::TStopBits StopBits READ StopBits WRITE SetStopBits)
    Q_PROPERTY(CPortTypes::TDataBits DataBits READ DataBits WRITE SetDataBits)
    Q_PROPERTY(bool DiscardNull READ DiscardNull WRITE SetDiscardNull)
    Q_PROPERTY(char EventChar READ EventChar WRITE SetEventChar)
    Q_PROPERTY(TComEvents Events READ Events WRITE SetEvents)
    Q_PROPERTY(TComBuffer* Buffer READ Buffer WRITE SetBuffer)
    Q_PROPERTY(TComFlowControl* FlowControl READ FlowControl WRITE SetFlowControl)
    Q_PROPERTY(TComTimeouts* Timeouts READ Timeouts WRITE SetTimeouts)
    Q_PROPERTY(CPortTypes::TSyncMethod SyncMethod READ SyncMethod WRITE SetSyncMethod)

public:
    using TCustomComPort::TCustomComPort;
};

} // namespace zentrop
