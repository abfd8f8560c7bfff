// The simulated bootloader's behaviour, free of any I/O: it takes received bytes one at a
// time, answers like a device, records the pages it was sent and plays the faults it was
// told to play. The line (pseudo-terminal, pacing, idle gaps) lives in BootSim.
#pragma once

#include <QByteArray>
#include <QString>
#include <QStringList>

#include <cstdint>
#include <optional>
#include <vector>

namespace zentrop {

namespace bootsim {

enum class Memory { None, Flash, EEProm };

// A misbehaviour played at one command: "D#3:silent", "F:wrong=0A", "D#2+100:hangup", "A:twice".
struct Fault {
    enum class Action { Silent, Wrong, HangUp, Twice };

    char Command = 'F';   // F, E, A, Z or D
    int Occurrence = 1;   // which one of these commands, counted from 1 over the device's life
    int AfterData = -1;   // data command only: hang up after this many data bytes of the page
    Action What = Action::Silent;
    uint8_t WrongByte = '?';

    // Parses CMD[#N][+K][:silent|:wrong[=HEX]|:hangup|:twice]; the action defaults to silent, and
    // +K goes only with a data command that hangs up. Returns nullopt and sets error otherwise.
    static std::optional<Fault> Parse(const QString& faultText, QString* error);
};

struct DeviceOptions {
    // A data command ends when its page reaches the selected memory's page size (the
    // defaults are those of "zentrop-upgtool sample", so the two work together as they are)...
    int FlashPageSize = 256;
    int EEPromPageSize = 32;
    // ...or, when this is set, after this much silence on the line (see BootSim), so that
    // pages shorter than the page size are taken too.
    int IdleGapMs = 0;
    // Sent when the opening sequence has woken the device; the host discards it.
    QByteArray WakeReply;
    // What the started application prints at once after the jump.
    QByteArray AppBanner;
    std::vector<Fault> Faults;
};

struct ReceivedPage {
    Memory Where = Memory::None;
    int32_t Address = 0;
    bool LongAddress = false;
    QByteArray Data;
};

// Everything the device has seen and kept, for images, reports and tests.
struct DeviceRecord {
    QByteArray Received;              // every byte, in order, also those it ignored
    std::vector<ReceivedPage> Pages;  // in the order received
    QStringList Log;                  // one line per command, wake and fault
    int Wakes = 0;
    int Jumps = 0;
    bool HungUp = false;
};

// What the line has to do after a byte.
struct Reaction {
    QByteArray Reply;
    bool HangUp = false;
};

class Device {
public:
    explicit Device(DeviceOptions options);

    Reaction Receive(uint8_t b);
    // True while a data command takes bytes and an idle gap may end it.
    bool WaitsForIdleGap() const;
    // The line has been silent for the idle gap: the page being collected is complete.
    Reaction IdleGapPassed();

    const DeviceRecord& Record() const { return FRecord; }
    const DeviceOptions& Options() const { return FOptions; }

private:
    enum class State { Asleep, WakeU, WakeEscape, Command, Arguments, Data, Gone };

    Reaction Command(uint8_t b);
    Reaction Answer(char command, int occurrence);
    Reaction FinishPage();
    const Fault* FaultAt(char command, int occurrence) const;
    int PageSize() const;

    DeviceOptions FOptions;
    DeviceRecord FRecord;
    State FState = State::Asleep;
    bool FAwake = false;         // the opening sequence has been seen since the last jump
    Memory FMemory = Memory::None;
    std::optional<int32_t> FAddress;
    bool FLongAddress = false;
    char FCommand = 0;           // the command whose arguments or data are being taken
    int FOccurrence = 0;
    QByteArray FBytes;           // arguments or data taken so far
    int FArgumentCount = 0;
    int FCounts[128] = {};       // occurrences of each command letter
};

const char* MemoryName(Memory m);

} // namespace bootsim

} // namespace zentrop
