// The list of installed serial ports: the tty devices the kernel lists with a hardware
// device behind them, from a replaceable source so that tests can name their own ports.
#pragma once

#include "base/Strings.h"

#include <QString>
#include <QStringList>
#include <functional>

// Fills Ports with the installed port names, sorted case-insensitively. A source that
// cannot be read raises EComPortExt ("EnumComPorts", code 23); Ports is then unchanged.
void EnumComPorts(TStrings& Ports);

// Lists "<DevRoot>/<name>" for every entry of SysfsRoot (the kernel's tty class) that has a
// "device" link, leaving out the legacy UART entries whose port type says no UART is
// present. Unsorted. Raises EComPortExt code 23 when SysfsRoot cannot be read.
QStringList ListSysfsComPorts(const QString& SysfsRoot = QStringLiteral("/sys/class/tty"),
                              const QString& DevRoot = QStringLiteral("/dev"));

// Where EnumComPorts takes its names from; a source may raise EComPortExt code 23.
using ComPortSource = std::function<QStringList()>;
// Installs a source (an empty one restores the system's) and returns the one it replaces.
ComPortSource SetComPortSource(ComPortSource Source);
