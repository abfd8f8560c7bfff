// The program entry: settings file, main window and message loop.
#include "ProgramEntry.h"

#include "MainWindow.h"
#include "base/IniFile.h"
#include "cport/ComPort.h"
#include "forms/Application.h"

#include <QFileInfo>

namespace {

const QString kCommon = QStringLiteral("COMMON");
const QString kComPort = QStringLiteral("comport");

} // namespace

QString SettingsFileName(const QString& executable)
{
    const QFileInfo exe(executable);
    return exe.absolutePath() + u'/' + exe.completeBaseName() + QStringLiteral(".ini");
}

void PrepareSettings(TIniFile& settings)
{
    if (!settings.SectionExists(kCommon))
        settings.WriteString(kCommon, kComPort, QStringLiteral("COM1"));
}

void SaveSettings(TIniFile& settings, const TwMain& window)
{
    settings.WriteString(kCommon, kComPort, window.pPort->Port());
    settings.UpdateFile();
}

int RunProgram(TApplication& application)
{
    try {
        TIniFile settings(SettingsFileName(QCoreApplication::applicationFilePath()));
        PrepareSettings(settings);
        TwMain wMain(settings);
        wMain.show();
        const int code = application.exec();
        SaveSettings(settings, wMain);
        return code;
    } catch (const std::exception& e) {
        ShowException(e);
        return 1;
    }
}
