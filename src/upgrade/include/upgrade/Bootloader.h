// The upgrade run: wakes the bootloader, sends the Flash and EEProm pages command by command
// and starts the application. It talks to a small port interface and reports typed progress
// events (memory, page, address, the step that failed) to an observer, so the main window, the
// command line and the tests share the same sequencing and each words the progress its own way.
#pragma once

#include "upgrade/UpgradeFile.h"
#include "base/Exception.h"

#include <QByteArray>
#include <QElapsedTimer>
#include <QString>

#include <cstdint>
#include <functional>
#include <optional>

namespace zentrop {

// What the run needs of a serial port. Every failure is raised as an exception and ends the run.
class BootPort {
public:
    virtual ~BootPort() = default;
    virtual bool Connected() const = 0;
    virtual void Open() = 0;
    virtual void PurgeBuffers(bool input, bool output) = 0;
    // Returns when the bytes are written or the port's write time-out has passed.
    virtual int Write(const void* buffer, int count) = 0;
    // Sets the first byte of the buffer to 0xFF, then reads up to count bytes within the
    // port's read time-outs; returns the number read.
    virtual int Read(void* buffer, int count) = 0;
    // How many received bytes wait to be read, without waiting for any.
    virtual int InputWaiting() = 0;
    // Waits until the line has been quiet for quietMs after the last byte written left it,
    // reading what comes meanwhile; returns how many bytes came (0 or 1: it stops at the first).
    virtual int StrayBytes(int quietMs) = 0;
};

// The memories a run writes, in the order it writes them.
enum class Memory { Flash, EEProm };

// Indices of the window's "Upgrade mode" radio group; any other index runs neither phase.
enum class UpgradeMode : int { Flash = 0, EEProm = 1, Both = 2 };

enum class UpgradeResult {
    Done,               // every page sent and "J" given
    CommunicationError, // a command was not acknowledged
    PortError,          // the port raised an error (or the run was interrupted); it propagates
};

// What the run was doing when it ended.
enum class UpgradeStep { Open, Wake, Mode, Address, Data, Jump };

// How the device's answer failed the command the run ended at.
enum class AnswerFault {
    None,   // the command was not answered wrongly: the run succeeded or the port failed
    Silent, // nothing within the read time-out
    Wrong,  // a byte other than the acknowledgement
    // A byte arrived while the page's data was still being sent, or more than the one answer
    // came: the device ended the page early and may have taken the rest as commands.
    Early,
};

// The pages a run will write of each memory; a memory the mode leaves out has none.
struct RunPlan {
    UpgradeMode Mode = UpgradeMode::Flash;
    int FlashPages = 0;
    int EEPromPages = 0;
    int Pages() const { return FlashPages + EEPromPages; }
};

// A page of a memory: the Index-th (from 0) of the Count pages the run writes there.
struct PageProgress {
    Memory Where = Memory::Flash;
    int Index = 0;
    int Count = 0;
    int32_t Address = 0;
};

struct RunEnd {
    UpgradeResult Result = UpgradeResult::Done;
    // The step the run was at; for a mode, address or data step its memory, and for an address
    // or data step its page.
    UpgradeStep Step = UpgradeStep::Jump;
    Memory Where = Memory::Flash;
    std::optional<PageProgress> Page;
    // The run's message for a command that was not acknowledged; empty otherwise.
    QString Message;
    // For a command that was not acknowledged: how, and the byte that came for a wrong answer.
    AnswerFault Answer = AnswerFault::None;
    uint8_t Got = 0;
};

// How a run reports its progress. All calls come from the thread that runs the upgrade, in
// this order: RunStarted; for each memory MemoryStarted, then PageStarted and PageDone for
// each of its pages; ApplicationStarting before the last command; RunEnded. A run that
// fails ends with RunEnded at once.
class UpgradeObserver {
public:
    virtual ~UpgradeObserver() = default;
    virtual void RunStarted(const RunPlan&) {}
    // Before the memory's mode command, which the device may be woken for again.
    virtual void MemoryStarted(Memory, int /*pages*/) {}
    // Before the page's address; done once the device acknowledged its data.
    virtual void PageStarted(const PageProgress&) {}
    virtual void PageDone(const PageProgress&) {}
    virtual void ApplicationStarting() {}
    // A failure's message comes here; a window shows it before the run returns. A port error
    // propagates after this call.
    virtual void RunEnded(const RunEnd&) {}
    // After every byte sent, so a window can repaint and take input during the run.
    virtual void ByteSent() {}
    // Before each wait for the device's answer. The command's last bytes are still on the line
    // and the answer takes its own time, so work done here costs the run nothing.
    virtual void AnswerAwaited() {}
};

// When a window lets its messages be processed during a run. Processing them after every byte
// costs more than the byte takes on the line and slows the upgrade. A round before a wait for
// an answer costs nothing, as the host would only wait there: it comes every couple of
// milliseconds, and at the first such wait after the status line changed, which keeps the window
// responsive and its status and progress current. Between answers, while the bytes of a long
// page go out, a round comes at most once a screen refresh.
class EventPacer {
public:
    void StatusChanged() { FStatusChanged = true; }
    // True when a round is due before a wait for the answer; the next one then waits for the
    // interval or a new status.
    bool DueBeforeAnswer();
    // True when a round is due after a byte sent.
    bool DueWhileSending();

private:
    bool Elapsed(qint64 intervalNs) const;
    bool Take();

    QElapsedTimer FLast;
    bool FStatusChanged = true;
};

class Bootloader {
public:
    using PauseFunction = std::function<void(int milliseconds)>;

    // The pause function blocks the calling thread; tests replace it to record the pauses.
    Bootloader(BootPort& port, UpgradeObserver& observer, PauseFunction pause = {});

    // The run: opens the port when it is closed, wakes the bootloader, runs the phases the mode
    // selects and jumps to the application. Port errors propagate. The page lists must stay
    // unchanged until it returns.
    UpgradeResult WriteToDevice(UpgradeMode mode, const PageList& flashPages, const PageList& eepromPages);

    // How often the opening sequence is sent again when a mode command gets no answer at all
    // (a device still starting its bootloader) before the run fails; 0 by default.
    void SetWakeRetries(int retries) { FWakeRetries = retries; }

    // The single commands; the mode, address and data commands return true when the device
    // acknowledged them.
    void SendByte(uint8_t b);
    uint8_t ReceiveByte();
    bool SendFlashMode();
    bool SendEEPromMode();
    bool SendAddress(int32_t address);
    bool SendLongAddress(int32_t address);
    bool SendPageData(const QByteArray& data);

private:
    UpgradeResult Run(UpgradeMode mode, const PageList& flashPages, const PageList& eepromPages);
    void SendOpeningSequence();
    // Takes the answer of the command just sent and notes how it failed, if it did.
    bool Acknowledged();
    // Fails the page whose answer came before its last byte was sent.
    bool AnsweredEarly();
    bool RunPhase(Memory memory, const PageList& pages);
    bool Fail(const char* message);
    void Pause(int milliseconds);
    // Sends a mode command, waking the device again while it stays silent and retries remain.
    bool SendModeWaking(bool (Bootloader::*send)());

    BootPort& FPort;
    UpgradeObserver& FObserver;
    PauseFunction FPause;
    int FWakeRetries = 0;
    AnswerFault FAnswer = AnswerFault::None;
    uint8_t FGot = 0;
    // Where the run is, for the report of its end.
    RunEnd FAt;
};

} // namespace zentrop
