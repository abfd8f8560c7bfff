// The line: device requests, the blocking Read and Write built on them, the queues, the line
// errors, the modem signals, the modem output lines and the break, with the links told of
// sends and of a drained input queue.
#include "PortPrivate.h"

#include "base/Debug.h"

#include <cstring>

namespace zentrop {

namespace {

// Frees a request on every path out of a transfer.
class RequestGuard {
public:
    RequestGuard() { NewRequest(FRequest); }
    ~RequestGuard() { FreeRequest(FRequest); }
    RequestGuard(const RequestGuard&) = delete;
    RequestGuard& operator=(const RequestGuard&) = delete;
    TComRequest* Get() const { return FRequest; }

private:
    TComRequest* FRequest = nullptr;
};

} // namespace

void NewRequest(TComRequest*& Request)
{
    Request = new TComRequest;
}

void FreeRequest(TComRequest*& Request)
{
    delete Request;
    Request = nullptr;
}

int TCustomComPort::StartWrite(const void* Buffer, int Count, TComRequest* Request)
{
    if (!Request)
        throw EComPort(d->Port, ComErr::InvalidAsync);
    Request->Operation = TRequestOperation::roWrite;
    Request->DataCopy.reset();
    Request->CopySize = 0;
    if (Count > 0 && Buffer) {
        Request->DataCopy = std::make_unique<char[]>(static_cast<size_t>(Count));
        std::memcpy(Request->DataCopy.get(), Buffer, static_cast<size_t>(Count));
        Request->CopySize = Count;
    }
    int written = 0;
    if (const int err = d->Device->WriteFile(static_cast<const char*>(Buffer), Count, written,
                                           Request->Ovl))
        d->RaiseDevice(ComErr::WriteFailed, err);
    NotifyLinksState(&TComLink::OnTxBusy, true);
    return written;
}

int TCustomComPort::StartWriteStr(const QByteArray& Str, TComRequest* Request)
{
    if (Str.isEmpty())
        return 0;
    return StartWrite(Str.constData(), static_cast<int>(Str.size()), Request);
}

int TCustomComPort::StartRead(void* Buffer, int Count, TComRequest* Request)
{
    if (!Request)
        throw EComPort(d->Port, ComErr::InvalidAsync);
    Request->Operation = TRequestOperation::roRead;
    // A read that gets nothing leaves 0xFF as the first byte, so a missing one-byte reply
    // never reads as a valid answer. A buffer of no bytes is not touched.
    if (Count > 0 && Buffer)
        static_cast<unsigned char*>(Buffer)[0] = 0xFF;
    int read = 0;
    if (d->Device->ReadFile(static_cast<char*>(Buffer), Count, read, Request->Ovl) != 0)
        return 0;
    return read;
}

int TCustomComPort::WaitForRequest(TComRequest* Request)
{
    if (!Request)
        throw EComPort(d->Port, ComErr::InvalidAsync);
    int transferred = 0;
    if (const int err = d->Device->GetOverlappedResult(Request->Ovl, transferred))
        d->RaiseDevice(Request->Operation == TRequestOperation::roWrite ? ComErr::WriteFailed
                                                                     : ComErr::ReadFailed,
                    err);
    if (Request->Operation == TRequestOperation::roRead) {
        // Only links care whether the queue ran dry: without any, or without a device to
        // ask, the query is skipped (a read on a closed port just reports nothing read).
        if (!d->Links.Empty() && d->Device->IsOpen() && InputQueueCount() == 0)
            NotifyLinksState(&TComLink::OnRxBusy, false);
    } else if (Request->DataCopy) {
        NotifyLinksTxData(Request->DataCopy.get(), Request->CopySize);
    }
    return transferred;
}

int TCustomComPort::Write(const void* Buffer, int Count)
{
    RequestGuard request;
    StartWrite(Buffer, Count, request.Get());
    return WaitForRequest(request.Get());
}

int TCustomComPort::WriteStr(const QByteArray& Str)
{
    OutputDebugString(QStringLiteral("TCustomComPort.WriteStr"));
    RequestGuard request;
    StartWriteStr(Str, request.Get());
    return WaitForRequest(request.Get());
}

int TCustomComPort::Read(void* Buffer, int Count)
{
    RequestGuard request;
    StartRead(Buffer, Count, request.Get());
    return WaitForRequest(request.Get());
}

void TCustomComPort::PurgeBuffers(bool Input, bool Output)
{
    uint32_t flags = 0;
    if (Input)
        flags |= PURGE_RXCLEAR;
    if (Output)
        flags |= PURGE_TXCLEAR;
    if (const int err = d->Device->PurgeComm(flags))
        d->RaiseDevice(ComErr::PurgeFailed, err);
}

int TCustomComPort::InputQueueCount()
{
    uint32_t errors = 0;
    COMSTAT stat;
    if (const int err = d->Device->ClearCommError(errors, stat))
        d->RaiseDevice(ComErr::ClearComFailed, err);
    d->PendingErrors.fetch_or(errors);
    return static_cast<int>(stat.cbInQue);
}

TComErrors TCustomComPort::TakeLineErrors()
{
    uint32_t errors = 0;
    COMSTAT stat;
    if (const int err = d->Device->ClearCommError(errors, stat))
        d->RaiseDevice(ComErr::ClearComFailed, err);
    errors |= d->PendingErrors.exchange(0);
    TComErrors result;
    if (errors & CE_FRAME)
        result.Include(TComError::ceFrame);
    if ((errors & CE_RXPARITY) && d->Parity->Check())
        result.Include(TComError::ceRxParity);
    if (errors & CE_OVERRUN)
        result.Include(TComError::ceOverrun);
    if (errors & CE_RXOVER)
        result.Include(TComError::ceRxOver);
    if (errors & CE_TXFULL)
        result.Include(TComError::ceTxFull);
    if (errors & CE_BREAK)
        result.Include(TComError::ceBreak);
    if (errors & CE_IOE)
        result.Include(TComError::ceIO);
    if (errors & CE_MODE)
        result.Include(TComError::ceMode);
    return result;
}

TLineSignals TCustomComPort::LineSignals()
{
    uint32_t status = 0;
    if (const int err = d->Device->GetCommModemStatus(status))
        d->RaiseDevice(ComErr::ModemStatFailed, err);
    TLineSignals lines;
    if (status & MS_CTS_ON)
        lines.Include(TLineSignal::lsCTS);
    if (status & MS_DSR_ON)
        lines.Include(TLineSignal::lsDSR);
    if (status & MS_RING_ON)
        lines.Include(TLineSignal::lsRing);
    if (status & MS_RLSD_ON)
        lines.Include(TLineSignal::lsRLSD);
    return lines;
}

void TCustomComPort::SetDTR(bool On)
{
    PortSettings settings = d->Settings;
    if (settings.FlowControl.ControlDTR != TDTRFlowControl::dtrHandshake)
        settings.FlowControl.ControlDTR = On ? TDTRFlowControl::dtrEnable : TDTRFlowControl::dtrDisable;
    StoreSettings(settings, {});
    if (!d->Connected)
        return;
    if (const int err = d->Device->EscapeCommFunction(On ? SETDTR : CLRDTR))
        d->RaiseDevice(ComErr::EscapeComFailed, err);
}

void TCustomComPort::SetRTS(bool On)
{
    PortSettings settings = d->Settings;
    TRTSFlowControl& rts = settings.FlowControl.ControlRTS;
    if (rts == TRTSFlowControl::rtsDisable || rts == TRTSFlowControl::rtsEnable)
        rts = On ? TRTSFlowControl::rtsEnable : TRTSFlowControl::rtsDisable;
    StoreSettings(settings, {});
    if (!d->Connected)
        return;
    if (const int err = d->Device->EscapeCommFunction(On ? SETRTS : CLRRTS))
        d->RaiseDevice(ComErr::EscapeComFailed, err);
}

void TCustomComPort::SetBreak(bool On)
{
    if (const int err = d->Device->SetCommBreak(On))
        d->RaiseDevice(ComErr::EscapeComFailed, err);
}

} // namespace zentrop
