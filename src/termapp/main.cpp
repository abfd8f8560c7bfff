// zentrop-term: a serial terminal window on a port of its own, remembering its port and
// settings from one start to the next.
#include "termapp/TermWindow.h"
#include "icon/AppIcon.h"
#include "base/Debug.h"
#include "base/SettingsFile.h"
#include "cportctl/ComSetup.h"
#include "forms/Application.h"
#include "forms/ExitSignals.h"

#include <cstdio>
#include <cstring>
#include <optional>

namespace zentrop {

namespace {

const char* const kHelp =
    "usage: zentrop-term [PORT] [--baud RATE] [--settings FILE] [--debug] [QT-OPTIONS]\n"
    "\n"
    "A serial terminal window: shows what the device on PORT sends, with VT102 escape codes and colours,\n"
    "and sends what you type. The Port menu connects, disconnects, sets up the line, sends a\n"
    "break or a file and sets DTR and RTS; the Terminal menu sets up the terminal, clears it,\n"
    "switches local echo and logs what is received to a file. The status bar shows the port,\n"
    "the line settings, the connection, the modem lines and the bytes received and sent.\n"
    "While the terminal has the focus every key goes to the device (Alt sends ESC before the\n"
    "key, F1-F12, cursor and editing keys in their VT220/xterm forms, Backspace sends DEL); the\n"
    "menus open with the mouse or Shift+F10 (Terminal > Settings chooses F10, Ctrl+F10 or no\n"
    "key), and Exit asks first while a port is open. What is typed, pasted or sent from a file is\n"
    "queued and written as fast as the device takes it, so the window never waits for it; the\n"
    "status bar says \"device not taking data\" when the device stops taking it. Text is UTF-8 in\n"
    "the VT102 emulation (a setting). The grid follows the window; the mouse wheel, the scroll\n"
    "bar and Shift+PgUp/PgDn go back through the scrollback (10,000 lines by default), which\n"
    "Terminal > Find searches. The mouse selects and copies (the X primary selection too), the\n"
    "middle button pastes it; Ctrl+Shift+C copies and Ctrl+Shift+V or Shift+Insert paste.\n"
    "When the device goes away (a USB adapter unplugged) the window says so, sends nothing,\n"
    "and opens the port again when a device appears under the same name; a name under\n"
    "/dev/serial/by-id/ stays the same when the adapter is plugged in again.\n"
    "\n"
    "PORT is a device path, COMn (/dev/ttyS(n-1)) or a name under /dev. Without one the port\n"
    "of the last run is opened; on the first run none is, until Port > Setup (or Connect) chooses one.\n"
    "\n"
    "files:\n"
    "  zentrop-term.ini  the port's and the terminal's settings: beside the program when its\n"
    "                    directory can be written, otherwise $XDG_CONFIG_HOME/zentrop/ (by\n"
    "                    default ~/.config/zentrop/)\n"
    "\n"
    "options:\n"
    "  -b, --baud RATE      the line speed in bits per second, instead of the stored one\n"
    "  -s, --settings FILE  read and write the settings in FILE\n"
    "      --debug          write the port's debug texts to standard error\n"
    "  -h, --help           show this help and exit\n"
    "  -V, --version        show the version and exit\n"
    "  -style NAME, -platform NAME and the other options of the Qt toolkit are taken as well.\n";

int Usage(const QString& error)
{
    std::fprintf(stderr, "zentrop-term: %s\nTry \"zentrop-term --help\" for more.\n", error.toLocal8Bit().constData());
    return 2;
}

struct Arguments {
    TermWindow::StartOptions Start;
    QString Settings;
};

// The arguments the toolkit left; nullopt after a usage error has been printed.
std::optional<Arguments> Parse(const QStringList& args, int& status)
{
    Arguments a;
    for (qsizetype i = 0; i < args.size(); ++i) {
        QString arg = args[i];
        QString value;
        const auto takesValue = [&](const QString& longName, const QString& shortName) {
            if (arg.startsWith(longName + u'=')) {
                value = arg.mid(longName.size() + 1);
                return true;
            }
            if (arg != longName && arg != shortName)
                return false;
            if (i + 1 >= args.size()) {
                status = Usage(QStringLiteral("%1 needs a value").arg(longName));
                return false;
            }
            value = args[++i];
            return true;
        };
        if (takesValue(QStringLiteral("--baud"), QStringLiteral("-b"))) {
            bool ok = false;
            a.Start.Baud = value.toInt(&ok);
            if (!ok || a.Start.Baud <= 0) {
                status = Usage(QStringLiteral("--baud needs a positive number, not \"%1\"").arg(value));
                return std::nullopt;
            }
        } else if (takesValue(QStringLiteral("--settings"), QStringLiteral("-s"))) {
            a.Settings = value;
        } else if (arg == QLatin1String("--debug")) {
            EnableDebugOutput();
        } else if (status != 0) {
            return std::nullopt;
        } else if (arg.startsWith(u'-') && arg != QLatin1String("-")) {
            status = Usage(QStringLiteral("unknown option \"%1\"").arg(arg));
            return std::nullopt;
        } else if (a.Start.Port.isEmpty()) {
            a.Start.Port = arg;
        } else {
            status = Usage(QStringLiteral("one port only, not also \"%1\"").arg(arg));
            return std::nullopt;
        }
    }
    return a;
}

} // namespace

} // namespace zentrop

using namespace zentrop;

int main(int argc, char** argv)
{
    // Answered before the toolkit starts, so they work without a display.
    for (int i = 1; i < argc; ++i) {
        if (std::strcmp(argv[i], "--help") == 0 || std::strcmp(argv[i], "-h") == 0) {
            std::fputs(kHelp, stdout);
            return 0;
        }
        if (std::strcmp(argv[i], "--version") == 0 || std::strcmp(argv[i], "-V") == 0) {
            std::printf("zentrop-term %s\n", ZENTROP_VERSION);
            return 0;
        }
    }
    TApplication application(argc, argv);
    application.SetTitle(QStringLiteral("Zentrop Terminal"));
    QApplication::setWindowIcon(AppIcon());
    QGuiApplication::setDesktopFileName(QStringLiteral("zentrop-term"));
    int status = 0;
    const std::optional<Arguments> args = Parse(QCoreApplication::arguments().mid(1), status);
    if (!args)
        return status;
    InstallComSetupDialog();
    try {
        const QString settings = args->Settings.isEmpty()
                                     ? settings::SettingsFileName(QCoreApplication::applicationFilePath())
                                     : args->Settings;
        // SIGTERM, SIGINT and SIGHUP end the window as closing it does: the settings are
        // written and the port is given back as it was found. Taken from before the port
        // opens, so that no signal finds the program without its handling.
        TermWindow* shown = nullptr;
        const ExitSignals exitSignals([&shown] {
            if (shown)
                shown->CloseWithoutAsking();
        });
        TermWindow window(settings, args->Start);
        shown = &window;
        window.show();
        return application.exec();
    } catch (const std::exception& e) {
        ShowException(e);
        return 1;
    }
}
