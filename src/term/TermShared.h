// The core's steps that every emulation shares: a row's stretch of text, and the codes carried
// out alike (caret steps and moves, tab stops, the status query). Inline, so that each
// emulation's hot path takes them without a call of its own.
#pragma once

#include "term/TermCore.h"

#include <algorithm>
#include <bit>

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

namespace zentrop {

// How many bytes from Text on (at most Count) lie in Low..High: the length of a run of text
// that needs no parser. Sixteen bytes at a time where the processor can.
template <uint8_t Low, uint8_t High>
inline qsizetype RunInRange(const char* Text, qsizetype Count)
{
    static_assert(Low <= High);
    qsizetype i = 0;
#if defined(__SSE2__)
    const __m128i low = _mm_set1_epi8(static_cast<char>(Low));
    const __m128i span = _mm_set1_epi8(static_cast<char>(High - Low));
    for (; i + 16 <= Count; i += 16) {
        // In range: the byte less Low, unsigned, is at most the span.
        const __m128i v = _mm_sub_epi8(_mm_loadu_si128(reinterpret_cast<const __m128i*>(Text + i)), low);
        const auto in = static_cast<unsigned>(_mm_movemask_epi8(_mm_cmpeq_epi8(_mm_min_epu8(v, span), v)));
        if (in != 0xFFFF)
            return i + std::countr_one(in);
    }
#endif
    while (i < Count && static_cast<uint8_t>(static_cast<uint8_t>(Text[i]) - Low) <= High - Low)
        ++i;
    return i;
}

[[gnu::always_inline]] inline qsizetype ComTermCore::WriteRowStretch(const char* Text, qsizetype Count, const TTermChar& Cell)
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
