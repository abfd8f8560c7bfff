// Drawing the lines of several ports within the terminal's size.
#include "MultiDisplay.h"

#include <algorithm>
#include <sys/ioctl.h>
#include <unistd.h>

TMultiDisplay::TMultiDisplay(FILE* out, TConsoleStyle style, const QStringList& ports, int total, int rows, int columns)
    : FOut(out), FStyle(style), FPorts(ports), FStatus(ports.size()), FDone(ports.size(), 0),
      FState(ports.size(), State::Running), FTotal(total), FColumns(columns)
{
    for (const QString& p : ports)
        FWidth = std::max(FWidth, static_cast<int>(p.size()));
    const int count = static_cast<int>(ports.size());
    // One row stays free for the cursor below the lines; the rest hold ports, and the last of
    // them the sum of those that do not fit.
    const int available = rows > 1 ? rows - 1 : count;
    FShown = count <= available ? count : std::max(available - 1, 1);
    FLines = FShown + (FShown < count ? 1 : 0);
    if (FStyle.Redraw) {
        for (int i = 0; i < FLines; ++i)
            ConsolePrintf(FOut, "\n");
        Redraw();
    }
}

void TMultiDisplay::TerminalSize(FILE* out, int* rows, int* columns)
{
    winsize size {};
    if (::ioctl(fileno(out), TIOCGWINSZ, &size) == 0) {
        *rows = size.ws_row;
        *columns = size.ws_col;
    } else {
        *rows = *columns = 0;
    }
}

void TMultiDisplay::Status(qsizetype port, const QString& text)
{
    std::lock_guard lock(FMutex);
    FStatus[port] = text;
    if (FStyle.Redraw)
        Redraw();
    else if (!text.isEmpty())
        ConsolePrintf(FOut, "%-*s  %s\n", FWidth, FPorts[port].toLocal8Bit().constData(), text.toLocal8Bit().constData());
}

void TMultiDisplay::Step(qsizetype port)
{
    std::lock_guard lock(FMutex);
    ++FDone[port];
    if (FStyle.Redraw)
        Redraw();
}

void TMultiDisplay::Finished(qsizetype port, bool done)
{
    std::lock_guard lock(FMutex);
    FState[port] = done ? State::Done : State::Failed;
    if (FStyle.Redraw)
        Redraw();
}

QByteArray TMultiDisplay::Fit(const QByteArray& line) const
{
    // A line as wide as the terminal would wrap (or leave the cursor in the last column).
    return FColumns > 1 && line.size() >= FColumns ? line.left(FColumns - 1) : line;
}

void TMultiDisplay::Redraw()
{
    QByteArray text = "\033[" + QByteArray::number(FLines) + "A";
    for (int i = 0; i < FShown; ++i) {
        const int percent = FTotal > 0 ? std::min(FDone[i], FTotal) * 100 / FTotal : 0;
        const QByteArray line = QString::asprintf("%-*s %3d%%  ", FWidth, FPorts[i].toLocal8Bit().constData(), percent)
                                    .toLocal8Bit() +
                                FStatus[i].toLocal8Bit();
        text += "\r\033[K" + Fit(line) + "\n";
    }
    if (FShown < FPorts.size()) {
        int running = 0, done = 0, failed = 0;
        for (qsizetype i = FShown; i < FPorts.size(); ++i) {
            running += FState[i] == State::Running ? 1 : 0;
            done += FState[i] == State::Done ? 1 : 0;
            failed += FState[i] == State::Failed ? 1 : 0;
        }
        const QByteArray line = QString::asprintf("+%d ports: %d running, %d done, %d failed",
                                                  static_cast<int>(FPorts.size()) - FShown, running, done, failed)
                                    .toLocal8Bit();
        text += "\r\033[K" + Fit(line) + "\n";
    }
    ConsolePrintf(FOut, "%s", text.constData());
}
