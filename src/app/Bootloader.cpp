// The upgrade run's sequencing: one byte per write, one-byte acknowledgements read within the
// port's time-outs, the fixed pauses, and a message naming the step that was not acknowledged.
#include "Bootloader.h"

#include "BootProtocol.h"
#include "base/Format.h"

#include <chrono>
#include <thread>

namespace {

const char* const kStatusFlashMode = "Send Flash mode";
const char* const kStatusEEPromMode = "Send EEProm mode";
const char* const kStatusJump = "Jump to Application!";

const char* const kFailFlashMode = "Set Flash mode: Communication Error!";
const char* const kFailEEPromMode = "Set EEProm mode: Communication Error!";
const char* const kFailFlashAddress = "Send Flash Page address: Communication Error!";
const char* const kFailFlashData = "Send Flash Page: Communication Error!";
const char* const kFailEEPromAddress = "Send Page address: Communication Error!";
const char* const kFailEEPromData = "Send EEProm Page: Communication Error!";

void SleepMs(int milliseconds)
{
    std::this_thread::sleep_for(std::chrono::milliseconds(milliseconds));
}

} // namespace

bool TEventPacer::Due()
{
    // 2 ms: some 23 bytes at 115200 baud, and far more often than a screen refreshes.
    constexpr qint64 kIntervalNs = 2'000'000;
    if (!FDue && FLast.isValid() && FLast.nsecsElapsed() < kIntervalNs)
        return false;
    FDue = false;
    FLast.start();
    return true;
}

TBootloader::TBootloader(TBootPort& port, TBootObserver& observer, PauseFunction pause)
    : FPort(port), FObserver(observer), FPause(pause ? std::move(pause) : PauseFunction(SleepMs))
{
}

TUpgradeResult TBootloader::Execute(TUpgradeMode mode, const TPageList& flashPages, const TPageList& eepromPages)
{
    FObserver.SetStatus(QString());
    FObserver.ProcessEvents();
    return WriteToDevice(mode, flashPages, eepromPages);
}

TUpgradeResult TBootloader::WriteToDevice(TUpgradeMode mode, const TPageList& flashPages,
                                          const TPageList& eepromPages)
{
    if (!FPort.Connected())
        FPort.Open();
    SendOpeningSequence();

    if (mode == TUpgradeMode::Flash || mode == TUpgradeMode::Both) {
        if (!RunFlashPhase(flashPages))
            return TUpgradeResult::CommunicationError;
    }
    if (mode == TUpgradeMode::EEProm || mode == TUpgradeMode::Both) {
        if (!RunEEPromPhase(eepromPages))
            return TUpgradeResult::CommunicationError;
    }

    FObserver.SetStatus(QString::fromLatin1(kStatusJump));
    SendByte(boot::CmdJump);
    return TUpgradeResult::Done;
}

void TBootloader::SendOpeningSequence()
{
    SendByte(boot::WakeEscape);
    Pause(boot::WakePauseMs);
    SendByte(boot::WakeU);
    Pause(boot::WakePauseMs);
    SendByte(boot::WakeEscape);
    Pause(boot::WakePauseMs);
    // Whatever the device said while waking is not an answer to the first command.
    FPort.PurgeBuffers(true, true);
}

bool TBootloader::RunFlashPhase(const TPageList& pages)
{
    FObserver.StartProgress(static_cast<int>(pages.size()));
    if (!SendModeWaking(&TBootloader::SendFlashMode))
        return Fail(QString::fromLatin1(kFailFlashMode));
    Pause(boot::ModePauseMs);
    for (const TPage& page : pages) {
        FObserver.SetStatus(FlashPageStatus(page.Address));
        FObserver.StepProgress();
        const bool addressed = page.Data.size() > boot::MaxShortAddressedFlashPage ? SendLongAddress(page.Address)
                                                                                    : SendAddress(page.Address);
        if (!addressed)
            return Fail(QString::fromLatin1(kFailFlashAddress));
        Pause(boot::AddressPauseMs);
        if (!SendPageData(page.Data))
            return Fail(QString::fromLatin1(kFailFlashData));
    }
    return true;
}

bool TBootloader::RunEEPromPhase(const TPageList& pages)
{
    FObserver.StartProgress(static_cast<int>(pages.size()));
    if (!SendModeWaking(&TBootloader::SendEEPromMode))
        return Fail(QString::fromLatin1(kFailEEPromMode));
    Pause(boot::ModePauseMs);
    for (const TPage& page : pages) {
        FObserver.SetStatus(EEPromPageStatus(page.Address));
        FObserver.StepProgress();
        // Data memory is always addressed with the short form, whatever the page's length.
        if (!SendAddress(page.Address))
            return Fail(QString::fromLatin1(kFailEEPromAddress));
        Pause(boot::AddressPauseMs);
        if (!SendPageData(page.Data))
            return Fail(QString::fromLatin1(kFailEEPromData));
    }
    return true;
}

bool TBootloader::SendModeWaking(bool (TBootloader::*send)())
{
    for (int attempt = 0;; ++attempt) {
        if ((this->*send)())
            return true;
        // A wrong answer is a device that is awake and refuses; only silence is worth a new wake.
        if (FLastAnswered || attempt >= FWakeRetries)
            return false;
        SendOpeningSequence();
    }
}

bool TBootloader::Fail(const QString& message)
{
    FObserver.ShowMessage(message);
    return false;
}

void TBootloader::Pause(int milliseconds)
{
    FPause(milliseconds);
}

void TBootloader::SendByte(uint8_t b)
{
    FPort.Write(&b, 1);
    FObserver.ProcessEvents();
}

uint8_t TBootloader::ReceiveByte()
{
    // The port marks the buffer itself; marking it here too keeps a port that does not
    // from turning a missing answer into a stale one.
    uint8_t b = 0xFF;
    FLastAnswered = FPort.Read(&b, 1) > 0;
    return b;
}

bool TBootloader::SendFlashMode()
{
    FObserver.SetStatus(QString::fromLatin1(kStatusFlashMode));
    SendByte(boot::CmdFlashMode);
    return ReceiveByte() == boot::Ack;
}

bool TBootloader::SendEEPromMode()
{
    FObserver.SetStatus(QString::fromLatin1(kStatusEEPromMode));
    SendByte(boot::CmdEEPromMode);
    return ReceiveByte() == boot::Ack;
}

bool TBootloader::SendAddress(int32_t address)
{
    SendByte(boot::CmdAddress);
    SendByte(static_cast<uint8_t>(address & 0xFF));
    SendByte(static_cast<uint8_t>((address / 256) & 0xFF));
    return ReceiveByte() == boot::Ack;
}

bool TBootloader::SendLongAddress(int32_t address)
{
    SendByte(boot::CmdLongAddress);
    SendByte(static_cast<uint8_t>(address & 0xFF));
    SendByte(static_cast<uint8_t>((address / 256) & 0xFF));
    SendByte(static_cast<uint8_t>((address / 65536) & 0xFF));
    return ReceiveByte() == boot::Ack;
}

bool TBootloader::SendPageData(const QByteArray& data)
{
    SendByte(boot::CmdData);
    Pause(boot::DataCommandPauseMs);
    for (const char c : data)
        SendByte(static_cast<uint8_t>(c));
    return ReceiveByte() == boot::Ack;
}

QString TBootloader::FlashPageStatus(int32_t address)
{
    return Format(QStringLiteral("Write Flash Page at 0x%04x"), {address});
}

QString TBootloader::EEPromPageStatus(int32_t address)
{
    return Format(QStringLiteral("Write EEProm Page at 0x%04x"), {address});
}
