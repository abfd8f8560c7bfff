// The help of "flash" and "probe": their synopsis, what they do and every option.
#include "Cli.h"

namespace zentrop {

namespace cli {

const CommandSyntax& FlashSyntax()
{
    static const CommandSyntax syntax{
        QStringLiteral("flash"),
        QStringLiteral("--port PORT [--port PORT ...] [OPTIONS] FILE.upg\n"
                       "       zentrop-cli flash --port PORT [OPTIONS] --flash FW.hex [--eeprom EE.hex] --flash-page-size N"),
        QStringLiteral("runs the upgrade on one port or on several at once"),
        QStringLiteral(
            "Runs the upgrade on PORT: a device path, COMn (/dev/ttyS(n-1)) or a name under /dev.\n"
            "The line runs at 8 data bits, no parity, 1 stop bit, no flow control. With several ports\n"
            "every device is upgraded at the same time, each on its own thread with its own progress line\n"
            "and result; a table ends the run, and the exit status is 0 only when every device succeeded.\n"
            "The progress names each memory's mode and every page as \"Flash page 7/16 at 0x0700\" (its\n"
            "number among the memory's pages and its address): a line each when standard error is no\n"
            "terminal (with the port in front when there are several), otherwise one redrawn line per port.\n"
            "When a device fails, the message of the step is followed by what the device did: no answer\n"
            "within the time-out, a wrong answer (expected 0x0D, got ...), or an answer before the page's\n"
            "last byte was sent (its pages are shorter than the file's: the page fails, never counts as\n"
            "written), and what is likely to help.\n"
            "With --flash (and --eeprom) instead of an upgrade file, the build's Intel HEX or raw binary\n"
            "images are packed in memory as \"zentrop-cli pack\" would pack them, and flashed: no upgrade\n"
            "file is written. Every image named is written: with --eeprom the mode is both, and a --mode\n"
            "that leaves out a named image is wrong usage (status 2). --mode takes its word in any case.\n"
            "\"flash --version\" alone prints the program's version."),
        {
            {QStringLiteral("port"), 'p', QStringLiteral("PORT"), QStringLiteral("a port a device is on (ttyUSB0, /dev/ttyACM0, socket://HOST:PORT, rfc2217://HOST:PORT); repeat for several")},
            {QStringLiteral("ports-from"), 0, QStringLiteral("FILE"), QStringLiteral("ports from a file, one a line; blank lines and comments (from a \"#\" at a line's start or after a blank) are left out")},
            {QStringLiteral("mode"), 'm', QStringLiteral("MODE"),
             QStringLiteral("flash, eeprom, both or all: the memories to write; all writes every memory the file "
                            "holds. The default is flash, as in the window and in scripts of earlier versions: "
                            "data memory often holds a device's own settings, which an upgrade must not replace "
                            "unless asked. What the mode leaves out is said; a run that would write nothing "
                            "fails with status 5")},
            {QStringLiteral("baud"), 'b', QStringLiteral("RATE"), QStringLiteral("line speed in bits per second (default 115200)")},
            {QStringLiteral("reset"), 0, QStringLiteral("SEQUENCE"),
             QStringLiteral("restart the board into its bootloader through the modem lines: dtr, rts or both (raise "
                            "the lines, hold them the pulse time, lower them, wait the start-up time), or steps "
                            "such as dtr=0,rts=1,wait=50,rts=0 (default none). A line that cannot be driven "
                            "ends the run with status 4")},
            {QStringLiteral("reset-pulse"), 0, QStringLiteral("MS"), QStringLiteral("how long dtr, rts or both hold the reset (default 50)")},
            {QStringLiteral("reset-wait"), 0, QStringLiteral("MS"),
             QStringLiteral("the bootloader's start-up time after dtr, rts or both (default 100)")},
            {QStringLiteral("reset-inverted"), 0, QString(),
             QStringLiteral("the board resets while dtr, rts or both are lowered, not raised")},
            {QStringLiteral("rs485"), 0, QString(),
             QStringLiteral("RS-485: RTS raised while sending, by the driver's RS-485 mode or, where the driver "
                            "has none, around each write (-v says which)")},
            {QStringLiteral("retries"), 0, QStringLiteral("N"),
             QStringLiteral("after a device's failure, or a network connection that dropped during the run, wake "
                            "it again and start over, up to N times (default 0). A device left in the middle of a "
                            "page's data takes the opening sequence as data: with --reset each retry restarts it "
                            "first. A device that answered a page early and a local port's error are final")},
            {QStringLiteral("json"), 'j', QString(),
             QStringLiteral("print one JSON object on standard output when the command ends, for every exit "
                            "status: the run's identity (program version, file path, size, SHA-256, name, "
                            "version and user, mode, baud, start time), and for each port its result (ok, "
                            "no_answer, wrong_answer, early_answer, page_size, port_error, device_gone, "
                            "interrupted, ...), message, status, failing step and page, pages, bytes, times "
                            "and every attempt; and the totals. \"zentrop-cli help json\" describes the schema")},
            {QStringLiteral("events"), 0, QStringLiteral("FILE"),
             QStringLiteral("write JSON Lines as the run goes on (event run, port, memory, page, retry, app, "
                            "end) to FILE, appended, or to standard output with \"-\"")},
            {QStringLiteral("quiet"), 'q', QString(),
             QStringLiteral("errors only: no progress, no \"Ready\" and \"Done\" lines")},
            {QStringLiteral("log"), 0, QStringLiteral("FILE"),
             QStringLiteral("append the run's header (ports, mode, baud, the file's size, SHA-256, name, version "
                            "and user) and the results to FILE, with -v also the byte trace, each line with the "
                            "time of day (UTC); a failed page is named as the progress names it. A log that "
                            "could not be written in full is said at the end")},
            {QStringLiteral("expect"), 0, QStringLiteral("REGEX"),
             QStringLiteral("after the upgrade, read what the started application prints on the same open port "
                            "and fail with status 6 unless a line matches REGEX in time; the line goes into "
                            "the JSON and the log")},
            {QStringLiteral("expect-timeout"), 0, QStringLiteral("S"),
             QStringLiteral("how long --expect waits, in seconds (default 5)")},
            {QStringLiteral("serial-file"), 0, QStringLiteral("FILE"),
             QStringLiteral("a counter file (the next number on its first line): each device gets the next "
                            "number, written into its EEProm image at --serial-at. The file is locked while a "
                            "number is taken; a device that fails gives its number back for the next one, so "
                            "the counter moves on only for devices that succeeded")},
            {QStringLiteral("serial-at"), 0, QStringLiteral("ADDR[:FORM]"),
             QStringLiteral("where the number goes in the EEProm and how: u16le, u32le (default), u32be or "
                            "ascii:N (N digits with leading zeros). A page the file lacks is made, filled with "
                            "0xFF, of --eeprom-page-size bytes")},
            {QStringLiteral("patch"), 0, QStringLiteral("MEM:ADDR=HEX"),
             QStringLiteral("write fixed bytes into flash or eeprom before the run, such as "
                            "eeprom:0x10=CAFE; may be given more than once")},
            {QStringLiteral("force"), 0, QString(),
             QStringLiteral("upgrade even when another program has the port open (it may take the device's answers)")},
            {QStringLiteral("wake-retries"), 0, QStringLiteral("N"),
             QStringLiteral("send the opening sequence again up to N times while the mode command gets no answer")},
            {QStringLiteral("verbose"), 'v', QString(),
             QStringLiteral("trace every byte sent and received, with the time since the start")},
            {QStringLiteral("config"), 0, QStringLiteral("FILE"),
             QStringLiteral("the fixture's defaults from FILE instead of $XDG_CONFIG_HOME/zentrop/cli.ini; "
                            "\"zentrop-cli config\" shows them")},
            {QStringLiteral("monitor"), 0, QString(),
             QStringLiteral("one port only: after the upgrade, show what the started application sends and\n"
                            "send what you type, on the same open port, as \"zentrop-cli monitor\" does")},
        }};
    static const CommandSyntax withImages = [] {
        CommandSyntax full = syntax;
        for (OptionSyntax& o : PackOptions())
            full.Options.push_back(std::move(o));
        return full;
    }();
    return withImages;
}

const CommandSyntax& ProbeSyntax()
{
    static const CommandSyntax syntax = [] {
        CommandSyntax probe{
            QStringLiteral("probe"),
            QStringLiteral("--port PORT [--port PORT ...] [OPTIONS] [FILE.upg]"),
            QStringLiteral("checks a station's set-up without writing a page"),
            QStringLiteral(
                "Checks what a flash run needs, as it would run, without writing a page: the upgrade file\n"
                "when one is given (and that --mode selects pages of it), the port, this user's permission\n"
                "and other programs holding it; then it resets the board when --reset says so, wakes the\n"
                "bootloader, checks that it acknowledges the mode command of each memory --mode names\n"
                "(flash when no file is given), and sends the jump, so the device starts its application\n"
                "again. The exit statuses are those of flash; --json prints the same object, with the\n"
                "command \"probe\"."),
            {}};
        // The run's options of flash that mean something without pages.
        const QStringList kept{"port", "ports-from", "mode", "baud", "reset", "reset-pulse", "reset-wait",
                               "reset-inverted", "json", "events", "quiet", "force", "config", "wake-retries", "verbose"};
        for (const OptionSyntax& o : FlashSyntax().Options)
            if (kept.contains(o.Long))
                probe.Options.push_back(o);
        return probe;
    }();
    return syntax;
}

} // namespace cli

} // namespace zentrop
