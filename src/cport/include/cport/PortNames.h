// What a port name stands for on this system: the device a local port name opens. Network
// port names have their own header (NetPortName.h).
#pragma once

#include <QString>

namespace zentrop {

// "/..." is a path as given, "COMn" is /dev/ttyS(n-1), any other name is under /dev/.
QString PortDevicePath(const QString& Port);

} // namespace zentrop
