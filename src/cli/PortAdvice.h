// Advice for a port this user may not open, and for one another program holds: what helps
// depends on the device's owner, group and mode, and on who the holder is.
#pragma once

#include "base/Exception.h"
#include "cport/PortDetails.h"

#include <QString>

#include <vector>

namespace zentrop {

namespace cli {

// What lets this user open the device: joining its group when the group may read and write it
// (or logging in again when the user joined it already), otherwise a rule that gives it to one.
QString PermissionAdvice(const QString& device);

// Why a port that refused to open as busy is not free: the console or a login line, which
// this program does not take, or the programs that hold it.
QString BusyPortAdvice(const QString& device);

// A network port's failure in its user's words, naming host and port; empty for a local port
// or an error that is not the port's.
QString NetPortHint(const Exception& e, const QString& portName);

// Every holder is another run of this project's programs, whose lock refuses a second run
// anyway: --force would not help.
bool HeldByZentrop(const std::vector<PortHolder>& holders);

} // namespace cli

} // namespace zentrop
