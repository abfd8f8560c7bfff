// Recognising network port names and wording their failures.
#include "cport/NetPortName.h"

#include <QHash>
#include <QRegularExpression>

#include <cerrno>
#include <cstring>
#include <mutex>

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

// What devices noted about their last failure, per port (canonical name), with its code.
struct Notes {
    std::mutex Mutex;
    QHash<QString, std::pair<int, QString>> ByPort;
};

Notes& TheNotes()
{
    static Notes notes;
    return notes;
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

QString CanonicalNetPortName(const QString& Name)
{
    const std::optional<NetPortName> n = ParseNetPortName(Name);
    if (!n)
        return Name;
    QString host = n->Host.toLower();
    if (host.endsWith(QLatin1Char('.')))
        host.chop(1);
    if (host == QLatin1String("localhost") || host == QLatin1String("::1"))
        host = QStringLiteral("127.0.0.1");
    if (host.contains(QLatin1Char(':')))
        host = QLatin1Char('[') + host + QLatin1Char(']');
    const QString scheme = n->Protocol == NetProtocol::Rfc2217 ? QStringLiteral("rfc2217://") : QStringLiteral("socket://");
    return QStringLiteral("%1%2:%3").arg(scheme, host).arg(n->Port);
}

void NoteNetPortProblem(const QString& Name, int SystemCode, const QString& Text)
{
    Notes& notes = TheNotes();
    std::lock_guard lock(notes.Mutex);
    notes.ByPort.insert(CanonicalNetPortName(Name), {SystemCode, Text});
}

QString NetPortProblem(const QString& Name, int SystemCode)
{
    const std::optional<NetPortName> n = ParseNetPortName(Name);
    if (!n)
        return QStringLiteral("A network port is named socket://HOST:PORT, rfc2217://HOST:PORT or net:HOST:PORT.");
    {
        Notes& notes = TheNotes();
        std::lock_guard lock(notes.Mutex);
        const auto note = notes.ByPort.constFind(CanonicalNetPortName(Name));
        if (note != notes.ByPort.constEnd() && note->first == SystemCode)
            return note->second;
    }
    const QString where = QStringLiteral("%1 port %2").arg(n->Host).arg(n->Port);
    switch (SystemCode) {
    case ENOENT:
        return QStringLiteral("The host name \"%1\" is not known.").arg(n->Host);
    case ETIME:
        return QStringLiteral("Looking up the host name \"%1\" timed out: the name server does not answer in time "
                              "(give the address instead, or check the name server).")
            .arg(n->Host);
    case EBUSY:
        return QStringLiteral("Another client holds %1: the server says the port is already in use.").arg(where);
    case EPROTO:
        return QStringLiteral("The server at %1 kept renegotiating the Telnet options without end; the connection "
                              "was dropped.")
            .arg(where);
    case EMSGSIZE:
        return QStringLiteral("The server at %1 sent a Telnet subnegotiation without end; the connection was dropped.")
            .arg(where);
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
