// The port component itself: construction and destruction, the component states, the
// report of errors that reach no caller, the setup dialog hook and the device it drives.
#include "ComPort.h"

#include "base/SyncQueue.h"

#include <atomic>

namespace {

std::atomic<TCustomComPort::SetupDialogProc> gSetupDialogProc{nullptr};
std::atomic<TCustomComPort::LoadErrorHandler> gLoadErrorHandler{nullptr};

} // namespace

TCustomComPort::TCustomComPort(QObject* Owner)
    : QObject(Owner),
      FDevice(CreateComDevice()),
      FSyncQueue(new TSyncQueue(this)),
      FParity(std::make_unique<TComParity>(this)),
      FFlowControl(std::make_unique<TComFlowControl>(this)),
      FTimeouts(std::make_unique<TComTimeouts>(this)),
      FBuffer(std::make_unique<TComBuffer>(this))
{
}

TCustomComPort::~TCustomComPort()
{
    // A destructor cannot report a failed close; the device is released regardless.
    try {
        Close();
    } catch (...) {
        if (FThreadRunning) {
            StopEventThread();
            FThreadRunning = false;
        }
        CloseDevice();
    }
    ReapRetiredThreads(true);
    FBuffer.reset();
    FFlowControl.reset();
    FTimeouts.reset();
    FParity.reset();
}

void TCustomComPort::Loaded()
{
    FLoading = false;
    if (!FConnected || FDesigning)
        return;
    FConnected = false;
    try {
        Open();
    } catch (const Exception& e) {
        ReportError(e);
    }
}

TCustomComPort::LoadErrorHandler TCustomComPort::SetLoadErrorHandler(LoadErrorHandler Handler)
{
    return gLoadErrorHandler.exchange(Handler);
}

void TCustomComPort::ReportError(const std::exception& E)
{
    LoadErrorHandler handler = gLoadErrorHandler.load();
    if (!handler)
        return;
    if (const auto* e = dynamic_cast<const Exception*>(&E))
        handler(*e);
    else
        handler(Exception(QString::fromLocal8Bit(E.what())));
}

bool TCustomComPort::SetDevice(std::unique_ptr<TComDevice> Device)
{
    if (!Device || FDevice->IsOpen())
        return false;
    FDevice = std::move(Device);
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
