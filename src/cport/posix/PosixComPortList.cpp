// Installed serial ports on Linux: the tty devices of the kernel's tty class in sysfs that
// have hardware behind them.
#include "PosixComPortList.h"
#include "base/UniqueFd.h"

#include "cport/ComError.h"

#include <QFile>
#include <QFileInfo>

#include <cerrno>
#include <dirent.h>
#include <fcntl.h>
#include <linux/serial.h>
#include <sys/ioctl.h>
#include <unistd.h>

namespace zentrop {

namespace {

const QString kEnumPortsText = QStringLiteral("EnumComPorts");

// The kernel's UART type of a serial-core port: its "type" attribute, or, when the entry
// has none, the type the driver reports for the device node. -1 when neither answers.
int UartType(const QString& entryDir, const QString& devicePath)
{
    QFile typeFile(entryDir + QStringLiteral("/type"));
    if (typeFile.open(QIODevice::ReadOnly)) {
        bool ok = false;
        const int type = QString::fromLatin1(typeFile.readAll()).trimmed().toInt(&ok);
        return ok ? type : -1;
    }
    const UniqueFd fd(::open(QFile::encodeName(devicePath).constData(),
                             O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC));
    if (!fd)
        return -1;
    serial_struct info{};
    return ::ioctl(fd.Get(), TIOCGSERIAL, &info) == 0 ? info.type : -1;
}

// Legacy UART entries are created for every possible port of the platform driver whether
// or not a UART answers there; only those need the type check.
bool IsLegacyUartName(const QString& name)
{
    return name.startsWith(QLatin1String("ttyS")) && name.size() > 4 && name[4].isDigit();
}

} // namespace

QStringList ListSysfsComPorts(const QString& SysfsRoot, const QString& DevRoot)
{
    DIR* dir = ::opendir(QFile::encodeName(SysfsRoot).constData());
    if (!dir)
        throw EComPortExt(kEnumPortsText, ComErr::RegError, errno);
    QStringList names;
    // readdir tells the end from a failure only through errno, which anything called in
    // the loop may have set.
    int readError = 0;
    for (;;) {
        errno = 0;
        const dirent* entry = ::readdir(dir);
        if (!entry) {
            readError = errno;
            break;
        }
        const QString name = QFile::decodeName(entry->d_name);
        if (!name.startsWith(u'.'))
            names.append(name);
    }
    ::closedir(dir);
    if (readError != 0)
        throw EComPortExt(kEnumPortsText, ComErr::RegError, readError);

    QStringList ports;
    for (const QString& name : names) {
        const QString entryDir = SysfsRoot + u'/' + name;
        if (!QFileInfo::exists(entryDir + QStringLiteral("/device")))
            continue;
        const QString devicePath = DevRoot + u'/' + name;
        if (IsLegacyUartName(name) && UartType(entryDir, devicePath) == PORT_UNKNOWN)
            continue;
        ports.append(devicePath);
    }
    return ports;
}

QStringList SystemComPorts()
{
    return ListSysfsComPorts();
}

} // namespace zentrop
