// The upgrade run's reports on standard error: on a terminal one redrawn line with a progress
// bar over the whole run, otherwise every status line and message as a plain line, for logs
// and scripts.
#pragma once

#include "app/Bootloader.h"

#include <cstdio>

// Prints unless the stream has already failed (a closed pipe, a full disk): output that
// cannot be delivered must never stop or slow a run, which goes on and ends with its own status.
void ConsolePrintf(FILE* out, const char* format, ...) __attribute__((format(printf, 2, 3)));

// How standard error can be drawn on.
struct TConsoleStyle {
    bool Redraw = false; // a terminal that understands going back to the line's start
    bool Color = false;
    // From the stream and the environment: a terminal other than TERM=dumb redraws, and
    // colours unless NO_COLOR is set.
    static TConsoleStyle Of(FILE* out);
};

class TConsoleObserver : public TBootObserver {
public:
    TConsoleObserver(FILE* out, TConsoleStyle style);
    ~TConsoleObserver() override;

    // The pages of the whole run, so the bar covers every phase; without it, each phase.
    void SetTotal(int pages) { FTotal = pages; }
    int PagesDone() const { return FDone; }

    void SetStatus(const QString& text) override;
    void StartProgress(int max) override;
    void StepProgress() override;
    void ShowMessage(const QString& text) override;
    void ProcessEvents() override {}

    // Ends a redrawn line, so what follows starts on a line of its own.
    void Finish();

private:
    void Redraw();

    FILE* FOut;
    TConsoleStyle FStyle;
    bool FLineOpen = false;
    QString FStatus;
    int FTotal = 0;
    int FPhaseMax = 0;
    int FPhaseDone = 0;
    int FDone = 0;
};
