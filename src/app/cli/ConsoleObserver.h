// The upgrade run's reports on standard error: on a terminal one redrawn line with a progress
// bar, otherwise every status line and message as a plain line, for logs and scripts.
#pragma once

#include "app/Bootloader.h"

#include <cstdio>

class TConsoleObserver : public TBootObserver {
public:
    TConsoleObserver(FILE* out, bool terminal);
    ~TConsoleObserver() override;

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
    bool FTerminal;
    bool FLineOpen = false;
    QString FStatus;
    int FMax = 0;
    int FPosition = 0;
};
