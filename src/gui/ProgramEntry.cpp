// The program entry: settings file, main window and message loop.
#include "ProgramEntry.h"

#include "forms/ExitSignals.h"
#include "gui/MainWindow.h"
#include "base/SettingsFile.h"
#include "gui/Terminal.h"
#include "base/IniFile.h"
#include "cport/ComPort.h"
#include "forms/Application.h"

namespace zentrop {

void PrepareSettings(TIniFile& ini)
{
    if (!ini.SectionExists(settings::Common))
        ini.WriteString(settings::Common, settings::ComPort, settings::DefaultPort);
}

void SaveSettings(TIniFile& ini, const TwMain& window)
{
    ini.WriteString(settings::Common, settings::ComPort, window.pPort->Port());
    ini.UpdateFile();
}

int RunProgram(TApplication& application, const QString& settingsFile)
{
    try {
        TIniFile SettingsIni(settingsFile);
        PrepareSettings(SettingsIni);
        TwMain wMain(SettingsIni);
        // Made hidden after the main window, whose port it joins; it goes first at the end.
        TwTerminal wTerminal(wMain.pPort);
        wMain.SetTerminalWindow(&wTerminal);
        const ExitSignals exitSignals([&wMain] { wMain.ExitOnSignal(); });
        wMain.show();
        const int code = application.exec();
        SaveSettings(SettingsIni, wMain);
        return code;
    } catch (const std::exception& e) {
        ShowException(e);
        return 1;
    }
}

} // namespace zentrop
