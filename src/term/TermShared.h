// The core's steps that every emulation shares: a row's stretch of text, and the codes carried
// out alike (caret steps and moves, tab stops, the status query). Inline, so that each
// emulation's hot path takes them without a call of its own.
#pragma once

#include "term/TermCore.h"

#include <algorithm>

namespace zentrop {

inline qsizetype ComTermCore::WriteRowStretch(const char* Text, qsizetype Count, const TTermChar& Cell)
{
    const int x = FCaretPos.x();
    const qsizetype room = FColumns - x + 1;
    const qsizetype n = std::min(Count, room);
    FBuffer.WriteRun(x, FCaretPos.y(), Text, static_cast<int>(n), Cell);
    FCaretPos.rx() = n < room ? x + static_cast<int>(n) : FColumns;
    return n;
}

inline bool ComTermCore::PerformCommon(TEscapeCode Code, const void* Params, ParamReader Read, const CaretLimits& Limits)
{
    const int x = FCaretPos.x();
    const int y = FCaretPos.y();
    switch (Code) {
    case TEscapeCode::ecCursorUp:
    case TEscapeCode::ecAppCursorUp:
        MoveCaret(x, std::max(y - Read(1, Params), Limits.UpStop));
        break;
    case TEscapeCode::ecCursorDown:
    case TEscapeCode::ecAppCursorDown:
        MoveCaret(x, std::min(y + Read(1, Params), Limits.DownStop));
        break;
    case TEscapeCode::ecCursorLeft:
    case TEscapeCode::ecAppCursorLeft:
        MoveCaret(x - Read(1, Params), y);
        break;
    case TEscapeCode::ecCursorRight:
    case TEscapeCode::ecAppCursorRight:
        MoveCaret(x + Read(1, Params), y);
        break;
    case TEscapeCode::ecCursorHome:
    case TEscapeCode::ecCursorMove:
        MoveCaret(Read(2, Params), std::clamp(Limits.Top - 1 + Read(1, Params), Limits.Top, Limits.Bottom));
        break;
    case TEscapeCode::ecSetTab:
        FBuffer.SetTab(x, true);
        break;
    case TEscapeCode::ecClearTab:
        FBuffer.SetTab(x, false);
        break;
    case TEscapeCode::ecClearAllTabs:
        FBuffer.ClearAllTabs();
        break;
    case TEscapeCode::ecQueryDevice:
        SendCodeNoEcho(TEscapeCode::ecReportDeviceOK, nullptr);
        break;
    default:
        return false;
    }
    return true;
}

} // namespace zentrop
