// Zentrop: loads firmware into a device through its serial bootloader.
#include "icon/AppIcon.h"
#include "ProgramEntry.h"
#include "base/Debug.h"
#include "base/SettingsFile.h"
#include "cport/ComPort.h"
#include "cportctl/ComSetup.h"
#include "forms/Application.h"

#include <cstdio>
#include <cstring>
#include <sys/prctl.h>

namespace zentrop {

namespace {

const char* const kHelp =
    "usage: zentrop [QT-OPTIONS]\n"
    "\n"
    "The window that loads new firmware into a device through its serial bootloader: pick an\n"
    "upgrade file (.upg) with \"...\", press \"Prepare Flash\", choose the upgrade mode and press\n"
    "\"Do Upgrade\". \"Setup > ComSetup\" chooses the port and its line settings.\n"
    "\n"
    "files:\n"
    "  zentrop.ini  the settings (port name, upgrade files offered): beside the program when\n"
    "               its directory can be written, otherwise $XDG_CONFIG_HOME/zentrop/ (by\n"
    "               default ~/.config/zentrop/)\n"
    "  zentrop.lcf  the language file: beside a program whose directory can be written,\n"
    "               otherwise in $XDG_CONFIG_HOME/zentrop/ or the installed share/zentrop/\n"
    "\n"
    "options:\n"
    "      --debug    write the port's debug texts to standard error\n"
    "  -h, --help     show this help and exit\n"
    "  -V, --version  show the version and exit\n"
    "  -style NAME, -platform NAME and the other options of the Qt toolkit are taken as well.\n"
    "\n"
    "The command line program zentrop-cli runs the same upgrade without a window.\n"
    "\n"
    "exit status:\n"
    "  0    the window was closed\n"
    "  1    the window could not be made (its error was shown); without a display the\n"
    "       toolkit ends the program before the window is made\n"
    "\n"
    "examples:\n"
    "  zentrop\n"
    "  zentrop -style Fusion\n"
    "  xvfb-run zentrop   (a virtual display, for a machine without one)\n";

} // namespace

} // namespace zentrop

using namespace zentrop;

int main(int argc, char** argv)
{
    // Answered before the toolkit starts, so they work without a display.
    bool debug = false;
    for (int i = 1; i < argc; ++i) {
        debug = debug || std::strcmp(argv[i], "--debug") == 0;
        if (std::strcmp(argv[i], "--help") == 0 || std::strcmp(argv[i], "-h") == 0) {
            std::fputs(kHelp, stdout);
            return 0;
        }
        if (std::strcmp(argv[i], "--version") == 0 || std::strcmp(argv[i], "-V") == 0) {
            std::printf("zentrop %s\n", ZENTROP_VERSION);
            return 0;
        }
    }
    // The run's pauses of a millisecond would otherwise overshoot by the default timer slack.
    ::prctl(PR_SET_TIMERSLACK, 1UL);
    // The windows were laid out for the classic look, in which a frame's caption sits in the
    // frame line; "-style" or QT_STYLE_OVERRIDE still choose another.
    QApplication::setStyle(QStringLiteral("Windows"));
    TApplication application(argc, argv);
    if (debug)
        EnableDebugOutput();
    application.SetTitle(QStringLiteral("Zentrop"));
    QApplication::setWindowIcon(AppIcon());
    // Lets the desktop match the window to the installed entry and its icon.
    QGuiApplication::setDesktopFileName(QStringLiteral("zentrop"));
    InstallComSetupDialog();
    // A port that a loaded form asks to open and cannot shows its error like any other.
    TCustomComPort::SetLoadErrorHandler([](const Exception& e) { ShowException(e); });
    QString settingsFile;
    try {
        settingsFile = settings::SettingsFileName(QCoreApplication::applicationFilePath());
    } catch (const Exception& e) {
        ShowException(e);
        return 1;
    }
    return RunProgram(application, settingsFile);
}
