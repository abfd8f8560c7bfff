// Drawing the status line and the progress bar on a terminal, or plain lines elsewhere.
#include "ConsoleObserver.h"

namespace {

constexpr int kBarWidth = 30;

} // namespace

TConsoleObserver::TConsoleObserver(FILE* out, bool terminal) : FOut(out), FTerminal(terminal) {}

TConsoleObserver::~TConsoleObserver()
{
    Finish();
}

void TConsoleObserver::SetStatus(const QString& text)
{
    FStatus = text;
    if (FTerminal)
        Redraw();
    else if (!text.isEmpty())
        std::fprintf(FOut, "%s\n", text.toLocal8Bit().constData());
}

void TConsoleObserver::StartProgress(int max)
{
    FMax = max;
    FPosition = 0;
    if (FTerminal)
        Redraw();
}

void TConsoleObserver::StepProgress()
{
    if (FPosition < FMax)
        ++FPosition;
    if (FTerminal)
        Redraw();
}

void TConsoleObserver::ShowMessage(const QString& text)
{
    Finish();
    std::fprintf(FOut, "%s\n", text.toLocal8Bit().constData());
    std::fflush(FOut);
}

void TConsoleObserver::Finish()
{
    if (FLineOpen) {
        std::fputc('\n', FOut);
        std::fflush(FOut);
        FLineOpen = false;
    }
}

void TConsoleObserver::Redraw()
{
    const int filled = FMax > 0 ? FPosition * kBarWidth / FMax : 0;
    const QByteArray bar = QByteArray(filled, '#') + QByteArray(kBarWidth - filled, '.');
    // Back to the start of the line and clear it, so a shorter status leaves no rest behind.
    std::fprintf(FOut, "\r\033[K[%s] %*d/%d  %s", bar.constData(), static_cast<int>(QString::number(FMax).size()), FPosition, FMax,
                 FStatus.toLocal8Bit().constData());
    std::fflush(FOut);
    FLineOpen = true;
}
