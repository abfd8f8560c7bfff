// The Linux listing of installed serial ports, from the kernel's tty class in sysfs.
#pragma once

#include <QString>
#include <QStringList>

namespace zentrop {

// Lists "<DevRoot>/<name>" for every entry of SysfsRoot (the kernel's tty class) that has a
// "device" link, leaving out the legacy UART entries whose port type says no UART is
// present. Unsorted. Raises EComPortExt code 23 when SysfsRoot cannot be read.
QStringList ListSysfsComPorts(const QString& SysfsRoot = QStringLiteral("/sys/class/tty"),
                              const QString& DevRoot = QStringLiteral("/dev"));

} // namespace zentrop
