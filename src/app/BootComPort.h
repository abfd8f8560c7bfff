// The upgrade run's port interface on the port engine's component, and the line settings
// with which the main window's port runs an upgrade.
#pragma once

#include "app/Bootloader.h"
#include "cport/ComPort.h"

class TComPortLine : public TBootPort {
public:
    explicit TComPortLine(TCustomComPort& port) : FPort(port) {}

    bool Connected() const override { return FPort.Connected(); }
    void Open() override { FPort.Open(); }
    void PurgeBuffers(bool input, bool output) override { FPort.PurgeBuffers(input, output); }
    int Write(const void* buffer, int count) override { return FPort.Write(buffer, count); }
    int Read(void* buffer, int count) override { return FPort.Read(buffer, count); }

private:
    TCustomComPort& FPort;
};

// The upgrade port's design values: 8 data bits, no parity, one stop bit, no flow control,
// no events (so no event thread takes the device's answers) and read time-outs of 10 ms per
// byte plus 500 ms. The rate is given in bits per second; one without a member of its own
// becomes a custom rate. Call it while the port is closed.
void SetUpgradeLineSettings(TCustomComPort& port, int baud = 115200);
