// The progress lines of several ports at once: redrawn together on a terminal, otherwise one
// plain line per status change with the port in front.
#pragma once

#include "ConsoleObserver.h"

#include <QStringList>

#include <cstdio>
#include <mutex>
#include <vector>

class TMultiDisplay {
public:
    // rows and columns: the terminal's size (0 when unknown). A redrawn display never takes
    // more lines than the terminal shows, nor lines wider than it: either would scroll the
    // redraws into the scrollback. The ports that do not fit are summed up on the last line.
    TMultiDisplay(FILE* out, TConsoleStyle style, const QStringList& ports, int total, int rows, int columns);

    void Status(qsizetype port, const QString& text);
    void Step(qsizetype port);
    // The port's run has ended, with success or not.
    void Finished(qsizetype port, bool done);

    // The size of the terminal the stream writes to; 0 and 0 when it is none.
    static void TerminalSize(FILE* out, int* rows, int* columns);

private:
    void Redraw();
    QByteArray Fit(const QByteArray& line) const;

    enum class State { Running, Done, Failed };

    std::mutex FMutex;
    FILE* FOut;
    TConsoleStyle FStyle;
    QStringList FPorts;
    QStringList FStatus;
    std::vector<int> FDone;
    std::vector<State> FState;
    int FTotal;
    int FWidth = 0;
    int FShown = 0;   // the ports with a line of their own
    int FLines = 0;   // the lines a redraw takes
    int FColumns = 0;
};
