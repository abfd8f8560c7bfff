// Zentrop: loads firmware into a device through its serial bootloader.
#include "ProgramEntry.h"
#include "cport/ComPort.h"
#include "cportctl/ComSetup.h"
#include "forms/Application.h"

int main(int argc, char** argv)
{
    // The windows were laid out for the classic look, in which a frame's caption sits in the
    // frame line; "-style" or QT_STYLE_OVERRIDE still choose another.
    QApplication::setStyle(QStringLiteral("Windows"));
    TApplication application(argc, argv);
    application.SetTitle(QStringLiteral("Zentrop"));
    InstallComSetupDialog();
    // A port that a loaded form asks to open and cannot shows its error like any other.
    TCustomComPort::SetLoadErrorHandler([](const Exception& e) { ShowException(e); });
    return RunProgram(application, SettingsFileName(QCoreApplication::applicationFilePath()));
}
