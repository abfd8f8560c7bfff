// "monitor": the console monitor on a port it opens.
#include "Cli.h"
#include "cmdline/Interrupts.h"
#include "Monitor.h"
#include "PortAdvice.h"

#include "cport/PortDetails.h"
#include "upgrade/BootComPort.h"
#include "cport/ComError.h"
#include "cport/NetPortName.h"

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <thread>

namespace zentrop {

namespace cli {

namespace {

struct MapEntry {
    const char* Name;
    bool MonitorOptions::*Flag;
};

constexpr MapEntry kMaps[] = {
    {"crlf", &MonitorOptions::ShowCrAsCrLf},
    {"lfcrlf", &MonitorOptions::ShowLfAsCrLf},
    {"igncr", &MonitorOptions::HideCr},
    {"send-crlf", &MonitorOptions::SendCrLf},
    {"send-lf", &MonitorOptions::SendLf},
};

// The device is not there (yet): with --reconnect it is waited for.
bool DeviceAbsent(const Exception& e)
{
    const auto* ext = dynamic_cast<const EComPortExt*>(&e);
    return ext && (ext->SystemCode() == ENOENT || ext->SystemCode() == ENODEV || ext->SystemCode() == ENXIO);
}

std::optional<MonitorOptions> ParseMonitorOptions(const ParsedOptions& options, const CommandSyntax& command, int& status)
{
    MonitorOptions m;
    m.Log = options.Value(QStringLiteral("log"));
    if (!m.Log.isEmpty()) {
        if (const QString problem = OutputFileProblem(m.Log); !problem.isEmpty()) {
            status = UsageError(QStringLiteral("%1: %2").arg(m.Log, problem), command);
            return std::nullopt;
        }
    }
    m.Timestamps = options.Has(QStringLiteral("timestamps"));
    m.Hex = options.Has(QStringLiteral("hex"));
    m.Reconnect = options.Has(QStringLiteral("reconnect"));
    for (const QString& list : options.Values(QStringLiteral("map"))) {
        for (const QString& name : list.split(u',', Qt::SkipEmptyParts)) {
            const auto entry = std::find_if(std::begin(kMaps), std::end(kMaps),
                                            [&name](const MapEntry& e) { return name == QLatin1String(e.Name); });
            if (entry == std::end(kMaps)) {
                status = UsageError(
                    QStringLiteral("--map takes crlf, lfcrlf, igncr, send-crlf and send-lf, not \"%1\"").arg(name), command);
                return std::nullopt;
            }
            m.*(entry->Flag) = true;
        }
    }
    for (const auto& [name, field] : {std::pair{QStringLiteral("escape"), &MonitorOptions::ExitKey},
                                      std::pair{QStringLiteral("menu-key"), &MonitorOptions::MenuKey}}) {
        if (!options.Has(name))
            continue;
        const std::optional<char> key = ParseKeyName(options.Value(name));
        if (!key) {
            status = UsageError(QStringLiteral("--%1 takes a control key such as ctrl-] or ^A, or a byte such as 0x1d, "
                                               "not \"%2\"")
                                    .arg(name, options.Value(name)),
                                command);
            return std::nullopt;
        }
        m.*field = *key;
    }
    if (m.ExitKey == m.MenuKey) {
        status = UsageError(QStringLiteral("the exit key and the menu key must differ (both are %1)").arg(KeyName(m.ExitKey)),
                            command);
        return std::nullopt;
    }
    return m;
}

} // namespace

const CommandSyntax& MonitorSyntax()
{
    static const CommandSyntax syntax{
        QStringLiteral("monitor"), QStringLiteral("--port PORT [OPTIONS]"),
        QStringLiteral("shows what the device on a port sends and sends what you type"),
        QStringLiteral(
            "Shows what the device on PORT sends on this terminal, every byte as it comes, and sends every\n"
            "key to the device. Ctrl-] ends the monitor (--escape chooses another key); Ctrl-T opens a\n"
            "menu (--menu-key chooses another): b sends a break, d and r pulse DTR and RTS, D and R\n"
            "switch DTR and RTS on or off, l shows the modem lines (DTR, RTS, CTS, DSR, RI, CD), e\n"
            "switches local echo, and the menu key or the exit key after it sends that key.\n"
            "The terminal is put back as it was on exit and on every signal. The line runs at 8 data\n"
            "bits, no parity, 1 stop bit, no flow control. Exit status 0 after Ctrl-], 130 after a\n"
            "signal, 3 when the log or the screen cannot be written, 4 when the port cannot be opened\n"
            "or the device went away (without --reconnect)."),
        {
            {QStringLiteral("port"), 'p', QStringLiteral("PORT"), QStringLiteral("the port the device is on")},
            {QStringLiteral("baud"), 'b', QStringLiteral("RATE"), QStringLiteral("line speed in bits per second (default 115200)")},
            {QStringLiteral("log"), 'l', QStringLiteral("FILE"),
             QStringLiteral("add every received byte to the end of FILE, as it came")},
            {QStringLiteral("timestamps"), 't', QString(), QStringLiteral("begin every shown line with the time")},
            {QStringLiteral("hex"), 'x', QString(), QStringLiteral("show received bytes as hexadecimal numbers, 16 a line")},
            {QStringLiteral("map"), 'm', QStringLiteral("LIST"),
             QStringLiteral("comma-separated: crlf shows a received CR as CR LF, lfcrlf a received LF as CR LF,\n"
                            "igncr hides received CRs, send-crlf and send-lf send Enter as CR LF or LF")},
            {QStringLiteral("escape"), 'e', QStringLiteral("KEY"),
             QStringLiteral("the key that ends the monitor: ctrl-X or ^X, or a byte as 0xNN (default ctrl-])")},
            {QStringLiteral("menu-key"), 0, QStringLiteral("KEY"), QStringLiteral("the key that opens the menu (default ctrl-t)")},
            {QStringLiteral("reconnect"), 'r', QString(),
             QStringLiteral("when the device goes away, wait for it to come back under the same name;\n"
                            "keys typed meanwhile are not sent")},
            {QStringLiteral("rs485"), 0, QString(),
             QStringLiteral("RS-485: RTS raised while sending, by the driver's RS-485 mode or, where the driver\n"
                            "has none, around each write; which of the two is said at the start")},
        }};
    return syntax;
}

QString RS485Description(RS485Mode mode)
{
    switch (mode) {
    case RS485Mode::Driver:
        return QStringLiteral("RS-485: the driver raises RTS while sending");
    case RS485Mode::Port:
        return QStringLiteral("RS-485: the driver has no RS-485 mode; RTS is raised around each write");
    case RS485Mode::Off:
        break;
    }
    return QStringLiteral("RS-485: off");
}

int Monitor(const ParsedOptions& options, InterruptWatch& interrupts)
{
    const QString portName = options.Value(QStringLiteral("port"));
    if (portName.isEmpty())
        return UsageError(QStringLiteral("monitor needs --port PORT"), MonitorSyntax());
    if (!options.Positional().isEmpty())
        return UsageError(QStringLiteral("monitor takes no arguments"), MonitorSyntax());
    const std::optional<qint64> rate = ParseNumber(options.Value(QStringLiteral("baud"), QStringLiteral("115200")));
    if (!rate || *rate <= 0 || *rate > INT32_MAX)
        return UsageError(QStringLiteral("--baud needs a positive number, not \"%1\"").arg(options.Value(QStringLiteral("baud"))),
                          MonitorSyntax());
    int status = ExitUsage;
    const std::optional<MonitorOptions> m = ParseMonitorOptions(options, MonitorSyntax(), status);
    if (!m)
        return status;

    TComPort port;
    SetUpgradeLineSettings(port, static_cast<int>(*rate));
    const bool rs485 = options.Has(QStringLiteral("rs485"));
    if (rs485)
        port.FlowControl()->SetControlRTS(TRTSFlowControl::rtsToggle);
    port.SetPort(portName);
    bool told = false;
    for (;;) {
        try {
            port.Open();
            break;
        } catch (const Exception& e) {
            if (!m->Reconnect || !DeviceAbsent(e)) {
                PrintLine(stderr, e.Message());
                if (const QString hint = NetPortHint(e, portName); !hint.isEmpty())
                    PrintLine(stderr, hint);
                else if (const auto* busy = dynamic_cast<const EComPortExt*>(&e); busy && busy->SystemCode() == EBUSY)
                    PrintLine(stderr, BusyPortAdvice(portName));
                return ExitPortError;
            }
            if (!told)
                PrintLine(stderr, QStringLiteral("waiting for %1 to appear").arg(portName));
            told = true;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(250));
    }
    if (rs485)
        PrintLine(stderr, RS485Description(port.GetRS485Mode()));
    status = RunMonitor(port, *m, interrupts);
    try {
        port.Close();
    } catch (const Exception&) {
    }
    return status;
}

} // namespace cli

} // namespace zentrop
