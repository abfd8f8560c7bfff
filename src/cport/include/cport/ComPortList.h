// The list of installed serial ports, from the system or from a replaceable source so that
// tests can name their own ports.
#pragma once

#include "base/Strings.h"

#include <QString>
#include <QStringList>
#include <functional>

namespace zentrop {

// Fills Ports with the installed port names, sorted case-insensitively. A source that
// cannot be read raises EComPortExt ("EnumComPorts", code 23); Ports is then unchanged.
void EnumComPorts(TStrings& Ports);

// The installed ports the system lists, unsorted (the POSIX side gives them).
QStringList SystemComPorts();

// Where EnumComPorts takes its names from; a source may raise EComPortExt code 23.
using ComPortSource = std::function<QStringList()>;
// Installs a source (an empty one restores the system's) and returns the one it replaces.
ComPortSource SetComPortSource(ComPortSource Source);

} // namespace zentrop
