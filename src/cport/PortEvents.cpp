// Event dispatch: each event processed for the links and the port's handlers, window
// delivery, the published handlers' Fire operations, and the links themselves.
#include "PortPrivate.h"

#include <memory>

namespace zentrop {

void TCustomComPort::Private::ProcessEvent(uint32_t EventCode)
{
    using namespace EventMask;
    switch (EventCode) {
    case EV_RXCHAR: Owner.ProcessRxChar(); break;
    case EV_RXFLAG: Owner.ProcessRxFlag(); break;
    case EV_TXEMPTY: Owner.ProcessTxEmpty(); break;
    case EV_CTS: Owner.ProcessCTSChange(); break;
    case EV_DSR: Owner.ProcessDSRChange(); break;
    case EV_RLSD: Owner.ProcessRLSDChange(); break;
    case EV_BREAK: Owner.ProcessBreak(); break;
    case EV_ERR: Owner.ProcessError(); break;
    case EV_RING: Owner.ProcessRing(); break;
    case EV_RX80FULL: Owner.ProcessRx80Full(); break;
    default: break;
    }
}

void TCustomComPort::PortWindowProc(uint32_t EventCode)
{
    try {
        if (d->Connected)
            d->ProcessEvent(EventCode);
    } catch (const std::exception& e) {
        Private::ReportError(e);
    } catch (...) {
        // Whatever a handler throws is reported alike; nothing may leave the owning
        // thread's event loop.
        Private::ReportError(Exception(QStringLiteral("An event handler raised an exception of unknown type")));
    }
}

void TCustomComPort::ProcessRxChar()
{
    int count = InputQueueCount();
    if (count <= 0)
        return;
    NotifyLinksState(&TComLink::OnRxBusy, true);
    if (!d->AnnounceRxCount || d->Links.WantsRxData()) {
        // One read of the arrival however many links want it, into a buffer that lives for
        // this delivery only. Only what the read returned is handed on: a read can end
        // short (null bytes discarded, the read time-outs).
        std::unique_ptr<char[]> buffer;
        int got = 0;
        auto readOnce = [&] {
            if (buffer)
                return;
            buffer = std::make_unique<char[]>(static_cast<size_t>(count));
            got = Read(buffer.get(), count);
            FireRxBuf(buffer.get(), got);
        };
        d->Links.ForEach<TRxBufEvent>(&TComLink::OnRxData, [&](const TRxBufEvent& slot) {
            readOnce();
            slot(this, buffer.get(), got);
        });
        if (!d->AnnounceRxCount)
            readOnce();
        if (buffer)
            count = 0;
    }
    if (count > 0)
        FireRxChar(count);
}

void TCustomComPort::ProcessRxFlag()
{
    NotifyLinksEvent(&TComLink::OnRxEventChar);
    FireRxFlag();
}

void TCustomComPort::ProcessTxEmpty()
{
    NotifyLinksState(&TComLink::OnTxBusy, false);
    NotifyLinksEvent(&TComLink::OnTxQueueEmpty);
    FireTxEmpty();
}

void TCustomComPort::ProcessBreak()
{
    FireBreak();
}

void TCustomComPort::ProcessRing()
{
    NotifyLinksEvent(&TComLink::OnRingSignal);
    FireRing();
}

void TCustomComPort::Private::ReportSignal(TLineSignal Signal, TComSignalEvent TComLink::*Slot,
                                           void (TCustomComPort::*Fire)(bool))
{
    const bool on = Owner.LineSignals().Contains(Signal);
    Owner.NotifyLinksState(Slot, on);
    (Owner.*Fire)(on);
}

void TCustomComPort::ProcessCTSChange()
{
    d->ReportSignal(TLineSignal::lsCTS, &TComLink::OnCTSSignal, &TCustomComPort::FireCTSChange);
}

void TCustomComPort::ProcessDSRChange()
{
    d->ReportSignal(TLineSignal::lsDSR, &TComLink::OnDSRSignal, &TCustomComPort::FireDSRChange);
}

void TCustomComPort::ProcessRLSDChange()
{
    d->ReportSignal(TLineSignal::lsRLSD, &TComLink::OnRLSDSignal, &TCustomComPort::FireRLSDChange);
}

void TCustomComPort::ProcessError()
{
    const TComErrors errors = TakeLineErrors();
    if (!errors.Empty())
        FireError(errors);
}

void TCustomComPort::ProcessRx80Full()
{
    FireRx80Full();
}

// ---- the published handlers

void TCustomComPort::FireAfterClose() { if (OnAfterClose) OnAfterClose(this); }
void TCustomComPort::FireAfterOpen() { if (OnAfterOpen) OnAfterOpen(this); }
void TCustomComPort::FireBeforeClose() { if (OnBeforeClose) OnBeforeClose(this); }
void TCustomComPort::FireBeforeOpen() { if (OnBeforeOpen) OnBeforeOpen(this); }
void TCustomComPort::FireRxChar(int Count) { if (OnRxChar) OnRxChar(this, Count); }
void TCustomComPort::FireRxBuf(const char* Buffer, int Count) { if (OnRxBuf) OnRxBuf(this, Buffer, Count); }
void TCustomComPort::FireTxEmpty() { if (OnTxEmpty) OnTxEmpty(this); }
void TCustomComPort::FireBreak() { if (OnBreak) OnBreak(this); }
void TCustomComPort::FireRing() { if (OnRing) OnRing(this); }
void TCustomComPort::FireRxFlag() { if (OnRxFlag) OnRxFlag(this); }
void TCustomComPort::FireCTSChange(bool OnOff) { if (OnCTSChange) OnCTSChange(this, OnOff); }
void TCustomComPort::FireDSRChange(bool OnOff) { if (OnDSRChange) OnDSRChange(this, OnOff); }
void TCustomComPort::FireError(TComErrors Errors) { if (OnError) OnError(this, Errors); }
void TCustomComPort::FireRLSDChange(bool OnOff) { if (OnRLSDChange) OnRLSDChange(this, OnOff); }
void TCustomComPort::FireRx80Full() { if (OnRx80Full) OnRx80Full(this); }

// ---- links

void TCustomComPort::AttachLink(TComLink* Link)
{
    if (!d->Links.Attach(Link))
        throw EComPort(d->Port, ComErr::RegFailed);
}

void TCustomComPort::DetachLink(TComLink* Link)
{
    if (!d->Links.Detach(Link))
        throw EComPort(d->Port, ComErr::RegFailed);
}

void TCustomComPort::NotifyLinksState(TComSignalEvent TComLink::*Slot, bool OnOff)
{
    d->Links.ForEach<TComSignalEvent>(Slot, [&](const TComSignalEvent& slot) { slot(this, OnOff); });
}

void TCustomComPort::NotifyLinksEvent(TNotifyEvent TComLink::*Slot)
{
    d->Links.ForEach<TNotifyEvent>(Slot, [&](const TNotifyEvent& slot) { slot(this); });
}

void TCustomComPort::NotifyLinksTxData(const char* Buffer, int Count)
{
    d->Links.ForEach<TRxBufEvent>(&TComLink::OnTxData,
                                   [&](const TRxBufEvent& slot) { slot(this, Buffer, Count); });
}

} // namespace zentrop
