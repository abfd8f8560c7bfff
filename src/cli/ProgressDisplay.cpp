// The command line's progress lines, redrawn within the terminal's size or written plainly.
#include "ProgressDisplay.h"

#include <algorithm>
#include <sys/ioctl.h>
#include <unistd.h>

namespace zentrop {

namespace {

constexpr int kBarWidth = 30;
const QByteArray kGreen = QByteArrayLiteral("\033[32m");
const QByteArray kRed = QByteArrayLiteral("\033[31m");
const QByteArray kPlain = QByteArrayLiteral("\033[0m");

QString MemoryName(Memory memory)
{
    return memory == Memory::Flash ? QStringLiteral("Flash") : QStringLiteral("EEProm");
}

} // namespace

QString PageLine(Memory memory, int index, int count, int32_t address)
{
    return QStringLiteral("%1 page %2/%3 at 0x%4")
        .arg(MemoryName(memory))
        .arg(index + 1)
        .arg(count)
        .arg(QString::number(static_cast<uint32_t>(address), 16).toUpper().rightJustified(4, u'0'));
}

ProgressDisplay::ProgressDisplay(FILE* out, ConsoleStyle style, const QStringList& ports, int rows, int columns)
    : FOut(out), FStyle(style), FColumns(columns)
{
    for (const QString& p : ports) {
        Port port;
        port.Name = p.toLocal8Bit();
        FPorts.push_back(port);
        FWidth = std::max(FWidth, static_cast<int>(FPorts.back().Name.size()));
    }
    const int count = static_cast<int>(FPorts.size());
    // One row stays free for the cursor below the lines; the rest hold ports, and the last of
    // them the sum of those that do not fit.
    const int available = rows > 1 ? rows - 1 : count;
    FShown = count <= available ? count : std::max(available - 1, 1);
    FLines = FShown + (FShown < count ? 1 : 0);
    if (FStyle.Redraw) {
        ConsolePrintf(FOut, "%s", QByteArray(FLines, '\n').constData());
        Redraw();
    }
}

void ProgressDisplay::TerminalSize(FILE* out, int* rows, int* columns)
{
    winsize size {};
    if (::ioctl(fileno(out), TIOCGWINSZ, &size) == 0) {
        *rows = size.ws_row;
        *columns = size.ws_col;
    } else {
        *rows = *columns = 0;
    }
}

void ProgressDisplay::Start(qsizetype port, int pages)
{
    std::lock_guard lock(FMutex);
    FPorts[port].Pages = pages;
    FPorts[port].Done = 0;
    if (FStyle.Redraw)
        Redraw();
}

void ProgressDisplay::Status(qsizetype port, const QString& text)
{
    std::lock_guard lock(FMutex);
    Port& p = FPorts[port];
    p.Status = text.toLocal8Bit();
    if (FStyle.Redraw)
        Redraw();
    else if (!p.Status.isEmpty() && !FQuiet)
        ConsolePrintf(FOut, "%s\n", Prefixed(p, p.Status).constData());
}

void ProgressDisplay::PageDone(qsizetype port)
{
    std::lock_guard lock(FMutex);
    ++FPorts[port].Done;
    if (FStyle.Redraw)
        Redraw();
}

void ProgressDisplay::Message(qsizetype port, const QString& text)
{
    std::lock_guard lock(FMutex);
    const QByteArray line = Prefixed(FPorts[port], text.toLocal8Bit());
    if (!FStyle.Redraw)
        ConsolePrintf(FOut, "%s\n", line.constData());
    else if (FStyle.Color)
        Redraw(kRed + line + kPlain + "\n");
    else
        Redraw(line + "\n");
}

void ProgressDisplay::Finished(qsizetype port, bool done)
{
    std::lock_guard lock(FMutex);
    FPorts[port].Is = done ? State::Done : State::Failed;
    if (FStyle.Redraw)
        Redraw();
}

QByteArray ProgressDisplay::Prefixed(const Port& port, const QByteArray& text) const
{
    if (FPorts.size() == 1)
        return text;
    return port.Name + QByteArray(FWidth - port.Name.size() + 2, ' ') + text;
}

QByteArray ProgressDisplay::Fit(const QByteArray& line) const
{
    // A line as wide as the terminal would wrap (or leave the cursor in the last column).
    return FColumns > 1 && line.size() >= FColumns ? line.left(FColumns - 1) : line;
}

QByteArray ProgressDisplay::Line(const Port& port) const
{
    const int done = std::min(port.Done, port.Pages);
    const int percent = port.Pages > 0 ? done * 100 / port.Pages : 0;
    if (FPorts.size() > 1) {
        const QByteArray head = port.Name + QByteArray(FWidth - port.Name.size(), ' ') +
                                QByteArray::number(percent).rightJustified(4) + "%  ";
        return Fit(head + port.Status);
    }
    const int filled = port.Pages > 0 ? done * kBarWidth / port.Pages : 0;
    const QByteArray bar = QByteArray(filled, '#') + QByteArray(kBarWidth - filled, '.');
    const QByteArray tail = "] " + QByteArray::number(percent).rightJustified(3) + "%  ";
    const QByteArray plain = Fit("[" + bar + tail + port.Status);
    // Coloured only while the whole bar shows, so a cut line never leaves the colour on.
    if (!FStyle.Color || plain.size() < 1 + kBarWidth + tail.size())
        return plain;
    return QByteArray("[") + kGreen + bar + kPlain + plain.mid(1 + kBarWidth);
}

void ProgressDisplay::Redraw(const QByteArray& above)
{
    QByteArray text = "\033[" + QByteArray::number(FLines) + "A";
    if (!above.isEmpty())
        text += "\r\033[J" + above;
    for (int i = 0; i < FShown; ++i)
        text += "\r\033[K" + Line(FPorts[static_cast<size_t>(i)]) + "\n";
    if (FShown < static_cast<int>(FPorts.size())) {
        int running = 0, done = 0, failed = 0;
        for (size_t i = static_cast<size_t>(FShown); i < FPorts.size(); ++i) {
            running += FPorts[i].Is == State::Running ? 1 : 0;
            done += FPorts[i].Is == State::Done ? 1 : 0;
            failed += FPorts[i].Is == State::Failed ? 1 : 0;
        }
        const QByteArray line = QString::asprintf("+%d ports: %d running, %d done, %d failed",
                                                  static_cast<int>(FPorts.size()) - FShown, running, done, failed)
                                    .toLocal8Bit();
        text += "\r\033[K" + Fit(line) + "\n";
    }
    ConsolePrintf(FOut, "%s", text.constData());
}

void PortProgress::RunStarted(const RunPlan& plan)
{
    if (FAlso)
        FAlso->RunStarted(plan);
    ForgetEnd();
    FDisplay.Start(FPort, plan.Pages());
}

void PortProgress::MemoryStarted(Memory memory, int pages)
{
    if (FAlso)
        FAlso->MemoryStarted(memory, pages);
    FDisplay.Status(FPort, QStringLiteral("Send %1 mode").arg(MemoryName(memory)));
}

void PortProgress::PageStarted(const PageProgress& page)
{
    if (FAlso)
        FAlso->PageStarted(page);
    FDisplay.Status(FPort, PageLine(page.Where, page.Index, page.Count, page.Address));
}

void PortProgress::PageDone(const PageProgress& page)
{
    if (FAlso)
        FAlso->PageDone(page);
    ++FPagesDone;
    FDisplay.PageDone(FPort);
}

void PortProgress::ApplicationStarting()
{
    if (FAlso)
        FAlso->ApplicationStarting();
    FDisplay.Status(FPort, QStringLiteral("Jump to Application!"));
}

void PortProgress::RunEnded(const RunEnd& end)
{
    if (FAlso)
        FAlso->RunEnded(end);
    FLastEnd = end;
    if (!end.Message.isEmpty())
        FDisplay.Message(FPort, end.Message);
}

} // namespace zentrop
