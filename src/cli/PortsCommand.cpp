// "ports": the serial ports of this machine with what the system knows about each.
#include "Cli.h"

#include "base/Exception.h"
#include "base/Strings.h"
#include "cport/ComPortList.h"
#include "cport/PortDetails.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>

namespace zentrop {

namespace cli {

namespace {

QJsonValue OrNull(const QString& s)
{
    return s.isEmpty() ? QJsonValue() : QJsonValue(s);
}

QJsonObject ToJson(const PortDetails& d)
{
    QJsonArray holders;
    for (const PortHolder& h : d.Holders)
        holders.append(QJsonObject{{"pid", h.Pid}, {"program", h.Program}});
    return QJsonObject{{"port", d.Port},
                       {"by_id", OrNull(d.ById)},
                       {"vendor_id", OrNull(d.VendorId)},
                       {"product_id", OrNull(d.ProductId)},
                       {"manufacturer", OrNull(d.Manufacturer)},
                       {"product", OrNull(d.Product)},
                       {"serial", OrNull(d.Serial)},
                       {"driver", OrNull(d.Driver)},
                       {"held_by", holders}};
}

// One line per port, the port first so that scripts can cut it out; absent facts are left out.
QString ToLine(const PortDetails& d)
{
    QStringList parts{d.Port};
    if (!d.VendorId.isEmpty())
        parts << QStringLiteral("%1:%2").arg(d.VendorId, d.ProductId);
    const QString maker = QStringList{d.Manufacturer, d.Product}.join(u' ').trimmed();
    if (!maker.isEmpty())
        parts << maker;
    if (!d.Serial.isEmpty())
        parts << QStringLiteral("serial %1").arg(d.Serial);
    if (!d.Driver.isEmpty())
        parts << QStringLiteral("driver %1").arg(d.Driver);
    if (!d.ById.isEmpty())
        parts << d.ById;
    if (!d.Holders.empty())
        parts << QStringLiteral("in use by %1").arg(DescribeHolders(d.Holders));
    return parts.join(QStringLiteral("  "));
}

} // namespace

const CommandSyntax& PortsSyntax()
{
    static const CommandSyntax syntax{
        QStringLiteral("ports"), QStringLiteral("[--json]"), QStringLiteral("lists the serial ports with their USB details"),
        QStringLiteral("Lists the serial ports of this machine, one a line: the device, the USB vendor and product\n"
                       "numbers, maker and product names, serial number and driver, the stable name under\n"
                       "/dev/serial/by-id/ (which stays the same whichever USB socket is used), and the program\n"
                       "holding the port, when the system lets this user see it. The system's console and login\n"
                       "lines, which flash and monitor refuse, are left out (said on standard error), and so is\n"
                       "a machine without any port (said on standard error; the JSON array is then empty)."),
        {{QStringLiteral("json"), 'j', QString(), QStringLiteral("print a JSON array instead of lines")}}};
    return syntax;
}

int Ports(const ParsedOptions& options, InterruptWatch&)
{
    if (!options.Positional().isEmpty())
        return UsageError(QStringLiteral("ports takes no arguments"), PortsSyntax());
    TStringList ports;
    try {
        EnumComPorts(ports);
    } catch (const Exception& e) {
        PrintLine(stderr, e.Message());
        return ExitPortError;
    }
    // The system's console and login lines are refused by flash and monitor; listed, they would
    // only be offered (and completed) to fail.
    QStringList usable;
    for (const QString& port : ports.ToStringList()) {
        if (const QString reason = ReservedTerminalReason(port); !reason.isEmpty())
            PrintLine(stderr, QStringLiteral("Left out: %1, %2.").arg(port, reason));
        else
            usable << port;
    }
    const std::vector<PortDetails> details = DescribePorts(usable);
    if (options.Has(QStringLiteral("json"))) {
        QJsonArray list;
        for (const PortDetails& d : details)
            list.append(ToJson(d));
        std::fputs(QJsonDocument(list).toJson(QJsonDocument::Compact).constData(), stdout);
        std::fputc('\n', stdout);
        return ExitSuccess;
    }
    for (const PortDetails& d : details)
        PrintLine(stdout, ToLine(d));
    // Said where a person reads it; a script reading standard output sees no line.
    if (details.empty())
        PrintLine(stderr, QStringLiteral("No serial port found; a USB adapter shows up here once it is plugged in."));
    return ExitSuccess;
}

} // namespace cli

} // namespace zentrop
