// The console monitor: the device's bytes on the user's own terminal and the user's keys to
// the device, with an exit key, a small menu, a log and optional time stamps, hex and
// newline mapping. "monitor" runs it on a port it opens; "flash --monitor" on the port the
// upgrade leaves open.
#pragma once

#include "cport/ComPort.h"

#include <QByteArray>
#include <QString>

#include <functional>
#include <optional>

namespace zentrop {

class InterruptWatch;

namespace cli {

class ParsedOptions;
struct OptionSyntax;

struct MonitorOptions {
    QString Log;            // every received byte, as it came; empty: none
    bool Timestamps = false;
    bool Hex = false;
    bool Reconnect = false; // wait for a device that went away and carry on with it
    // Display of received line ends (the log keeps them as they came).
    bool ShowCrAsCrLf = false;
    bool ShowLfAsCrLf = false;
    bool HideCr = false;
    // What Enter (a typed CR) sends.
    bool SendCrLf = false;
    bool SendLf = false;
    char ExitKey = 0x1D;    // Ctrl-]
    char MenuKey = 0x14;    // Ctrl-T
};

// A key as the options name it: "ctrl-]", "^]", "C-]" (with a letter or one of @[\]^_?), or a
// byte as "0x1d"; nullopt for anything else.
std::optional<char> ParseKeyName(const QString& Name);
// The key's name as ParseKeyName takes it: "Ctrl-]".
QString KeyName(char Key);

// What the screen shows of received bytes: line ends mapped, hex, time stamps. A time stamp
// is put before the first shown byte of each line, so line ends of CR LF, LF CR or a CR that
// starts a line leave it where it can be seen. Now gives the stamp's text.
class MonitorScreen {
public:
    MonitorScreen(const MonitorOptions& Options, std::function<QByteArray()> Now);
    QByteArray Render(const char* Data, int Count);

private:
    void NewLine(QByteArray& Out);
    void Stamp(QByteArray& Out);

    const MonitorOptions& FOptions;
    std::function<QByteArray()> FNow;
    bool FLineStart = true;
    int FHexColumn = 0;
};

// The exit key and the menu key by default: Ctrl-] and Ctrl-T.
inline constexpr char kExitKey = 0x1D;
inline constexpr char kMenuKey = 0x14;

// Runs the monitor on an open port until the exit key, a signal, or a device that went away
// (unless Reconnect). The port's read time-outs are changed; its other settings stay. The
// user's terminal is in raw mode while it runs and is put back on every way out. Returns the
// exit status: 0 after the exit key, 130 after a signal, 4 when the device went away or a
// port or file error ended it.
int RunMonitor(TCustomComPort& port, const MonitorOptions& options, InterruptWatch& interrupts);

} // namespace cli

} // namespace zentrop
