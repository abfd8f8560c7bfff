// The terminal's shared vocabulary: escape codes and parser results, the emulations, key and
// caret choices, caret moves, and the colour integer the cells carry.
#pragma once

#include <QObject>
#include <cstdint>

namespace zentrop {

namespace TermTypes {
Q_NAMESPACE

// What a finished escape sequence means. ecNotCompleted lives only inside the parsers: more
// bytes are needed. The codes after ecTest come only from the VT102 parser.
enum class TEscapeCode {
    ecUnknown, ecNotCompleted, ecCursorUp, ecCursorDown, ecCursorLeft, ecCursorRight,
    ecCursorHome, ecCursorMove, ecReverseLineFeed, ecAppCursorLeft, ecAppCursorRight,
    ecAppCursorUp, ecAppCursorDown, ecEraseLineFrom, ecEraseScreenFrom, ecEraseLine,
    ecEraseScreen, ecSetTab, ecClearTab, ecClearAllTabs, ecIdentify, ecIdentResponse,
    ecQueryDevice, ecReportDeviceOK, ecReportDeviceFailure, ecQueryCursorPos,
    ecReportCursorPos, ecAttributes, ecSetMode, ecResetMode, ecReset, ecSaveCaretAndAttr,
    ecRestoreCaretAndAttr, ecSaveCaret, ecRestoreCaret, ecTest,
    ecIndex, ecNextLine, ecEraseLineTo, ecEraseScreenTo, ecInsertLines, ecDeleteLines,
    ecInsertChars, ecDeleteChars, ecEraseChars, ecSetScrollRegion, ecSetPrivateMode,
    ecResetPrivateMode, ecDesignateG0, ecDesignateG1, ecAppKeypad, ecNumericKeypad,
    ecLineSize, ecCursorColumn, ecCursorRow, ecRepeatChar, ecScrollUp, ecScrollDown,
    ecNextLineDown, ecPrevLineUp, ecForwardTab, ecBackTab
};
Q_ENUM_NS(TEscapeCode)

// The result of feeding one byte to a parser.
enum class TEscapeResult { erChar, erCode, erNothing };
Q_ENUM_NS(TEscapeResult)

// Stored by ordinal: a new emulation only ever goes at the end.
enum class TTermEmulation { teVT100orANSI, teVT52, teNone, teVT102 };
Q_ENUM_NS(TTermEmulation)

enum class TArrowKeys { akTerminal, akWindows };
Q_ENUM_NS(TArrowKeys)

enum class TTermCaret { tcBlock, tcUnderline, tcNone };
Q_ENUM_NS(TTermCaret)

enum class TBorderStyle { bsNone, bsSingle };
Q_ENUM_NS(TBorderStyle)

enum class TScrollStyle { ssNone, ssHorizontal, ssVertical, ssBoth };
Q_ENUM_NS(TScrollStyle)

enum class TCaretMove { cmBackspace, cmTab, cmLineFeed, cmReverseLineFeed, cmReturn, cmNextChar };
Q_ENUM_NS(TCaretMove)

} // namespace TermTypes

using TermTypes::TArrowKeys;
using TermTypes::TBorderStyle;
using TermTypes::TCaretMove;
using TermTypes::TEscapeCode;
using TermTypes::TEscapeResult;
using TermTypes::TScrollStyle;
using TermTypes::TTermCaret;
using TermTypes::TTermEmulation;

// A colour as the forms store it: 0x00BBGGRR (red in the low byte).
using TColor = int32_t;
constexpr TColor clBlack = 0x000000;
constexpr TColor clWhite = 0xFFFFFF;

// The name of a code ("ecCursorMove"), for reports and tools.
const char* EscapeCodeName(TEscapeCode Code);

} // namespace zentrop
