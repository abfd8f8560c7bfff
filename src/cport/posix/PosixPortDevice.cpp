// Choosing between the local serial device and a network serial port by the port's name.
#include "PosixPortDevice.h"

#include "cport/NetPortName.h"
#include "PosixComDevice.h"
#include "PosixNetComDevice.h"

#include <cerrno>

namespace zentrop {

QString PosixPortDevice::DeviceName(const QString& Port) const
{
    return IsNetPortName(Port) ? Port : PosixComDevice::DevicePath(Port);
}

int PosixPortDevice::Open(const QString& Port)
{
    if (FDevice && FDevice->IsOpen())
        return EBUSY;
    const bool network = IsNetPortName(Port);
    if (!FDevice || network != FNetwork) {
        if (network)
            FDevice = std::make_unique<PosixNetComDevice>();
        else
            FDevice = std::make_unique<PosixComDevice>();
        FNetwork = network;
    }
    return FDevice->Open(Port);
}

void PosixPortDevice::Close()
{
    if (FDevice)
        FDevice->Close();
}

bool PosixPortDevice::IsOpen() const
{
    return FDevice && FDevice->IsOpen();
}

int PosixPortDevice::SetCommState(const DCB& Dcb)
{
    return FDevice ? FDevice->SetCommState(Dcb) : EBADF;
}

int PosixPortDevice::SetCommTimeouts(const COMMTIMEOUTS& Timeouts)
{
    return FDevice ? FDevice->SetCommTimeouts(Timeouts) : EBADF;
}

int PosixPortDevice::SetupComm(int InputSize, int OutputSize)
{
    return FDevice ? FDevice->SetupComm(InputSize, OutputSize) : EBADF;
}

int PosixPortDevice::SetRS485Delays(int BeforeMs, int AfterMs)
{
    return FDevice ? FDevice->SetRS485Delays(BeforeMs, AfterMs) : EBADF;
}

RS485Mode PosixPortDevice::GetRS485Mode() const
{
    return FDevice ? FDevice->GetRS485Mode() : RS485Mode::Off;
}

int PosixPortDevice::PurgeComm(uint32_t Flags)
{
    return FDevice ? FDevice->PurgeComm(Flags) : EBADF;
}

int PosixPortDevice::ClearCommError(uint32_t& Errors, COMSTAT& Stat)
{
    Errors = 0;
    Stat = COMSTAT{};
    return FDevice ? FDevice->ClearCommError(Errors, Stat) : EBADF;
}

int PosixPortDevice::GetCommModemStatus(uint32_t& Status)
{
    Status = 0;
    return FDevice ? FDevice->GetCommModemStatus(Status) : EBADF;
}

int PosixPortDevice::EscapeCommFunction(uint32_t Function)
{
    return FDevice ? FDevice->EscapeCommFunction(Function) : EBADF;
}

int PosixPortDevice::SetCommBreak(bool On)
{
    return FDevice ? FDevice->SetCommBreak(On) : EBADF;
}

int PosixPortDevice::ReadFile(char* Buffer, int Count, int& Transferred, Overlapped& Ovl)
{
    Transferred = 0;
    return FDevice ? FDevice->ReadFile(Buffer, Count, Transferred, Ovl) : EBADF;
}

int PosixPortDevice::WriteFile(const char* Buffer, int Count, int& Transferred, Overlapped& Ovl)
{
    Transferred = 0;
    return FDevice ? FDevice->WriteFile(Buffer, Count, Transferred, Ovl) : EBADF;
}

int PosixPortDevice::GetOverlappedResult(Overlapped& Ovl, int& Transferred)
{
    Transferred = 0;
    // A request that was never started completes at once, whichever device there is.
    return FDevice ? FDevice->GetOverlappedResult(Ovl, Transferred) : 0;
}

int PosixPortDevice::SetCommMask(uint32_t Mask)
{
    return FDevice ? FDevice->SetCommMask(Mask) : EBADF;
}

int PosixPortDevice::WaitCommEvent(uint32_t& Events, const StopEvent& Stop)
{
    Events = 0;
    return FDevice ? FDevice->WaitCommEvent(Events, Stop) : EBADF;
}

} // namespace zentrop
