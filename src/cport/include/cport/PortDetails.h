// What the system tells about a serial port beyond its name: the stable name under
// /dev/serial/by-id, the USB device behind it, and the programs that hold it open.
#pragma once

#include <QString>
#include <QStringList>

#include <vector>

namespace zentrop {

struct PortHolder {
    int Pid = 0;
    QString Program;
};

struct PortDetails {
    QString Port;         // /dev/ttyUSB0
    QString ById;         // /dev/serial/by-id/usb-..., empty when the system made none
    QString VendorId;     // four hex digits, empty for a port without a USB device
    QString ProductId;
    QString Manufacturer;
    QString Product;
    QString Serial;
    QString Driver;
    std::vector<PortHolder> Holders;
};

// Where the system's files are; tests give trees of their own.
struct PortDetailsRoots {
    QString SysClassTty = QStringLiteral("/sys/class/tty");
    QString ById = QStringLiteral("/dev/serial/by-id");
    QString Proc = QStringLiteral("/proc");
};

// The details of each port (a device path). Whatever cannot be read stays empty.
std::vector<PortDetails> DescribePorts(const QStringList& ports, const PortDetailsRoots& roots = {});

// The processes with the device open, from their descriptors in /proc; only those whose
// descriptors the system lets this user see. The calling process is left out.
std::vector<PortHolder> FindPortHolders(const QString& device, const QString& procRoot = QStringLiteral("/proc"));

// Why this program must not take the device although it could: it is the kernel's console
// (named in the tty class's console/active), or a login program (getty, login) holds it.
// Taking such a line exclusively and setting it raw would cut off the system's console or its
// logins. Empty when nothing speaks against it.
QString ReservedTerminalReason(const QString& device, const PortDetailsRoots& roots = {});

// "minicom (process 4711)", several joined by ", "; empty for none.
QString DescribeHolders(const std::vector<PortHolder>& holders);

} // namespace zentrop
