// zentrop-term's settings file: the port's settings in the port's own section and the
// terminal's in a section of their own, so that the next start opens the same port the same way.
#pragma once

#include "cportctl/ComTerminal.h"

#include <QString>

namespace zentrop {

class TCustomComTerminal;
class TIniFile;

namespace termsettings {

inline const QString PortSection = QStringLiteral("Port");
inline const QString TerminalSection = QStringLiteral("Terminal");

// True when the file names a port; a file without one leaves the port unopened rather than
// opening the engine's default.
bool HasStoredPort(const TIniFile& Ini);

// The terminal's emulation, size, caret, cursor keys, ASCII switches, character set, keys and
// font, the enumerations by their member names. Missing or unknown values keep what the
// terminal has.
void LoadTerminal(const TIniFile& Ini, TCustomComTerminal& Terminal);
void StoreTerminal(TIniFile& Ini, const TCustomComTerminal& Terminal);

// The character set's name in the file ("Default", "UTF-8", "Windows-1252"), and back.
QString CharsetName(TCustomComTerminal::CharacterSet Value);
TCustomComTerminal::CharacterSet CharsetOf(const QString& Name, TCustomComTerminal::CharacterSet Current);

} // namespace termsettings

} // namespace zentrop
