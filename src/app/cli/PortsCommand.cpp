// "ports": the serial ports of this machine.
#include "Cli.h"

#include "cport/ComPortList.h"
#include "base/Exception.h"

namespace cli {

const CommandSpec& PortsSpec()
{
    static const CommandSpec spec{QStringLiteral("ports"), QString(), QStringLiteral("lists the installed serial ports"),
                                  QStringLiteral("Lists the serial ports of this machine."),
                                  {}};
    return spec;
}

int Ports(const ParsedOptions& options, TInterruptWatch&)
{
    if (!options.Positional().isEmpty())
        return UsageError(QStringLiteral("ports takes no arguments"), PortsSpec());
    TStringList ports;
    try {
        EnumComPorts(ports);
    } catch (const Exception& e) {
        PrintLine(stderr, e.Message());
        return ExitPortError;
    }
    for (int i = 0; i < ports.Count(); ++i)
        PrintLine(stdout, ports.Get(i));
    return ExitSuccess;
}

} // namespace cli
