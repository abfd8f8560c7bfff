// The progress of flash runs on standard error, for one port or several at once: the command
// line's own words for the run's events, and one drawer that redraws a line per port on a
// terminal, or writes plain lines elsewhere, for logs and scripts.
#pragma once

#include "cmdline/Console.h"

#include "upgrade/Bootloader.h"

#include <QByteArray>
#include <QString>
#include <QStringList>

#include <cstdio>
#include <mutex>
#include <optional>
#include <vector>

namespace zentrop {

// "Flash page 7/16 at 0x0700": a page (index from 0) as the command line names it.
QString PageLine(Memory memory, int index, int count, int32_t address);

class ProgressDisplay {
public:
    // rows and columns: the terminal's size (0 when unknown). Redrawn lines never take more rows
    // than the terminal shows, nor more columns: either would scroll the redraws into the
    // scrollback. The ports that do not fit are summed up on the last line. A single port's line
    // has a bar and no name.
    ProgressDisplay(FILE* out, ConsoleStyle style, const QStringList& ports, int rows, int columns);

    // A run on the port starts, with this many pages; a run started over counts from 0 again.
    void Start(qsizetype port, int pages);
    void Status(qsizetype port, const QString& text);
    void PageDone(qsizetype port);
    // A line of its own, with the port in front when there are several; redrawn lines move
    // below it.
    void Message(qsizetype port, const QString& text);
    // The port's runs are over, with success or not.
    void Finished(qsizetype port, bool done);

    // Errors only: the status lines are left out, messages (failures, retries) stay. Give a
    // style without redraws with it.
    void SetQuiet(bool quiet) { FQuiet = quiet; }

    // The size of the terminal the stream writes to; 0 and 0 when it is none.
    static void TerminalSize(FILE* out, int* rows, int* columns);

private:
    enum class State { Running, Done, Failed };
    struct Port {
        QByteArray Name;
        QByteArray Status;
        int Pages = 0;
        int Done = 0;
        State Is = State::Running;
    };

    // Moves up over the redrawn lines and draws them again, after the lines above, if any.
    void Redraw(const QByteArray& above = QByteArray());
    QByteArray Line(const Port& port) const;
    QByteArray Fit(const QByteArray& line) const;
    QByteArray Prefixed(const Port& port, const QByteArray& text) const;

    std::mutex FMutex;
    FILE* FOut;
    ConsoleStyle FStyle;
    std::vector<Port> FPorts;
    int FWidth = 0;   // of the longest port name
    int FShown = 0;   // the ports with a line of their own
    int FLines = 0;   // the lines a redraw takes
    int FColumns = 0;
    bool FQuiet = false;
};

// One port's runs as the display shows them; keeps how the last run ended.
class PortProgress : public UpgradeObserver {
public:
    PortProgress(ProgressDisplay& display, qsizetype port) : FDisplay(display), FPort(port) {}

    void RunStarted(const RunPlan& plan) override;
    void MemoryStarted(Memory memory, int pages) override;
    void PageStarted(const PageProgress& page) override;
    void PageDone(const PageProgress& page) override;
    void ApplicationStarting() override;
    void RunEnded(const RunEnd& end) override;

    void Message(const QString& text) { FDisplay.Message(FPort, text); }
    // Also tells another observer (the event lines) every step.
    void SetAlso(UpgradeObserver* also) { FAlso = also; }
    // How the last run ended; nullopt before a run ended or while one goes on.
    const std::optional<RunEnd>& LastEnd() const { return FLastEnd; }
    // The pages the device acknowledged in the last run.
    int PagesDone() const { return FPagesDone; }
    // An attempt starts: what an earlier one ended with is no longer its end.
    void ForgetEnd()
    {
        FLastEnd.reset();
        FPagesDone = 0;
    }

private:
    ProgressDisplay& FDisplay;
    qsizetype FPort;
    std::optional<RunEnd> FLastEnd;
    UpgradeObserver* FAlso = nullptr;
    int FPagesDone = 0;
};

} // namespace zentrop
