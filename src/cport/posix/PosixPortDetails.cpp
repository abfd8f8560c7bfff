// Port details from sysfs, the by-id links and /proc.
#include "cport/PortDetails.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>

#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <unistd.h>

namespace zentrop {

namespace {

QString ReadAttribute(const QString& dir, const char* name)
{
    QFile f(dir + u'/' + QLatin1String(name));
    if (!f.open(QIODevice::ReadOnly))
        return QString();
    return QString::fromUtf8(f.read(4096)).trimmed();
}

// The USB device of a tty: the nearest directory above the tty's device that has a vendor
// number (a USB serial adapter's port sits below its interface, which sits below the device).
QString UsbDeviceDir(const QString& ttyDevice)
{
    QString dir = QFileInfo(ttyDevice).canonicalFilePath();
    for (int depth = 0; depth < 4 && !dir.isEmpty() && dir != QLatin1String("/"); ++depth) {
        if (QFileInfo::exists(dir + QStringLiteral("/idVendor")))
            return dir;
        dir = QFileInfo(dir).path();
    }
    return QString();
}

// The by-id links by the device each names.
QMap<QString, QString> ByIdLinks(const QString& byIdDir)
{
    QMap<QString, QString> links;
    const QFileInfoList entries = QDir(byIdDir).entryInfoList(QDir::Files | QDir::System, QDir::Name);
    for (const QFileInfo& e : entries) {
        const QString target = e.canonicalFilePath();
        if (!target.isEmpty() && !links.contains(target))
            links.insert(target, e.absoluteFilePath());
    }
    return links;
}

} // namespace

std::vector<PortDetails> DescribePorts(const QStringList& ports, const PortDetailsRoots& roots)
{
    const QMap<QString, QString> byId = ByIdLinks(roots.ById);
    std::vector<PortDetails> result;
    for (const QString& port : ports) {
        PortDetails d;
        d.Port = port;
        const QString canonical = QFileInfo(port).canonicalFilePath();
        d.ById = byId.value(canonical.isEmpty() ? port : canonical);
        const QString device = roots.SysClassTty + u'/' + QFileInfo(port).fileName() + QStringLiteral("/device");
        d.Driver = QFileInfo(QFileInfo(device + QStringLiteral("/driver")).canonicalFilePath()).fileName();
        const QString usb = UsbDeviceDir(device);
        if (!usb.isEmpty()) {
            d.VendorId = ReadAttribute(usb, "idVendor");
            d.ProductId = ReadAttribute(usb, "idProduct");
            d.Manufacturer = ReadAttribute(usb, "manufacturer");
            d.Product = ReadAttribute(usb, "product");
            d.Serial = ReadAttribute(usb, "serial");
        }
        d.Holders = FindPortHolders(port, roots.Proc);
        result.push_back(std::move(d));
    }
    return result;
}

std::vector<PortHolder> FindPortHolders(const QString& device, const QString& procRoot)
{
    const QString wanted = QFileInfo(device).canonicalFilePath();
    if (wanted.isEmpty())
        return {};
    const QString self = QString::number(::getpid());
    std::vector<PortHolder> holders;
    const QStringList pids = QDir(procRoot).entryList(QDir::Dirs | QDir::NoDotAndDotDot);
    for (const QString& pid : pids) {
        bool numeric = false;
        const int number = pid.toInt(&numeric);
        if (!numeric || pid == self)
            continue;
        // Unreadable for another user's process unless the system allows it: left out.
        const QString fdDir = procRoot + u'/' + pid + QStringLiteral("/fd");
        const QStringList fds = QDir(fdDir).entryList(QDir::System | QDir::Files | QDir::NoDotAndDotDot);
        for (const QString& fd : fds) {
            if (QFileInfo(fdDir + u'/' + fd).symLinkTarget() == wanted) {
                holders.push_back({number, ReadAttribute(procRoot + u'/' + pid, "comm")});
                break;
            }
        }
    }
    return holders;
}

QString ReservedTerminalReason(const QString& device, const PortDetailsRoots& roots)
{
    struct stat st {};
    if (::stat(QFile::encodeName(device).constData(), &st) != 0 || !S_ISCHR(st.st_mode))
        return QString();
    // The console may be named by several ttys ("tty0 ttyS0"); each names its device number.
    const QStringList consoles =
        ReadAttribute(roots.SysClassTty + QStringLiteral("/console"), "active").split(u' ', Qt::SkipEmptyParts);
    for (const QString& name : consoles) {
        const QStringList number = ReadAttribute(roots.SysClassTty + u'/' + name, "dev").split(u':');
        if (number.size() == 2 && number[0].toUInt() == major(st.st_rdev) && number[1].toUInt() == minor(st.st_rdev))
            return QStringLiteral("it is the system console (%1)").arg(name);
    }
    static const QStringList kLoginPrograms{QStringLiteral("getty"),  QStringLiteral("agetty"), QStringLiteral("mingetty"),
                                            QStringLiteral("mgetty"), QStringLiteral("fbgetty"), QStringLiteral("ngetty"),
                                            QStringLiteral("uugetty"), QStringLiteral("login"),  QStringLiteral("sulogin")};
    std::vector<PortHolder> logins;
    for (const PortHolder& h : FindPortHolders(device, roots.Proc))
        if (kLoginPrograms.contains(h.Program))
            logins.push_back(h);
    if (!logins.empty())
        return QStringLiteral("a login program holds it: %1").arg(DescribeHolders(logins));
    return QString();
}

QString DescribeHolders(const std::vector<PortHolder>& holders)
{
    QStringList parts;
    for (const PortHolder& h : holders)
        parts << QStringLiteral("%1 (process %2)").arg(h.Program.isEmpty() ? QStringLiteral("?") : h.Program).arg(h.Pid);
    return parts.join(QStringLiteral(", "));
}

} // namespace zentrop
