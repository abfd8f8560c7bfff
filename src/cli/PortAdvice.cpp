// Advice from the device's permissions and holders.
#include "PortAdvice.h"

#include "base/FileName.h"
#include "cport/ComError.h"
#include "cport/NetPortName.h"

#include <grp.h>
#include <pwd.h>
#include <sys/stat.h>
#include <unistd.h>

#include <vector>

namespace zentrop {

namespace cli {

namespace {

bool InGroup(gid_t gid)
{
    if (getegid() == gid)
        return true;
    const int count = ::getgroups(0, nullptr);
    std::vector<gid_t> groups(static_cast<size_t>(std::max(count, 0)));
    const int got = ::getgroups(count, groups.data());
    for (int i = 0; i < got; ++i)
        if (groups[static_cast<size_t>(i)] == gid)
            return true;
    return false;
}

} // namespace

QString PermissionAdvice(const QString& device)
{
    struct stat st {};
    if (::stat(EncodeFileName(device).constData(), &st) != 0)
        return QStringLiteral("Your user may not use this serial device.");
    const group* g = ::getgrgid(st.st_gid);
    const QString groupName = g ? QString::fromLocal8Bit(g->gr_name) : QString::number(st.st_gid);
    const passwd* pw = ::getpwuid(st.st_uid);
    const QString owner = pw ? QString::fromLocal8Bit(pw->pw_name) : QString::number(st.st_uid);
    const bool groupMay = (st.st_mode & S_IRGRP) && (st.st_mode & S_IWGRP);
    if (groupMay && InGroup(st.st_gid))
        return QStringLiteral("%1 may be used by the group \"%2\", which your user is in; a group joined since you "
                              "logged in counts only after logging in again.")
            .arg(device, groupName);
    if (groupMay)
        return QStringLiteral("Your user may not use this serial device. Allow it to by adding it to the group "
                              "\"%1\" (sudo usermod -aG %1 $USER) and logging in again.")
            .arg(groupName);
    // Joining the group would not help: it may not read and write the device.
    return QStringLiteral("Only %1 may use %2 (mode %3, group \"%4\"), so joining a group does not help. A udev rule "
                          "can give the adapter to a group (see share/zentrop/60-zentrop-serial.rules), or run as %1.")
        .arg(owner, device, QString::number(st.st_mode & 07777, 8).rightJustified(4, u'0'), groupName);
}

bool HeldByZentrop(const std::vector<PortHolder>& holders)
{
    if (holders.empty())
        return false;
    for (const PortHolder& h : holders)
        if (!h.Program.startsWith(QLatin1String("zentrop")))
            return false;
    return true;
}

QString BusyPortAdvice(const QString& device)
{
    if (const QString reason = ReservedTerminalReason(device); !reason.isEmpty())
        return QStringLiteral("Zentrop does not take this port: %1.").arg(reason);
    const QString holders = DescribeHolders(FindPortHolders(device));
    return holders.isEmpty() ? QStringLiteral("Another program is using the port.")
                             : QStringLiteral("Another program is using the port: %1.").arg(holders);
}

QString NetPortHint(const Exception& e, const QString& portName)
{
    const auto* ext = dynamic_cast<const EComPortExt*>(&e);
    return ext && IsNetPortName(portName) ? NetPortProblem(portName, ext->SystemCode()) : QString();
}

} // namespace cli

} // namespace zentrop
