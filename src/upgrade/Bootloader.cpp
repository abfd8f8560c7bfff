// The upgrade run's sequencing: one byte per write, one-byte acknowledgements read within the
// port's time-outs, the fixed pauses, the progress events and a message naming the step that
// was not acknowledged.
#include "upgrade/Bootloader.h"

#include "upgrade/BootProtocol.h"

#include <chrono>
#include <thread>

namespace zentrop {

namespace {

// The run's messages for a command of each memory that was not acknowledged.
struct PhaseTexts {
    const char* Mode;
    const char* Address;
    const char* Data;
};
constexpr PhaseTexts kFlashFailures{"Set Flash mode: Communication Error!",
                                    "Send Flash Page address: Communication Error!",
                                    "Send Flash Page: Communication Error!"};
constexpr PhaseTexts kEEPromFailures{"Set EEProm mode: Communication Error!", "Send Page address: Communication Error!",
                                     "Send EEProm Page: Communication Error!"};

void SleepMs(int milliseconds)
{
    std::this_thread::sleep_for(std::chrono::milliseconds(milliseconds));
}

} // namespace

bool EventPacer::Elapsed(qint64 intervalNs) const
{
    return !FLast.isValid() || FLast.nsecsElapsed() >= intervalNs;
}

bool EventPacer::Take()
{
    FStatusChanged = false;
    FLast.start();
    return true;
}

bool EventPacer::DueBeforeAnswer()
{
    // 2 ms: some 23 bytes at 115200 baud, and far more often than a screen refreshes.
    constexpr qint64 kIntervalNs = 2'000'000;
    return (FStatusChanged || Elapsed(kIntervalNs)) && Take();
}

bool EventPacer::DueWhileSending()
{
    // About a screen refresh: between answers only a page that is long for its line's rate
    // sends for that long.
    constexpr qint64 kIntervalNs = 16'000'000;
    return Elapsed(kIntervalNs) && Take();
}

Bootloader::Bootloader(BootPort& port, UpgradeObserver& observer, PauseFunction pause)
    : FPort(port), FObserver(observer), FPause(pause ? std::move(pause) : PauseFunction(SleepMs))
{
}

UpgradeResult Bootloader::WriteToDevice(UpgradeMode mode, const PageList& flashPages,
                                          const PageList& eepromPages)
{
    const bool flash = mode == UpgradeMode::Flash || mode == UpgradeMode::Both;
    const bool eeprom = mode == UpgradeMode::EEProm || mode == UpgradeMode::Both;
    FObserver.RunStarted(RunPlan{mode, flash ? static_cast<int>(flashPages.size()) : 0,
                                 eeprom ? static_cast<int>(eepromPages.size()) : 0});
    FAt = RunEnd{};
    FAt.Step = UpgradeStep::Open;
    UpgradeResult result;
    try {
        result = Run(mode, flashPages, eepromPages);
    } catch (...) {
        FAt.Result = UpgradeResult::PortError;
        FObserver.RunEnded(FAt);
        throw;
    }
    FAt.Result = result;
    FObserver.RunEnded(FAt);
    return result;
}

UpgradeResult Bootloader::Run(UpgradeMode mode, const PageList& flashPages, const PageList& eepromPages)
{
    if (!FPort.Connected())
        FPort.Open();
    SendOpeningSequence();

    if (mode == UpgradeMode::Flash || mode == UpgradeMode::Both) {
        if (!RunPhase(Memory::Flash, flashPages))
            return UpgradeResult::CommunicationError;
    }
    if (mode == UpgradeMode::EEProm || mode == UpgradeMode::Both) {
        if (!RunPhase(Memory::EEProm, eepromPages))
            return UpgradeResult::CommunicationError;
    }

    // A device whose pages are shorter than the file's answers the last page before its end
    // and takes the rest as commands; what it says to them comes once the line is quiet, and
    // after the jump nothing would read it.
    if (FAt.Step == UpgradeStep::Data && FPort.StrayBytes(boot::StrayQuietMs) > 0) {
        AnsweredEarly();
        Fail(FAt.Where == Memory::Flash ? kFlashFailures.Data : kEEPromFailures.Data);
        return UpgradeResult::CommunicationError;
    }
    FAt = RunEnd{};
    FObserver.ApplicationStarting();
    SendByte(boot::CmdJump);
    return UpgradeResult::Done;
}

void Bootloader::SendOpeningSequence()
{
    FAt.Step = UpgradeStep::Wake;
    SendByte(boot::WakeEscape);
    Pause(boot::WakePauseMs);
    SendByte(boot::WakeU);
    Pause(boot::WakePauseMs);
    SendByte(boot::WakeEscape);
    Pause(boot::WakePauseMs);
    // Whatever the device said while waking is not an answer to the first command.
    FPort.PurgeBuffers(true, true);
}

bool Bootloader::RunPhase(Memory memory, const PageList& pages)
{
    const bool flash = memory == Memory::Flash;
    const PhaseTexts& failures = flash ? kFlashFailures : kEEPromFailures;
    PageProgress page{memory, 0, static_cast<int>(pages.size()), 0};
    FObserver.MemoryStarted(memory, page.Count);
    FAt = RunEnd{};
    FAt.Step = UpgradeStep::Mode;
    FAt.Where = memory;
    if (!SendModeWaking(flash ? &Bootloader::SendFlashMode : &Bootloader::SendEEPromMode))
        return Fail(failures.Mode);
    Pause(boot::ModePauseMs);
    for (const TPage& p : pages) {
        page.Address = p.Address;
        FAt.Page = page;
        FAt.Step = UpgradeStep::Address;
        FObserver.PageStarted(page);
        // Data memory is always addressed with the short form, whatever the page's length.
        const bool addressed = flash && p.Data.size() > boot::MaxShortAddressedFlashPage ? SendLongAddress(p.Address)
                                                                                        : SendAddress(p.Address);
        if (!addressed)
            return Fail(failures.Address);
        Pause(boot::AddressPauseMs);
        FAt.Step = UpgradeStep::Data;
        if (!SendPageData(p.Data))
            return Fail(failures.Data);
        FObserver.PageDone(page);
        ++page.Index;
    }
    return true;
}

bool Bootloader::SendModeWaking(bool (Bootloader::*send)())
{
    for (int attempt = 0;; ++attempt) {
        if ((this->*send)())
            return true;
        // A wrong answer is a device that is awake and refuses; only silence is worth a new wake.
        if (FAnswer != AnswerFault::Silent || attempt >= FWakeRetries)
            return false;
        FAt.Step = UpgradeStep::Wake;
        SendOpeningSequence();
        FAt.Step = UpgradeStep::Mode;
    }
}

bool Bootloader::Fail(const char* message)
{
    FAt.Message = QString::fromLatin1(message);
    FAt.Answer = FAnswer;
    FAt.Got = FGot;
    return false;
}

void Bootloader::Pause(int milliseconds)
{
    FPause(milliseconds);
}

void Bootloader::SendByte(uint8_t b)
{
    FPort.Write(&b, 1);
    FObserver.ByteSent();
}

uint8_t Bootloader::ReceiveByte()
{
    // The port marks the buffer itself; marking it here too keeps a port that does not
    // from turning a missing answer into a stale one.
    uint8_t b = 0xFF;
    FObserver.AnswerAwaited();
    const bool answered = FPort.Read(&b, 1) > 0;
    FAnswer = !answered ? AnswerFault::Silent : b == boot::Ack ? AnswerFault::None : AnswerFault::Wrong;
    FGot = b;
    return b;
}

bool Bootloader::Acknowledged()
{
    return ReceiveByte() == boot::Ack;
}

bool Bootloader::SendFlashMode()
{
    SendByte(boot::CmdFlashMode);
    return Acknowledged();
}

bool Bootloader::SendEEPromMode()
{
    SendByte(boot::CmdEEPromMode);
    return Acknowledged();
}

bool Bootloader::SendAddress(int32_t address)
{
    SendByte(boot::CmdAddress);
    SendByte(static_cast<uint8_t>(address & 0xFF));
    SendByte(static_cast<uint8_t>((address / 256) & 0xFF));
    return Acknowledged();
}

bool Bootloader::SendLongAddress(int32_t address)
{
    SendByte(boot::CmdLongAddress);
    SendByte(static_cast<uint8_t>(address & 0xFF));
    SendByte(static_cast<uint8_t>((address / 256) & 0xFF));
    SendByte(static_cast<uint8_t>((address / 65536) & 0xFF));
    return Acknowledged();
}

// The data command carries no length: a device whose pages are shorter than the file's answers
// before the page ends and may ignore the rest, and its acknowledgement would then pass for the
// whole page's. The only sign is timing: a byte that is already waiting before the page's last
// byte goes out, or one more byte waiting right after the answer. Either fails the page. Looking
// costs no wait, so a device that answers in time is not slowed down.
bool Bootloader::SendPageData(const QByteArray& data)
{
    SendByte(boot::CmdData);
    Pause(boot::DataCommandPauseMs);
    const qsizetype last = data.size() - 1;
    for (qsizetype i = 0; i < data.size(); ++i) {
        if (i == last && FPort.InputWaiting() > 0)
            return AnsweredEarly();
        SendByte(static_cast<uint8_t>(data[i]));
    }
    if (!Acknowledged())
        return false;
    return FPort.InputWaiting() > 0 ? AnsweredEarly() : true;
}

bool Bootloader::AnsweredEarly()
{
    FAnswer = AnswerFault::Early;
    FGot = 0;
    return false;
}

} // namespace zentrop
