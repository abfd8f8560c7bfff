// Choosing between the local serial device and a network serial port by the port's name.
#include "PosixPortDevice.h"

#include "cport/NetPortName.h"
#include "cport/PosixComDevice.h"
#include "PosixNetComDevice.h"

#include <cerrno>

namespace zentrop {

QString TPosixPortDevice::DeviceName(const QString& Port) const
{
    return IsNetPortName(Port) ? Port : TPosixComDevice::DevicePath(Port);
}

int TPosixPortDevice::Open(const QString& Port)
{
    if (FDevice && FDevice->IsOpen())
        return EBUSY;
    const bool network = IsNetPortName(Port);
    if (!FDevice || network != FNetwork) {
        if (network)
            FDevice = std::make_unique<TPosixNetComDevice>();
        else
            FDevice = std::make_unique<TPosixComDevice>();
        FNetwork = network;
    }
    return FDevice->Open(Port);
}

void TPosixPortDevice::Close()
{
    if (FDevice)
        FDevice->Close();
}

bool TPosixPortDevice::IsOpen() const
{
    return FDevice && FDevice->IsOpen();
}

int TPosixPortDevice::SetCommState(const DCB& Dcb)
{
    return FDevice ? FDevice->SetCommState(Dcb) : EBADF;
}

int TPosixPortDevice::SetCommTimeouts(const COMMTIMEOUTS& Timeouts)
{
    return FDevice ? FDevice->SetCommTimeouts(Timeouts) : EBADF;
}

int TPosixPortDevice::SetupComm(int InputSize, int OutputSize)
{
    return FDevice ? FDevice->SetupComm(InputSize, OutputSize) : EBADF;
}

int TPosixPortDevice::PurgeComm(uint32_t Flags)
{
    return FDevice ? FDevice->PurgeComm(Flags) : EBADF;
}

int TPosixPortDevice::ClearCommError(uint32_t& Errors, COMSTAT& Stat)
{
    Errors = 0;
    Stat = COMSTAT{};
    return FDevice ? FDevice->ClearCommError(Errors, Stat) : EBADF;
}

int TPosixPortDevice::GetCommModemStatus(uint32_t& Status)
{
    Status = 0;
    return FDevice ? FDevice->GetCommModemStatus(Status) : EBADF;
}

int TPosixPortDevice::EscapeCommFunction(uint32_t Function)
{
    return FDevice ? FDevice->EscapeCommFunction(Function) : EBADF;
}

int TPosixPortDevice::SetCommBreak(bool On)
{
    return FDevice ? FDevice->SetCommBreak(On) : EBADF;
}

int TPosixPortDevice::ReadFile(char* Buffer, int Count, int& Transferred, TOverlapped& Ovl)
{
    Transferred = 0;
    return FDevice ? FDevice->ReadFile(Buffer, Count, Transferred, Ovl) : EBADF;
}

int TPosixPortDevice::WriteFile(const char* Buffer, int Count, int& Transferred, TOverlapped& Ovl)
{
    Transferred = 0;
    return FDevice ? FDevice->WriteFile(Buffer, Count, Transferred, Ovl) : EBADF;
}

int TPosixPortDevice::GetOverlappedResult(TOverlapped& Ovl, int& Transferred)
{
    Transferred = 0;
    // A request that was never started completes at once, whichever device there is.
    return FDevice ? FDevice->GetOverlappedResult(Ovl, Transferred) : 0;
}

int TPosixPortDevice::SetCommMask(uint32_t Mask)
{
    return FDevice ? FDevice->SetCommMask(Mask) : EBADF;
}

int TPosixPortDevice::WaitCommEvent(uint32_t& Events, const TStopEvent& Stop)
{
    Events = 0;
    return FDevice ? FDevice->WaitCommEvent(Events, Stop) : EBADF;
}

} // namespace zentrop
