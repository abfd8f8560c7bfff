// The simulated bootloader's command interpreter: the wake sequence, the mode, address and
// data commands, the jump, strict checks a test device should make, and the played faults.
#include "testsupport/BootDevice.h"

#include "upgrade/BootProtocol.h"

#include <QRegularExpression>

namespace zentrop {

namespace bootsim {

namespace {

// What a confused device answers to a command it cannot carry out.
constexpr uint8_t kRefusal = '?';

bool IsCountedCommand(uint8_t b)
{
    return b == boot::CmdFlashMode || b == boot::CmdEEPromMode || b == boot::CmdAddress ||
           b == boot::CmdLongAddress || b == boot::CmdData || b == boot::CmdJump;
}

} // namespace

const char* MemoryName(Memory m)
{
    switch (m) {
    case Memory::Flash:
        return "flash";
    case Memory::EEProm:
        return "eeprom";
    case Memory::None:
        break;
    }
    return "none";
}

std::optional<Fault> Fault::Parse(const QString& faultText, QString* error)
{
    static const QRegularExpression re(
        QStringLiteral("^([FEAZD])(?:#(\\d+))?(?:\\+(\\d+))?(?::(silent|wrong|hangup|twice)(?:=([0-9A-Fa-f]{2}))?)?$"));
    const QRegularExpressionMatch m = re.match(faultText);
    auto fail = [&](const QString& why) -> std::optional<Fault> {
        if (error)
            *error = QStringLiteral("bad fault \"%1\": %2").arg(faultText, why);
        return std::nullopt;
    };
    if (!m.hasMatch())
        return fail(QStringLiteral("expected CMD[#N][+K][:silent|:wrong[=HEX]|:hangup|:twice] with CMD one of F E A Z D"));
    Fault f;
    f.Command = m.captured(1).at(0).toLatin1();
    if (m.hasCaptured(2)) {
        bool ok = false;
        f.Occurrence = m.captured(2).toInt(&ok);
        if (!ok || f.Occurrence < 1)
            return fail(QStringLiteral("the occurrence counts from 1"));
    }
    const QString action = m.captured(4);
    if (action == QLatin1String("wrong"))
        f.What = Action::Wrong;
    else if (action == QLatin1String("hangup"))
        f.What = Action::HangUp;
    else if (action == QLatin1String("twice"))
        f.What = Action::Twice;
    if (m.hasCaptured(5)) {
        if (f.What != Action::Wrong)
            return fail(QStringLiteral("only a wrong answer takes a byte"));
        f.WrongByte = static_cast<uint8_t>(m.captured(5).toUInt(nullptr, 16));
        if (f.WrongByte == boot::Ack)
            return fail(QStringLiteral("0D is the right answer"));
    }
    if (m.hasCaptured(3)) {
        bool ok = false;
        f.AfterData = m.captured(3).toInt(&ok);
        if (!ok || f.Command != 'D' || f.What != Action::HangUp)
            return fail(QStringLiteral("+K goes only with a data command that hangs up"));
    }
    return f;
}

Device::Device(DeviceOptions options) : FOptions(std::move(options)) {}

Reaction Device::Receive(uint8_t b)
{
    FRecord.Received += static_cast<char>(b);
    switch (FState) {
    case State::Gone:
        return {};
    case State::Asleep:
        if (b == boot::WakeEscape)
            FState = State::WakeU;
        return {};
    case State::WakeU:
        if (b == boot::WakeU) {
            FState = State::WakeEscape;
            return {};
        }
        if (b == boot::WakeEscape)
            return {};
        break;
    case State::WakeEscape:
        if (b == boot::WakeEscape) {
            FState = State::Command;
            FAwake = true;
            FMemory = Memory::None;
            FAddress.reset();
            ++FRecord.Wakes;
            FRecord.Log << QStringLiteral("wake");
            return {FOptions.WakeReply, false};
        }
        break;
    case State::Command:
        return Command(b);
    case State::Arguments: {
        FBytes += static_cast<char>(b);
        if (FBytes.size() < FArgumentCount)
            return {};
        int32_t address = 0;
        for (int i = 0; i < FArgumentCount; ++i)
            address |= static_cast<int32_t>(static_cast<uint8_t>(FBytes[i])) << (8 * i);
        FAddress = address;
        FLongAddress = FCommand == boot::CmdLongAddress;
        FState = State::Command;
        FRecord.Log << QString::asprintf("%c 0x%04X", FCommand, address);
        return Answer(FCommand, FOccurrence);
    }
    case State::Data: {
        FBytes += static_cast<char>(b);
        const Fault* f = FaultAt(boot::CmdData, FOccurrence);
        if (f && f->What == Fault::Action::HangUp && FBytes.size() == f->AfterData) {
            FState = State::Gone;
            FRecord.HungUp = true;
            FRecord.Log << QString::asprintf("hang up after %d data bytes", f->AfterData);
            return {QByteArray(), true};
        }
        if (FBytes.size() >= PageSize())
            return FinishPage();
        return {};
    }
    }
    // A broken opening sequence: an awake device takes the byte as a command, a sleeping one
    // goes on waiting.
    FState = FAwake ? State::Command : State::Asleep;
    return FAwake ? Command(b) : Reaction{};
}

Reaction Device::Command(uint8_t b)
{
    if (b == boot::WakeEscape) {
        FState = State::WakeU;
        return {};
    }
    const int occurrence = IsCountedCommand(b) ? ++FCounts[b] : 0;
    const Fault* f = FaultAt(static_cast<char>(b), occurrence);
    if (f && f->What == Fault::Action::HangUp && f->AfterData <= 0) {
        FState = State::Gone;
        FRecord.HungUp = true;
        FRecord.Log << QString::asprintf("hang up at %c#%d", static_cast<char>(b), occurrence);
        return {QByteArray(), true};
    }
    switch (b) {
    case boot::CmdFlashMode:
    case boot::CmdEEPromMode:
        FMemory = b == boot::CmdFlashMode ? Memory::Flash : Memory::EEProm;
        FAddress.reset();
        FRecord.Log << QString(QLatin1Char(static_cast<char>(b)));
        return Answer(static_cast<char>(b), occurrence);
    case boot::CmdAddress:
    case boot::CmdLongAddress:
        FState = State::Arguments;
        FCommand = static_cast<char>(b);
        FOccurrence = occurrence;
        FArgumentCount = b == boot::CmdAddress ? boot::AddressBytes : boot::LongAddressBytes;
        FBytes.clear();
        return {};
    case boot::CmdData:
        // Each page needs its memory and its own address; anything else is a host error.
        if (FMemory == Memory::None || !FAddress) {
            FRecord.Log << QStringLiteral("D refused: no memory or no address selected");
            return {QByteArray(1, static_cast<char>(kRefusal)), false};
        }
        FState = State::Data;
        FCommand = static_cast<char>(b);
        FOccurrence = occurrence;
        FBytes.clear();
        return {};
    case boot::CmdJump:
        ++FRecord.Jumps;
        FRecord.Log << QStringLiteral("J");
        FAwake = false;
        FState = State::Asleep;
        FMemory = Memory::None;
        FAddress.reset();
        return {FOptions.AppBanner, false};
    default:
        FRecord.Log << QString::asprintf("unknown command 0x%02X", b);
        return {QByteArray(1, static_cast<char>(kRefusal)), false};
    }
}

bool Device::WaitsForIdleGap() const
{
    return FState == State::Data && FOptions.IdleGapMs > 0;
}

Reaction Device::IdleGapPassed()
{
    return FState == State::Data ? FinishPage() : Reaction{};
}

Reaction Device::FinishPage()
{
    FState = State::Command;
    const Reaction answer = Answer(boot::CmdData, FOccurrence);
    const bool acknowledged = answer.Reply.startsWith(static_cast<char>(boot::Ack));
    FRecord.Log << QString::asprintf("D %s 0x%04X, %d bytes%s", MemoryName(FMemory), *FAddress,
                                     static_cast<int>(FBytes.size()), acknowledged ? "" : ", not kept");
    // Only an acknowledged page counts as written.
    if (acknowledged)
        FRecord.Pages.push_back(ReceivedPage{FMemory, *FAddress, FLongAddress, FBytes});
    FAddress.reset();
    return answer;
}

Reaction Device::Answer(char command, int occurrence)
{
    const Fault* f = FaultAt(command, occurrence);
    if (f && f->What == Fault::Action::Silent) {
        FRecord.Log << QString::asprintf("silent at %c#%d", command, occurrence);
        return {};
    }
    if (f && f->What == Fault::Action::Wrong) {
        FRecord.Log << QString::asprintf("wrong answer 0x%02X at %c#%d", f->WrongByte, command, occurrence);
        return {QByteArray(1, static_cast<char>(f->WrongByte)), false};
    }
    if (f && f->What == Fault::Action::Twice) {
        FRecord.Log << QString::asprintf("answered twice at %c#%d", command, occurrence);
        // One write: the second answer is on the line as soon as the first is.
        return {QByteArray(2, static_cast<char>(boot::Ack)), false};
    }
    return {QByteArray(1, static_cast<char>(boot::Ack)), false};
}

const Fault* Device::FaultAt(char command, int occurrence) const
{
    for (const Fault& f : FOptions.Faults) {
        if (f.Command == command && f.Occurrence == occurrence)
            return &f;
    }
    return nullptr;
}

int Device::PageSize() const
{
    return FMemory == Memory::Flash ? FOptions.FlashPageSize : FOptions.EEPromPageSize;
}

} // namespace bootsim

} // namespace zentrop
