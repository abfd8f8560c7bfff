// Port names that stand for a serial line on a network serial server: "socket://HOST:PORT"
// and "net:HOST:PORT" for a raw TCP byte stream, "rfc2217://HOST:PORT" for Telnet with the
// COM port option, which also carries the line settings and modem lines.
#pragma once

#include <QString>

#include <cstdint>
#include <optional>

namespace zentrop {

enum class NetProtocol { Raw, Rfc2217 };

struct NetPortName {
    NetProtocol Protocol = NetProtocol::Raw;
    QString Host;        // without the brackets of an IPv6 address
    uint16_t Port = 0;
};

// True for a name in one of the network forms, even one that is not well made, so that it
// is never taken for a local device.
bool IsNetPortName(const QString& Name);
// The parts of a well-made network name; nothing for any other name.
std::optional<NetPortName> ParseNetPortName(const QString& Name);

// One spelling for every name of the same server port: the scheme in lower case ("net:" as
// "socket://"), the host in lower case without a final dot, the loopback's names
// ("localhost", "::1") as 127.0.0.1, no trailing "/". Any other name is given back as it is.
QString CanonicalNetPortName(const QString& Name);

// What the system error of a network port's failure means for its user, naming host and
// port: "Nothing listens on 127.0.0.1 port 4000 (connection refused)." A device that knows
// more about a failure than its error code says (the rate a server set instead of the one
// asked for) notes it for the port first.
QString NetPortProblem(const QString& Name, int SystemCode);
void NoteNetPortProblem(const QString& Name, int SystemCode, const QString& Text);

} // namespace zentrop
