// The port component itself: construction and destruction, the component states, the
// report of errors that reach no caller, the setup dialog hook and the device it drives.
#include "PortPrivate.h"

#include "base/SyncQueue.h"

#include <atomic>

namespace zentrop {

namespace {

std::atomic<TCustomComPort::SetupDialogProc> gSetupDialogProc{nullptr};
std::atomic<TCustomComPort::LoadErrorHandler> gLoadErrorHandler{nullptr};

} // namespace

TCustomComPort::Private::Private(TCustomComPort& Owner)
    : Owner(Owner),
      Device(CreateComDevice()),
      SyncQueue(new TSyncQueue(&Owner)),
      Parity(std::make_unique<TComParity>(&Owner)),
      FlowControl(std::make_unique<TComFlowControl>(&Owner)),
      Timeouts(std::make_unique<TComTimeouts>(&Owner)),
      Buffer(std::make_unique<TComBuffer>(&Owner))
{
}

TCustomComPort::TCustomComPort(QObject* Owner)
    : QObject(Owner),
      d(std::make_unique<Private>(*this))
{
}

TCustomComPort::~TCustomComPort()
{
    // A destructor cannot report a failed close; the device is released regardless.
    try {
        Close();
    } catch (...) {
        if (d->ThreadRunning) {
            d->StopEventThread();
            d->ThreadRunning = false;
        }
        CloseDevice();
    }
    d->ReapRetiredThreads(true);
    d->Buffer.reset();
    d->FlowControl.reset();
    d->Timeouts.reset();
    d->Parity.reset();
}

bool TCustomComPort::Designing() const { return d->Designing; }
void TCustomComPort::SetDesigning(bool Value) { d->Designing = Value; }
bool TCustomComPort::Loading() const { return d->Loading; }
void TCustomComPort::BeginLoading() { d->Loading = true; }

void TCustomComPort::Loaded()
{
    d->Loading = false;
    if (!d->Connected || d->Designing)
        return;
    d->Connected = false;
    try {
        Open();
    } catch (const Exception& e) {
        Private::ReportError(e);
    }
}

TCustomComPort::LoadErrorHandler TCustomComPort::SetLoadErrorHandler(LoadErrorHandler Handler)
{
    return gLoadErrorHandler.exchange(Handler);
}

void TCustomComPort::Private::ReportError(const std::exception& E)
{
    LoadErrorHandler handler = gLoadErrorHandler.load();
    if (!handler)
        return;
    if (const auto* e = dynamic_cast<const Exception*>(&E))
        handler(*e);
    else
        handler(Exception(QString::fromLocal8Bit(E.what())));
}

ComDevice& TCustomComPort::Device() const { return *d->Device; }

bool TCustomComPort::SetDevice(std::unique_ptr<ComDevice> Device)
{
    if (!Device || d->Device->IsOpen())
        return false;
    d->Device = std::move(Device);
    return true;
}

void TCustomComPort::ShowSetupDialog()
{
    if (SetupDialogProc proc = gSetupDialogProc.load())
        proc(*this);
}

TCustomComPort::SetupDialogProc TCustomComPort::SetSetupDialogProc(SetupDialogProc proc)
{
    return gSetupDialogProc.exchange(proc);
}

} // namespace zentrop
