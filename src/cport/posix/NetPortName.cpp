// Recognising network port names and wording their failures.
#include "cport/NetPortName.h"

#include <QRegularExpression>

#include <cerrno>
#include <cstring>

namespace zentrop {

namespace {

// Scheme, then a host name, an IPv4 address or a bracketed IPv6 address, then the port.
const QRegularExpression& NetName()
{
    static const QRegularExpression re(
        QStringLiteral("^(socket://|rfc2217://|net:)(\\[([0-9A-Fa-f:.]+)\\]|([^\\[\\]:/\\s]+)):([0-9]{1,5})/?$"),
        QRegularExpression::CaseInsensitiveOption);
    return re;
}

} // namespace

bool IsNetPortName(const QString& Name)
{
    return Name.startsWith(QLatin1String("socket://"), Qt::CaseInsensitive)
           || Name.startsWith(QLatin1String("rfc2217://"), Qt::CaseInsensitive)
           || Name.startsWith(QLatin1String("net:"), Qt::CaseInsensitive);
}

std::optional<NetPortName> ParseNetPortName(const QString& Name)
{
    const QRegularExpressionMatch m = NetName().match(Name);
    if (!m.hasMatch())
        return std::nullopt;
    const int port = m.captured(5).toInt();
    if (port < 1 || port > 65535)
        return std::nullopt;
    NetPortName n;
    n.Protocol = m.captured(1).compare(QLatin1String("rfc2217://"), Qt::CaseInsensitive) == 0
                     ? NetProtocol::Rfc2217
                     : NetProtocol::Raw;
    n.Host = m.captured(3).isEmpty() ? m.captured(4) : m.captured(3);
    n.Port = static_cast<uint16_t>(port);
    return n;
}

QString NetPortProblem(const QString& Name, int SystemCode)
{
    const std::optional<NetPortName> n = ParseNetPortName(Name);
    if (!n)
        return QStringLiteral("A network port is named socket://HOST:PORT, rfc2217://HOST:PORT or net:HOST:PORT.");
    const QString where = QStringLiteral("%1 port %2").arg(n->Host).arg(n->Port);
    switch (SystemCode) {
    case ENOENT:
        return QStringLiteral("The host name \"%1\" is not known.").arg(n->Host);
    case ECONNREFUSED:
        return QStringLiteral("Nothing listens on %1 (connection refused).").arg(where);
    case ETIMEDOUT:
        return QStringLiteral("%1 does not answer.").arg(where);
    case EIO:
    case ECONNRESET:
    case EPIPE:
        return QStringLiteral("The server at %1 closed the connection.").arg(where);
    default:
        return QStringLiteral("%1: %2.").arg(where, QString::fromLocal8Bit(std::strerror(SystemCode)));
    }
}

} // namespace zentrop
