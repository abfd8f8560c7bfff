// Drawing the status line and the progress bar on a terminal, or plain lines elsewhere.
#include "ConsoleObserver.h"

#include <cstdarg>
#include <cstdlib>
#include <cstring>
#include <unistd.h>

namespace {

constexpr int kBarWidth = 30;
const char* const kGreen = "\033[32m";
const char* const kRed = "\033[31m";
const char* const kPlain = "\033[0m";

} // namespace

void ConsolePrintf(FILE* out, const char* format, ...)
{
    if (!out || std::ferror(out))
        return;
    va_list args;
    va_start(args, format);
    std::vfprintf(out, format, args);
    va_end(args);
    std::fflush(out);
}

TConsoleStyle TConsoleStyle::Of(FILE* out)
{
    const char* term = std::getenv("TERM");
    const char* noColor = std::getenv("NO_COLOR");
    TConsoleStyle style;
    style.Redraw = isatty(fileno(out)) == 1 && !(term && std::strcmp(term, "dumb") == 0);
    style.Color = style.Redraw && !(noColor && *noColor);
    return style;
}

TConsoleObserver::TConsoleObserver(FILE* out, TConsoleStyle style) : FOut(out), FStyle(style) {}

TConsoleObserver::~TConsoleObserver()
{
    Finish();
}

void TConsoleObserver::SetStatus(const QString& text)
{
    FStatus = text;
    if (FStyle.Redraw)
        Redraw();
    else if (!text.isEmpty())
        ConsolePrintf(FOut, "%s\n", text.toLocal8Bit().constData());
}

void TConsoleObserver::StartProgress(int max)
{
    FPhaseMax = max;
    FPhaseDone = 0;
    if (FStyle.Redraw)
        Redraw();
}

void TConsoleObserver::StepProgress()
{
    if (FPhaseDone < FPhaseMax) {
        ++FPhaseDone;
        ++FDone;
    }
    if (FStyle.Redraw)
        Redraw();
}

void TConsoleObserver::ShowMessage(const QString& text)
{
    Finish();
    ConsolePrintf(FOut, "%s%s%s\n", FStyle.Color ? kRed : "", text.toLocal8Bit().constData(), FStyle.Color ? kPlain : "");
}

void TConsoleObserver::Finish()
{
    if (FLineOpen) {
        ConsolePrintf(FOut, "\n");
        FLineOpen = false;
    }
}

void TConsoleObserver::Redraw()
{
    const int max = FTotal > 0 ? FTotal : FPhaseMax;
    const int done = FTotal > 0 ? FDone : FPhaseDone;
    const int filled = max > 0 ? std::min(done, max) * kBarWidth / max : 0;
    const int percent = max > 0 ? std::min(done, max) * 100 / max : 0;
    const QByteArray bar = QByteArray(filled, '#') + QByteArray(kBarWidth - filled, '.');
    // Back to the start of the line and clear it, so a shorter status leaves no rest behind.
    ConsolePrintf(FOut, "\r\033[K[%s%s%s] %3d%%  %s", FStyle.Color ? kGreen : "", bar.constData(), FStyle.Color ? kPlain : "",
                 percent, FStatus.toLocal8Bit().constData());
    FLineOpen = true;
}
