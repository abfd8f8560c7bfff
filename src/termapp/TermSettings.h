// zentrop-term's settings file: the port's settings in the port's own section and the
// terminal's in a section of their own, so that the next start opens the same port the same way.
#pragma once

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

// The terminal's emulation, size, caret, cursor keys and ASCII switches, the enumerations by
// their member names. Missing or unknown values keep what the terminal has.
void LoadTerminal(const TIniFile& Ini, TCustomComTerminal& Terminal);
void StoreTerminal(TIniFile& Ini, const TCustomComTerminal& Terminal);

} // namespace termsettings

} // namespace zentrop
