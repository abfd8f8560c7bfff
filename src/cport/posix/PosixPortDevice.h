// The device a port name stands for: a network serial port for a network name, the local
// serial device otherwise. The port engine makes its device before it knows the name, so the
// choice is made at each open.
#pragma once

#include "cport/ComDevice.h"

namespace zentrop {

class PosixPortDevice : public ComDevice {
public:
    QString DeviceName(const QString& Port) const override;
    int Open(const QString& Port) override;
    void Close() override;
    bool IsOpen() const override;

    int SetCommState(const DCB& Dcb) override;
    int SetCommTimeouts(const COMMTIMEOUTS& Timeouts) override;
    int SetupComm(int InputSize, int OutputSize) override;
    int PurgeComm(uint32_t Flags) override;
    int ClearCommError(uint32_t& Errors, COMSTAT& Stat) override;
    int GetCommModemStatus(uint32_t& Status) override;
    int EscapeCommFunction(uint32_t Function) override;
    int SetCommBreak(bool On) override;
    int SetRS485Delays(int BeforeMs, int AfterMs) override;
    RS485Mode GetRS485Mode() const override;

    int ReadFile(char* Buffer, int Count, int& Transferred, Overlapped& Ovl) override;
    int WriteFile(const char* Buffer, int Count, int& Transferred, Overlapped& Ovl) override;
    int GetOverlappedResult(Overlapped& Ovl, int& Transferred) override;

    int SetCommMask(uint32_t Mask) override;
    int WaitCommEvent(uint32_t& Events, const StopEvent& Stop) override;

    // The device the last open chose; none before the first.
    ComDevice* Chosen() const { return FDevice.get(); }

private:
    // Replaced only by Open, while the device is closed and no request or wait uses it.
    std::unique_ptr<ComDevice> FDevice;
    bool FNetwork = false;
};

} // namespace zentrop
