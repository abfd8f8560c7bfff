// The upgrade run: wakes the bootloader, sends the Flash and EEProm pages command by command
// and starts the application. It talks to a small port interface and reports through an
// observer, so the main window, the command line and the tests share the same sequencing.
#pragma once

#include "app/UpgradeFile.h"
#include "base/Exception.h"

#include <QByteArray>
#include <QElapsedTimer>
#include <QString>

#include <cstdint>
#include <functional>

// What the run needs of a serial port. Every failure is raised as an exception and ends the run.
class TBootPort {
public:
    virtual ~TBootPort() = default;
    virtual bool Connected() const = 0;
    virtual void Open() = 0;
    virtual void PurgeBuffers(bool input, bool output) = 0;
    // Returns when the bytes are written or the port's write time-out has passed.
    virtual int Write(const void* buffer, int count) = 0;
    // Sets the first byte of the buffer to 0xFF, then reads up to count bytes within the
    // port's read time-outs; returns the number read.
    virtual int Read(void* buffer, int count) = 0;
};

// Where the run reports. All calls come from the thread that runs the upgrade.
class TBootObserver {
public:
    virtual ~TBootObserver() = default;
    virtual void SetStatus(const QString& text) = 0;
    // A phase begins: the progress runs from 0 to max, one step per page.
    virtual void StartProgress(int max) = 0;
    virtual void StepProgress() = 0;
    // A failure report; the run goes on only once the user has seen it (modal).
    virtual void ShowMessage(const QString& text) = 0;
    // Called after every byte sent, so a window can repaint and take input during the run.
    virtual void ProcessEvents() = 0;
};

// When a window lets its messages be processed during a run. Processing them after every byte
// costs more than the byte takes on the line and slows the upgrade; a round at most every
// couple of milliseconds, and at once after the status line changed, keeps the window just as
// responsive and its status and progress just as current.
class TEventPacer {
public:
    void StatusChanged() { FDue = true; }
    // True when a round is due now; the next one then waits for the interval or a new status.
    bool Due();

private:
    QElapsedTimer FLast;
    bool FDue = true;
};

// Indices of the window's "Upgrade mode" radio group; any other index runs neither phase.
enum class TUpgradeMode : int { Flash = 0, EEProm = 1, Both = 2 };

enum class TUpgradeResult {
    Done,               // every page sent and "J" given
    CommunicationError, // a command was not acknowledged; its message has been shown
};

class TBootloader {
public:
    using PauseFunction = std::function<void(int milliseconds)>;

    // The pause function blocks the calling thread; tests replace it to record the pauses.
    TBootloader(TBootPort& port, TBootObserver& observer, PauseFunction pause = {});

    // "Do Upgrade": clears the status line, processes pending events and runs WriteToDevice.
    // Port errors propagate.
    TUpgradeResult Execute(TUpgradeMode mode, const TPageList& flashPages, const TPageList& eepromPages);

    // The run itself: opens the port when it is closed, wakes the bootloader, runs the phases
    // the mode selects and jumps to the application. The page lists must stay unchanged until
    // it returns.
    TUpgradeResult WriteToDevice(TUpgradeMode mode, const TPageList& flashPages, const TPageList& eepromPages);

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

    // The status line shown while a page is written.
    static QString FlashPageStatus(int32_t address);
    static QString EEPromPageStatus(int32_t address);

private:
    void SendOpeningSequence();
    bool RunFlashPhase(const TPageList& pages);
    bool RunEEPromPhase(const TPageList& pages);
    bool Fail(const QString& message);
    void Pause(int milliseconds);
    // Sends a mode command, waking the device again while it stays silent and retries remain.
    bool SendModeWaking(bool (TBootloader::*send)());

    TBootPort& FPort;
    TBootObserver& FObserver;
    PauseFunction FPause;
    int FWakeRetries = 0;
    bool FLastAnswered = false;
};
